// The operations the fault table runs: each with the conversation it holds with a correct
// broker, how to run it on a Client, and what it hands back.
#ifndef TESTS_FAULT_OPERATIONS_H
#define TESTS_FAULT_OPERATIONS_H

#include <functional>
#include <string>
#include <vector>

#include "tapbroker_client.h"
#include "tests/fault/conversation.h"

namespace fault {

// What an operation hands back, in the terms the expectations are written in.
struct Observation {
  int result = 0;
  int status = 0;
  std::string value;  // a Read's destination afterwards; empty for the others
  std::string tdo;    // tdoData as GetTDO shows it
};

// How the result and the value follow from the conversation's outcome.
enum class Yields {
  FinalInteger,  // Send with its final read: the broker's integer
  Grant,         // commands 4 and 33: the flag query's verdict
  Withheld,      // 1
  ReadInteger,
  ReadText,  // Read(char*&): the text
  ReadReturnedText,
  ReadList,
  Connect,
  Disconnect,
};

// What the client does before the operation: nothing at all, connect, or connect and
// have both flags granted. Every connected client first has tdoData filled by a pump.
enum class Setup { Fresh, Connected, Granted };

struct Operation {
  std::string name;
  Setup setup;
  Yields yields;
  Conversation conversation;  // the operation's own steps
  std::function<Observation(Client&)> run;
};

const std::vector<Operation>& operations();

// The steps the client takes before the operation under `setup`.
Conversation setupConversation(Setup setup);
// Runs those steps on `client`; false when one of them did not succeed.
bool runSetup(Setup setup, Client& client);

// Every report that says a step failed.
bool isFailureReport(const std::string& id);

extern const char kClientName[];

}  // namespace fault

#endif  // TESTS_FAULT_OPERATIONS_H
