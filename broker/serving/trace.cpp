#include "broker/serving/trace.h"

#include <cstdio>
#include <utility>

namespace broker {
namespace {

std::string prefix(int connection) {
  return connection > 0 ? "tapbroker #" + std::to_string(connection) + " " : "tapbroker ";
}

bool looksLikeText(const unsigned char* bytes, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    const unsigned char c = bytes[i];
    // A NUL is text only as a terminator: at the end, or before more NULs.
    if (c == 0 && (i + 1 == length || bytes[i + 1] == 0)) continue;
    if (c < 0x20 || c >= 0x7F) return false;
  }
  return true;
}

}  // namespace

std::string describeBytes(const void* data, std::size_t length, std::size_t limit) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  // A long run of zeros at the end (padding, an erased block) is counted, not shown.
  std::size_t zeros = 0;
  while (zeros < length && bytes[length - 1 - zeros] == 0) ++zeros;
  const std::size_t padding = zeros > 4 ? zeros - 1 : 0;
  const std::size_t body = length - padding;
  const std::size_t shown = body < limit ? body : limit;
  std::string out;
  char piece[8];
  if (looksLikeText(bytes, body)) {
    out += '"';
    for (std::size_t i = 0; i < shown; ++i) {
      if (bytes[i] == 0) {
        out += "\\0";
      } else if (bytes[i] == '"' || bytes[i] == '\\') {
        out += '\\';
        out += static_cast<char>(bytes[i]);
      } else {
        out += static_cast<char>(bytes[i]);
      }
    }
    out += '"';
  } else {
    for (std::size_t i = 0; i < shown; ++i) {
      std::snprintf(piece, sizeof piece, i ? " %02x" : "%02x", bytes[i]);
      out += piece;
    }
  }
  if (shown < body) out += " ...";
  if (padding > 0) out += " + " + std::to_string(padding) + " zero bytes";
  if (shown < body || padding > 0) out += " (" + std::to_string(length) + " bytes)";
  return out;
}

Trace::Trace(bool exchanges, Sink sink) : exchanges_(exchanges), sink_(std::move(sink)) {}

void Trace::write(const std::string& line) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (sink_) {
    sink_(line);
  } else {
    std::fprintf(stderr, "%s\n", line.c_str());
  }
}

void Trace::exchange(int connection, Direction direction, const void* data, std::size_t length,
                     std::string_view meaning) const {
  if (!exchanges_) return;
  std::string line = prefix(connection);
  line += direction == Direction::Received ? "<- " : "-> ";
  line += describeBytes(data, length);
  if (!meaning.empty()) {
    line += "  ";
    line += meaning;
  }
  write(line);
}

void Trace::note(int connection, std::string_view text) const {
  if (exchanges_) write(prefix(connection) + std::string(text));
}

void Trace::problem(int connection, std::string_view text) const {
  write(prefix(connection) + std::string(text));
}

}  // namespace broker
