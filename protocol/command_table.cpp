#include "protocol/command_table.h"

namespace commands {

namespace {

constexpr bool kWithheld = true;
constexpr bool kOpen = false;
constexpr bool kRead = true;
constexpr bool kNoRead = false;
using T = Transfer;

// clang-format off
constexpr Row kRows[] = {
    // cmd withheld   transfer               count  final read  passes (I2C, SSPI)
    {1,   kOpen,     T::None,               0, kRead},
    {2,   kWithheld, T::StringArgsAnyAck,   1, kRead},
    {3,   kOpen,     T::StringArgsAnyAck,   2, kRead},
    {4,   kOpen,     T::Command4,           0, kNoRead},
    {5,   kWithheld, T::IntArgs,            1, kRead},
    {6,   kWithheld, T::None,               0, kRead},
    {7,   kWithheld, T::IntArgs,            1, kRead},
    {8,   kWithheld, T::None,               0, kRead},
    {9,   kWithheld, T::IntArgs,            1, kRead},
    {10,  kWithheld, T::None,               0, kRead},
    {11,  kWithheld, T::None,               0, kRead},
    {12,  kWithheld, T::StringArgs,         2, kRead},
    {13,  kWithheld, T::None,               0, kRead},
    {14,  kWithheld, T::None,               0, kRead},
    {15,  kWithheld, T::IntArgs,            1, kRead},
    {16,  kWithheld, T::IntArgs,            1, kRead},
    {17,  kWithheld, T::IntArgs,            1, kRead},
    {18,  kWithheld, T::IntArgs,            1, kRead},
    {19,  kWithheld, T::GenericShift,       0, kRead},
    {20,  kWithheld, T::IntArgs,            2, kRead},
    {21,  kWithheld, T::PairArgs,           8, kRead},
    {22,  kWithheld, T::None,               0, kRead},
    {23,  kWithheld, T::IntArgs,            1, kRead},
    {24,  kWithheld, T::None,               0, kRead},
    {25,  kWithheld, T::None,               0, kRead},
    {26,  kWithheld, T::None,               0, kRead},
    {27,  kWithheld, T::None,               0, kRead},
    {28,  kWithheld, T::None,               0, kRead},
    {29,  kOpen,     T::StringArgsAnyAck,   1, kRead},
    {30,  kOpen,     T::None,               0, kRead},
    {31,  kOpen,     T::None,               0, kRead},
    {32,  kOpen,     T::None,               0, kRead},
    {33,  kOpen,     T::QueryFlagB,         0, kNoRead},
    {34,  kOpen,     T::ClearFlagB,         0, kRead},
    {35,  kOpen,     T::ClearFlagA,         0, kRead},
    {36,  kOpen,     T::IntArgs,            2, kRead},
    {37,  kOpen,     T::IntArgs,            1, kRead},
    {38,  kOpen,     T::None,               0, kRead},
    {39,  kOpen,     T::IntArgs,            1, kRead},
    {40,  kOpen,     T::IntArgs,            2, kRead},
    {41,  kOpen,     T::SharedApps,         0, kRead},
    {42,  kOpen,     T::PumpData,           0, kRead},
    {43,  kOpen,     T::None,               0, kRead},
    {44,  kOpen,     T::InterfaceFunction,  0, kRead},
    {45,  kOpen,     T::IntArgs,            1, kRead},
    {46,  kOpen,     T::I2CShift,           1, kRead, {{1, 0}}},
    {47,  kOpen,     T::I2CShift,           2, kRead, {{0, 1}, {1, 1}}},
    {48,  kOpen,     T::I2CShift,           1, kRead, {{1, 1}}},
    {49,  kOpen,     T::IntArgs,            1, kRead},
    {50,  kOpen,     T::SSPIShift,          1, kRead, {{1, 0}}},
    {51,  kOpen,     T::SSPIShift,          2, kRead, {{0, 1}, {1, 1}}},
    {52,  kOpen,     T::SSPIShift,          1, kRead, {{1, 1}}},
    {53,  kOpen,     T::IntArgs,            1, kRead},
    {54,  kOpen,     T::IntArgs,            1, kRead},
    {55,  kOpen,     T::IntArgs,            1, kRead},
    {56,  kOpen,     T::None,               0, kRead},
};
// clang-format on
constexpr int kRowCount = sizeof kRows / sizeof kRows[0];

constexpr Row kClose{9999, kOpen, T::ClearBothFlags, 0, kRead};
constexpr Row kZeroAndBelow{0, kWithheld, T::Unlisted, 0, kRead};
constexpr Row kUnlisted{57, kOpen, T::Unlisted, 0, kRead};

constexpr bool rowsInOrder() {
  for (int i = 0; i < kRowCount; ++i)
    if (kRows[i].command != i + 1) return false;
  return true;
}
static_assert(rowsInOrder(), "row i holds command i + 1");

}  // namespace

const Row& rowFor(int command) {
  if (command <= 0) return kZeroAndBelow;
  if (command <= kRowCount) return kRows[command - 1];
  if (command == kClose.command) return kClose;
  return kUnlisted;
}

}  // namespace commands
