#include "bus_checks.h"

#include <algorithm>
#include <cstring>

#include "terminal.h"
#include "tool_error.h"

namespace tapclient {
namespace {

constexpr int kEepromBusAddress = 0x50;
constexpr int kEepromMemoryAddress = 0x0100;
constexpr char kEepromMessage[] = "tapclient was here: I2C ok 0123";  // 32 bytes with NUL

constexpr int kSpiChipSelect = 0;
constexpr std::uint8_t kSpiReadId = 0x9F;
constexpr int kSpiIdBytes = 3;

}  // namespace

I2cRoundTrip i2cRoundTrip(BrokerSession& session) {
  Client& client = session.client();
  const std::vector<std::uint8_t> data(kEepromMessage, kEepromMessage + sizeof kEepromMessage);
  const int bitCount = static_cast<int>(data.size() * 8);
  // The address byte carries the 7-bit bus address in bits 7..1 (bit 0 is the direction).
  const int addressByte = kEepromBusAddress << 1;
  // Memory address, address byte, bit count, data, trailing word (unused).
  session.expect("I2C write and read back (command 48)",
                 client.Send(48, kEepromMemoryAddress, addressByte, bitCount, data.data(), 0),
                 0);
  std::vector<unsigned char> back;
  session.takeReadBack("I2C read-back", back, bitCount);
  const auto [mine, theirs] = std::mismatch(data.begin(), data.end(), back.begin());
  if (mine != data.end()) {
    throw ToolError("I2C round trip: EEPROM byte " +
                    std::to_string(kEepromMemoryAddress + (mine - data.begin())) +
                    " reads back " + hexBytes(&*theirs, 1) + ", " + hexBytes(&*mine, 1) +
                    " was written");
  }
  // The broker's own view of the cell must agree with what the bus read.
  const int first =
      session.checked("EEPROM byte (command 55)", client.Send(55, kEepromMemoryAddress));
  if (first != data[0]) {
    throw ToolError("I2C round trip: the broker holds " + std::to_string(first) +
                    " at the first byte written, the bus read " + std::to_string(data[0]));
  }
  return {kEepromBusAddress, kEepromMemoryAddress, data.size()};
}

SpiIdentification spiIdentify(BrokerSession& session) {
  Client& client = session.client();
  // The command byte, then one byte clocked out per identification byte.
  std::vector<std::uint8_t> mosi(1 + kSpiIdBytes, 0x00);
  mosi[0] = kSpiReadId;
  const int bitCount = static_cast<int>(mosi.size() * 8);
  // Chip select, bit count, MOSI bytes, flags (0: release chip select afterwards).
  const int result = session.checked("SPI identification (command 52)",
                                     client.Send(52, kSpiChipSelect, bitCount, mosi.data(), 0));
  if (result != 0) {
    throw ToolError("SPI identification: no device on chip select " +
                    std::to_string(kSpiChipSelect) + " (answer " + std::to_string(result) +
                    ")");
  }
  std::vector<unsigned char> miso;
  session.takeReadBack("SPI read-back", miso, bitCount);
  SpiIdentification identification{kSpiReadId, {miso.begin() + 1, miso.end()}};
  if (std::all_of(identification.id.begin(), identification.id.end(),
                  [](std::uint8_t b) { return b == 0xFF; })) {
    throw ToolError("SPI identification: the bus stayed high (no answer to 9F)");
  }
  return identification;
}

}  // namespace tapclient
