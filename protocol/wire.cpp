#include "protocol/wire.h"

#include <cctype>
#include <charconv>
#include <climits>
#include <cstdio>

#include "platform/sockets.h"
#include "protocol/recording.h"

namespace tapbroker::protocol {

bool sendBytes(SOCKET socket, const void* data, int length) {
  int sent = platform::send(socket, data, length);
  if (recording::active()) recording::sent(socket, data, sent);
  return sent > 0;
}

bool sendToken(SOCKET socket, const char* buffer) {
  return sendBytes(socket, buffer, static_cast<int>(std::strlen(buffer)) + 1);
}

bool sendIntToken(SOCKET socket, int value, char* buffer) {
  std::memset(buffer, 0, kBufferSize);
  // The text "%d" gives, without the formatting machinery: every int token goes this way.
  std::to_chars(buffer, buffer + kBufferSize - 1, value);
  return sendToken(socket, buffer);
}

bool sendStringToken(SOCKET socket, const char* text, char* buffer) {
  std::memset(buffer, 0, kBufferSize);
  if (text != nullptr) std::strncpy(buffer, text, kMaxTokenText);
  return sendToken(socket, buffer);
}

bool sendRequestToken(SOCKET socket) {
  static const char request[2] = {'+', '\0'};
  return sendBytes(socket, request, sizeof request);
}

int receive(SOCKET socket, char* buffer, int capacity) {
  int received = platform::receive(socket, buffer, capacity);
  if (recording::active()) recording::received(socket, buffer, received);
  return received < 0 ? 0 : received;
}

bool receiveStrictAck(SOCKET socket, char* buffer) {
  return receive(socket, buffer, 2) > 0 && buffer[0] == '+';
}

int leadingInt(const char* text, int length) {
  int i = 0;
  while (i < length && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < length && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  // Accumulate negatively so that INT_MIN reads back whole; saturate like strtol.
  long long value = 0;
  for (; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 - (text[i] - '0');
    if (value < INT_MIN) value = INT_MIN - 1LL;
  }
  if (negative) return value < INT_MIN ? INT_MIN : static_cast<int>(value);
  return -value > INT_MAX ? INT_MAX : static_cast<int>(-value);
}

BoundedText::BoundedText(const void* data, int length) {
  int n = 0;
  if (data != nullptr && length > 0) {
    const char* bytes = static_cast<const char*>(data);
    int limit = length < kBufferSize ? length : kBufferSize;
    const void* nul = std::memchr(bytes, '\0', static_cast<std::size_t>(limit));
    n = nul ? static_cast<int>(static_cast<const char*>(nul) - bytes) : limit;
    std::memcpy(text_, bytes, static_cast<std::size_t>(n));
  }
  text_[n] = '\0';
}

}  // namespace tapbroker::protocol
