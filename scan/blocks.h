// The steps every scan transfer is made of: header tokens, the data out (as one block or
// in 1024-byte blocks, each answered before the next goes out) and the read-back. What
// differs between the transfers is held in a BlockProfile.
#ifndef SCAN_BLOCKS_H
#define SCAN_BLOCKS_H

#include <cstdint>
#include <initializer_list>

#include "protocol/command_in_progress.h"
#include "protocol/wire.h"

namespace tapbroker::scan {

// (bitCount + 7) / 8 in 32-bit arithmetic that wraps instead of overflowing, so a bit
// count near INT_MAX comes out negative and is refused like any other negative length.
// Bit counts from -14 to 0 give 0.
inline int bytesForBits(int bitCount) {
  return static_cast<int>(static_cast<std::uint32_t>(bitCount) + 7u) / 8;
}

// The byte with its bit order reversed: bit 7 - i takes bit i.
unsigned char mirrored(unsigned char byte);

struct BlockProfile {
  const char* sendFailed;     // reported (name, name) when a send fails
  const char* receiveFailed;  // reported (name, name) when a receive fails
  const char* tokenSent;      // reported after each header token; null: not reported
  bool tokenSentShowsText;    // ... with the token's text, else the client's name
  const char* blockSent;      // reported with each outgoing block; null: not reported
  bool padsBlocks;            // data of several blocks goes out in whole 1024-byte blocks
  bool mirrors;               // data bytes go out bit-reversed
  bool checksReadBlocks;      // a read-back block must begin with "+"
};

class Blocks {
 public:
  Blocks(protocol::CommandInProgress& exchange, const BlockProfile& profile, int byteCount);

  // Report the failure and return kSendFailed / kReceiveFailed.
  int sendFailed();
  int receiveFailed();

  // Each value as an int token, strictly acknowledged. Refuses a negative byte count
  // (which Send refuses first) before anything goes out.
  int header(std::initializer_list<int> values);
  // Up to one block of data travels as a single send; more, block by block.
  bool multiBlock() const { return byteCount_ > protocol::kBufferSize; }
  // The data as one send of byteCount + `extra` bytes (the extra ones zero); false when
  // the send failed (not reported: the caller knows what comes next).
  bool sendSingle(const unsigned char* data, int extra, bool reportBlock);
  // The data block by block, each strictly acknowledged.
  int sendBlocks(const unsigned char* data, bool reportBlocks);
  // sendBlocks, then the read-back (readBlocks) when `readBack`, else one strict
  // acknowledgement.
  int sendBlocksAndReadBack(const unsigned char* data, bool reportBlocks, bool readBack);
  // One strict acknowledgement into the zeroed incoming buffer.
  int strictAck();
  // The read-back of several blocks into the exchange's read-back store, each block
  // asked for by a request token after it arrived.
  int readBlocks();

  // One receive of any answer into the incoming buffer, zeroed first unless `zeroFirst`
  // is false (a short answer then leaves the tail of the one before). The byte count, or
  // 0 when the receive failed (not reported: the caller knows what it means).
  int receiveAnswer(bool zeroFirst = true);
  // The read-back of a single block: one answer as receiveAnswer takes it, of which
  // exactly byteCount bytes (zeros or an older tail where fewer arrived) go to the
  // exchange's read-back store when `keep`. The byte count received, or 0.
  int readSingle(bool keep, bool zeroFirst = true);

  // What the reports show: the last header token or its acknowledgement, and the
  // incoming buffer (all zeros until the first answer lands).
  const char* lastToken() const { return token_; }
  const char* answer() const { return in_; }

 private:
  // Zeroes the outgoing buffer and puts `length` bytes of `data` at its start.
  void fill(const unsigned char* data, int length, bool report);

  protocol::CommandInProgress& x_;
  const BlockProfile& profile_;
  int byteCount_;
  char token_[protocol::kBufferSize];
  // One more than a block: the JTAG shift sends a zero after a single block.
  char out_[protocol::kBufferSize + 1];
  char in_[protocol::kBufferSize] = {};
};

}  // namespace tapbroker::scan

#endif  // SCAN_BLOCKS_H
