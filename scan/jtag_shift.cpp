// The JTAG shift, interface function 12 of command 44: a control word and a length, the
// shift data and up to two further buffers, the broker's result, and, when asked for and
// the result allows it, the bytes read back from the cable into tdoData.
#include <cstring>

#include "protocol/wire.h"
#include "scan/argument_cursor.h"
#include "scan/scan_blocks.h"
#include "tapbroker_client.h"

namespace {

constexpr int kNoShiftData = -1020;
constexpr int kNoBuffer = -1021;
constexpr int kArgumentRefused = -1025;
// Bit of shiftControl that tells the broker to skip the read-back.
constexpr int kSkipReadBack = 2;

}  // namespace

int Client::sendJTAGShiftargs(SOCKET socket, va_list args) {
  scan::ArgumentCursor list(args);
  const int shiftControl = list.nextInt();
  const int bitCount = list.nextInt();
  const int switchA = list.nextInt();
  const int switchB = list.nextInt();
  const unsigned char* shiftData = list.nextData();
  const int byteCount = scan::bytesForBits(bitCount);
  // Send refuses these first; a negative length must never reach a copy or a send.
  if (byteCount < 0) return kArgumentRefused;

  const char* name = clientName.c_str();
  auto sendFailed = [&] {
    PrintMessage("1039", name, name);
    return wire::kSendFailed;
  };
  auto receiveFailed = [&] {
    PrintMessage("1040", name, name);
    return wire::kReceiveFailed;
  };

  if (reporting()) PrintMessage("1111", name, wire::BoundedText(shiftData, byteCount).c_str());
  if (shiftData == nullptr) return kNoShiftData;
  PrintMessage("1103", name);

  // One more than a block: a single block travels with a zero byte after its data.
  char buffer[scan::kBlockSize + 1];
  char reply[scan::kBlockSize];
  for (int value : {shiftControl, bitCount, switchA, switchB}) {
    if (!wire::sendIntToken(socket, value, buffer)) return sendFailed();
    std::memset(reply, 0, sizeof reply);
    if (!wire::receiveStrictAck(socket, reply)) return receiveFailed();
  }

  const bool multiBlock = scan::isMultiBlock(byteCount);
  const int blockCount = scan::blocksForBytes(byteCount);
  if (!multiBlock) {
    tdoData.clear();
    std::memset(buffer, 0, sizeof buffer);
    std::memset(reply, 0, sizeof reply);
    // `echo`: whether the reply buffer is reported after the send, as it stands then.
    auto sendSingle = [&](const unsigned char* data, bool echo) {
      std::memset(buffer, 0, sizeof buffer);
      if (byteCount > 0) std::memcpy(buffer, data, static_cast<std::size_t>(byteCount));
      if (!wire::sendBytes(socket, buffer, byteCount + 1)) return sendFailed();
      if (echo && reporting())
        PrintMessage("1042", name, wire::BoundedText(reply, sizeof reply).c_str());
      if (wire::receiveLoose(socket, reply) == 0) return receiveFailed();
      return 0;
    };
    if (int failed = sendSingle(shiftData, true)) return failed;
    if (switchA != 0) {
      const unsigned char* bufferA = list.nextData();
      if (bufferA == nullptr) return kNoBuffer;
      if (int failed = sendSingle(bufferA, false)) return failed;
    }
    if (switchB != 0) {
      const unsigned char* bufferB = list.nextData();
      if (bufferB == nullptr) return kNoBuffer;
      if (int failed = sendSingle(bufferB, true)) return failed;
    }
  } else {
    // Whole blocks, the last one padded with zeros, each acknowledged before the next.
    auto sendBlocks = [&](const unsigned char* data, bool report) {
      for (int block = 0; block < blockCount; ++block) {
        std::memset(buffer, 0, sizeof buffer);
        std::memcpy(buffer, data + block * scan::kBlockSize,
                    static_cast<std::size_t>(scan::blockLength(byteCount, block)));
        if (report && reporting())
          PrintMessage("1110", name, wire::BoundedText(buffer, scan::kBlockSize).c_str());
        if (!wire::sendBytes(socket, buffer, scan::kBlockSize)) return sendFailed();
        std::memset(reply, 0, sizeof reply);
        if (!wire::receiveStrictAck(socket, reply)) return receiveFailed();
      }
      return 0;
    };
    if (int failed = sendBlocks(shiftData, true)) return failed;
    if (switchA != 0) {
      const unsigned char* bufferA = list.nextData();
      if (bufferA == nullptr) return kNoBuffer;
      if (int failed = sendBlocks(bufferA, false)) return failed;
    }
    if (switchB != 0) {
      const unsigned char* bufferB = list.nextData();
      if (bufferB == nullptr) return kNoBuffer;
      if (int failed = sendBlocks(bufferB, false)) return failed;
    }
  }

  // The broker's result decides, with the two switches, whether bytes come back.
  std::memset(reply, 0, sizeof reply);
  if (!wire::sendRequestToken(socket)) return sendFailed();
  const int resultLength = wire::receiveLoose(socket, reply);
  if (resultLength == 0) return receiveFailed();
  const int result = wire::leadingInt(reply, resultLength);
  if ((switchA & 1) == 0 || result < 0 || (shiftControl & kSkipReadBack) != 0) return result;

  tdoData.clear();
  if (!multiBlock) {
    // The reply buffer still holds the result text; a short read-back keeps its tail.
    const int received = wire::receiveLoose(socket, reply);
    if (received == 0) return wire::kReceiveFailed;
    tdoData.append(reply, static_cast<std::size_t>(byteCount));
    return received;
  }
  for (int block = 0; block < blockCount; ++block) {
    std::memset(reply, 0, sizeof reply);
    const int received = wire::receiveLoose(socket, reply);
    if (received == 0 || reply[0] != '+') return receiveFailed();
    tdoData.append(reply, static_cast<std::size_t>(received));
    if (!wire::sendRequestToken(socket)) return sendFailed();
  }
  return 2;  // the length of the last request token
}
