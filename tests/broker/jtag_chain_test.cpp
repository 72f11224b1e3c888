// The simulated chain as a JTAG tool would see it, and the chain description that sets it up.
// The BYPASS delay and the IDCODEs of a chain are read end to end (tests/e2e).
#include "broker/cable/jtag_chain.h"

#include <gtest/gtest.h>

#include "broker/cable/bits.h"
#include "broker/cable/spi_flash.h"
#include "broker/program/chain_config.h"

using broker::JtagChain;
using broker::TapState;

namespace {

std::uint32_t word(const std::vector<std::uint8_t>& bits, std::size_t from) {
  std::uint32_t value = 0;
  for (int i = 0; i < 32; ++i)
    value |= std::uint32_t{broker::bitAt(bits.data(), from + i)} << i;
  return value;
}

std::vector<std::uint8_t> scan(JtagChain& chain, bool ir, std::vector<std::uint8_t> tdi,
                               std::size_t bits) {
  std::vector<std::uint8_t> tdo(tdi.size(), 0);
  chain.scan(ir, tdi.data(), tdo.data(), bits, TapState::RunTestIdle);
  return tdo;
}

}  // namespace

// A long scan goes through the chain a byte at a time; it must do exactly what as many
// single clocks do: the same TDO, the same registers after Update, the same clock count.
TEST(JtagChain, ALongScanEqualsClockByClock) {
  for (const bool ir : {false, true}) {
    for (const std::size_t bits : {1, 14, 15, 63, 64, 65, 8 * 1000 + 3}) {
      SCOPED_TRACE(std::to_string(bits) + (ir ? " IR bits" : " DR bits"));
      std::vector<std::uint8_t> tdi(bits / 8 + 1);
      for (std::size_t i = 0; i < tdi.size(); ++i)
        tdi[i] = static_cast<std::uint8_t>(i * 37 + 11);
      JtagChain fast(broker::defaultChain()), slow(broker::defaultChain());
      fast.loadInstruction(1, 2);  // USER in the second device: a register that keeps data
      slow.loadInstruction(1, 2);
      const auto tdo = scan(fast, ir, tdi, bits);
      std::vector<std::uint8_t> expected(tdi.size(), 0);
      slow.moveTo(ir ? TapState::ShiftIr : TapState::ShiftDr);
      for (std::size_t bit = 0; bit < bits; ++bit) {
        broker::setBitAt(expected.data(), bit,
                         slow.clock(bit + 1 == bits, broker::bitAt(tdi.data(), bit)));
      }
      slow.moveTo(TapState::RunTestIdle);
      EXPECT_EQ(tdo, expected);
      EXPECT_EQ(fast.clockCount(), slow.clockCount());
      for (std::size_t d = 0; d < 2; ++d) {
        EXPECT_EQ(fast.device(d).instruction(), slow.device(d).instruction());
        EXPECT_EQ(fast.device(d).userRegister(), slow.device(d).userRegister());
      }
    }
  }
}

TEST(JtagChain, InstructionScanCapturesOneZeroPerDevice) {
  JtagChain chain(broker::defaultChain());  // IR lengths 6 and 8
  const auto tdo = scan(chain, true, std::vector<std::uint8_t>(2, 0xFF), 14);
  EXPECT_EQ(tdo[0] & 0x3F, 0x01);                           // device 0: 000001
  EXPECT_EQ(((tdo[0] >> 6) | (tdo[1] << 2)) & 0xFF, 0x01);  // device 1: 00000001
}

TEST(JtagChain, UserRegisterKeepsWhatWasShiftedIn) {
  JtagChain chain(broker::defaultChain());
  chain.loadInstruction(1, chain.device(1).description().userOpcode);
  // Device 1 in USER (32 bits), device 0 in BYPASS (1 bit, nearest TDO): the first bit
  // shifted in ends in device 0, so the value goes in one bit later.
  std::vector<std::uint8_t> value{0xF0, 0xAC, 0x68, 0x24, 0x00};  // 0x12345678 << 1
  scan(chain, false, value, 33);
  const auto tdo = scan(chain, false, std::vector<std::uint8_t>(5, 0), 33);
  EXPECT_EQ(word(tdo, 1), 0x12345678u);
}

TEST(JtagChain, TmsPathsAreShortestAndReachTheTarget) {
  EXPECT_EQ(broker::tmsPath(TapState::RunTestIdle, TapState::ShiftDr),
            (std::vector<bool>{true, false, false}));
  EXPECT_EQ(broker::tmsPath(TapState::Exit1Ir, TapState::RunTestIdle),
            (std::vector<bool>{true, false}));
  for (int from = 0; from < broker::kTapStateCount; ++from) {
    for (int to = 0; to < broker::kTapStateCount; ++to) {
      TapState state = static_cast<TapState>(from);
      for (bool tms : broker::tmsPath(state, static_cast<TapState>(to))) {
        state = broker::nextTapState(state, tms);
      }
      EXPECT_EQ(state, static_cast<TapState>(to));
    }
  }
}

TEST(ChainDescription, ReadsDevicesAndNamesWhatIsWrong) {
  std::vector<broker::DeviceDescription> chain;
  broker::FlashSizes flash;
  std::string error;
  ASSERT_TRUE(broker::parseChain(R"({"devices": [
      {"name": "a", "idcode": "0x10000001", "irLength": 5},
      {"name": "b", "idcode": 3, "irLength": 2, "idcodeInstruction": 2, "userInstruction": 1},
      {"name": "c", "irLength": 3}], "norFlashSize": "0x10000000", "spiFlashSize": 4096})",
                                 chain, flash, error))
      << error;
  ASSERT_EQ(chain.size(), 3u);
  EXPECT_EQ(flash.nor, std::size_t{256} << 20);
  EXPECT_EQ(flash.spi, 4096u);
  EXPECT_EQ(chain[0].idcode, 0x10000001u);
  EXPECT_EQ(chain[1].idcodeOpcode, 2u);
  EXPECT_FALSE(chain[2].hasIdcode);

  const struct {
    const char* json;
    const char* complaint;
  } bad[] = {
      {"{", "not JSON"},
      {"[]", "\"devices\" array"},
      {R"({"devices": []})", "1 to 32"},
      {R"({"devices": [{"name": "a", "idcode": 2, "irLength": 4}]})", "lowest bit"},
      {R"({"devices": [{"name": "a", "irLength": 1}]})", "irLength"},
      {R"({"devices": [{"name": "a;b", "irLength": 4}]})", "name"},
      {R"({"devices": [{"name": "a", "irLength": 2, "userInstruction": 3}]})", "BYPASS"},
      {R"({"devices": [{"name": "a", "irLength": 4, "idcode": 1, "userInstruction": 1}]})",
       "different"},
      {R"({"devices": [{"name": "a", "irLength": 4}], "norFlashSize": 536870912})",
       "\"norFlashSize\" must be a power of two from 4096"},
      {R"({"devices": [{"name": "a", "irLength": 4}], "spiFlashSize": 100000})",
       "spiFlashSize"},
  };
  for (const auto& c : bad) {
    error.clear();
    EXPECT_FALSE(broker::parseChain(c.json, chain, flash, error)) << c.json;
    EXPECT_NE(error.find(c.complaint), std::string::npos) << c.json << ": " << error;
  }
  EXPECT_EQ(chain.size(), 3u);  // a refused description leaves the chain as it was
  EXPECT_EQ(flash.spi, 4096u);
}

// A SPI flash of the size the description sets says so in its identification and, above
// 16 MiB, takes four address bytes: a byte programmed at 16 MiB + 16 reads back there.
TEST(ChainDescription, ALargeSpiFlashTakesFourAddressBytes) {
  broker::SpiFlash flash(std::size_t{32} << 20);
  const auto transfer = [&flash](std::vector<std::uint8_t> mosi) {
    std::vector<std::uint8_t> miso;
    for (std::uint8_t byte : mosi) miso.push_back(flash.exchange(byte));
    flash.deselect();
    return miso;
  };
  EXPECT_EQ(transfer({0x9F, 0, 0, 0}), (std::vector<std::uint8_t>{0xFF, 0x5A, 0x40, 25}));
  transfer({0x06});  // write enable
  transfer({0x02, 0x01, 0x00, 0x00, 0x10, 0x42});
  EXPECT_EQ(flash.array().at((std::size_t{1} << 24) + 16), 0x42);
  EXPECT_EQ(transfer({0x03, 0x01, 0x00, 0x00, 0x10, 0})[5], 0x42);
}
