#include "scan/blocks.h"

#include <algorithm>
#include <cstring>

#include "protocol/wire.h"
#include "results/codes.h"

namespace tapbroker::scan {

unsigned char mirrored(unsigned char byte) {
  unsigned char out = 0;
  for (int i = 0; i < 8; ++i)
    if (byte & (1u << i)) out = static_cast<unsigned char>(out | (0x80u >> i));
  return out;
}

Blocks::Blocks(protocol::CommandInProgress& exchange, const BlockProfile& profile,
               int byteCount)
    : x_(exchange), profile_(profile), byteCount_(byteCount) {}

int Blocks::sendFailed() {
  x_.report(profile_.sendFailed, x_.name(), x_.name());
  return results::kSendFailed;
}

int Blocks::receiveFailed() {
  x_.report(profile_.receiveFailed, x_.name(), x_.name());
  return results::kReceiveFailed;
}

int Blocks::header(std::initializer_list<int> values) {
  // A negative length must never reach a copy or a send.
  if (byteCount_ < 0) return results::kArgumentRefused;
  for (int value : values) {
    if (!protocol::sendIntToken(x_.socket(), value, token_)) return sendFailed();
    if (profile_.tokenSent != nullptr)
      x_.report(profile_.tokenSent, x_.name(), profile_.tokenSentShowsText ? token_ : x_.name());
    std::memset(token_, 0, sizeof token_);
    if (!protocol::receiveStrictAck(x_.socket(), token_)) return receiveFailed();
  }
  return 0;
}

void Blocks::fill(const unsigned char* data, int length, bool report) {
  std::memset(out_, 0, sizeof out_);
  for (int i = 0; i < length; ++i)
    out_[i] = static_cast<char>(profile_.mirrors ? mirrored(data[i]) : data[i]);
  if (report && profile_.blockSent != nullptr && x_.reporting())
    x_.report(profile_.blockSent, x_.name(),
              protocol::BoundedText(out_, protocol::kBufferSize).c_str());
}

bool Blocks::sendSingle(const unsigned char* data, int extra, bool reportBlock) {
  fill(data, byteCount_, reportBlock);
  return protocol::sendBytes(x_.socket(), out_, byteCount_ + extra);
}

int Blocks::sendBlocks(const unsigned char* data, bool reportBlocks) {
  for (int offset = 0; offset < byteCount_; offset += protocol::kBufferSize) {
    const int length = std::min(byteCount_ - offset, protocol::kBufferSize);
    fill(data + offset, length, reportBlocks);
    if (!protocol::sendBytes(x_.socket(), out_,
                             profile_.padsBlocks ? protocol::kBufferSize : length))
      return sendFailed();
    if (int failed = strictAck()) return failed;
  }
  return 0;
}

int Blocks::sendBlocksAndReadBack(const unsigned char* data, bool reportBlocks,
                                  bool readBack) {
  if (int failed = sendBlocks(data, reportBlocks)) return failed;
  if (!readBack) return strictAck();
  x_.tdo().clear();
  return readBlocks();
}

int Blocks::strictAck() {
  std::memset(in_, 0, sizeof in_);
  return protocol::receiveStrictAck(x_.socket(), in_) ? 0 : receiveFailed();
}

int Blocks::receiveAnswer(bool zeroFirst) {
  if (zeroFirst) std::memset(in_, 0, sizeof in_);
  return protocol::receiveLoose(x_.socket(), in_);
}

int Blocks::readSingle(bool keep, bool zeroFirst) {
  const int received = receiveAnswer(zeroFirst);
  if (received != 0 && keep) x_.tdo().append(in_, static_cast<std::size_t>(byteCount_));
  return received;
}

int Blocks::readBlocks() {
  for (int offset = 0; offset < byteCount_; offset += protocol::kBufferSize) {
    const int received = receiveAnswer();
    if (received == 0 || (profile_.checksReadBlocks && in_[0] != '+')) return receiveFailed();
    x_.tdo().append(in_, static_cast<std::size_t>(received));
    if (!protocol::sendRequestToken(x_.socket())) return sendFailed();
  }
  return 0;
}

}  // namespace tapbroker::scan
