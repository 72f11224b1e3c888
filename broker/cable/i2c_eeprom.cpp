#include "broker/cable/i2c_eeprom.h"

namespace broker {

I2cEeprom::I2cEeprom(std::uint8_t busAddress, std::size_t size)
    : busAddress_(busAddress), size_(size) {}

bool I2cEeprom::write(std::size_t offset, const std::uint8_t* data, std::size_t length) {
  if (writeProtected_) return false;
  if (cells_.empty()) cells_.assign(size_, 0xFF);
  for (std::size_t i = 0; i < length; ++i) cells_[(offset + i) % size_] = data[i];
  return true;
}

void I2cEeprom::read(std::size_t offset, std::uint8_t* out, std::size_t length) const {
  for (std::size_t i = 0; i < length; ++i) out[i] = at(offset + i);
}

}  // namespace broker
