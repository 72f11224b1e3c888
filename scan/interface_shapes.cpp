#include "scan/interface_shapes.h"

#include <array>
#include <cstddef>

namespace scan {
namespace {

constexpr int kHighestCode = 143;

// One row per shape, as the broker's function list groups them. Every code from 1 to 143
// stands in exactly one row; the compiler checks that below.
constexpr int kNoArguments[] = {
    3,   4,   7,   8,   9,   10,  14,  15,  16,  27,  29,  37,  38,  39,  40,  41,  42,
    43,  44,  47,  48,  50,  52,  54,  56,  58,  59,  61,  62,  65,  66,  67,  73,  74,
    75,  79,  80,  82,  85,  87,  88,  94,  99,  100, 101, 103, 105, 107, 108, 109, 111,
    113, 118, 119, 121, 123, 125, 126, 127, 128, 129, 131, 135, 136, 137, 138, 139};
constexpr int kOneString[] = {1, 51, 53, 55, 60, 78, 84, 86, 102, 112, 114, 115, 122};
constexpr int kTwoStrings[] = {83, 116, 124};
constexpr int kOneInt[] = {2,  11, 13,  17,  18,  19,  20,  21,  22,  23,  24, 25, 26,
                           28, 34, 35,  45,  46,  49,  57,  63,  64,  68,  71, 77, 81,
                           92, 95, 104, 106, 110, 117, 132, 134, 141, 142, 143};
constexpr int kTwoInts[] = {5, 6, 76, 91, 96, 140};
constexpr int kThreeInts[] = {93};
constexpr int kFiveInts[] = {89, 90};
constexpr int kIntStringInt[] = {30, 31, 32, 33};
constexpr int kCountedStringPairs[] = {120};
constexpr int kJtagShift[] = {12};
constexpr int kFloatBlock[] = {36};
constexpr int kFloatToken[] = {69, 70};
// Numbers the broker leaves unused: acknowledged, then reported as unknown.
constexpr int kUnlisted[] = {72, 97, 98, 130, 133};

struct Row {
  InterfaceFunction function;
  const int* codes;
  std::size_t size;
};

template <std::size_t N>
constexpr Row row(InterfaceShape shape, int count, const int (&codes)[N]) {
  return {{shape, count}, codes, N};
}

constexpr Row kRows[] = {
    row(InterfaceShape::None, 0, kNoArguments),
    row(InterfaceShape::Strings, 1, kOneString),
    row(InterfaceShape::Strings, 2, kTwoStrings),
    row(InterfaceShape::Ints, 1, kOneInt),
    row(InterfaceShape::Ints, 2, kTwoInts),
    row(InterfaceShape::Ints, 3, kThreeInts),
    row(InterfaceShape::Ints, 5, kFiveInts),
    row(InterfaceShape::IntStringInt, 0, kIntStringInt),
    row(InterfaceShape::CountedStringPairs, 0, kCountedStringPairs),
    row(InterfaceShape::JtagShift, 0, kJtagShift),
    row(InterfaceShape::FloatBlock, 0, kFloatBlock),
    row(InterfaceShape::FloatToken, 0, kFloatToken),
    row(InterfaceShape::Unknown, 0, kUnlisted),
};

constexpr bool everyCodeInExactlyOneRow() {
  std::array<int, kHighestCode + 1> seen{};
  for (const Row& r : kRows)
    for (std::size_t i = 0; i < r.size; ++i) {
      if (r.codes[i] < 1 || r.codes[i] > kHighestCode) return false;
      ++seen[static_cast<std::size_t>(r.codes[i])];
    }
  for (int code = 1; code <= kHighestCode; ++code)
    if (seen[static_cast<std::size_t>(code)] != 1) return false;
  return true;
}
static_assert(everyCodeInExactlyOneRow(), "each interface function code needs one row");

constexpr std::array<InterfaceFunction, kHighestCode + 1> kByCode = [] {
  std::array<InterfaceFunction, kHighestCode + 1> byCode{};
  for (InterfaceFunction& f : byCode) f = {InterfaceShape::Unknown, 0};
  for (const Row& r : kRows)
    for (std::size_t i = 0; i < r.size; ++i)
      byCode[static_cast<std::size_t>(r.codes[i])] = r.function;
  return byCode;
}();

}  // namespace

InterfaceFunction interfaceFunction(int code) {
  if (code < 1 || code > kHighestCode) return {InterfaceShape::Unknown, 0};
  return kByCode[static_cast<std::size_t>(code)];
}

}  // namespace scan
