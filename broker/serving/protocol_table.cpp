#include "broker/serving/protocol_table.h"

#include <algorithm>

namespace broker {
namespace {

constexpr BusPhase kWriteOnly{true, false};
constexpr BusPhase kReadOnly{false, true};
constexpr BusPhase kWriteRead{true, true};

constexpr CommandRow row(int number, Shape shape, int count, const char* name) {
  return {number, shape, count, name, {}, 0};
}
constexpr CommandRow bus(int number, Shape shape, const char* name, BusPhase first) {
  return {number, shape, 0, name, {first, {}}, 1};
}
constexpr CommandRow bus(int number, Shape shape, const char* name, BusPhase first,
                         BusPhase second) {
  return {number, shape, 0, name, {first, second}, 2};
}

using S = Shape;
constexpr CommandRow kCommands[] = {
    row(1, S::None, 0, "broker identification"),
    row(2, S::LooseStrings, 1, "select device by name"),
    row(3, S::LooseStrings, 2, "set broker option"),
    row(4, S::CableOpen, 0, "open cable"),
    row(5, S::Ints, 1, "set TCK frequency"),
    row(6, S::None, 0, "TAP reset"),
    row(7, S::Ints, 1, "select device by index"),
    row(8, S::None, 0, "scan chain identifications"),
    row(9, S::Ints, 1, "device IDCODE"),
    row(10, S::None, 0, "selected device IR length"),
    row(11, S::None, 0, "chain IR length"),
    row(12, S::Strings, 2, "load instruction by name"),
    row(13, S::None, 0, "erase flash"),
    row(14, S::None, 0, "blank-check flash"),
    row(15, S::Ints, 1, "set flash address"),
    row(16, S::Ints, 1, "erase flash sector"),
    row(17, S::Ints, 1, "set SRST level"),
    row(18, S::Ints, 1, "set TRST level"),
    row(19, S::GenericShift, 0, "generic shift"),
    row(20, S::Ints, 2, "clock TCK with TMS"),
    row(21, S::Pairs, 0, "name cable pins"),
    row(22, S::None, 0, "TAP state"),
    row(23, S::Ints, 1, "go to TAP state"),
    row(24, S::None, 0, "flash CRC-32"),
    row(25, S::None, 0, "flash size"),
    row(26, S::None, 0, "flash address"),
    row(27, S::None, 0, "device names"),
    row(28, S::None, 0, "TCK clock count"),
    row(29, S::LooseStrings, 1, "client note"),
    row(30, S::None, 0, "protocol revision"),
    row(31, S::None, 0, "open connections"),
    row(32, S::None, 0, "available cables"),
    row(33, S::SessionFlag, 0, "open device session"),
    row(34, S::None, 0, "close device session"),
    row(35, S::None, 0, "close cable"),
    row(36, S::Ints, 2, "set target supply"),
    row(37, S::Ints, 1, "set idle clocks after scans"),
    row(38, S::None, 0, "target voltage"),
    row(39, S::Ints, 1, "set SPI mode"),
    row(40, S::Ints, 2, "drive GPIO pin"),
    row(41, S::SharedApps, 0, "register shared applications"),
    row(42, S::PumpData, 0, "pump data"),
    row(43, S::None, 0, "shared applications"),
    row(44, S::Interface, 0, "JTAG interface function"),
    row(45, S::Ints, 1, "set I2C clock"),
    bus(46, S::I2c, "I2C write", kWriteOnly),
    bus(47, S::I2c, "I2C read, then write and read", kReadOnly, kWriteRead),
    bus(48, S::I2c, "I2C write and read", kWriteRead),
    row(49, S::Ints, 1, "set EEPROM write protection"),
    bus(50, S::Sspi, "SPI write", kWriteOnly),
    bus(51, S::Sspi, "SPI read, then write and read", kReadOnly, kWriteRead),
    bus(52, S::Sspi, "SPI write and read", kWriteRead),
    row(53, S::Ints, 1, "set SPI clock"),
    row(54, S::Ints, 1, "read flash byte"),
    row(55, S::Ints, 1, "read EEPROM byte"),
    row(56, S::None, 0, "cable status"),
    row(kWithheldCommand, S::Withheld, 0, "withheld command"),
    row(kClosingCommand, S::None, 0, "end of session"),
};

// Interface function codes by the shape of their arguments; every code from 1 to 143
// stands in at most one list, and the codes in none of them carry nothing more.
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
constexpr int kCountedPairs[] = {120};
constexpr int kJtagShift[] = {12};
constexpr int kFloatBlock[] = {36};
constexpr int kFloatToken[] = {69, 70};

constexpr int kLastFunction = 143;

struct FunctionEntry {
  bool listed = false;
  FunctionRow row{FunctionShape::None, 0};
  int timesListed = 0;
};
using FunctionTable = std::array<FunctionEntry, kLastFunction + 1>;

template <std::size_t N>
constexpr void enter(FunctionTable& table, const int (&codes)[N], FunctionShape shape,
                     int count) {
  for (int code : codes) {
    table[code].listed = true;
    table[code].row = {shape, count};
    ++table[code].timesListed;
  }
}

constexpr FunctionTable buildFunctions() {
  FunctionTable table{};
  enter(table, kNoArguments, FunctionShape::None, 0);
  enter(table, kOneString, FunctionShape::Strings, 1);
  enter(table, kTwoStrings, FunctionShape::Strings, 2);
  enter(table, kOneInt, FunctionShape::Ints, 1);
  enter(table, kTwoInts, FunctionShape::Ints, 2);
  enter(table, kThreeInts, FunctionShape::Ints, 3);
  enter(table, kFiveInts, FunctionShape::Ints, 5);
  enter(table, kIntStringInt, FunctionShape::IntStringInt, 3);
  enter(table, kCountedPairs, FunctionShape::CountedPairs, 0);
  enter(table, kJtagShift, FunctionShape::JtagShift, 0);
  enter(table, kFloatBlock, FunctionShape::FloatBlock, 1);
  enter(table, kFloatToken, FunctionShape::FloatToken, 1);
  return table;
}

constexpr FunctionTable kFunctions = buildFunctions();

constexpr bool eachCodeListedOnce() {
  int listed = 0;
  for (const FunctionEntry& entry : kFunctions) {
    if (entry.timesListed > 1) return false;
    listed += entry.timesListed;
  }
  // 143 codes, of which 72, 97, 98, 130 and 133 carry nothing.
  return listed == kLastFunction - 5 && !kFunctions[72].listed && !kFunctions[97].listed &&
         !kFunctions[98].listed && !kFunctions[130].listed && !kFunctions[133].listed;
}
static_assert(eachCodeListedOnce(), "interface function table: a code is missing or doubled");

}  // namespace

const CommandRow* findCommand(int number) {
  const auto found = std::find_if(std::begin(kCommands), std::end(kCommands),
                                  [number](const CommandRow& r) { return r.number == number; });
  return found == std::end(kCommands) ? nullptr : found;
}

const FunctionRow* findFunction(int code) {
  if (code < 1 || code > kLastFunction || !kFunctions[code].listed) return nullptr;
  return &kFunctions[code].row;
}

}  // namespace broker
