// A fault plan: what goes wrong, on purpose, so that an application can see its own
// error paths without a cable. One fault a line: which command (or command 44's interface
// function), on which occurrence in a conversation, and what happens:
//
//   # target  occurrence  fault         value
//   42        2           close-before
//   44/12     1           flip          5
//   5         every       answer        -7
//
// Occurrences count per conversation, from 1, every time the command (or the function)
// starts; "every" matches them all.
#ifndef BROKER_FAULT_PLAN_H
#define BROKER_FAULT_PLAN_H

#include <string>
#include <string_view>
#include <vector>

namespace broker {

enum class FaultKind {
  CloseBefore,  // the connection closes where the command's answer is due
  CloseAfter,   // the connection closes right after the command's answer
  Refuse,       // the command's first strict token (command 44: the code) is answered "-"
  Delay,        // the command's answer waits `value` milliseconds
  Flip,         // bit `value` of the command's read-back is inverted
  Answer,       // the command's integer answer is `value`
};

struct Fault {
  int command = 0;
  int function = -1;   // command 44's interface function; -1: whichever
  int occurrence = 0;  // 0: every one
  FaultKind kind = FaultKind::CloseBefore;
  int value = 0;
  std::string action;  // the fault and its value, one space apart, for the transcript
};

class FaultPlan {
 public:
  // Reads a plan from its text; false with `error` naming the line and what is wrong.
  static bool parse(std::string_view text, FaultPlan& plan, std::string& error);
  // Reads the plan file at `path` (a regular file of at most 1 MiB).
  static bool load(const std::string& path, FaultPlan& plan, std::string& error);

  bool empty() const { return faults_.empty(); }
  // The faults for the `occurrence`-th start of `command` (`function` -1) or of command
  // 44's function `function`.
  std::vector<const Fault*> matching(int command, int function, int occurrence) const;

 private:
  std::vector<Fault> faults_;
};

}  // namespace broker

#endif  // BROKER_FAULT_PLAN_H
