#include "broker/cable/nor_flash.h"

#include <algorithm>
#include <cstring>

namespace broker {

NorFlash::NorFlash(std::size_t size, std::size_t sectorSize)
    : size_(size), sectorSize_(sectorSize) {}

void NorFlash::eraseAll() { std::vector<std::unique_ptr<Block>>().swap(blocks_); }

bool NorFlash::eraseSector(std::size_t sector) {
  if (sector >= size_ / sectorSize_) return false;
  const std::size_t offset = sector * sectorSize_;
  for (std::size_t at = offset; at < offset + sectorSize_; at += kBlockSize) {
    const std::size_t index = at / kBlockSize;
    if (index >= blocks_.size() || !blocks_[index]) continue;
    if (sectorSize_ >= kBlockSize) {
      blocks_[index].reset();
    } else {
      std::fill_n(blocks_[index]->begin() + static_cast<std::ptrdiff_t>(at % kBlockSize),
                  sectorSize_, 0xFF);
    }
  }
  return true;
}

std::size_t NorFlash::program(std::size_t offset, const std::uint8_t* data,
                              std::size_t length) {
  if (blocks_.empty()) blocks_.resize((size_ + kBlockSize - 1) / kBlockSize);
  std::size_t refused = 0;
  while (length > 0) {
    std::unique_ptr<Block>& block = blocks_[offset / kBlockSize];
    if (!block) {
      block = std::make_unique<Block>();
      block->fill(0xFF);
    }
    const std::size_t within = offset % kBlockSize;
    const std::size_t piece = std::min(length, kBlockSize - within);
    std::uint8_t* cells = block->data() + within;
    for (std::size_t i = 0; i < piece; ++i) {
      cells[i] &= data[i];
      if (cells[i] != data[i]) ++refused;
    }
    offset += piece;
    data += piece;
    length -= piece;
  }
  return refused;
}

void NorFlash::read(std::size_t offset, std::uint8_t* out, std::size_t length) const {
  eachPiece(offset, length, [&out](const Block* block, std::size_t within, std::size_t piece) {
    if (block) {
      std::memcpy(out, block->data() + within, piece);
    } else {
      std::memset(out, 0xFF, piece);
    }
    out += piece;
  });
}

std::size_t NorFlash::compare(std::size_t offset, const std::uint8_t* data,
                              std::size_t length) const {
  std::size_t differing = 0;
  eachPiece(offset, length, [&](const Block* block, std::size_t within, std::size_t piece) {
    for (std::size_t i = 0; i < piece; ++i) {
      if ((block ? (*block)[within + i] : 0xFF) != data[i]) ++differing;
    }
    data += piece;
  });
  return differing;
}

bool NorFlash::blank() const {
  return std::all_of(blocks_.begin(), blocks_.end(), [](const std::unique_ptr<Block>& block) {
    return !block ||
           std::all_of(block->begin(), block->end(), [](std::uint8_t c) { return c == 0xFF; });
  });
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
  eachPiece(0, size_, [&](const Block* block, std::size_t within, std::size_t piece) {
    for (std::size_t i = 0; i < piece; ++i) {
      const std::uint8_t byte = block ? (*block)[within + i] : 0xFF;
      crc = (crc >> 8) ^ table[(crc ^ byte) & 0xFFu];
    }
  });
  return ~crc;
}

}  // namespace broker
