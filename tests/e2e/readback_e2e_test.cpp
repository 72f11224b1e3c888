// Read-back data against what the simulated devices hold: the chain's IDCODEs through both
// shifts, the flash through pump data, the EEPROM over I2C and the flash on SPI, each in a
// single block and in several. Where the client checks that a block of a multi-block
// read-back begins with "+", the broker puts it in place of that block's first byte.
#include <gtest/gtest.h>

#include "e2e_support.h"

namespace e2e {
namespace {

constexpr std::size_t kBlock = 1024;
constexpr std::size_t kLong = 3000;  // three blocks, the last one short

int bits(std::size_t bytes) { return static_cast<int>(bytes * 8); }

// The TDO of a data scan through the two BYPASS registers: the TDI two bits late, after the
// two zeros they captured.
std::vector<std::uint8_t> throughBypass(const std::vector<std::uint8_t>& tdi) {
  std::vector<std::uint8_t> tdo(tdi.size(), 0);
  for (std::size_t bit = 2; bit < tdi.size() * 8; ++bit) {
    if ((tdi[(bit - 2) / 8] >> ((bit - 2) % 8)) & 1u) tdo[bit / 8] |= 1u << (bit % 8);
  }
  return tdo;
}

// `expected` with the first byte of each block replaced by the marker.
std::vector<std::uint8_t> marked(std::vector<std::uint8_t> expected) {
  for (std::size_t at = 0; at < expected.size(); at += kBlock) expected[at] = '+';
  return expected;
}

// The built-in chain's IDCODEs as a data scan reads them after a reset, LSB first.
std::vector<std::uint8_t> idcodeScan() {
  std::vector<std::uint8_t> bytes;
  for (std::uint32_t idcode : {kFpgaIdcode, kCpldIdcode})
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(idcode >> (8 * i)));
  return bytes;
}

class ReadBackE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(broker_.pid(), 0) << "tapbroker.exe did not come up on port 4001";
    ASSERT_TRUE(connectAndOpen(c_));
  }
  void TearDown() override {
    EXPECT_EQ(c_.Send(30), 1) << "out of step";
    EXPECT_EQ(c_.Disconnect(), 0);
  }

  BrokerProcess broker_;
  char name_[16] = "e2e-readback";
  Client c_{name_};
};

TEST_F(ReadBackE2E, ShiftsReadTheChain) {
  const std::vector<std::uint8_t> ones(8, 0xFF);
  // The JTAG shift (44/12), switch A 1: buffer A is the mask and the TDO comes back.
  ASSERT_EQ(c_.Send(44, 3), 0);
  EXPECT_EQ(c_.Send(44, 12, 0, 64, 1, 0, ones.data(), ones.data()), 0);
  EXPECT_EQ(readBack(c_, 8), idcodeScan());
  // With the expected TDO (switch B) the result counts the bits that differ under the mask.
  std::vector<std::uint8_t> wrong = idcodeScan();
  wrong[5] ^= 0x11;
  ASSERT_EQ(c_.Send(44, 3), 0);
  EXPECT_EQ(c_.Send(44, 12, 0, 64, 1, 1, ones.data(), ones.data(), idcodeScan().data()), 0);
  ASSERT_EQ(c_.Send(44, 3), 0);
  EXPECT_EQ(c_.Send(44, 12, 0, 64, 1, 1, ones.data(), ones.data(), wrong.data()), 2);
  EXPECT_EQ(readBack(c_, 8), idcodeScan());
  // The generic shift (19) reads the same.
  ASSERT_EQ(c_.Send(6), 0);
  EXPECT_EQ(c_.Send(19, 0, 64, 1, ones.data()), 0);
  EXPECT_EQ(readBack(c_, 8), idcodeScan());

  // Several blocks through the BYPASS registers: marked for 44/12, as sent for 19.
  const std::vector<std::uint8_t> tdi = pattern(kLong, 7);
  const std::vector<std::uint8_t> mask(kLong, 0xFF);
  ASSERT_EQ(c_.Send(44, 9), 0);
  EXPECT_EQ(c_.Send(44, 12, 0, bits(kLong), 1, 0, tdi.data(), mask.data()), 0);
  EXPECT_EQ(readBack(c_, kLong), marked(throughBypass(tdi)));
  std::vector<std::uint8_t> expected = throughBypass(tdi);
  EXPECT_EQ(c_.Send(44, 12, 0, bits(kLong), 1, 1, tdi.data(), mask.data(), expected.data()), 0);
  expected[kLong - 1] ^= 0x80;
  EXPECT_EQ(c_.Send(44, 12, 0, bits(kLong), 2, 1, tdi.data(), mask.data(), expected.data()), 1);
  EXPECT_EQ(c_.Send(19, 0, bits(kLong), 1, tdi.data()), 0);
  EXPECT_EQ(readBack(c_, kLong), throughBypass(tdi));
}

TEST_F(ReadBackE2E, PumpProgramsAndReadsTheFlash) {
  const std::vector<std::uint8_t> image = pattern(kLong, 3);
  const std::vector<std::uint8_t> scratch(kLong, 0);
  ASSERT_EQ(c_.Send(13), 0);
  ASSERT_EQ(c_.Send(15, 0), 0);
  EXPECT_EQ(c_.Send(42, image.data(), bits(kLong), 0, 0), 0);  // programs, several blocks
  EXPECT_EQ(c_.Send(26), static_cast<int>(kLong));

  ASSERT_EQ(c_.Send(15, 0), 0);
  EXPECT_EQ(c_.Send(42, scratch.data(), bits(kBlock), 1, 1), 0);  // reads one block
  EXPECT_EQ(readBack(c_, kBlock),
            std::vector<std::uint8_t>(image.begin(), image.begin() + kBlock));
  ASSERT_EQ(c_.Send(15, 0), 0);
  EXPECT_EQ(c_.Send(42, scratch.data(), bits(kLong), 1, 1), 0);  // reads several
  EXPECT_EQ(readBack(c_, kLong), marked(image));
  ASSERT_EQ(c_.Send(15, 0), 0);
  EXPECT_EQ(c_.Send(42, image.data(), bits(kLong), 2, 0), 0);  // verifies
  ASSERT_EQ(c_.Send(15, 0), 0);
  EXPECT_EQ(c_.Send(42, scratch.data(), bits(16), 0, 0), 0);  // zeros always program
  ASSERT_EQ(c_.Send(15, 0), 0);
  EXPECT_EQ(c_.Send(42, image.data(), bits(16), 0, 0),
            16 - std::count(image.begin(), image.begin() + 16, 0));

  std::vector<std::uint8_t> flash(kFlashSize, 0xFF);
  std::copy(image.begin(), image.end(), flash.begin());
  std::fill_n(flash.begin(), 16, 0);
  EXPECT_EQ(static_cast<std::uint32_t>(c_.Send(24)), crc32(flash));
  EXPECT_EQ(c_.Send(54, static_cast<int>(kBlock)), image[kBlock]);  // behind the marker
}

TEST_F(ReadBackE2E, I2cEepromRoundTrips) {
  const std::vector<std::uint8_t> message = pattern(200, 11), other = pattern(200, 12);
  const std::vector<std::uint8_t> longMessage = pattern(2000, 13);
  EXPECT_EQ(c_.Send(48, 0x100, 0xA0, bits(message.size()), message.data(), 0), 0);
  EXPECT_EQ(readBack(c_, message.size()), message);
  // Command 47 reads, then writes and reads: what comes back is the second transfer's.
  EXPECT_EQ(c_.Send(47, 0x100, 0xA0, bits(other.size()), other.data(), 0), 0);
  EXPECT_EQ(readBack(c_, other.size()), other);
  EXPECT_EQ(c_.Send(48, 0x1000, 0xA0, bits(longMessage.size()), longMessage.data(), 0), 0);
  EXPECT_EQ(readBack(c_, longMessage.size()), marked(longMessage));
  EXPECT_EQ(c_.Send(55, 0x1000 + static_cast<int>(kBlock)), longMessage[kBlock]);
  const std::vector<std::uint8_t> longWrite = pattern(2000, 14);
  EXPECT_EQ(c_.Send(46, 0x1000, 0xA0, bits(longWrite.size()), longWrite.data(), 0), 0);
  EXPECT_EQ(c_.Send(55, 0x1000 + 1999), longWrite[1999]);
  // 8 KiB that wrap: a write across the end continues at address 0.
  EXPECT_EQ(c_.Send(46, 8190, 0xA0, bits(4), message.data(), 0), 0);
  EXPECT_EQ(c_.Send(55, 1), message[3]);
  // No device at 0x51: the read is all ones.
  EXPECT_EQ(c_.Send(48, 0, 0xA2, bits(4), message.data(), 0), -1);
  EXPECT_EQ(readBack(c_, 4), std::vector<std::uint8_t>(4, 0xFF));
}

TEST_F(ReadBackE2E, SpiFlashRoundTrips) {
  const std::uint8_t readId[] = {0x9F, 0, 0, 0}, writeEnable[] = {0x06}, status[] = {0x05, 0};
  EXPECT_EQ(c_.Send(52, 0, bits(4), readId, 0), 0);
  EXPECT_EQ(readBack(c_, 4), (std::vector<std::uint8_t>{0xFF, 0x5A, 0x40, 0x10}));

  EXPECT_EQ(c_.Send(50, 0, 8, writeEnable, 0), 0);
  EXPECT_EQ(c_.Send(52, 0, 16, status, 0), 0);
  EXPECT_EQ(readBack(c_, 2)[1], 0x02);  // write enabled
  const std::vector<std::uint8_t> page = pattern(256, 21);
  std::vector<std::uint8_t> program(4 + page.size());
  program[0] = 0x02, program[1] = 0x00, program[2] = 0x01, program[3] = 0x00;  // at 0x000100
  std::copy(page.begin(), page.end(), program.begin() + 4);
  EXPECT_EQ(c_.Send(50, 0, bits(program.size()), program.data(), 0), 0);
  EXPECT_EQ(c_.Send(52, 0, 16, status, 0), 0);
  EXPECT_EQ(readBack(c_, 2)[1], 0x00);  // the program used the latch up

  // Read 2048 bytes from 0x000100 in several blocks, which travel unmarked.
  std::vector<std::uint8_t> read(4 + 2048, 0xFF);
  read[0] = 0x03, read[1] = 0x00, read[2] = 0x01, read[3] = 0x00;
  std::vector<std::uint8_t> expected(read.size(), 0xFF);
  std::copy(page.begin(), page.end(), expected.begin() + 4);
  EXPECT_EQ(c_.Send(52, 0, bits(read.size()), read.data(), 0), 0);
  EXPECT_EQ(readBack(c_, read.size()), expected);
}

}  // namespace
}  // namespace e2e
