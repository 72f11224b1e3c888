// A serial EEPROM on the simulated I2C bus. It answers one 7-bit bus address; its memory
// address counter wraps at the end of the array, as such parts do.
#ifndef BROKER_I2C_EEPROM_H
#define BROKER_I2C_EEPROM_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace broker {

class I2cEeprom {
 public:
  I2cEeprom(std::uint8_t busAddress, std::size_t size);

  std::uint8_t busAddress() const { return busAddress_; }
  std::size_t size() const { return size_; }
  std::uint8_t at(std::size_t offset) const {
    return cells_.empty() ? 0xFF : cells_[offset % size_];
  }
  // True when the address byte (7-bit address and the read/write bit) selects this part.
  bool selectedBy(std::uint8_t addressByte) const { return (addressByte >> 1) == busAddress_; }
  bool writeProtected() const { return writeProtected_; }
  void setWriteProtected(bool on) { writeProtected_ = on; }

  // False, and nothing written, while write protection is on.
  bool write(std::size_t offset, const std::uint8_t* data, std::size_t length);
  void read(std::size_t offset, std::uint8_t* out, std::size_t length) const;

 private:
  std::uint8_t busAddress_;
  std::size_t size_;
  std::vector<std::uint8_t> cells_;  // empty until the first write: erased, 0xFF
  bool writeProtected_ = false;
};

}  // namespace broker

#endif  // BROKER_I2C_EEPROM_H
