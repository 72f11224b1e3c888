// The shape of every command: whether it waits for the broker's two flags, which transfer
// carries its arguments (and so which arguments Send reads after the number), and whether
// its integer answer is read at the end; and the shape of every interface function of
// command 44. Header-only and standard C++, so that tools and tests read the layouts from
// here instead of restating them.
#ifndef PROTOCOL_SHAPES_H
#define PROTOCOL_SHAPES_H

#include <array>
#include <cstddef>

namespace tapbroker::protocol::shapes {

// What follows a command number, and the arguments Send reads for it.
enum class Transfer {
  None,              // nothing
  Ints,              // `count` ints, each strictly acknowledged
  Strings,           // `count` strings, each strictly acknowledged
  StringsAnyAck,     // `count` strings, any reply accepted
  Pairs,             // int, string, four times
  Command4,          // string, string, int k (0..10), k ints; then the query for flag A
  QueryFlagB,        // nothing; the query for flag B
  ClearFlagA,        // nothing; the flags change here
  ClearFlagB,
  ClearBothFlags,
  Unlisted,          // nothing: a number without a meaning of its own
  GenericShift,      // int shiftControl, int bitCount, int readBack, data
  SharedApps,        // int n, n strings
  PumpData,          // data, int bitCount, int mode, int readBack
  InterfaceFunction, // int code, then the function's arguments (below)
  I2CShift,          // int word, int addressByte, int bitCount, data, int trailingWord
  SSPIShift,         // int word, int bitCount, data, int trailingWord
};

// One run of an I2C or SSPI shift. Commands that run two hand both the same arguments;
// only the second one's result counts.
struct SerialPass {
  int writeFlag;
  int readFlag;
};

struct Command {
  int number;
  bool withheld;  // only while the broker has granted both flags
  Transfer transfer;
  int count;  // tokens of Ints and Strings; passes of a serial shift
  bool finalRead;
  SerialPass passes[2] = {};
};

// Command 4 carries a list of exactly this many ints; the caller replaces its first ones.
constexpr int kCommand4Values = 10;

namespace detail {
constexpr bool W = true, O = false, R = true, N = false;
using T = Transfer;
// clang-format off
constexpr Command kCommands[] = {
    {1, O, T::None, 0, R},           {2, W, T::StringsAnyAck, 1, R}, {3, O, T::StringsAnyAck, 2, R},
    {4, O, T::Command4, 0, N},       {5, W, T::Ints, 1, R},          {6, W, T::None, 0, R},
    {7, W, T::Ints, 1, R},           {8, W, T::None, 0, R},          {9, W, T::Ints, 1, R},
    {10, W, T::None, 0, R},          {11, W, T::None, 0, R},         {12, W, T::Strings, 2, R},
    {13, W, T::None, 0, R},          {14, W, T::None, 0, R},         {15, W, T::Ints, 1, R},
    {16, W, T::Ints, 1, R},          {17, W, T::Ints, 1, R},         {18, W, T::Ints, 1, R},
    {19, W, T::GenericShift, 0, R},  {20, W, T::Ints, 2, R},         {21, W, T::Pairs, 8, R},
    {22, W, T::None, 0, R},          {23, W, T::Ints, 1, R},         {24, W, T::None, 0, R},
    {25, W, T::None, 0, R},          {26, W, T::None, 0, R},         {27, W, T::None, 0, R},
    {28, W, T::None, 0, R},          {29, O, T::StringsAnyAck, 1, R}, {30, O, T::None, 0, R},
    {31, O, T::None, 0, R},          {32, O, T::None, 0, R},         {33, O, T::QueryFlagB, 0, N},
    {34, O, T::ClearFlagB, 0, R},    {35, O, T::ClearFlagA, 0, R},   {36, O, T::Ints, 2, R},
    {37, O, T::Ints, 1, R},          {38, O, T::None, 0, R},         {39, O, T::Ints, 1, R},
    {40, O, T::Ints, 2, R},          {41, O, T::SharedApps, 0, R},   {42, O, T::PumpData, 0, R},
    {43, O, T::None, 0, R},          {44, O, T::InterfaceFunction, 0, R},
    {45, O, T::Ints, 1, R},
    {46, O, T::I2CShift, 1, R, {{1, 0}}},  {47, O, T::I2CShift, 2, R, {{0, 1}, {1, 1}}},
    {48, O, T::I2CShift, 1, R, {{1, 1}}},  {49, O, T::Ints, 1, R},
    {50, O, T::SSPIShift, 1, R, {{1, 0}}}, {51, O, T::SSPIShift, 2, R, {{0, 1}, {1, 1}}},
    {52, O, T::SSPIShift, 1, R, {{1, 1}}}, {53, O, T::Ints, 1, R},
    {54, O, T::Ints, 1, R},          {55, O, T::Ints, 1, R},         {56, O, T::None, 0, R},
};
// clang-format on
constexpr int kCommandCount = sizeof kCommands / sizeof kCommands[0];
constexpr Command kClose{9999, O, T::ClearBothFlags, 0, R};
constexpr Command kZeroAndBelow{0, W, T::Unlisted, 0, R};
constexpr Command kUnlisted{57, O, T::Unlisted, 0, R};

constexpr bool commandsInOrder() {
  for (int i = 0; i < kCommandCount; ++i)
    if (kCommands[i].number != i + 1) return false;
  return true;
}
static_assert(commandsInOrder(), "row i holds command i + 1");
}  // namespace detail

// The shape of any command number: 1 to 56 and 9999 have their own, 0 and below share a
// withheld one, every other number an unlisted one.
constexpr const Command& command(int number) {
  if (number <= 0) return detail::kZeroAndBelow;
  if (number <= detail::kCommandCount) return detail::kCommands[number - 1];
  if (number == detail::kClose.number) return detail::kClose;
  return detail::kUnlisted;
}

// The arguments after an interface function's code.
enum class Function {
  Unknown,             // not a function: nothing follows the acknowledged code
  None,                // nothing
  Strings,             // `count` strings
  Ints,                // `count` ints
  IntStringInt,        // an int, a string, an int, each its own transfer
  CountedStringPairs,  // an int n, then 2n strings
  JtagShift,           // int shiftControl, int bitCount, int switchA, int switchB, data,
                       // then a buffer when switchA != 0 and one when switchB != 0
  FloatBlock,          // an int, sent as "%f" text in a whole 1024-byte block
  FloatToken,          // an int, sent as a "%f" token
};

struct InterfaceFunction {
  Function shape;
  int count;  // Strings and Ints only
};

constexpr int kHighestFunction = 143;

namespace detail {
// One list per shape, as the broker's function list groups them. Every code from 1 to 143
// stands in exactly one list; the compiler checks that below.
struct Codes {
  InterfaceFunction function;
  std::array<int, 67> codes;  // ends at the first 0
};
using F = Function;
// clang-format off
constexpr Codes kFunctions[] = {
    {{F::None, 0}, {3, 4, 7, 8, 9, 10, 14, 15, 16, 27, 29, 37, 38, 39, 40, 41, 42, 43, 44, 47,
                    48, 50, 52, 54, 56, 58, 59, 61, 62, 65, 66, 67, 73, 74, 75, 79, 80, 82, 85,
                    87, 88, 94, 99, 100, 101, 103, 105, 107, 108, 109, 111, 113, 118, 119, 121,
                    123, 125, 126, 127, 128, 129, 131, 135, 136, 137, 138, 139}},
    {{F::Strings, 1}, {1, 51, 53, 55, 60, 78, 84, 86, 102, 112, 114, 115, 122}},
    {{F::Strings, 2}, {83, 116, 124}},
    {{F::Ints, 1}, {2, 11, 13, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 28, 34, 35, 45, 46, 49,
                    57, 63, 64, 68, 71, 77, 81, 92, 95, 104, 106, 110, 117, 132, 134, 141, 142,
                    143}},
    {{F::Ints, 2}, {5, 6, 76, 91, 96, 140}},
    {{F::Ints, 3}, {93}},
    {{F::Ints, 5}, {89, 90}},
    {{F::IntStringInt, 0}, {30, 31, 32, 33}},
    {{F::CountedStringPairs, 0}, {120}},
    {{F::JtagShift, 0}, {12}},
    {{F::FloatBlock, 0}, {36}},
    {{F::FloatToken, 0}, {69, 70}},
    // Numbers the broker leaves unused: acknowledged, then reported as unknown.
    {{F::Unknown, 0}, {72, 97, 98, 130, 133}},
};
// clang-format on

constexpr std::array<InterfaceFunction, kHighestFunction + 1> kByCode = [] {
  std::array<InterfaceFunction, kHighestFunction + 1> byCode{};
  std::array<int, kHighestFunction + 1> seen{};
  for (const Codes& list : kFunctions)
    for (int code : list.codes) {
      if (code == 0) break;
      if (code > kHighestFunction || seen[static_cast<std::size_t>(code)]++ != 0) throw "code";
      byCode[static_cast<std::size_t>(code)] = list.function;
    }
  for (int code = 1; code <= kHighestFunction; ++code)
    if (seen[static_cast<std::size_t>(code)] != 1) throw "each code needs one list";
  return byCode;
}();
}  // namespace detail

// The shape of function `code`; codes outside 1..143 and the gaps in the numbering are
// Unknown.
constexpr InterfaceFunction interfaceFunction(int code) {
  if (code < 1 || code > kHighestFunction) return {Function::Unknown, 0};
  return detail::kByCode[static_cast<std::size_t>(code)];
}

}  // namespace tapbroker::protocol::shapes

#endif  // PROTOCOL_SHAPES_H
