#include "bare_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>

#include "tapbroker_client.h"

namespace {

constexpr int kBlock = 1024;
using tapbroker::results::kReceiveFailed;
using tapbroker::results::kSendFailed;
const char kRequest[2] = {'+', '\0'};

}  // namespace

BareClient::~BareClient() {
  if (fd_ >= 0) ::close(fd_);
}

bool BareClient::sendBytes(const void* data, int length) {
  ssize_t sent;
  do {
    sent = ::send(fd_, data, static_cast<size_t>(length), MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  return sent > 0;
}

bool BareClient::sendToken(const char* text) {
  return sendBytes(text, static_cast<int>(std::strlen(text)) + 1);
}

bool BareClient::sendIntToken(int value) {
  char* end = std::to_chars(buffer_, buffer_ + 16, value).ptr;
  *end = '\0';
  return sendBytes(buffer_, static_cast<int>(end - buffer_) + 1);
}

bool BareClient::strictAck() {
  ssize_t got;
  do {
    got = ::recv(fd_, reply_, 2, 0);
  } while (got < 0 && errno == EINTR);
  return got > 0 && reply_[0] == '+';
}

int BareClient::looseReply() {
  ssize_t got;
  do {
    got = ::recv(fd_, reply_, kBlock, 0);
  } while (got < 0 && errno == EINTR);
  return got > 0 ? static_cast<int>(got) : 0;
}

bool BareClient::command(int number) { return sendIntToken(number) && looseReply() > 0; }

int BareClient::finalRead() {
  if (!sendBytes(kRequest, 2)) return kSendFailed;
  int got = looseReply();
  if (got == 0) return kReceiveFailed;
  reply_[std::min(got, kBlock - 1)] = '\0';
  return std::atoi(reply_);
}

bool BareClient::connect(const char* name, int port) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd_ < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  int on = 1;
  ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return sendToken(name) && looseReply() > 0;
}

bool BareClient::disconnect() {
  if (fd_ < 0) return false;
  bool answered = command(9999) && finalRead() != -1;
  ::shutdown(fd_, SHUT_WR);
  ::close(fd_);
  fd_ = -1;
  return answered;
}

bool BareClient::grantFlags(const char* first, const char* second) {
  static const int kPreset[10] = {0, 0, 0, 1, 0, 0, 0, 1, 0, 0};
  if (!command(4) || !sendToken(first) || looseReply() == 0 || !sendToken(second) ||
      looseReply() == 0) {
    return false;
  }
  for (int value : kPreset) {
    if (!sendIntToken(value) || looseReply() == 0) return false;
  }
  if (!sendBytes(kRequest, 2) || looseReply() == 0 || reply_[0] != '1') return false;
  return command(33) && sendBytes(kRequest, 2) && looseReply() > 0 && reply_[0] == '1';
}

int BareClient::sendInt(int command, int value) {
  if (!this->command(command)) return kReceiveFailed;
  if (!sendIntToken(value)) return kSendFailed;
  if (!strictAck()) return kReceiveFailed;
  return finalRead();
}

int BareClient::multiBlockReadBack(long bytes) {
  readBack_.clear();
  for (long offset = 0; offset < bytes; offset += kBlock) {
    int got = looseReply();
    if (got == 0) return kReceiveFailed;
    readBack_.insert(readBack_.end(), reply_, reply_ + got);
    if (!sendBytes(kRequest, 2)) return kSendFailed;
  }
  return 0;
}

int BareClient::jtagShift(int shiftControl, int bitCount, const unsigned char* shiftData,
                          const unsigned char* bufferA) {
  long bytes = (static_cast<long>(bitCount) + 7) / 8;
  if (bytes > kBlock) return kSendFailed;  // the suite shifts a single block only
  if (!command(44)) return kReceiveFailed;
  for (int value : {12, shiftControl, bitCount, 1, 0}) {
    if (!sendIntToken(value) || !strictAck()) return kReceiveFailed;
  }
  // Each buffer goes out with one zero byte after it, in one send.
  for (const unsigned char* data : {shiftData, bufferA}) {
    std::memcpy(buffer_, data, static_cast<size_t>(bytes));
    buffer_[bytes] = '\0';
    if (!sendBytes(buffer_, static_cast<int>(bytes) + 1)) return kSendFailed;
    if (looseReply() == 0) return kReceiveFailed;
  }
  if (!sendBytes(kRequest, 2)) return kSendFailed;
  int got = looseReply();
  if (got == 0) return kReceiveFailed;
  reply_[std::min(got, kBlock - 1)] = '\0';
  if (std::atoi(reply_) < 0 || (shiftControl & 2) != 0) return finalRead();
  if (looseReply() == 0) return kReceiveFailed;
  readBack_.assign(reply_, reply_ + bytes);
  return finalRead();
}

int BareClient::genericShift(int shiftControl, int bitCount, int readBack,
                             const unsigned char* shiftData) {
  long bytes = (static_cast<long>(bitCount) + 7) / 8;
  if (!command(19)) return kReceiveFailed;
  for (int value : {shiftControl, bitCount, static_cast<int>(bytes), readBack}) {
    if (!sendIntToken(value) || !strictAck()) return kReceiveFailed;
  }
  return dataPhase(shiftData, bytes, readBack);
}

int BareClient::pump(const unsigned char* shiftData, int bitCount, int middle, int readBack) {
  long bytes = (static_cast<long>(bitCount) + 7) / 8;
  if (!command(42)) return kReceiveFailed;
  for (int value : {bitCount, middle, readBack}) {
    if (!sendIntToken(value) || !strictAck()) return kReceiveFailed;
  }
  return dataPhase(shiftData, bytes, readBack);
}

int BareClient::dataPhase(const unsigned char* shiftData, long bytes, int readBack) {
  if (bytes <= kBlock) {
    if (!sendBytes(shiftData, static_cast<int>(bytes))) return kSendFailed;
    if (looseReply() == 0) return kReceiveFailed;
    if (readBack != 0) readBack_.assign(reply_, reply_ + bytes);
    return finalRead();
  }
  for (long offset = 0; offset < bytes; offset += kBlock) {
    int size = static_cast<int>(std::min<long>(kBlock, bytes - offset));
    if (!sendBytes(shiftData + offset, size)) return kSendFailed;
    if (!strictAck()) return kReceiveFailed;
  }
  if (readBack == 0) {
    if (!strictAck()) return kReceiveFailed;
  } else if (int code = multiBlockReadBack(bytes); code != 0) {
    return code;
  }
  return finalRead();
}

int BareClient::readList(std::vector<std::string>& items) {
  if (!sendBytes(kRequest, 2)) return kSendFailed;
  int got = looseReply();
  if (got == 0) return kReceiveFailed;
  const char* end = static_cast<const char*>(std::memchr(reply_, '\0', got));
  if (end == nullptr) end = reply_ + got;
  const char* item = reply_;
  for (const char* at = reply_; at != end; ++at) {
    if (*at == ';') {
      items.emplace_back(item, at);
      item = at + 1;
    }
  }
  if (item != end) items.emplace_back(item, end);
  return 0;
}
