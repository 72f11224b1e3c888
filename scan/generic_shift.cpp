// The generic shift of command 19: four header tokens, the shift data at its exact length,
// and the read-back, with no result exchange of its own.
#include <cstring>

#include "protocol/wire.h"
#include "scan/argument_cursor.h"
#include "scan/scan_blocks.h"
#include "tapbroker_client.h"

namespace {

constexpr int kNoShiftData = -1020;
constexpr int kArgumentRefused = -1025;

}  // namespace

int Client::sendShiftargs(SOCKET socket, va_list args) {
  scan::ArgumentCursor list(args);
  const int shiftControl = list.nextInt();
  const int bitCount = list.nextInt();
  const int readBack = list.nextInt();
  const unsigned char* shiftData = list.nextData();
  const int byteCount = scan::bytesForBits(bitCount);
  // Send refuses these first; a negative length must never reach a copy or a send.
  if (byteCount < 0) return kArgumentRefused;

  const char* name = clientName.c_str();
  auto sendFailed = [&] {
    PrintMessage("1037", name, name);
    return wire::kSendFailed;
  };
  auto receiveFailed = [&] {
    PrintMessage("1038", name, name);
    return wire::kReceiveFailed;
  };

  if (reporting()) PrintMessage("1111", name, wire::BoundedText(shiftData, byteCount).c_str());
  if (shiftData == nullptr) return kNoShiftData;
  PrintMessage("1102", name);

  char buffer[scan::kBlockSize];
  char reply[scan::kBlockSize];
  for (int value : {shiftControl, bitCount, byteCount, readBack}) {
    if (!wire::sendIntToken(socket, value, buffer)) return sendFailed();
    std::memset(reply, 0, sizeof reply);
    if (!wire::receiveStrictAck(socket, reply)) return receiveFailed();
  }

  if (!scan::isMultiBlock(byteCount)) {
    tdoData.clear();
    std::memset(buffer, 0, sizeof buffer);
    std::memset(reply, 0, sizeof reply);
    if (byteCount > 0) std::memcpy(buffer, shiftData, static_cast<std::size_t>(byteCount));
    // Exactly the data: an empty shift is a send of 0 bytes, which fails.
    if (!wire::sendBytes(socket, buffer, byteCount)) return sendFailed();
    if (reporting()) PrintMessage("1041", name, wire::BoundedText(reply, sizeof reply).c_str());
    // The broker's answer to the data is the read-back itself.
    if (wire::receiveLoose(socket, reply) == 0) return receiveFailed();
    if (readBack != 0 && byteCount > 0)
      tdoData.append(reply, static_cast<std::size_t>(byteCount));
    return 0;
  }

  const int blockCount = scan::blocksForBytes(byteCount);
  for (int block = 0; block < blockCount; ++block) {
    const int length = scan::blockLength(byteCount, block);
    std::memset(buffer, 0, sizeof buffer);
    std::memcpy(buffer, shiftData + block * scan::kBlockSize, static_cast<std::size_t>(length));
    if (!wire::sendBytes(socket, buffer, length)) return sendFailed();
    std::memset(reply, 0, sizeof reply);
    if (!wire::receiveStrictAck(socket, reply)) return receiveFailed();
  }
  if (readBack == 0) {
    std::memset(reply, 0, sizeof reply);
    return wire::receiveStrictAck(socket, reply) ? 0 : receiveFailed();
  }
  tdoData.clear();
  for (int block = 0; block < blockCount; ++block) {
    std::memset(reply, 0, sizeof reply);
    const int received = wire::receiveLoose(socket, reply);
    if (received == 0) return receiveFailed();
    tdoData.append(reply, static_cast<std::size_t>(received));
    if (!wire::sendRequestToken(socket)) return sendFailed();
  }
  return 0;
}
