#include "broker/nor_flash.h"

#include <algorithm>
#include <cstring>

namespace broker {

NorFlash::NorFlash(std::size_t size, std::size_t sectorSize)
    : cells_(size, 0xFF), sectorSize_(sectorSize) {}

void NorFlash::eraseAll() { std::fill(cells_.begin(), cells_.end(), 0xFF); }

bool NorFlash::eraseSector(std::size_t sector) {
  if (sector >= cells_.size() / sectorSize_) return false;
  std::fill_n(cells_.begin() + static_cast<std::ptrdiff_t>(sector * sectorSize_), sectorSize_,
              0xFF);
  return true;
}

std::size_t NorFlash::program(std::size_t offset, const std::uint8_t* data,
                              std::size_t length) {
  std::size_t refused = 0;
  for (std::size_t i = 0; i < length; ++i) {
    std::uint8_t& cell = cells_[offset + i];
    cell &= data[i];
    if (cell != data[i]) ++refused;
  }
  return refused;
}

void NorFlash::read(std::size_t offset, std::uint8_t* out, std::size_t length) const {
  std::memcpy(out, cells_.data() + offset, length);
}

std::size_t NorFlash::compare(std::size_t offset, const std::uint8_t* data,
                              std::size_t length) const {
  std::size_t differing = 0;
  for (std::size_t i = 0; i < length; ++i) {
    if (cells_[offset + i] != data[i]) ++differing;
  }
  return differing;
}

bool NorFlash::blank() const {
  return std::all_of(cells_.begin(), cells_.end(), [](std::uint8_t c) { return c == 0xFF; });
}

std::uint32_t NorFlash::crc32() const {
  // The common reflected CRC-32 (polynomial 0xEDB88320), bit by bit: the array is small.
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::uint8_t byte : cells_) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

}  // namespace broker
