// One client's conversation, from the broker's side of the wire: the introduction, then
// command after command, each with the arguments its row in the protocol table names, and
// the request tokens that ask for answers. The session reads exactly what the client sends
// before it answers, so an answer never overtakes the client's own bytes.
#ifndef BROKER_SESSION_H
#define BROKER_SESSION_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "broker/link.h"
#include "broker/outcome.h"
#include "broker/protocol_table.h"
#include "broker/simulated_cable.h"

namespace broker {

class Session {
 public:
  Session(Link& link, SimulatedCable& cable);

  // Runs the conversation until the client leaves or something ends it. Never throws.
  void run();

 private:
  void runCommand(int number);
  void setOutcome(Outcome outcome);
  void answerRequest();

  // Token readers. The integer readers answer "-" to a token that is not a decimal integer
  // and return false: the client then sends nothing more of that transfer.
  bool readInt(int& value, std::string_view meaning);
  bool takeInt(int& value, std::string_view meaning);
  std::string takeString(std::string_view meaning, bool loose);
  // Refuses a length token whose byte count is negative or beyond what the broker takes.
  bool takeLength(int& bitCount, int& byteCount, std::string_view meaning);
  bool refuse(std::string_view reason);

  // Data blocks of a multi-block transfer, each acknowledged. `padded`: every block
  // travels as a whole 1024 bytes; otherwise the last one carries only the rest.
  void receiveBlocks(std::vector<std::uint8_t>& data, bool padded, std::string_view meaning);
  // Read-back blocks, each followed by the client's request token. `marked`: the client
  // checks that each block begins with "+", which then stands in for that block's first byte.
  void sendBlocks(std::vector<std::uint8_t> data, bool marked, std::string_view meaning);
  // A single-block read-back; the client's receive needs at least one byte.
  void sendReadBack(const std::vector<std::uint8_t>& data, std::string_view meaning);

  void cableOpen();
  void genericShift();
  void sharedApplications();
  void pumpData();
  void interfaceFunction();
  void jtagShift();
  void busTransfers(const CommandRow& row);
  int i2cTransfer(BusPhase phase);
  int sspiTransfer(BusPhase phase);

  Link& link_;
  SimulatedCable& cable_;
  Outcome pending_ = Outcome::of(0);
  std::string pendingFrom_ = "the introduction";
  int answered_ = 0;
  std::string current_ = "the introduction";
};

// A decimal integer as the client formats one ("%d"): an optional minus sign and digits,
// within the range of int, and nothing else.
bool parseInt(std::string_view text, int& value);
// A number as the client formats one with "%f", read the same whatever the locale.
bool parseReal(std::string_view text, double& value);

}  // namespace broker

#endif  // BROKER_SESSION_H
