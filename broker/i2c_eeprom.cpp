#include "broker/i2c_eeprom.h"

namespace broker {

I2cEeprom::I2cEeprom(std::uint8_t busAddress, std::size_t size)
    : busAddress_(busAddress), cells_(size, 0xFF) {}

bool I2cEeprom::write(std::size_t offset, const std::uint8_t* data, std::size_t length) {
  if (writeProtected_) return false;
  for (std::size_t i = 0; i < length; ++i) cells_[(offset + i) % cells_.size()] = data[i];
  return true;
}

void I2cEeprom::read(std::size_t offset, std::uint8_t* out, std::size_t length) const {
  for (std::size_t i = 0; i < length; ++i) out[i] = cells_[(offset + i) % cells_.size()];
}

}  // namespace broker
