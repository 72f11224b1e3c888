// A serial NOR flash on the simulated SPI bus, with the usual small command set: every
// transfer with chip select asserted is a stream of command, address and data bytes, and
// each byte clocked out (MOSI) clocks one byte in (MISO). Program and erase need the
// write-enable latch; erases take effect when chip select goes high.
//
//   0x9F  read identification (3 bytes, repeated)    0x05  read status (bit 1: write enable)
//   0x06  write enable     0x04  write disable        0x03  read (address, then data)
//   0x02  page program (address, then data; wraps within the 256-byte page)
//   0x20  sector erase (address, 4 KiB)               0xC7, 0x60  chip erase
//
// An address is 3 bytes, or 4 for a part above 16 MiB (64 KiB unless the chain description
// says otherwise).
#ifndef BROKER_SPI_FLASH_H
#define BROKER_SPI_FLASH_H

#include <cstddef>
#include <cstdint>

#include "broker/cable/nor_flash.h"

namespace broker {

class SpiFlash {
 public:
  static constexpr std::size_t kDefaultSize = 64 * 1024;
  static constexpr std::size_t kSectorSize = 4096;
  static constexpr std::size_t kPageSize = 256;
  // Parts beyond three address bytes take four, as parts that keep their 4-byte address
  // mode on from power-up do.
  static constexpr std::size_t kThreeByteLimit = std::size_t{1} << 24;

  // `size`: a power of two from one sector up.
  explicit SpiFlash(std::size_t size = kDefaultSize);

  const NorFlash& array() const { return array_; }
  bool writeEnabled() const { return writeEnabled_; }

  // One byte out, one byte in, chip select asserted.
  std::uint8_t exchange(std::uint8_t mosi);
  // Chip select goes high: the command in progress ends.
  void deselect();

 private:
  NorFlash array_;
  std::size_t addressBytes_;
  // Manufacturer, type, capacity (2^N bytes: N). The manufacturer byte has even parity,
  // which no registered maker's code has: it marks the part as simulated.
  std::uint8_t identification_[3] = {0x5A, 0x40, 0x10};
  std::uint8_t command_ = 0;
  std::size_t position_ = 0;  // bytes since chip select went low
  std::size_t address_ = 0;
  bool writeEnabled_ = false;
};

}  // namespace broker

#endif  // BROKER_SPI_FLASH_H
