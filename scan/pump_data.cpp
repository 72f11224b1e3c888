// Command 42: data pushed to the broker in blocks, optionally taken back into tdoData.
#include <cstring>

#include "protocol/wire.h"
#include "scan/argument_cursor.h"
#include "scan/scan_blocks.h"
#include "tapbroker_client.h"

int Client::sendPumpData(SOCKET& socket, va_list args) {
  const char* name = clientName.c_str();
  PrintMessage("1112", name);

  scan::ArgumentCursor list(args);
  const unsigned char* shiftData = list.nextData();
  const int bitCount = list.nextInt();
  const int middleWord = list.nextInt();
  const int readBack = list.nextInt();
  const int byteCount = scan::bytesForBits(bitCount);
  // Send refuses these first; a negative length must never reach a copy or a send.
  if (byteCount < 0) return -1025;

  auto sendFailed = [&] {
    PrintMessage("1043", name, name);
    return wire::kSendFailed;
  };
  auto receiveFailed = [&] {
    PrintMessage("1045", name, name);
    return wire::kReceiveFailed;
  };

  char token[wire::kBufferSize];
  char outgoing[scan::kBlockSize];
  char incoming[scan::kBlockSize];
  for (int value : {bitCount, middleWord, readBack}) {
    if (!wire::sendIntToken(socket, value, token)) return sendFailed();
    PrintMessage("1044", name, token);
    std::memset(token, 0, sizeof token);
    if (!wire::receiveStrictAck(socket, token)) return receiveFailed();
  }

  auto sendBlock = [&](int block, int length) {
    std::memset(outgoing, 0, sizeof outgoing);
    if (length > 0)
      std::memcpy(outgoing, shiftData + block * scan::kBlockSize,
                  static_cast<std::size_t>(length));
    if (reporting())
      PrintMessage("1110", name, wire::BoundedText(outgoing, sizeof outgoing).c_str());
    return wire::sendBytes(socket, outgoing, length);
  };

  if (!scan::isMultiBlock(byteCount)) {
    tdoData.clear();
    std::memset(incoming, 0, sizeof incoming);
    if (!sendBlock(0, byteCount)) return sendFailed();
    // The token buffer still holds the last header acknowledgement.
    PrintMessage("1044", name, token);
    // The answer to the data is the read-back; its first byte is not a verdict.
    if (wire::receiveLoose(socket, incoming) == 0) return receiveFailed();
    if (readBack != 0) tdoData.append(incoming, static_cast<std::size_t>(byteCount));
    return 0;
  }

  const int blockCount = scan::blocksForBytes(byteCount);
  for (int block = 0; block < blockCount; ++block) {
    if (!sendBlock(block, scan::blockLength(byteCount, block))) return sendFailed();
    std::memset(incoming, 0, sizeof incoming);
    if (!wire::receiveStrictAck(socket, incoming)) return receiveFailed();
  }
  if (readBack == 0) {
    std::memset(incoming, 0, sizeof incoming);
    return wire::receiveStrictAck(socket, incoming) ? 0 : receiveFailed();
  }
  tdoData.clear();
  for (int block = 0; block < blockCount; ++block) {
    std::memset(incoming, 0, sizeof incoming);
    const int received = wire::receiveLoose(socket, incoming);
    if (received == 0 || incoming[0] != '+') return receiveFailed();
    tdoData.append(incoming, static_cast<std::size_t>(received));
    if (!wire::sendRequestToken(socket)) return sendFailed();
  }
  return 0;
}
