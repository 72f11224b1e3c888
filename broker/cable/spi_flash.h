// A serial NOR flash on the simulated SPI bus, with the usual small command set: every
// transfer with chip select asserted is a stream of command, address and data bytes, and
// each byte clocked out (MOSI) clocks one byte in (MISO). Program and erase need the
// write-enable latch; erases take effect when chip select goes high.
//
//   0x9F  read identification (3 bytes, repeated)    0x05  read status (bit 1: write enable)
//   0x06  write enable     0x04  write disable        0x03  read (3 address bytes, then data)
//   0x02  page program (3 address bytes, then data; wraps within the 256-byte page)
//   0x20  sector erase (3 address bytes, 4 KiB)       0xC7, 0x60  chip erase
#ifndef BROKER_SPI_FLASH_H
#define BROKER_SPI_FLASH_H

#include <cstddef>
#include <cstdint>

#include "broker/cable/nor_flash.h"

namespace broker {

class SpiFlash {
 public:
  static constexpr std::size_t kSize = 64 * 1024;
  static constexpr std::size_t kSectorSize = 4096;
  static constexpr std::size_t kPageSize = 256;
  // Manufacturer, type, capacity (2^16 bytes). The manufacturer byte has even parity, which
  // no registered maker's code has: it marks the part as simulated.
  static constexpr std::uint8_t kIdentification[3] = {0x5A, 0x40, 0x10};

  SpiFlash();

  const NorFlash& array() const { return array_; }
  bool writeEnabled() const { return writeEnabled_; }

  // One byte out, one byte in, chip select asserted.
  std::uint8_t exchange(std::uint8_t mosi);
  // Chip select goes high: the command in progress ends.
  void deselect();

 private:
  NorFlash array_;
  std::uint8_t command_ = 0;
  std::size_t position_ = 0;  // bytes since chip select went low
  std::uint32_t address_ = 0;
  bool writeEnabled_ = false;
};

}  // namespace broker

#endif  // BROKER_SPI_FLASH_H
