// One client's conversation, from the broker's side of the wire: the introduction, then
// command after command, each with the arguments its row in the protocol table names, and
// the request tokens that ask for answers. The session reads exactly what the client sends
// before it answers, so an answer never overtakes the client's own bytes.
#ifndef BROKER_SESSION_H
#define BROKER_SESSION_H

#include <asio/awaitable.hpp>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "broker/cable/outcome.h"
#include "broker/cable/simulated_cable.h"
#include "broker/serving/fault_plan.h"
#include "broker/serving/link.h"
#include "broker/serving/memory_budget.h"
#include "broker/serving/protocol_table.h"

namespace broker {

class Session {
 public:
  Session(Link& link, SimulatedCable& cable, const FaultPlan& faults, MemoryBudget& budget);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // The conversation is being closed to make room in the memory budget: its share goes
  // back at once, before its coroutine has ended.
  void giveUpShare();
  std::size_t share() const { return share_; }

  // Runs the conversation until the client leaves or the link closes; anything else that
  // goes wrong is thrown, and ends this conversation alone (the server's concern).
  asio::awaitable<void> run();

 private:
  asio::awaitable<void> runCommand(int number);
  // The commands with an exchange of their own (transfers, the cable's opening, 44's
  // functions): true when `row` is one of them, run and answered.
  asio::awaitable<bool> runExchange(const CommandRow& row);
  // A plain command's arguments as its row lists them; false once one was refused.
  asio::awaitable<bool> takeArguments(const CommandRow& row, Arguments& args);
  void setOutcome(Outcome outcome);
  asio::awaitable<void> answerRequest();

  // Arms the plan's faults for this start of `command` (or of 44's `function`).
  void armFaults(int command, int function);
  // The armed fault of `kind`, disarmed and announced in the transcript; null if none.
  const Fault* fire(FaultKind kind);

  // Token readers. The integer readers answer "-" to a token that is not a decimal integer
  // and return false: the client then sends nothing more of that transfer.
  asio::awaitable<bool> readInt(int& value, std::string_view meaning);
  asio::awaitable<bool> takeInt(int& value, std::string_view meaning);
  // `count` integers into `args`, each acknowledged; false at the first one refused.
  asio::awaitable<bool> takeInts(int count, Arguments& args, std::string_view meaning);
  asio::awaitable<std::string> takeString(std::string_view meaning, bool loose);
  // Refuses a length token whose byte count is negative, or whose transfer would take the
  // memory budget past its limit: the transfer holds its data and read-back, and
  // `extraBuffers` more of that length. A transfer larger than the whole budget never goes.
  asio::awaitable<bool> takeLength(int& bitCount, int& byteCount, std::string_view meaning,
                                   int extraBuffers = 0);
  asio::awaitable<bool> refuse(std::string_view reason);
  // Claims the budget for a transfer of `byteCount` bytes (see takeLength); false when the
  // budget cannot give it.
  bool claim(int byteCount, int extraBuffers);
  std::string budgetSpent(int byteCount, int extraBuffers) const;
  // After a command: large buffers are released and the share goes back to the budget.
  void endCommand();

  // Data of a transfer into `data`, `length` bytes: a single block up to 1024 bytes, or
  // blocks of 1024 bytes, each acknowledged, the last one carrying only the rest.
  // `asBuffer`: the JTAG shift's buffers, where a single block travels with a zero byte
  // after it and is answered, and every block is a whole 1024 bytes. `data` grows as the
  // blocks arrive, never ahead of them.
  asio::awaitable<void> receiveData(std::vector<std::uint8_t>& data, std::size_t length,
                                    bool asBuffer, std::string_view meaning);
  // Read-back: a single block raw (at least one byte: the client's receive needs one), or
  // blocks each followed by the client's request token. `marked`: the client checks that
  // each block begins with "+", which then stands in for that block's first byte.
  asio::awaitable<void> sendReadBack(std::vector<std::uint8_t>& data, bool marked,
                                     std::string_view meaning);
  // What a transcript line of block `k` of `blocks` says; empty when nobody reads it.
  std::string blockMeaning(std::string_view meaning, std::size_t k, std::size_t blocks) const;

  asio::awaitable<void> cableOpen();
  asio::awaitable<int> genericShift();
  asio::awaitable<void> sharedApplications();
  asio::awaitable<int> pumpData();
  asio::awaitable<void> interfaceFunction();
  // 44's function code, acknowledged; false when refused. Arms the function's faults.
  asio::awaitable<bool> takeFunctionCode(int& code);
  // A function's arguments as its row lists them; false once one was refused.
  asio::awaitable<bool> takeFunctionArguments(const FunctionRow& row, Arguments& args);
  asio::awaitable<void> takeCountedPairs(Arguments& args);
  asio::awaitable<void> takeValueBlock(Arguments& args);
  asio::awaitable<bool> takeValueToken(Arguments& args);
  asio::awaitable<int> jtagShift();
  asio::awaitable<int> busTransfers(const CommandRow& row);
  asio::awaitable<int> i2cTransfer(BusPhase phase);
  asio::awaitable<int> sspiTransfer(BusPhase phase);

  Link& link_;
  SimulatedCable& cable_;
  const FaultPlan& faults_;
  MemoryBudget& budget_;
  std::size_t share_ = 0;  // of the budget
  Outcome pending_ = Outcome::of(0);
  std::string pendingFrom_ = "the introduction";
  int answered_ = 0;
  std::string current_ = "the introduction";
  std::map<std::pair<int, int>, int> starts_;  // (command, function): times started
  // An armed fault and what it fires in: "its 2nd start" (of the command or function
  // that it names).
  struct Armed {
    const Fault* fault;
    std::string start;
  };
  std::vector<Armed> armed_;
  // What a transfer's buffers may keep between commands, outside the budget.
  static constexpr std::size_t kKeptBufferBytes = 16 * 1024;
  // A transfer's data and its read-back, kept from one command to the next while small:
  // the many short scans of a session reuse them.
  std::vector<std::uint8_t> data_;
  std::vector<std::uint8_t> back_;
};

// A decimal integer as the client formats one ("%d"): an optional minus sign and digits,
// within the range of int, and nothing else.
bool parseInt(std::string_view text, int& value);
// A number as the client formats one with "%f", read the same whatever the locale.
bool parseReal(std::string_view text, double& value);

}  // namespace broker

#endif  // BROKER_SESSION_H
