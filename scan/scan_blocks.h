// Lengths of the scan transfers: counts in bits become bytes, and data longer than one
// work buffer travels in 1024-byte blocks, each answered before the next goes out.
#ifndef SCAN_SCAN_BLOCKS_H
#define SCAN_SCAN_BLOCKS_H

#include <cstdint>

namespace scan {

constexpr int kBlockSize = 1024;

// (bitCount + 7) / 8 in 32-bit arithmetic that wraps instead of overflowing, so a bit
// count near INT_MAX comes out negative and is refused like any other negative length.
// Bit counts from -14 to 0 give 0.
inline int bytesForBits(int bitCount) {
  return static_cast<int>(static_cast<std::uint32_t>(bitCount) + 7u) / 8;
}

// The number of 1024-byte blocks that `byteCount` bytes (0 or more) occupy.
inline int blocksForBytes(int byteCount) { return (byteCount + kBlockSize - 1) / kBlockSize; }

// Up to one block travels as a single block; longer data block by block.
inline bool isMultiBlock(int byteCount) { return byteCount > kBlockSize; }

// Length of block `block` of `byteCount` bytes: 1024, or what is left for the last one.
inline int blockLength(int byteCount, int block) {
  int rest = byteCount - block * kBlockSize;
  return rest < kBlockSize ? rest : kBlockSize;
}

// The byte with its bit order reversed: bit 7 - i takes bit i.
inline unsigned char mirrored(unsigned char byte) {
  unsigned char out = 0;
  for (int i = 0; i < 8; ++i)
    if (byte & (1u << i)) out = static_cast<unsigned char>(out | (0x80u >> i));
  return out;
}

}  // namespace scan

#endif  // SCAN_SCAN_BLOCKS_H
