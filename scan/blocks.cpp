#include "scan/blocks.h"

#include <cstring>

#include "protocol/wire.h"
#include "results/codes.h"

namespace scan {

unsigned char mirrored(unsigned char byte) {
  unsigned char out = 0;
  for (int i = 0; i < 8; ++i)
    if (byte & (1u << i)) out = static_cast<unsigned char>(out | (0x80u >> i));
  return out;
}

Blocks::Blocks(Exchange& exchange, const BlockProfile& profile, int byteCount)
    : x_(exchange), profile_(profile), byteCount_(byteCount) {}

int Blocks::sendFailed() {
  x_.report(profile_.sendFailed, x_.name, x_.name);
  return results::kSendFailed;
}

int Blocks::receiveFailed() {
  x_.report(profile_.receiveFailed, x_.name, x_.name);
  return results::kReceiveFailed;
}

int Blocks::header(std::initializer_list<int> values) {
  // A negative length must never reach a copy or a send.
  if (byteCount_ < 0) return results::kArgumentRefused;
  for (int value : values) {
    if (!wire::sendIntToken(x_.socket, value, token)) return sendFailed();
    if (profile_.tokenSent != nullptr)
      x_.report(profile_.tokenSent, x_.name, profile_.tokenSentShowsText ? token : x_.name);
    std::memset(token, 0, sizeof token);
    if (!wire::receiveStrictAck(x_.socket, token)) return receiveFailed();
  }
  return 0;
}

void Blocks::fill(const unsigned char* data, int length, bool report) {
  std::memset(out, 0, sizeof out);
  for (int i = 0; i < length; ++i)
    out[i] = static_cast<char>(profile_.mirrors ? mirrored(data[i]) : data[i]);
  if (report && profile_.blockSent != nullptr && x_.reporting())
    x_.report(profile_.blockSent, x_.name, wire::BoundedText(out, kBlockSize).c_str());
}

bool Blocks::sendSingle(const unsigned char* data, int extra, bool reportBlock) {
  fill(data, byteCount_, reportBlock);
  return wire::sendBytes(x_.socket, out, byteCount_ + extra);
}

int Blocks::sendBlocks(const unsigned char* data, bool reportBlocks) {
  for (int offset = 0; offset < byteCount_; offset += kBlockSize) {
    const int length = byteCount_ - offset < kBlockSize ? byteCount_ - offset : kBlockSize;
    fill(data + offset, length, reportBlocks);
    if (!wire::sendBytes(x_.socket, out, profile_.padsBlocks ? kBlockSize : length))
      return sendFailed();
    if (int failed = strictAck()) return failed;
  }
  return 0;
}

int Blocks::sendBlocksAndReadBack(const unsigned char* data, bool reportBlocks,
                                  bool readBack) {
  if (int failed = sendBlocks(data, reportBlocks)) return failed;
  if (!readBack) return strictAck();
  x_.tdo.clear();
  return readBlocks();
}

int Blocks::strictAck() {
  std::memset(in, 0, sizeof in);
  return wire::receiveStrictAck(x_.socket, in) ? 0 : receiveFailed();
}

int Blocks::readBlocks() {
  for (int offset = 0; offset < byteCount_; offset += kBlockSize) {
    std::memset(in, 0, sizeof in);
    const int received = wire::receiveLoose(x_.socket, in);
    if (received == 0 || (profile_.checksReadBlocks && in[0] != '+')) return receiveFailed();
    x_.tdo.append(in, static_cast<std::size_t>(received));
    if (!wire::sendRequestToken(x_.socket)) return sendFailed();
  }
  return 0;
}

}  // namespace scan
