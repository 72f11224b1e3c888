// One conversation with the broker, as tapclient holds it: the library's Client with the
// diagnostics the user asked for, and checks that turn a failed operation into a
// ToolError naming what was being done and the library's status code.
#ifndef TOOLS_BROKER_SESSION_H
#define TOOLS_BROKER_SESSION_H

#include <tapbroker_client.h>

#include <string>
#include <vector>

#include "host.h"

namespace tapclient {

struct SessionOptions {
  std::string name = "tapclient";  // the client's introduction
  bool debug = false;
  std::string logFile;     // empty: no log file
  std::string installDir;  // empty: the program's own directory
  std::string faultPlan;   // for a broker that connect() starts; empty: none
  std::string recordFile;  // the transcript the conversation is appended to; empty: none
  std::string replayFile;  // a transcript for a broker that connect() starts to replay
};

class BrokerSession {
 public:
  explicit BrokerSession(const SessionOptions& options);
  // Ends the conversation politely while it is still in step; after a failed exchange the
  // socket is simply left to close with the process, since a closing command sent into a
  // conversation out of step could wait on the broker for a long time.
  ~BrokerSession();
  BrokerSession(const BrokerSession&) = delete;
  BrokerSession& operator=(const BrokerSession&) = delete;

  // Connects, starting the broker when none runs. Throws ToolError on failure.
  void connect();
  // Opens the simulated cable (command 4) and a device session (command 33): the two
  // grants without which the cable commands are withheld.
  void openCable(const char* cable = "sim-usb", const char* port = "port0");
  // Sends the closing command and closes the connection.
  void disconnect();

  // Checks the outcome of a Send whose arguments were given by the caller: returns the
  // broker's answer, or throws when the library reports a failure of its own.
  int checked(const std::string& what, int result);
  // As checked(), and the broker's answer must be `expected`.
  void expect(const std::string& what, int result, int expected);

  // A broker's texts and list items, with their control characters escaped (\xNN): all
  // that tapclient takes from a broker ends on a terminal or in a script's input.
  std::string readText(const std::string& what);
  std::vector<std::string> readList(const std::string& what);
  int readInt(const std::string& what);
  // Copies the last read-back into `out` (resized to the bytes of `bitCount`).
  void takeReadBack(const std::string& what, std::vector<unsigned char>& out, int bitCount);

  Client& client() { return client_; }
  bool connected() const { return connected_; }
  // Connected, and no exchange has failed halfway: the conversation can go on.
  bool inStep() const { return connected_ && inStep_; }

 private:
  [[noreturn]] void fail(const std::string& what, int code);
  // Hands a file (`option`'s fault plan) to the broker that Connect is about to start,
  // through the environment `variable`.
  void useBrokerFile(const char* option, const char* variable, const std::string& file);
  // Starts the broker that replays the transcript, and waits until it listens.
  void startReplay();
  // What that broker said about conversations that parted from the recording.
  std::vector<std::string> replayProblems() const;

  SessionOptions options_;
  std::vector<char> name_;  // the constructor of Client takes a modifiable text
  Client client_;
  std::string timeout_;  // seconds: the bound on every wait, from the environment
  std::string replayLog_;  // the standard error of the broker started to replay
  bool connected_ = false;
  bool inStep_ = true;
};

}  // namespace tapclient

#endif  // TOOLS_BROKER_SESSION_H
