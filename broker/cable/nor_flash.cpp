#include "broker/cable/nor_flash.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace broker {

NorFlash::NorFlash(std::size_t size, std::size_t sectorSize)
    : size_(size), sectorSize_(sectorSize) {}

void NorFlash::eraseAll() { std::vector<std::uint8_t>().swap(cells_); }

bool NorFlash::eraseSector(std::size_t sector) {
  if (sector >= size_ / sectorSize_) return false;
  if (!cells_.empty()) {
    std::fill_n(cells_.begin() + static_cast<std::ptrdiff_t>(sector * sectorSize_),
                sectorSize_, 0xFF);
  }
  return true;
}

std::size_t NorFlash::program(std::size_t offset, const std::uint8_t* data,
                              std::size_t length) {
  if (cells_.empty()) cells_.assign(size_, 0xFF);
  std::size_t refused = 0;
  for (std::size_t i = 0; i < length; ++i) {
    std::uint8_t& cell = cells_[offset + i];
    cell &= data[i];
    if (cell != data[i]) ++refused;
  }
  return refused;
}

void NorFlash::read(std::size_t offset, std::uint8_t* out, std::size_t length) const {
  if (cells_.empty()) {
    std::memset(out, 0xFF, length);
  } else {
    std::memcpy(out, cells_.data() + offset, length);
  }
}

std::size_t NorFlash::compare(std::size_t offset, const std::uint8_t* data,
                              std::size_t length) const {
  std::size_t differing = 0;
  for (std::size_t i = 0; i < length; ++i) {
    if (at(offset + i) != data[i]) ++differing;
  }
  return differing;
}

bool NorFlash::blank() const {
  return std::all_of(cells_.begin(), cells_.end(), [](std::uint8_t c) { return c == 0xFF; });
}

std::uint32_t NorFlash::crc32() const {
  // The common reflected CRC-32 (polynomial 0xEDB88320), a byte at a time.
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> entries{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int bit = 0; bit < 8; ++bit) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
      entries[n] = c;
    }
    return entries;
  }();
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size_; ++i) crc = (crc >> 8) ^ table[(crc ^ at(i)) & 0xFFu];
  return ~crc;
}

}  // namespace broker
