// What travels with each command number: whether it waits for the broker's two flags,
// which transfer carries its arguments, and whether its integer answer is read at the end.
#ifndef PROTOCOL_COMMAND_TABLE_H
#define PROTOCOL_COMMAND_TABLE_H

namespace commands {

enum class Transfer {
  None,              // the command number alone
  IntArgs,           // `count` int tokens, strictly acknowledged
  StringArgs,        // `count` string tokens, strictly acknowledged
  StringArgsAnyAck,  // `count` string tokens, any reply accepted
  PairArgs,          // int, string four times
  Command4,          // two strings, up to ten ints, then the query for flagA
  QueryFlagB,        // the query for flagB
  ClearFlagA,
  ClearFlagB,
  ClearBothFlags,
  Unlisted,  // no transfer of its own; sent and answered all the same
  GenericShift,
  SharedApps,
  PumpData,
  InterfaceFunction,
  I2CShift,  // one or two passes, see Row::passes
  SSPIShift,
};

// One run of an I2C or SSPI shift. Commands that run two hand both the same arguments;
// only the second one's result counts.
struct SerialPass {
  int writeFlag;
  int readFlag;
};

struct Row {
  int command;
  bool withheld;  // only while the broker has granted both flags
  Transfer transfer;
  int count;  // tokens of a generic transfer; passes of a serial shift
  bool finalRead;
  SerialPass passes[2] = {};
};

// The row of any command number: 1 to 56 and 9999 have their own, 0 and below share a
// withheld row, every other number an unlisted one.
const Row& rowFor(int command);

// Command 4 carries a list of exactly this many ints; the caller replaces its first ones.
constexpr int kCommand4Values = 10;

}  // namespace commands

#endif  // PROTOCOL_COMMAND_TABLE_H
