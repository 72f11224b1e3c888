// The data-carrying shifts: the generic shift (command 19), the pump (42), the I2C and
// SSPI shifts (46 to 48, 50 to 52) and the JTAG shift (interface function 12 of 44).

#include "protocol/argument_cursor.h"
#include "protocol/wire.h"
#include "results/codes.h"
#include "scan/blocks.h"
#include "scan/scan_runs.h"

namespace tapbroker::scan {
namespace {

// Bit of the JTAG shift's control word that tells the broker to skip the read-back.
constexpr int kSkipReadBack = 2;

struct SerialBus {
  BlockProfile profile;
  const char* entry;
  bool headerByte;  // a header byte (bit-mirrored, low 8 bits) follows the leading word
};

// clang-format off
//                                      send    receive token   text   block   pads   mirror +check
constexpr BlockProfile kGeneric{        "1037", "1038", nullptr, false, nullptr, false, false, false};
constexpr BlockProfile kPump{           "1043", "1045", "1044",  true,  "1110",  false, false, true};
constexpr BlockProfile kJtag{           "1039", "1040", nullptr, false, "1110",  true,  false, true};
constexpr SerialBus kI2C{{              "1049", "1051", "1050",  false, nullptr, false, true,  true},
                         "1114", true};
constexpr SerialBus kSSPI{{             "1046", "1048", "1047",  true,  "1110",  false, false, false},
                          "1113", false};
// clang-format on

// One pass of an I2C or SSPI shift.
int serialPass(const SerialBus& bus, protocol::CommandInProgress& x,
               const protocol::shapes::SerialPass& pass, protocol::ArgumentCursor& args) {
  x.report(bus.entry, x.name());
  const int word = args.nextInt();
  const int headerByte = bus.headerByte ? args.nextInt() : 0;
  const int bitCount = args.nextInt();
  const unsigned char* data = args.nextData();
  const int trailingWord = args.nextInt();
  const int byteCount = bytesForBits(bitCount);
  Blocks blocks(x, bus.profile, byteCount);
  int failed = bus.headerByte
                   ? blocks.header({word, mirrored(static_cast<unsigned char>(headerByte & 0xFF)),
                                    bitCount, trailingWord})
                   : blocks.header({word, bitCount, trailingWord});
  if (failed != 0) return failed;

  if (pass.writeFlag != 0) {
    if (blocks.multiBlock()) {
      if (int sendFailed = blocks.sendBlocks(data, true)) return sendFailed;
    } else {
      if (!blocks.sendSingle(data, 0, true)) return blocks.sendFailed();
      // A single block is not acknowledged: what comes next answers it.
      x.report(bus.profile.tokenSent, x.name(), x.name());
    }
  }
  if (pass.readFlag == 0) return blocks.strictAck();
  x.tdo().clear();
  if (blocks.multiBlock()) return blocks.readBlocks();
  return blocks.readSingle(true) == 0 ? blocks.receiveFailed() : 0;
}

int serialShift(const SerialBus& bus, protocol::CommandInProgress& x,
                const protocol::shapes::Command& command, protocol::ArgumentCursor& args) {
  int result = 0;
  for (int i = 0; i < command.count; ++i) {
    // Every pass reads the same arguments from a position of its own.
    protocol::ArgumentCursor passArguments = args.copy();
    result = serialPass(bus, x, command.passes[i], passArguments);
  }
  return result;
}

}  // namespace

int runGenericShift(protocol::CommandInProgress& x, const protocol::shapes::Command&,
                    protocol::ArgumentCursor& args) {
  const int shiftControl = args.nextInt();
  const int bitCount = args.nextInt();
  const int readBack = args.nextInt();
  const unsigned char* data = args.nextData();
  const int byteCount = bytesForBits(bitCount);
  if (byteCount < 0) return results::kArgumentRefused;
  if (x.reporting()) x.report("1111", x.name(), protocol::BoundedText(data, byteCount).c_str());
  if (data == nullptr) return results::kNoShiftData;
  x.report("1102", x.name());

  Blocks blocks(x, kGeneric, byteCount);
  if (int failed = blocks.header({shiftControl, bitCount, byteCount, readBack})) return failed;
  if (blocks.multiBlock()) return blocks.sendBlocksAndReadBack(data, false, readBack != 0);
  x.tdo().clear();
  // Exactly the data: an empty shift is a send of 0 bytes, which fails.
  if (!blocks.sendSingle(data, 0, false)) return blocks.sendFailed();
  x.report("1041", x.name(), "");  // the answer's buffer, still empty
  // The broker's answer to the data is the read-back itself.
  return blocks.readSingle(readBack != 0) == 0 ? blocks.receiveFailed() : 0;
}

int runPumpData(protocol::CommandInProgress& x, const protocol::shapes::Command&,
                protocol::ArgumentCursor& args) {
  x.report("1112", x.name());
  const unsigned char* data = args.nextData();
  const int bitCount = args.nextInt();
  const int mode = args.nextInt();
  const int readBack = args.nextInt();
  const int byteCount = bytesForBits(bitCount);
  Blocks blocks(x, kPump, byteCount);
  if (int failed = blocks.header({bitCount, mode, readBack})) return failed;
  if (blocks.multiBlock()) return blocks.sendBlocksAndReadBack(data, true, readBack != 0);
  x.tdo().clear();
  if (!blocks.sendSingle(data, 0, true)) return blocks.sendFailed();
  x.report("1044", x.name(), blocks.lastToken());  // still the last header acknowledgement
  // The answer to the data is the read-back; its first byte is not a verdict.
  return blocks.readSingle(readBack != 0) == 0 ? blocks.receiveFailed() : 0;
}

int runI2CShift(protocol::CommandInProgress& x, const protocol::shapes::Command& command,
                protocol::ArgumentCursor& args) {
  return serialShift(kI2C, x, command, args);
}

int runSSPIShift(protocol::CommandInProgress& x, const protocol::shapes::Command& command,
                 protocol::ArgumentCursor& args) {
  return serialShift(kSSPI, x, command, args);
}

int runJtagShift(protocol::CommandInProgress& x, protocol::ArgumentCursor& args) {
  const int shiftControl = args.nextInt();
  const int bitCount = args.nextInt();
  const int switchA = args.nextInt();
  const int switchB = args.nextInt();
  // The shift data, then buffer A and buffer B when their switches are on.
  const bool goesOut[3] = {true, switchA != 0, switchB != 0};
  const unsigned char* data[3] = {args.nextData(), nullptr, nullptr};
  for (int i = 1; i < 3; ++i)
    if (goesOut[i]) data[i] = args.nextData();
  const int byteCount = bytesForBits(bitCount);
  if (byteCount < 0) return results::kArgumentRefused;
  if (x.reporting())
    x.report("1111", x.name(), protocol::BoundedText(data[0], byteCount).c_str());
  if (data[0] == nullptr) return results::kNoShiftData;
  x.report("1103", x.name());

  Blocks blocks(x, kJtag, byteCount);
  if (int failed = blocks.header({shiftControl, bitCount, switchA, switchB})) return failed;
  if (!blocks.multiBlock()) x.tdo().clear();
  for (int i = 0; i < 3; ++i) {
    if (!goesOut[i]) continue;
    if (data[i] == nullptr) return results::kNoBuffer;
    if (blocks.multiBlock()) {
      // Only the shift data's blocks are reported.
      if (int failed = blocks.sendBlocks(data[i], i == 0)) return failed;
      continue;
    }
    // A single block goes out with a zero byte after it and is answered by any reply;
    // the reply buffer is reported as it stands before, except around buffer A.
    if (!blocks.sendSingle(data[i], 1, false)) return blocks.sendFailed();
    if (i != 1 && x.reporting())
      x.report("1042", x.name(),
               protocol::BoundedText(blocks.answer(), protocol::kBufferSize).c_str());
    if (blocks.receiveAnswer(false) == 0) return blocks.receiveFailed();
  }

  // The broker's result decides, with the two switches, whether bytes come back.
  if (!protocol::sendRequestToken(x.socket())) return blocks.sendFailed();
  const int resultLength = blocks.receiveAnswer();
  if (resultLength == 0) return blocks.receiveFailed();
  const int result = protocol::leadingInt(blocks.answer(), resultLength);
  if ((switchA & 1) == 0 || result < 0 || (shiftControl & kSkipReadBack) != 0) return result;

  x.tdo().clear();
  if (blocks.multiBlock()) {
    if (int failed = blocks.readBlocks()) return failed;
    return 2;  // the length of the last request token
  }
  // A single block's read-back lands on the result text, whose tail a short read-back
  // keeps; its failure is returned unreported.
  const int received = blocks.readSingle(true, false);
  return received == 0 ? results::kReceiveFailed : received;
}

}  // namespace tapbroker::scan
