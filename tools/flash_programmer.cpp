#include "flash_programmer.h"

#include <algorithm>
#include <cstdio>

#include "tool_error.h"

namespace tapclient {
namespace {

// Pump modes (the middle word of command 42).
constexpr int kPumpProgram = 0;
constexpr int kPumpRead = 1;

std::string hexAddress(std::size_t address) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%05zX", address);
  return text;
}

int bits(std::size_t bytes) { return static_cast<int>(bytes * 8); }

}  // namespace

std::size_t FlashProgrammer::flashSize() {
  const int size = session_.checked("flash size (command 25)", session_.client().Send(25));
  if (size <= 0)
    throw ToolError("the broker reports a flash of " + std::to_string(size) + " bytes");
  return static_cast<std::size_t>(size);
}

void FlashProgrammer::eraseAll() {
  Client& client = session_.client();
  session_.expect("erasing the flash (command 13)", client.Send(13), 0);
  session_.expect("blank check (command 14)", client.Send(14), 1);
}

void FlashProgrammer::eraseSectors(std::size_t address, std::size_t length) {
  if (length == 0) return;
  const std::size_t first = address / kSectorSize;
  const std::size_t last = (address + length - 1) / kSectorSize;
  for (std::size_t sector = first; sector <= last; ++sector) {
    session_.expect("erasing sector " + std::to_string(sector) + " (command 16)",
                    session_.client().Send(16, static_cast<int>(sector)), 0);
  }
}

void FlashProgrammer::program(std::size_t address, const std::vector<std::uint8_t>& image,
                              const Progress& progress) {
  Client& client = session_.client();
  session_.expect("setting the flash address (command 15)",
                  client.Send(15, static_cast<int>(address)), 0);
  for (std::size_t done = 0; done < image.size();) {
    const std::size_t length = std::min(kProgramChunk, image.size() - done);
    const int refused =
        session_.checked("programming at " + hexAddress(address + done) + " (command 42)",
                         client.Send(42, image.data() + done, bits(length), kPumpProgram, 0));
    if (refused != 0) {
      throw ToolError(std::to_string(refused) + " bytes from " + hexAddress(address + done) +
                      " did not take their value: the flash there was not erased");
    }
    done += length;
    if (progress) progress(done);
  }
}

void FlashProgrammer::verify(std::size_t address, const std::vector<std::uint8_t>& image,
                             const Progress& progress) {
  Client& client = session_.client();
  session_.expect("setting the flash address (command 15)",
                  client.Send(15, static_cast<int>(address)), 0);
  // A read pump still sends data, which the broker ignores. Each pump reads one block, which
  // comes back unmarked: every byte compared is the flash's own.
  const std::vector<std::uint8_t> ignored(kReadChunk, 0xFF);
  std::vector<unsigned char> back;
  for (std::size_t done = 0; done < image.size();) {
    const std::size_t length = std::min(kReadChunk, image.size() - done);
    const std::string where = "reading back " + hexAddress(address + done);
    session_.expect(where + " (command 42)",
                    client.Send(42, ignored.data(), bits(length), kPumpRead, 1), 0);
    session_.takeReadBack(where, back, bits(length));
    const auto first = image.begin() + static_cast<std::ptrdiff_t>(done);
    const auto last = first + static_cast<std::ptrdiff_t>(length);
    const auto [mine, theirs] = std::mismatch(first, last, back.begin());
    if (mine != last) {
      const std::size_t at = address + static_cast<std::size_t>(mine - image.begin());
      char detail[96];
      std::snprintf(detail, sizeof detail,
                    "the flash byte at %s reads 0x%02X, the image holds 0x%02X",
                    hexAddress(at).c_str(), *theirs, *mine);
      throw ToolError(std::string("verification failed: ") + detail);
    }
    done += length;
    if (progress) progress(done);
  }
}

std::uint32_t FlashProgrammer::flashCrc() {
  // The CRC comes back as an int; its bits are the CRC.
  const int crc = session_.checked("flash CRC-32 (command 24)", session_.client().Send(24));
  return static_cast<std::uint32_t>(crc);
}

std::uint32_t crc32(const std::uint8_t* data, std::size_t length) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < length; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

std::vector<std::uint8_t> demoImage(std::size_t size) {
  std::vector<std::uint8_t> image(size);
  std::uint32_t state = 0x2545F491u;  // xorshift32: fixed seed, same image every run
  for (std::uint8_t& byte : image) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    byte = static_cast<std::uint8_t>(state >> 24);
  }
  return image;
}

}  // namespace tapclient
