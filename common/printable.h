// Text from outside (a file's bytes in a message, a broker's answer on a terminal) made
// safe to show: the control characters are written as \xNN, byte by byte, so that the
// text can neither end the line it stands in nor drive the terminal that shows it.
// Controls are C0, DEL, the C1 range (encoded in UTF-8 or as a lone byte) and the line
// and paragraph separators U+2028 and U+2029; any byte that is not part of well-formed
// UTF-8 is escaped too. Ordinary UTF-8 text stays as it is. Header-only: the broker and
// tapclient both show such text.
#ifndef TAPBROKER_COMMON_PRINTABLE_H
#define TAPBROKER_COMMON_PRINTABLE_H

#include <cstddef>
#include <string>
#include <string_view>

namespace printable {

namespace detail {
// The length of the well-formed UTF-8 sequence at `at` and its code point, or 0.
inline std::size_t sequence(std::string_view text, std::size_t at, char32_t& point) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  const std::size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                             : lead >= 0xE0 && lead <= 0xEF ? 3
                             : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                            : 0;
  if (length == 0 || text.size() - at < length) return 0;
  point = lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    point = (point << 6) | (byte(at + i) & 0x3F);
  }
  constexpr char32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
  const bool surrogate = point >= 0xD800 && point <= 0xDFFF;
  if (point < kShortest[length] || point > 0x10FFFF || surrogate) return 0;
  return length;
}
}  // namespace detail

inline std::string escaped(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = 1;
    bool control = lead < 0x20 || lead == 0x7F;
    if (lead >= 0x80) {
      char32_t point = 0;
      length = detail::sequence(text, at, point);
      control =
          length == 0 || (point >= 0x80 && point <= 0x9F) || point == 0x2028 || point == 0x2029;
      if (length == 0) length = 1;
    }
    for (std::size_t i = at; i < at + length; ++i) {
      if (!control) {
        out += text[i];
        continue;
      }
      const auto byte = static_cast<unsigned char>(text[i]);
      ((out += "\\x") += kHex[byte >> 4]) += kHex[byte & 0xF];
    }
    at += length;
  }
  return out;
}

// 1st, 2nd, 3rd, 4th, ..., 11th, 12th, 13th, ..., 21st: which start, which connection.
inline std::string ordinal(std::size_t n) {
  const std::size_t tens = n % 100, ones = n % 10;
  const char* suffix = tens >= 11 && tens <= 13 ? "th"
                       : ones == 1              ? "st"
                       : ones == 2              ? "nd"
                       : ones == 3              ? "rd"
                                                : "th";
  return std::to_string(n) + suffix;
}

}  // namespace printable

#endif  // TAPBROKER_COMMON_PRINTABLE_H
