// The scan transfers against the simulated devices: JTAG shifts in single and many blocks,
// pump data into the flash, and the I2C EEPROM and the SPI flash, each in the byte counts
// and answers that the client reads.
#include <gtest/gtest.h>

#include "tests/broker/broker_harness.h"

namespace {

const std::string kIdcodes = bytes({0x4D, 0x3C, 0x2B, 0x1A, 0xE1, 0xFE, 0x0F, 0x2C});

class Scan : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(client.connected());
    ASSERT_EQ(client.introduce(), kAck);
  }
  void header(int command, const std::vector<int>& tokens) {
    ASSERT_EQ(client.command(command), kAck);
    for (int token : tokens) ASSERT_EQ(client.strict(token), kAck) << token;
  }
  void allInBypass() {
    header(44, {9});
    EXPECT_EQ(client.answerInt(), 0);
  }
  // Multi-block read-back: `length` bytes in blocks, each followed by the request token.
  std::string readBackBlocks(std::size_t length) {
    std::string got;
    while (got.size() < length) {
      const std::string block =
          client.receive(std::min<std::size_t>(1024, length - got.size()));
      if (block.empty()) break;
      got += block;
      client.token("+");
    }
    return got;
  }
  // `data` sent in blocks of at most 1024 bytes (`padded`: always whole), each acknowledged.
  void sendBlocks(const std::string& data, bool padded) {
    for (std::size_t at = 0; at < data.size(); at += 1024) {
      std::string block = data.substr(at, 1024);
      if (padded) block.resize(1024, '\0');
      client.send(block);
      ASSERT_EQ(client.receive(2), kAck) << at;
    }
  }

  RunningBroker broker;
  WireClient client{broker.port()};
};

// TDO through two devices in BYPASS: two zeros, then TDI two bits late.
std::string delayedTwoBits(const std::string& tdi) {
  std::string out(tdi.size(), '\0');
  for (std::size_t i = 0; i < tdi.size(); ++i) {
    const unsigned previous = i ? static_cast<unsigned char>(tdi[i - 1]) : 0;
    out[i] = static_cast<char>((static_cast<unsigned char>(tdi[i]) << 2) | (previous >> 6));
  }
  return out;
}

TEST_F(Scan, GenericShiftReadsTheIdcodesAfterReset) {
  header(6, {});
  EXPECT_EQ(client.answerInt(), 0);
  header(19, {0, 64, 8, 1});
  client.send(std::string(8, '\xFF'));
  EXPECT_EQ(client.receive(8), kIdcodes);
  EXPECT_EQ(client.answerInt(), 0);
}

TEST_F(Scan, GenericShiftOfManyBlocksAcknowledgesThenReadsBackBlockByBlock) {
  allInBypass();
  const std::string tdi = pattern(2148, 7);
  header(19, {0, 8 * 2148, 2148, 0});
  sendBlocks(tdi, false);
  EXPECT_EQ(client.receive(2), kAck) << "the final acknowledgement without read-back";
  EXPECT_EQ(client.answerInt(), 0);

  header(19, {0, 8 * 2148, 2148, 1});
  sendBlocks(tdi, false);
  EXPECT_EQ(readBackBlocks(2148), delayedTwoBits(tdi));
  EXPECT_EQ(client.answerInt(), 0) << "the last block's request token is not answered";
}

TEST_F(Scan, GenericShiftRefusesAByteCountThatDisagreesWithTheBits) {
  ASSERT_EQ(client.command(19), kAck);
  EXPECT_EQ(client.strict(0), kAck);
  EXPECT_EQ(client.strict(16), kAck);
  EXPECT_EQ(client.strict(3), std::string("-\0", 2));
  header(30, {});
  EXPECT_EQ(client.answerInt(), 1);
}

TEST_F(Scan, JtagShiftAnswersAPaddedResultThenItsReadBack) {
  // Data and switch-A buffer, each with its trailing zero; then the result, then TDO.
  header(44, {12, 0, 64, 1, 0});
  client.send(std::string(8, '\xFF') + '\0');
  EXPECT_EQ(client.receive(2), kAck);
  client.send(std::string(9, '\0'));
  EXPECT_EQ(client.receive(2), kAck);
  client.token("+");
  std::string result = "0";
  result.resize(1024, '\0');
  EXPECT_EQ(client.receive(1024), result);
  EXPECT_EQ(client.receive(8), kIdcodes);
  EXPECT_EQ(client.answerInt(), 0);

  // Expected TDO under a mask: the result counts the mismatching bits, and the control
  // bit of value 2 leaves the read-back out.
  allInBypass();
  header(44, {12, 2, 8, 1, 1});
  client.send(bytes({0xFF, 0}));
  EXPECT_EQ(client.receive(2), kAck);
  client.send(bytes({0x0F, 0}));  // mask: the low four bits
  EXPECT_EQ(client.receive(2), kAck);
  client.send(bytes({0x00, 0}));  // expected: all zero, but bits 2 and 3 come out as 1
  EXPECT_EQ(client.receive(2), kAck);
  client.token("+");
  EXPECT_EQ(client.receive(1024).substr(0, 2), std::string("2\0", 2));
  EXPECT_EQ(client.answerInt(), 2);
}

TEST_F(Scan, JtagShiftOfManyBlocksMarksEachReadBackBlock) {
  allInBypass();
  const std::string tdi = pattern(1034, 3);
  header(44, {12, 0, 8 * 1034, 1, 0});
  sendBlocks(tdi, true);
  sendBlocks(std::string(1034, '\0'), true);
  client.token("+");
  EXPECT_EQ(client.receive(1024).substr(0, 2), std::string("0\0", 2));
  std::string expected = delayedTwoBits(tdi);
  expected[0] = expected[1024] = '+';
  EXPECT_EQ(readBackBlocks(1034), expected);
  EXPECT_EQ(client.answerInt(), 0);
}

TEST_F(Scan, PumpProgramsTheFlashAndReadsItBack) {
  header(15, {0x1000});
  EXPECT_EQ(client.answerInt(), 0);
  const std::string data = pattern(300, 11);
  header(42, {8 * 300, 0, 1});  // program, read back
  client.send(data);
  EXPECT_EQ(client.receive(300), data);
  EXPECT_EQ(client.answerInt(), 0);

  header(15, {0x1000});
  EXPECT_EQ(client.answerInt(), 0);
  header(42, {8 * 3000, 1, 1});  // read, in three blocks
  sendBlocks(std::string(3000, '\0'), false);
  std::string expected = data + std::string(2700, '\xFF');
  expected[0] = expected[1024] = expected[2048] = '+';
  EXPECT_EQ(readBackBlocks(3000), expected);
  EXPECT_EQ(client.answerInt(), 0);

  header(15, {0x1000});
  EXPECT_EQ(client.answerInt(), 0);
  header(42, {8 * 300, 2, 0});  // verify against other data: every differing byte counts
  std::string other = data;
  other[5] ^= 1;
  other[17] ^= 0x80;
  client.send(other);
  EXPECT_EQ(client.receive(2), kAck);
  EXPECT_EQ(client.answerInt(), 2);

  header(15, {256 * 1024 - 10});
  EXPECT_EQ(client.answerInt(), 0);
  ASSERT_EQ(client.command(42), kAck);
  EXPECT_EQ(client.strict(8 * 11), std::string("-\0", 2)) << "beyond the end of the flash";
}

TEST_F(Scan, I2cWritesAndReadsTheEepromWithMirroredBytes) {
  // The client mirrors the address byte (0xA0: device 0x50) and the data; read-back is not.
  const int address = static_cast<unsigned char>(mirrored(bytes({0xA0}))[0]);
  const std::string first = bytes({0x01, 0x80, 0x12, 0xF0});
  header(46, {0x10, address, 32, 0});
  client.send(mirrored(first));
  EXPECT_EQ(client.receive(2), kAck);
  EXPECT_EQ(client.answerInt(), 0);

  // 47: a read-only transfer, then a write-and-read on the same header.
  const std::string second = bytes({0x55, 0xAA, 0x00, 0x7E});
  header(47, {0x10, address, 32, 0});
  EXPECT_EQ(client.receive(4), first);
  for (int token : {0x10, address, 32, 0}) ASSERT_EQ(client.strict(token), kAck);
  client.send(mirrored(second));
  EXPECT_EQ(client.receive(4), second);
  EXPECT_EQ(client.answerInt(), 0);

  const int nobody = static_cast<unsigned char>(mirrored(bytes({0xA2}))[0]);
  header(48, {0x10, nobody, 8, 0});
  client.send(bytes({0x33}));
  EXPECT_EQ(client.receive(1), bytes({0xFF}));
  EXPECT_EQ(client.answerInt(), -1) << "no device answers that address";
}

TEST_F(Scan, SpiFlashIdentifiesItselfAndKeepsWhatIsProgrammed) {
  const auto transfer = [this](int command, const std::string& mosi) {
    header(command, {0, static_cast<int>(8 * mosi.size()), 0});
    client.send(mosi);
    return client.receive(command == 50 ? 2 : mosi.size());
  };
  EXPECT_EQ(transfer(52, bytes({0x9F, 0, 0, 0})), bytes({0xFF, 0x5A, 0x40, 0x10}));
  EXPECT_EQ(client.answerInt(), 0);
  EXPECT_EQ(transfer(50, bytes({0x06})), kAck);  // write enable
  EXPECT_EQ(client.answerInt(), 0);
  EXPECT_EQ(transfer(50, bytes({0x02, 0x00, 0x01, 0x00, 0xC0, 0xFF, 0xEE})), kAck);
  EXPECT_EQ(client.answerInt(), 0);
  EXPECT_EQ(transfer(52, bytes({0x03, 0x00, 0x01, 0x00, 0, 0, 0, 0})),
            bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xC0, 0xFF, 0xEE, 0xFF}));
  EXPECT_EQ(client.answerInt(), 0);
}

}  // namespace
