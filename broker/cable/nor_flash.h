// A NOR flash array: erased bytes read 0xFF, programming can only clear bits, and only an
// erase (of a sector or of the whole array) sets them again. The pump-data target and the
// SPI flash are both built on it. An array takes memory only where something has been
// programmed, a block at a time: thousands of conversations each hold one, most never
// write, and a part of 256 MiB programmed with a small image costs that image.
#ifndef BROKER_NOR_FLASH_H
#define BROKER_NOR_FLASH_H

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace broker {

class NorFlash {
 public:
  // What is taken at a time as programming reaches it.
  static constexpr std::size_t kBlockSize = 64 * 1024;

  // `size` is a multiple of `sectorSize`, which divides the block size or is a multiple of it.
  NorFlash(std::size_t size, std::size_t sectorSize);

  std::size_t size() const { return size_; }
  std::size_t sectorSize() const { return sectorSize_; }
  std::uint8_t at(std::size_t offset) const {
    const Block* block = blockAt(offset);
    return block ? (*block)[offset % kBlockSize] : 0xFF;
  }

  void eraseAll();
  // False when `sector` lies beyond the array.
  bool eraseSector(std::size_t sector);
  // Programs `length` bytes from `offset` (the caller keeps within the array). Returns how
  // many bytes did not take the value asked for because they needed an erase first.
  std::size_t program(std::size_t offset, const std::uint8_t* data, std::size_t length);
  void read(std::size_t offset, std::uint8_t* out, std::size_t length) const;
  // How many of `length` bytes from `offset` differ from `data`.
  std::size_t compare(std::size_t offset, const std::uint8_t* data, std::size_t length) const;
  bool blank() const;
  std::uint32_t crc32() const;

 private:
  using Block = std::array<std::uint8_t, kBlockSize>;
  const Block* blockAt(std::size_t offset) const {
    const std::size_t index = offset / kBlockSize;
    return index < blocks_.size() ? blocks_[index].get() : nullptr;
  }
  // Calls `run(block, offset in it, length)` for each piece of the range, block by block;
  // `block` is null where nothing has been programmed.
  template <typename Run>
  void eachPiece(std::size_t offset, std::size_t length, Run run) const {
    while (length > 0) {
      const std::size_t within = offset % kBlockSize;
      const std::size_t piece = std::min(length, kBlockSize - within);
      run(blockAt(offset), within, piece);
      offset += piece;
      length -= piece;
    }
  }

  std::size_t size_;
  std::size_t sectorSize_;
  // One entry a block, made at the first programming; null while the block is erased.
  std::vector<std::unique_ptr<Block>> blocks_;
};

}  // namespace broker

#endif  // BROKER_NOR_FLASH_H
