// The wire units every exchange with the broker is made of: NUL-terminated tokens, the
// strict acknowledgement ("+" in at most 2 bytes), the loose reply (anything, at most
// 1024 bytes) and the request token ("+" and NUL) that asks for an answer.
// Everything works in the caller's fixed 1024-byte buffers: nothing is allocated.
#ifndef PROTOCOL_WIRE_H
#define PROTOCOL_WIRE_H

#include <cstdint>
#include <cstring>

namespace tapbroker::protocol {

typedef std::uint64_t SOCKET;

constexpr int kBufferSize = 1024;
// The longest text a token can carry: the buffer less its NUL.
constexpr int kMaxTokenText = kBufferSize - 1;

// One send of `length` bytes; true when the send moved at least one byte.
bool sendBytes(SOCKET socket, const void* data, int length);
// Sends the text in `buffer` and its NUL in one send.
bool sendToken(SOCKET socket, const char* buffer);
// Zeroes `buffer`, formats `value` with "%d" into it and sends it as a token.
bool sendIntToken(SOCKET socket, int value, char* buffer);
// Zeroes `buffer`, copies `text` into it (null or empty: the empty token, one NUL) and
// sends it as a token. `text` must be shorter than kBufferSize.
bool sendStringToken(SOCKET socket, const char* text, char* buffer);
// Sends "+" and NUL.
bool sendRequestToken(SOCKET socket);

// True when `text` (null counts as empty) fits a token buffer with its NUL. Reads at
// most kBufferSize bytes, so an unterminated or huge argument is never walked to its end.
inline bool fitsToken(const char* text) {
  return text == nullptr || strnlen(text, kBufferSize) < static_cast<std::size_t>(kBufferSize);
}

// One receive of at most `capacity` bytes; the byte count, or 0 when it failed.
int receive(SOCKET socket, char* buffer, int capacity);
// One receive of at most 2 bytes into `buffer`; true when it brought a first byte "+".
// The buffer is not zeroed here: callers zero it where their sequence says so.
bool receiveStrictAck(SOCKET socket, char* buffer);
// One receive of at most kBufferSize bytes; the byte count, or 0 when it failed.
inline int receiveLoose(SOCKET socket, char* buffer) {
  return receive(socket, buffer, kBufferSize);
}

// The leading decimal integer of the `length` bytes at `text`, as atoi reads it (white
// space, sign, digits; 0 when there are none), never reading past `length` bytes.
int leadingInt(const char* text, int length);

// A NUL-terminated copy of at most `length` bytes of `data`, cut at the first NUL: what a
// report may pass for a data or reply buffer that need not hold a NUL of its own.
class BoundedText {
 public:
  BoundedText(const void* data, int length);
  const char* c_str() const { return text_; }

 private:
  char text_[kBufferSize + 1];
};

}  // namespace tapbroker::protocol

#endif  // PROTOCOL_WIRE_H
