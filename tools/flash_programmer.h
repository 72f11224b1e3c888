// Programming the cable's flash through pump data: erase, program in chunks, verify by
// reading back, and compare the broker's CRC-32 of the whole flash.
#ifndef TOOLS_FLASH_PROGRAMMER_H
#define TOOLS_FLASH_PROGRAMMER_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "broker_session.h"

namespace tapclient {

class FlashProgrammer {
 public:
  // Called with the bytes done so far.
  using Progress = std::function<void(std::size_t done)>;

  // Sizes: one program pump carries a sector's worth in several blocks; one read-back
  // pump stays within a single block, whose bytes come back exactly as the flash holds
  // them (a longer read-back marks the first byte of each block).
  static constexpr std::size_t kProgramChunk = 4096;
  static constexpr std::size_t kReadChunk = 1024;
  static constexpr std::size_t kSectorSize = 4096;

  explicit FlashProgrammer(BrokerSession& session) : session_(session) {}

  std::size_t flashSize();  // command 25
  // Erases the whole flash and checks that it reads blank (commands 13 and 14).
  void eraseAll();
  // Erases the 4 KiB sectors that [address, address + length) touches (command 16).
  void eraseSectors(std::size_t address, std::size_t length);
  // Programs `image` from `address` on (command 15, then command 42 in chunks). Throws
  // when a byte did not take its value.
  void program(std::size_t address, const std::vector<std::uint8_t>& image,
               const Progress& progress);
  // Reads the range back (command 42, read mode, with read-back) and compares it with
  // `image`; throws at the first byte that differs.
  void verify(std::size_t address, const std::vector<std::uint8_t>& image,
              const Progress& progress);
  // The broker's CRC-32 of the whole flash (command 24).
  std::uint32_t flashCrc();

 private:
  BrokerSession& session_;
};

// The reflected CRC-32 (polynomial 0xEDB88320) that the broker reports for the flash.
std::uint32_t crc32(const std::uint8_t* data, std::size_t length);

// A deterministic image of `size` bytes: a pseudo-random stream, so that a block landing
// at the wrong address or a byte out of order cannot go unnoticed.
std::vector<std::uint8_t> demoImage(std::size_t size);

}  // namespace tapclient

#endif  // TOOLS_FLASH_PROGRAMMER_H
