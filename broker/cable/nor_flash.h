// A NOR flash array: erased bytes read 0xFF, programming can only clear bits, and only an
// erase (of a sector or of the whole array) sets them again. The pump-data target and the
// SPI flash are both built on it. An array takes memory only once something is programmed
// into it: thousands of conversations each hold one, and most never write.
#ifndef BROKER_NOR_FLASH_H
#define BROKER_NOR_FLASH_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace broker {

class NorFlash {
 public:
  NorFlash(std::size_t size, std::size_t sectorSize);

  std::size_t size() const { return size_; }
  std::size_t sectorSize() const { return sectorSize_; }
  std::uint8_t at(std::size_t offset) const { return cells_.empty() ? 0xFF : cells_[offset]; }

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
  std::size_t size_;
  std::size_t sectorSize_;
  std::vector<std::uint8_t> cells_;  // empty while the whole array is erased
};

}  // namespace broker

#endif  // BROKER_NOR_FLASH_H
