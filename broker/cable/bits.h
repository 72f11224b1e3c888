// Bit-level helpers for scan data: a shift moves bits least significant first, byte after
// byte, so bit i of a buffer is bit (i % 8) of byte (i / 8).
#ifndef BROKER_BITS_H
#define BROKER_BITS_H

#include <cstddef>
#include <cstdint>

namespace broker {

inline bool bitAt(const std::uint8_t* bytes, std::size_t index) {
  return (bytes[index / 8] >> (index % 8)) & 1u;
}

inline void setBitAt(std::uint8_t* bytes, std::size_t index, bool value) {
  const auto mask = static_cast<std::uint8_t>(1u << (index % 8));
  if (value) {
    bytes[index / 8] |= mask;
  } else {
    bytes[index / 8] &= static_cast<std::uint8_t>(~mask);
  }
}

// The byte with its bit order reversed: I2C data travel most significant bit first, and
// the client hands them over mirrored.
inline std::uint8_t mirrorByte(std::uint8_t value) {
  std::uint8_t mirrored = 0;
  for (int bit = 0; bit < 8; ++bit) {
    if (value & (1u << bit)) mirrored |= static_cast<std::uint8_t>(0x80u >> bit);
  }
  return mirrored;
}

// Bytes of a shift of `bitCount` bits, rounded up; the client computes the same, in signed
// arithmetic, so a count from -14 to 0 gives 0 and anything below gives a negative count.
inline int bytesForBits(int bitCount) {
  return static_cast<int>((static_cast<long long>(bitCount) + 7) / 8);
}

// How many of the first `bitCount` bits differ between `a` and `b`, counting only the bits
// set in `mask` (every bit when `mask` is null).
inline std::size_t differingBits(const std::uint8_t* a, const std::uint8_t* b,
                                 const std::uint8_t* mask, std::size_t bitCount) {
  std::size_t differing = 0;
  for (std::size_t i = 0; i < (bitCount + 7) / 8; ++i) {
    unsigned bits = static_cast<unsigned>(a[i] ^ b[i]) & (mask ? mask[i] : 0xFFu);
    if (8 * i + 8 > bitCount) bits &= (1u << (bitCount % 8)) - 1u;  // the last byte's rest
    differing += static_cast<std::size_t>(__builtin_popcount(bits));
  }
  return differing;
}

// Copies `count` bits from bit `from` of `source` to bit `to` of `target`; a byte at a
// time where the target is byte-aligned, since a long scan is mostly that.
inline void copyBits(const std::uint8_t* source, std::size_t from, std::uint8_t* target,
                     std::size_t to, std::size_t count) {
  std::size_t i = 0;
  for (; i < count && (to + i) % 8 != 0; ++i) setBitAt(target, to + i, bitAt(source, from + i));
  const unsigned offset = (from + i) % 8;
  for (; count - i >= 8; i += 8) {
    const std::size_t at = (from + i) / 8;
    unsigned byte = source[at] >> offset;
    if (offset != 0) byte |= static_cast<unsigned>(source[at + 1]) << (8 - offset);
    target[(to + i) / 8] = static_cast<std::uint8_t>(byte);
  }
  for (; i < count; ++i) setBitAt(target, to + i, bitAt(source, from + i));
}

}  // namespace broker

#endif  // BROKER_BITS_H
