// Round trips on the cable's two serial buses: an I2C EEPROM write read back, and the
// identification of the SPI flash.
#ifndef TOOLS_BUS_CHECKS_H
#define TOOLS_BUS_CHECKS_H

#include <cstdint>
#include <vector>

#include "broker_session.h"

namespace tapclient {

struct I2cRoundTrip {
  int busAddress = 0;  // 7-bit
  int memoryAddress = 0;
  std::size_t bytes = 0;  // written, read back and found identical
};

// Writes a short message into the EEPROM and reads it back (command 48), then asks the
// broker for the first byte on its own (command 55). Throws when anything differs.
I2cRoundTrip i2cRoundTrip(BrokerSession& session);

struct SpiIdentification {
  std::uint8_t command = 0;
  std::vector<std::uint8_t> id;  // the bytes after the command byte
};

// Sends the identification command to the flash on chip select 0 (command 52) and returns
// what it answered. Throws when no device drives the bus.
SpiIdentification spiIdentify(BrokerSession& session);

}  // namespace tapclient

#endif  // TOOLS_BUS_CHECKS_H
