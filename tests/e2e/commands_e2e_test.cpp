// Every command and every interface function through Send against the reference broker,
// with both flags granted: each returns what the broker's documentation promises, and the
// conversation stays in step afterwards (command 30 still answers 1).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "e2e_support.h"
#include "tests/support/interface_codes.h"

namespace e2e {
namespace {

using Seen = std::vector<int>;
using Call = Seen (*)(Client&);

// What the request after the row's last command must bring, when anything.
struct Answer {
  enum Kind { None, Text, TextContaining, List } kind = None;
  std::string text;
  std::vector<std::string> list;
};
Answer text(std::string t) { return {Answer::Text, std::move(t), {}}; }
Answer containing(std::string t) { return {Answer::TextContaining, std::move(t), {}}; }
Answer list(std::vector<std::string> l) { return {Answer::List, {}, std::move(l)}; }

struct Row {
  int command;
  Call call;  // the Sends of the row, in order
  Seen expected;
  Answer answer = {};
};

// A row's Sends, evaluated left to right.
#define SENDS(...) [](Client& c) -> Seen { return {__VA_ARGS__}; }

const std::vector<std::uint8_t> kData = pattern(64);
const unsigned char kOnes[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
const unsigned char kSpiReadId[4] = {0x9F, 0, 0, 0};
const unsigned char kSpiWriteEnable[1] = {0x06};
const unsigned char kSpiReadStatus[2] = {0x05, 0};
const unsigned char* data() { return kData.data(); }

std::string hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

void expectAnswer(Client& client, const Answer& answer) {
  switch (answer.kind) {
    case Answer::None:
      break;
    case Answer::Text:
      EXPECT_EQ(readText(client), answer.text);
      break;
    case Answer::TextContaining:
      EXPECT_NE(readText(client).find(answer.text), std::string::npos) << answer.text;
      break;
    case Answer::List:
      EXPECT_EQ(readList(client), answer.list);
      break;
  }
}

class CommandsE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(broker_.pid(), 0) << "tapbroker.exe did not come up on port 4001";
    ASSERT_TRUE(connectAndOpen(client_));
  }
  void TearDown() override { EXPECT_EQ(client_.Disconnect(), 0); }

  // After each row: still in step, and both flags granted again for the next one.
  void expectInStep(const std::string& row) {
    SCOPED_TRACE(row);
    EXPECT_EQ(client_.Send(30), 1);
    EXPECT_TRUE(openCable(client_));
  }

  BrokerProcess broker_;
  char name_[16] = "e2e-commands";
  Client client_{name_};
};

TEST_F(CommandsE2E, EveryCommandAnswersAsDocumented) {
  std::vector<std::uint8_t> erased(kFlashSize, 0xFF);
  const int erasedCrc = static_cast<int>(crc32(erased));
  const int idFpga = static_cast<int>(kFpgaIdcode), idCpld = static_cast<int>(kCpldIdcode);

  const std::vector<Row> rows = {
      {1, SENDS(c.Send(1)), {0}, containing(", simulated cable")},
      {2, SENDS(c.Send(2, "SIM-CPLD"), c.Send(10), c.Send(2, "nope")), {1, 8, -1}},
      {3,  // 64 options fit
       [](Client& c) -> Seen {
         int accepted = 0;
         for (int i = 0; i < 64; ++i) accepted += c.Send(3, "speed", "fast") == 0;
         return {accepted, c.Send(3, "one", "more")};
       },
       {64, -1}},
      // Refused for the cable "none", which takes the first flag away; setting 0 is the TCK.
      {4, SENDS(c.Send(4, "none", "port0", 0), c.Send(6), c.Send(4, "sim-usb", "port7", 1, 5000),
                c.Send(56)),
       {-1, 1, 0, 0}, containing("cable sim-usb on port7; session open; TCK 5000 kHz")},
      {5, SENDS(c.Send(5, 2500), c.Send(5, 0), c.Send(5, 200000)), {2500, -1, 100000}},
      {6, SENDS(c.Send(23, 1), c.Send(6), c.Send(22)), {0, 0, 0}, text("Test-Logic-Reset")},
      {7, SENDS(c.Send(7, 1), c.Send(10), c.Send(7, 2), c.Send(7, 0)), {0, 8, -1, 0}},
      {8, SENDS(c.Send(8)), {2}, list({hex(kFpgaIdcode), hex(kCpldIdcode)})},
      {9, SENDS(c.Send(9, 1), c.Send(9, 2)), {idCpld, -1}, text("none")},
      {9, SENDS(c.Send(9, 0)), {idFpga}, text(hex(kFpgaIdcode))},
      {10, SENDS(c.Send(7, 0), c.Send(10)), {0, 6}},
      {11, SENDS(c.Send(11)), {14}},
      {12, SENDS(c.Send(12, "sim-cpld", "USER"), c.Send(12, "nope", "IDCODE"),
                 c.Send(12, "", "FOO")),
       {0, -1, -2}},
      {13, SENDS(c.Send(13), c.Send(14)), {0, 1}},
      {14, SENDS(c.Send(15, 0), c.Send(42, data(), 8, 0, 0), c.Send(14), c.Send(13), c.Send(14)),
       {0, 0, 0, 0, 1}},
      {15, SENDS(c.Send(15, 4096), c.Send(26), c.Send(15, kFlashSize), c.Send(15, kFlashSize + 1),
                 c.Send(15, -1)),
       {0, 4096, 0, -1, -1}},
      {16, SENDS(c.Send(16, 63), c.Send(16, 64), c.Send(16, -1)), {0, -1, -1}},
      {17, SENDS(c.Send(17, 0), c.Send(17, 1)), {0, 0}},
      {18, SENDS(c.Send(23, 1), c.Send(18, 1), c.Send(22), c.Send(18, 0), c.Send(22)),
       {0, 0, 1, 0, 0}},
      // The library cannot send an empty shift and gives up after the header; the broker
      // expects nothing more and leaves -1 pending. It refuses a length beyond 256 KiB
      // before the data; the library one below -14 bits before anything is sent.
      {19, SENDS(c.Send(6), c.Send(19, 0, 64, 1, kOnes), c.Send(19, 0, 0, 0, kOnes), readInt(c),
                 c.Send(19, 0, 8 * 262145, 0, kOnes), readInt(c), c.Send(19, 0, -15, 0, kOnes)),
       {0, 0, -1001, -1, -1002, -1, -1025}},
      {20, SENDS(c.Send(20, 5, 1), c.Send(20, 1, 0), c.Send(20, 1000001, 0)), {0, 1, -1}},
      {21, SENDS(c.Send(21, 0, "TCK", 1, "TMS", 2, "TDI", 3, "TDO")), {0}},
      {22, SENDS(c.Send(23, 6), c.Send(22)), {0, 6}, text("Pause-DR")},
      {23, SENDS(c.Send(23, 13), c.Send(22), c.Send(23, 16), c.Send(23, -1)), {0, 13, -1, -1}},
      {24, SENDS(c.Send(13), c.Send(24)), {0, erasedCrc}, text(hex(erasedCrc))},
      {25, SENDS(c.Send(25)), {kFlashSize}},
      {26, SENDS(c.Send(15, 100), c.Send(26)), {0, 100}},
      {27, SENDS(c.Send(27)), {2}, list({"sim-fpga", "sim-cpld"})},
      {28,
       [](Client& c) -> Seen {
         const int before = c.Send(28);
         const int reset = c.Send(6);
         return {reset, c.Send(28) - before};
       },
       {0, 5}},
      {29, SENDS(c.Send(29, "a note from the end-to-end tests")), {0}},
      {30, SENDS(c.Send(30)), {1}},
      {31, SENDS(c.Send(31)), {1}},
      {32, SENDS(c.Send(32)), {1}, list({"SIM-USB"})},
      {33, SENDS(c.Send(33), c.Send(35), c.Send(33), c.Send(6)), {0, 0, -1, 1}},
      {34, SENDS(c.Send(34), c.Send(6), c.Send(33), c.Send(6)), {0, 1, 0, 0}},
      {35, SENDS(c.Send(35), c.Send(6), c.Send(56)), {0, 1, 0}, containing("cable closed")},
      {36, SENDS(c.Send(36, 1800, 1), c.Send(38), c.Send(36, 1800, 0), c.Send(36, 5001, 1)),
       {0, 1800, 0, -1}},
      {37, SENDS(c.Send(37, 10), c.Send(37, -1)), {0, -1}},
      {38, SENDS(c.Send(36, 3300, 0), c.Send(38)), {0, 0}},
      {39, SENDS(c.Send(39, 3), c.Send(39, 4)), {0, -1}},
      {40, SENDS(c.Send(40, 15, 1), c.Send(40, 16, 1), c.Send(56)), {0, -1, 0},
       containing("GPIO 0x8000")},
      {41, SENDS(c.Send(41, 2, "alpha", "beta")), {2}, list({"alpha", "beta"})},
      // Program 8 bytes, verify them, verify 8 erased ones against the pattern; an empty
      // pump gives up after its header; an unknown mode and a pump past the end of the
      // flash are refused.
      {42, SENDS(c.Send(13), c.Send(15, 0), c.Send(42, data(), 64, 0, 0), c.Send(15, 0),
                 c.Send(42, data(), 64, 2, 0), c.Send(42, data(), 64, 2, 0), c.Send(26),
                 c.Send(42, data(), 0, 0, 0), readInt(c), c.Send(42, data(), 64, 7, 0), readInt(c),
                 c.Send(15, kFlashSize - 4), c.Send(42, data(), 64, 0, 0), readInt(c)),
       {0, 0, 0, 0, 0, 8, 16, -1001, -1, -1002, -1, 0, -1002, -1}},
      {43, SENDS(c.Send(41, 1, "gamma"), c.Send(43)), {1, 1}, list({"gamma"})},
      {44, SENDS(c.Send(44, 15), c.Send(44, 72)), {2, -1}},
      {45, SENDS(c.Send(45, 400), c.Send(45, 0)), {0, -1}},
      {46, SENDS(c.Send(46, 0x20, 0xA0, 32, data(), 0), c.Send(55, 0x20), c.Send(55, 0x23),
                 c.Send(46, 0x20, 0x42 << 1, 32, data(), 0)),
       {0, kData[0], kData[3], -1}},
      {47, SENDS(c.Send(47, 0x40, 0xA0, 32, data(), 0), c.Send(55, 0x40)), {0, kData[0]}},
      {48, SENDS(c.Send(48, 0x60, 0xA1, 16, data(), 0), c.Send(55, 0x61)), {0, kData[1]}},
      {49, SENDS(c.Send(49, 1), c.Send(46, 0, 0xA0, 8, data(), 0), c.Send(55, 0), c.Send(49, 0),
                 c.Send(46, 0, 0xA0, 8, data(), 0), c.Send(55, 0)),
       {0, -2, 0xFF, 0, 0, kData[0]}},
      {50, SENDS(c.Send(50, 0, 8, kSpiWriteEnable, 0), c.Send(50, 1, 8, kSpiWriteEnable, 0)),
       {0, -1}},
      {51, SENDS(c.Send(51, 0, 32, kSpiReadId, 0)), {0}},
      {52, SENDS(c.Send(52, 0, 16, kSpiReadStatus, 0), c.Send(52, 3, 32, kSpiReadId, 0)),
       {0, -1}},
      {53, SENDS(c.Send(53, 2000), c.Send(53, 0)), {0, -1}},
      {54, SENDS(c.Send(13), c.Send(54, 0), c.Send(54, kFlashSize), c.Send(54, -1)),
       {0, 0xFF, -1, -1}},
      {55, SENDS(c.Send(55, 8191), c.Send(55, 8192), c.Send(55, -1)), {0xFF, -1, -1}},
      {56, SENDS(c.Send(56)), {0}, containing("2 device(s)")},
      {9999, SENDS(c.Send(9999), c.Send(6), c.Send(56)), {0, 1, 0}, containing("cable closed")},
      // Unlisted numbers; 0 and below only while both flags are granted.
      {57, SENDS(c.Send(57), c.Send(10000), c.Send(0), c.Send(-3)), {-1, -1, -1, -1}},
      {0, SENDS(c.Send(35), c.Send(0), c.Send(-3)), {0, 1, 1}},
      // The withheld token's own number: nothing follows, the pending answer stays.
      {8888, SENDS(c.Send(25), c.Send(8888)), {kFlashSize, kFlashSize}},
  };

  std::set<int> covered;
  for (const Row& row : rows) {
    const std::string name = "command " + std::to_string(row.command);
    SCOPED_TRACE(name);
    EXPECT_EQ(row.call(client_), row.expected);
    expectAnswer(client_, row.answer);
    expectInStep(name);
    covered.insert(row.command);
  }
  for (int command = 1; command <= 56; ++command)
    EXPECT_TRUE(covered.count(command)) << command;
}

// Sends function `code` with arguments of its `shape`: `value` for its first integer (and
// the instruction name "IDCODE" or `name` for its first string).
int sendFunction(Client& c, int code, char shape, int value, const char* name = "IDCODE") {
  switch (shape) {
    case 's':
      return c.Send(44, code, name);
    case 'S':
      return c.Send(44, code, "first", "second");
    case '1':
    case 'b':  // as "%f"
    case 'f':
      return c.Send(44, code, value);
    case '2':
      return c.Send(44, code, value, 2);
    case '3':
      return c.Send(44, code, value, 2, 3);
    case '5':
      return c.Send(44, code, value, 2, 3, 4, 5);
    case 'm':
      return c.Send(44, code, value, "middle", 3);
    case 'p':
      return c.Send(44, code, 2, "a", "b", "c", "d");
    case 'j':
      return c.Send(44, code, 0, 8, 0, 0, kOnes);  // no read-back, no compare
    default:                                       // no arguments, or no function at all
      return c.Send(44, code);
  }
}

TEST_F(CommandsE2E, EveryInterfaceFunctionAnswersAsDocumented) {
  const std::map<int, char> shapeOf = interfaceShapes();

  // What the functions that act on the cable answer when given 1 (and "IDCODE"): 13 goes
  // to Run-Test/Idle, which 14 then reports; every other function accepts with 0.
  const std::map<int, int> acting = {{14, 1}, {15, 2}, {16, 14}, {17, 1}, {36, 1}};
  for (int code = 1; code <= 143; ++code) {
    const std::string name = "function " + std::to_string(code);
    SCOPED_TRACE(name);
    const int expected = shapeOf.at(code) == '?' ? -1
                         : acting.count(code)    ? acting.at(code)
                                                 : 0;
    EXPECT_EQ(sendFunction(client_, code, shapeOf.at(code), 1), expected);
    expectInStep(name);
  }

  // Refusals: out-of-range values, an unknown instruction, codes beyond the table.
  struct Refusal {
    int code, value, expected;
  };
  for (const Refusal& refusal : std::vector<Refusal>{{2, 5, -1},
                                                     {11, -1, -1},
                                                     {11, 1000001, -1},
                                                     {13, 16, -1},
                                                     {17, 0, -1},
                                                     {36, 0, -1},
                                                     {36, 100001, -1},
                                                     {69, 6, -1},
                                                     {70, -1, -1},
                                                     {17, 200000, 100000}}) {
    const std::string name =
        "function " + std::to_string(refusal.code) + " given " + std::to_string(refusal.value);
    SCOPED_TRACE(name);
    EXPECT_EQ(sendFunction(client_, refusal.code, shapeOf.at(refusal.code), refusal.value),
              refusal.expected);
    expectInStep(name);
  }
  EXPECT_EQ(sendFunction(client_, 1, 's', 0, "FOO"), -2);
  for (int code : {0, -1, 144, 9999}) {
    SCOPED_TRACE("function " + std::to_string(code));
    EXPECT_EQ(client_.Send(44, code), -1);
    expectInStep("function " + std::to_string(code));
  }
}

}  // namespace
}  // namespace e2e
