// The JTAG interface functions of command 44, by the shape of the arguments that follow
// each function code on the wire.
#ifndef SCAN_INTERFACE_SHAPES_H
#define SCAN_INTERFACE_SHAPES_H

namespace scan {

enum class InterfaceShape {
  Unknown,             // not a function: nothing follows the acknowledged code
  None,                // the code alone
  Strings,             // `count` strings
  Ints,                // `count` ints
  IntStringInt,        // an int, a string, an int, each its own transfer
  CountedStringPairs,  // an int n, then 2n strings
  JtagShift,           // the JTAG shift's arguments
  FloatBlock,          // an int, sent as "%f" text in a whole 1024-byte block
  FloatToken,          // an int, sent as a "%f" token
};

struct InterfaceFunction {
  InterfaceShape shape;
  int count;  // Strings and Ints only
};

// The shape of function `code`; codes outside 1..143 and the gaps in the numbering are
// Unknown.
InterfaceFunction interfaceFunction(int code);

}  // namespace scan

#endif  // SCAN_INTERFACE_SHAPES_H
