// Every command, every interface function and every transfer kind with read-back, through
// Send against the reference broker as an independent reader of the protocol: each answers
// as the broker documents it, and the conversation stays in step afterwards (command 30
// still answers 1). What the simulated devices do is the broker's own tests' business.
#include <algorithm>
#include <climits>
#include <functional>

#include "protocol/shapes.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/scratch.h"
#include "tests/support/scripted_broker.h"

namespace e2e {
namespace {

const std::string kOnes(8, '\xFF');
const std::string kData = pattern(64, 1);
const std::string kSpiReadId = bytes({0x9F, 0, 0, 0});

class CommandsE2E : public BrokerTest {
 protected:
  void SetUp() override {
    BrokerTest::SetUp();
    if (!IsSkipped()) {
      ASSERT_TRUE(connectAndOpen(client_));
    }
  }
  void TearDown() override {
    if (!IsSkipped()) {
      EXPECT_EQ(client_.Disconnect(), 0);
    }
    BrokerTest::TearDown();
  }
  // Still in step, and both flags granted again for what follows.
  void expectInStep() {
    EXPECT_EQ(client_.Send(30), 1);
    EXPECT_TRUE(connectAndOpen(client_, false));
  }

  char name_[16] = "e2e-commands";
  Client client_{name_};
};

TEST_F(CommandsE2E, EveryCommandAnswersAsDocumented) {
  constexpr int kAnyCount = INT_MIN;  // a count that depends on what went before
  struct Row {
    int command;
    std::function<int(Client&)> send;  // none: the command alone
    int expected;
  };
  const std::vector<Row> rows = {
      {1, {}, 0},
      {2, [](Client& c) { return c.Send(2, "SIM-CPLD"); }, 1},
      {3, [](Client& c) { return c.Send(3, "speed", "fast"); }, 0},
      {4, [](Client& c) { return c.Send(4, "sim-usb", "port7", 1, 5000); }, 0},
      {5, [](Client& c) { return c.Send(5, 2500); }, 2500},
      {6, {}, 0},
      {7, [](Client& c) { return c.Send(7, 1); }, 0},
      {8, {}, 2},
      {9, [](Client& c) { return c.Send(9, 0); }, 0x1A2B3C4D},
      {10, {}, 8}, {11, {}, 14},
      {12, [](Client& c) { return c.Send(12, "sim-cpld", "USER"); }, 0},
      {13, {}, 0}, {14, {}, 1},
      {15, [](Client& c) { return c.Send(15, 4096); }, 0},
      {16, [](Client& c) { return c.Send(16, 63); }, 0},
      {17, [](Client& c) { return c.Send(17, 0); }, 0},
      {18, [](Client& c) { return c.Send(18, 1); }, 0},
      {19, [](Client& c) { return c.Send(19, 0, 64, 1, data(kOnes)); }, 0},
      {20, [](Client& c) { return c.Send(20, 5, 1); }, 0},
      {21, [](Client& c) { return c.Send(21, 0, "TCK", 1, "TMS", 2, "TDI", 3, "TDO"); }, 0},
      {22, {}, 0},
      {23, [](Client& c) { return c.Send(23, 13); }, 0},
      {24, {}, -1788105612},  // the erased flash's CRC
      {25, {}, 1024 * 1024}, {26, {}, 4096}, {27, {}, 2}, {28, {}, kAnyCount},
      {29, [](Client& c) { return c.Send(29, "a note from the end-to-end tests"); }, 0},
      {30, {}, 1}, {31, {}, 1}, {32, {}, 1}, {33, {}, 0}, {34, {}, 0}, {35, {}, 0},
      {36, [](Client& c) { return c.Send(36, 1800, 1); }, 0},
      {37, [](Client& c) { return c.Send(37, 10); }, 0},
      {38, {}, 1800},
      {39, [](Client& c) { return c.Send(39, 3); }, 0},
      {40, [](Client& c) { return c.Send(40, 15, 1); }, 0},
      {41, [](Client& c) { return c.Send(41, 2, "alpha", "beta"); }, 2},
      {42, [](Client& c) { return c.Send(42, data(kData), 64, 0, 0); }, 0},
      {43, {}, 2},
      {44, [](Client& c) { return c.Send(44, 15); }, 2},
      {45, [](Client& c) { return c.Send(45, 400); }, 0},
      {46, [](Client& c) { return c.Send(46, 0x20, 0xA0, 32, data(kData), 0); }, 0},
      {47, [](Client& c) { return c.Send(47, 0x40, 0xA0, 32, data(kData), 0); }, 0},
      {48, [](Client& c) { return c.Send(48, 0x60, 0xA1, 16, data(kData), 0); }, 0},
      {49, [](Client& c) { return c.Send(49, 1); }, 0},
      {50, [](Client& c) { return c.Send(50, 0, 8, data(bytes({0x06})), 0); }, 0},
      {51, [](Client& c) { return c.Send(51, 0, 32, data(kSpiReadId), 0); }, 0},
      {52, [](Client& c) { return c.Send(52, 0, 16, data(bytes({0x05, 0})), 0); }, 0},
      {53, [](Client& c) { return c.Send(53, 2000); }, 0},
      {54, [](Client& c) { return c.Send(54, 0); }, 0xFF},
      {55, [](Client& c) { return c.Send(55, 8191); }, 0xFF},
      {56, {}, 0}, {9999, {}, 0}, {57, {}, -1}, {0, {}, -1},  // 57 and 0: not commands
      // The withheld token's own number: nothing follows, the pending answer stays.
      {8888, [](Client& c) { return c.Send(25), c.Send(8888); }, 1024 * 1024},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("command " + std::to_string(row.command));
    const int result = row.send ? row.send(client_) : client_.Send(row.command);
    if (row.expected == kAnyCount)
      EXPECT_GE(result, 0);
    else
      EXPECT_EQ(result, row.expected);
    expectInStep();
  }
  // Texts and lists come back through Read.
  EXPECT_EQ(client_.Send(8), 2);
  EXPECT_EQ(readList(client_), (std::vector<std::string>{"0x1A2B3C4D", "0x2C0FFEE1"}));
  EXPECT_EQ(client_.Send(1), 0);
  char* text = nullptr;
  EXPECT_EQ(client_.Read(text), 0);
  EXPECT_NE(std::string(text).find(", simulated cable"), std::string::npos);
}

TEST_F(CommandsE2E, EveryInterfaceFunctionAnswersAsDocumented) {
  using InterfaceShape = tapbroker::protocol::shapes::Function;
  // What the functions that act on the cable answer when given 1 (and "IDCODE"): 13 goes
  // to Run-Test/Idle, which 14 then reports; every other function accepts with 0.
  const std::map<int, int> acting = {{14, 1}, {15, 2}, {16, 14}, {17, 1}, {36, 1}};
  for (int code = 0; code <= 144; ++code) {
    SCOPED_TRACE("function " + std::to_string(code));
    const tapbroker::protocol::shapes::InterfaceFunction function =
        tapbroker::protocol::shapes::interfaceFunction(code);
    int result = 0;
    switch (function.shape) {
      case InterfaceShape::Strings:
        result = client_.Send(44, code, "IDCODE", "second");
        break;
      case InterfaceShape::IntStringInt:
        result = client_.Send(44, code, 1, "middle", 3);
        break;
      case InterfaceShape::CountedStringPairs:
        result = client_.Send(44, code, 2, "a", "b", "c", "d");
        break;
      case InterfaceShape::JtagShift:  // no read-back, no compare
        result = client_.Send(44, code, 0, 8, 0, 0, data(kOnes));
        break;
      default:  // ints, floating-point text, or nothing
        result = client_.Send(44, code, 1, 2, 3, 4, 5);
        break;
    }
    const bool known = function.shape != InterfaceShape::Unknown;
    EXPECT_EQ(result, !known ? -1 : acting.count(code) ? acting.at(code) : 0);
    expectInStep();
  }
}

// The built-in chain's IDCODEs as a data scan reads them after a reset, LSB first.
const std::string kIdcodeScan = bytes({0x4D, 0x3C, 0x2B, 0x1A, 0xE1, 0xFE, 0x0F, 0x2C});

// Also the walk that scripts/test-windows.sh runs on Linux and under Wine: the two brokers'
// traces and the two libraries' recordings of it must be the same.
TEST_F(CommandsE2E, EachTransferKindReadsBack) {
  Client& c = client_;
  TempDir scratch;
  const std::string log = scratch / "walk.log";
  ASSERT_EQ(c.Set_Log_File(log.c_str()), 0);
  ASSERT_EQ(c.Send(44, 3), 0);  // the JTAG shift, buffer A the mask: the TDO comes back
  EXPECT_EQ(c.Send(44, 12, 0, 64, 1, 0, data(kOnes), data(kOnes)), 0);
  EXPECT_EQ(readBack(c, 8), kIdcodeScan);
  ASSERT_EQ(c.Send(6), 0);  // the generic shift
  EXPECT_EQ(c.Send(19, 0, 64, 1, data(kOnes)), 0);
  EXPECT_EQ(readBack(c, 8), kIdcodeScan);

  // The pump programs the flash and reads it back in several blocks, each block's first
  // byte replaced by the "+" that the client checks.
  const std::string image = pattern(3000, 3);
  ASSERT_EQ(c.Send(13), 0);
  ASSERT_EQ(c.Send(15, 0), 0);
  EXPECT_EQ(c.Send(42, data(image), 8 * 3000, 0, 0), 0);
  ASSERT_EQ(c.Send(15, 0), 0);
  EXPECT_EQ(c.Send(42, data(std::string(3000, '\0')), 8 * 3000, 1, 1), 0);
  std::string marked = image;
  for (std::size_t at = 0; at < marked.size(); at += 1024) marked[at] = '+';
  EXPECT_EQ(readBack(c, 3000), marked);

  // I2C writes the EEPROM and reads it back; SPI reads the flash's identification.
  const std::string message = pattern(200, 11);
  EXPECT_EQ(c.Send(48, 0x100, 0xA0, 8 * 200, data(message), 0), 0);
  EXPECT_EQ(readBack(c, 200), message);
  EXPECT_EQ(c.Send(52, 0, 32, data(kSpiReadId), 0), 0);
  unsigned char id[4] = {};
  unsigned char* into = id;  // the other GetTDO
  EXPECT_EQ(c.GetTDO(into, 32), 0);
  EXPECT_EQ(std::string(id, id + 4), bytes({0xFF, 0x5A, 0x40, 0x10}));
  // The Read overloads that the other tests leave out: a number, and the text returned.
  int value = 0;
  EXPECT_EQ(c.Send(25), 1024 * 1024);
  EXPECT_EQ(c.Read(value), 0);
  EXPECT_EQ(value, 1024 * 1024);
  EXPECT_EQ(c.Send(1), 0);
  EXPECT_EQ(std::string(c.Read()).rfind("tapbroker.exe ", 0), 0u);

  // One report a line, ended as the system's text files end lines: CR LF on Windows.
  const std::string written = readFile(log);
  const long lines = std::count(written.begin(), written.end(), '\n');
#ifdef _WIN32
  EXPECT_EQ(std::count(written.begin(), written.end(), '\r'), lines);
#else
  EXPECT_EQ(written.find('\r'), std::string::npos);
#endif
  EXPECT_GT(lines, 50);
  EXPECT_EQ(written.back(), '\n');
}

}  // namespace
}  // namespace e2e
