// The byte helpers every wire test uses: tokens, patterns of data, printable transcripts.
#ifndef TESTS_SUPPORT_WIRE_BYTES_H
#define TESTS_SUPPORT_WIRE_BYTES_H

#include <cstddef>
#include <cstdio>
#include <initializer_list>
#include <string>

// The strict acknowledgement, which is also the request token: "+" and NUL.
inline const std::string kAck("+\0", 2);

inline std::string bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += static_cast<char>(v);
  return out;
}
// Recognisable data, `n` bytes long, never 0xEE, 0xFF or a line break.
inline std::string pattern(std::size_t n, int seed) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) {
    auto c = static_cast<unsigned char>((i * 7 + static_cast<std::size_t>(seed) * 13) & 0xFF);
    out += static_cast<char>(c >= 0xEE || c == '\n' || c == '\r' ? 0x11 : c);
  }
  return out;
}
inline const unsigned char* data(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}
// Text filling a whole 1024-byte answer, so that the stream cannot merge it with an answer
// that follows without a request in between.
inline std::string padded(const std::string& text) {
  return text + std::string(1024 - text.size(), '\0');
}
// NUL-terminated tokens, as the conversation carries them.
inline std::string tokens(std::initializer_list<std::string> texts) {
  std::string out;
  for (const std::string& text : texts) (out += text) += '\0';
  return out;
}

// Printable form of bytes for failure messages: NUL as \0, other controls as \xNN.
inline std::string visible(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c == 0) {
      out += "\\0";
    } else if (c < 32 || c >= 127) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

#endif  // TESTS_SUPPORT_WIRE_BYTES_H
