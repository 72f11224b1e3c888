// What the client sends after each command number and each interface function code, as
// the broker reads it: the shape of the arguments, so that the session knows how many
// tokens and bytes to take and how to answer each. What the commands mean to the
// simulated cable lives elsewhere (simulated_cable.h); this is only the wire.
#ifndef BROKER_PROTOCOL_TABLE_H
#define BROKER_PROTOCOL_TABLE_H

#include <array>

namespace broker {

// Numbers that are not commands: the request token asks for an answer, the withheld
// placeholder stands in for a command that the client keeps back, 9999 ends a session.
constexpr int kWithheldCommand = 8888;
constexpr int kClosingCommand = 9999;
constexpr int kInterfaceCommand = 44;
constexpr int kBlockSize = 1024;

enum class Shape {
  None,          // the command number alone
  LooseStrings,  // `count` string tokens, each answered by a loose reply
  Strings,       // `count` string tokens, each acknowledged "+"
  Ints,          // `count` integer tokens, each acknowledged "+"
  Pairs,         // integer, string, four times over, each acknowledged "+"
  CableOpen,     // two strings and ten integers, each with a loose reply; then a flag request
  SessionFlag,   // nothing more; the flag request follows
  GenericShift,  // command 19
  SharedApps,    // command 41: one 1024-byte packed list
  PumpData,      // command 42
  Interface,     // command 44: an interface function code and its arguments
  I2c,           // four header tokens, then the phases below
  Sspi,          // three header tokens, then the phases below
  Withheld,      // 8888: answered, nothing follows, and no answer of its own
};

// One transfer of an I2C or SSPI command: whether data go out and whether bytes come back.
struct BusPhase {
  bool write = false;
  bool read = false;
};

struct CommandRow {
  int number;
  Shape shape;
  int count;  // tokens, for the token shapes
  const char* name;
  std::array<BusPhase, 2> phases;  // I2C and SSPI: the transfers, in order
  int phaseCount;
};

// The row of command `number`; null for a number that carries nothing (unlisted).
const CommandRow* findCommand(int number);

enum class FunctionShape {
  None,          // nothing more
  Strings,       // `count` string tokens, each acknowledged
  Ints,          // `count` integer tokens, each acknowledged
  IntStringInt,  // integer, string, integer, each acknowledged
  CountedPairs,  // integer n, then 2n strings, each acknowledged
  JtagShift,     // function 12
  FloatBlock,    // a 1024-byte block holding a "%f" text, answered by 2 bytes
  FloatToken,    // a "%f" token, acknowledged
};

struct FunctionRow {
  FunctionShape shape;
  int count;
};

// The row of interface function `code`; null for a code that carries nothing more.
const FunctionRow* findFunction(int code);

}  // namespace broker

#endif  // BROKER_PROTOCOL_TABLE_H
