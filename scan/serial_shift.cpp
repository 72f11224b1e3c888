// The I2C and SSPI shifts of commands 46 to 48 and 50 to 52: one algorithm, with what
// differs between the two buses held as data.
#include <cstring>

#include "protocol/wire.h"
#include "scan/argument_cursor.h"
#include "scan/scan_blocks.h"
#include "tapbroker_client.h"

struct Client::SerialShiftProfile {
  // I2C carries a header byte (bit-mirrored, low 8 bits of its slot) after the leading word.
  bool headerByte;
  // I2C mirrors every data byte it sends; read-back bytes are stored as received.
  bool mirrorsData;
  // I2C refuses a multi-block read-back block that does not begin with "+".
  bool checksReadBlocks;
  const char* entryId;
  const char* tokenSentId;
  // SSPI reports the token text after each header token, I2C the client name twice.
  bool tokenSentShowsText;
  // Reported with the block before each data send; null: no such report.
  const char* blockId;
  const char* dataSentId;
  const char* sendFailedId;
  const char* receiveFailedId;
};

// The whole of what differs between the two buses.
int Client::sendI2CShiftargs(SOCKET& socket, int writeFlag, int readFlag, va_list args) {
  static const SerialShiftProfile i2c{
      .headerByte = true,
      .mirrorsData = true,
      .checksReadBlocks = true,
      .entryId = "1114",
      .tokenSentId = "1050",
      .tokenSentShowsText = false,
      .blockId = nullptr,
      .dataSentId = "1050",
      .sendFailedId = "1049",
      .receiveFailedId = "1051",
  };
  return sendSerialShift(i2c, socket, writeFlag, readFlag, args);
}

int Client::sendSSPIShiftargs(SOCKET& socket, int writeFlag, int readFlag, va_list args) {
  static const SerialShiftProfile sspi{
      .headerByte = false,
      .mirrorsData = false,
      .checksReadBlocks = false,
      .entryId = "1113",
      .tokenSentId = "1047",
      .tokenSentShowsText = true,
      .blockId = "1110",
      .dataSentId = "1047",
      .sendFailedId = "1046",
      .receiveFailedId = "1048",
  };
  return sendSerialShift(sspi, socket, writeFlag, readFlag, args);
}

int Client::sendSerialShift(const SerialShiftProfile& profile, SOCKET& socket, int writeFlag,
                            int readFlag, va_list args) {
  const char* name = clientName.c_str();
  PrintMessage(profile.entryId, name);

  scan::ArgumentCursor list(args);
  int header[4];
  int headerCount = 0;
  header[headerCount++] = list.nextInt();
  if (profile.headerByte)
    header[headerCount++] = scan::mirrored(static_cast<unsigned char>(list.nextInt() & 0xFF));
  const int bitCount = list.nextInt();
  header[headerCount++] = bitCount;
  const unsigned char* shiftData = list.nextData();
  header[headerCount++] = list.nextInt();
  const int byteCount = scan::bytesForBits(bitCount);
  // Send refuses these first; a negative length must never reach a copy or a send.
  if (byteCount < 0) return -1025;

  auto sendFailed = [&] {
    PrintMessage(profile.sendFailedId, name, name);
    return wire::kSendFailed;
  };
  auto receiveFailed = [&] {
    PrintMessage(profile.receiveFailedId, name, name);
    return wire::kReceiveFailed;
  };

  char token[wire::kBufferSize];
  char outgoing[scan::kBlockSize];
  char incoming[scan::kBlockSize];
  for (int i = 0; i < headerCount; ++i) {
    if (!wire::sendIntToken(socket, header[i], token)) return sendFailed();
    PrintMessage(profile.tokenSentId, name, profile.tokenSentShowsText ? token : name);
    std::memset(token, 0, sizeof token);
    if (!wire::receiveStrictAck(socket, token)) return receiveFailed();
  }

  const bool multiBlock = scan::isMultiBlock(byteCount);
  const int blockCount = scan::blocksForBytes(byteCount);
  // Block `block` of the data into the zeroed outgoing buffer, reported where the bus
  // reports it, and sent at its own length.
  auto sendBlock = [&](int block, int length) {
    std::memset(outgoing, 0, sizeof outgoing);
    const unsigned char* from = shiftData + block * scan::kBlockSize;
    for (int i = 0; i < length; ++i)
      outgoing[i] = static_cast<char>(profile.mirrorsData ? scan::mirrored(from[i]) : from[i]);
    if (profile.blockId != nullptr && reporting())
      PrintMessage(profile.blockId, name, wire::BoundedText(outgoing, sizeof outgoing).c_str());
    return wire::sendBytes(socket, outgoing, length);
  };

  if (writeFlag != 0) {
    if (!multiBlock) {
      std::memset(incoming, 0, sizeof incoming);
      if (!sendBlock(0, byteCount)) return sendFailed();
      PrintMessage(profile.dataSentId, name, name);
    } else {
      for (int block = 0; block < blockCount; ++block) {
        if (!sendBlock(block, scan::blockLength(byteCount, block))) return sendFailed();
        std::memset(incoming, 0, sizeof incoming);
        if (!wire::receiveStrictAck(socket, incoming)) return receiveFailed();
      }
    }
  }

  if (readFlag == 0) {
    std::memset(incoming, 0, sizeof incoming);
    return wire::receiveStrictAck(socket, incoming) ? 0 : receiveFailed();
  }
  tdoData.clear();
  if (!multiBlock) {
    // Exactly byteCount bytes: zeros where fewer arrived, nothing beyond.
    std::memset(incoming, 0, sizeof incoming);
    if (wire::receiveLoose(socket, incoming) == 0) return receiveFailed();
    tdoData.append(incoming, static_cast<std::size_t>(byteCount));
    return 0;
  }
  for (int block = 0; block < blockCount; ++block) {
    std::memset(incoming, 0, sizeof incoming);
    const int received = wire::receiveLoose(socket, incoming);
    if (received == 0) return receiveFailed();
    if (profile.checksReadBlocks && incoming[0] != '+') return receiveFailed();
    tdoData.append(incoming, static_cast<std::size_t>(received));
    if (!wire::sendRequestToken(socket)) return sendFailed();
  }
  return 0;
}
