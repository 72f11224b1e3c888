#include "broker/cable/spi_flash.h"

namespace broker {
namespace {

constexpr std::uint8_t kReadId = 0x9F;
constexpr std::uint8_t kReadStatus = 0x05;
constexpr std::uint8_t kWriteEnable = 0x06;
constexpr std::uint8_t kWriteDisable = 0x04;
constexpr std::uint8_t kRead = 0x03;
constexpr std::uint8_t kPageProgram = 0x02;
constexpr std::uint8_t kSectorErase = 0x20;
constexpr std::uint8_t kChipErase = 0xC7;
constexpr std::uint8_t kChipEraseAlternate = 0x60;
// An idle data line floats high.
constexpr std::uint8_t kIdle = 0xFF;

}  // namespace

SpiFlash::SpiFlash(std::size_t size)
    : array_(size, kSectorSize), addressBytes_(size > kThreeByteLimit ? 4 : 3) {
  std::uint8_t capacity = 0;
  while ((std::size_t{1} << capacity) < size) ++capacity;
  identification_[2] = capacity;
}

std::uint8_t SpiFlash::exchange(std::uint8_t mosi) {
  const std::size_t position = position_++;
  if (position == 0) {
    command_ = mosi;
    address_ = 0;
    return kIdle;
  }
  const bool addressed =
      command_ == kRead || command_ == kPageProgram || command_ == kSectorErase;
  if (addressed && position <= addressBytes_) {
    address_ = (address_ << 8) | mosi;
    return kIdle;
  }
  const std::size_t size = array_.size();
  switch (command_) {
    case kReadId:
      return identification_[(position - 1) % 3];
    case kReadStatus:
      return writeEnabled_ ? 0x02 : 0x00;
    case kRead: {
      const std::uint8_t out = array_.at(address_ % size);
      address_ = (address_ + 1) % size;
      return out;
    }
    case kPageProgram:
      if (writeEnabled_) {
        array_.program(address_ % size, &mosi, 1);
        const std::size_t page = address_ & ~(kPageSize - 1);
        address_ = page | ((address_ + 1) & (kPageSize - 1));
      }
      return kIdle;
    default:
      return kIdle;
  }
}

void SpiFlash::deselect() {
  const bool complete = position_ >= 1;
  const bool usesLatch = command_ == kSectorErase || command_ == kChipErase ||
                         command_ == kChipEraseAlternate || command_ == kPageProgram;
  if (complete) {
    if (command_ == kWriteEnable) writeEnabled_ = true;
    if (command_ == kWriteDisable) writeEnabled_ = false;
    if (writeEnabled_ && command_ == kSectorErase && position_ > addressBytes_) {
      array_.eraseSector((address_ % array_.size()) / kSectorSize);
    }
    if (writeEnabled_ && (command_ == kChipErase || command_ == kChipEraseAlternate)) {
      array_.eraseAll();
    }
    // A program or erase uses up the write-enable latch, as on the real parts.
    if (usesLatch) writeEnabled_ = false;
  }
  command_ = 0;
  position_ = 0;
  address_ = 0;
}

}  // namespace broker
