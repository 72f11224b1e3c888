// The scan transfers of a session: shifts, pump data and the I2C and SPI transfers. Their
// lengths come from the bit count in their header, in the client's arithmetic: a single
// block up to 1024 bytes, beyond that blocks of 1024 bytes, each acknowledged.
#include <array>
#include <cstdio>
#include <utility>

#include "broker/cable/bits.h"
#include "broker/serving/session.h"

namespace broker {
namespace {

bool singleBlock(int byteCount) { return byteCount <= kBlockSize; }

}  // namespace

asio::awaitable<int> Session::genericShift() {
  int shiftControl = 0, bitCount = 0, byteCount = 0, announced = 0, readBack = 0;
  bool taken = co_await takeInt(shiftControl, "shift control");
  if (taken) taken = co_await takeLength(bitCount, byteCount, "bit count");
  if (taken) taken = co_await readInt(announced, "byte count");
  if (!taken) co_return -1;
  if (announced != byteCount) {
    co_await refuse("byte count " + std::to_string(announced) + " does not match " +
                    std::to_string(bitCount) + " bits");
    co_return -1;
  }
  co_await link_.acknowledge("acknowledged");
  taken = co_await takeInt(readBack, "read-back switch");
  if (!taken) co_return -1;
  if (byteCount == 0) {
    // The client cannot send an empty block and gives up here.
    link_.trace().note(link_.id(), "empty shift: nothing follows");
    co_return -1;
  }
  co_await receiveData(data_, static_cast<std::size_t>(byteCount), false, "shift data");
  cable_.shift(shiftControl, bitCount, data_, back_);
  // A single block's one reply is also the read-back, whether the client keeps it or not.
  if (readBack || singleBlock(byteCount)) {
    co_await sendReadBack(back_, false, "TDO");
  } else {
    co_await link_.acknowledge("end of shift");
  }
  co_return 0;
}

asio::awaitable<int> Session::jtagShift() {
  int shiftControl = 0, bitCount = 0, byteCount = 0, switchA = 0, switchB = 0;
  bool taken = co_await takeInt(shiftControl, "shift control");
  // Beside the data and read-back, the compare mask and the expected TDO may come.
  if (taken) taken = co_await takeLength(bitCount, byteCount, "bit count", 2);
  if (taken) taken = co_await takeInt(switchA, "switch A");
  if (taken) taken = co_await takeInt(switchB, "switch B");
  if (!taken) co_return -1;
  // The shift data, then the compare mask (switch A) and the expected TDO (switch B).
  const std::size_t length = static_cast<std::size_t>(byteCount);
  std::vector<std::uint8_t> mask, expected;
  co_await receiveData(data_, length, true, "shift data");
  if (switchA) co_await receiveData(mask, length, true, "compare mask");
  if (switchB) co_await receiveData(expected, length, true, "expected TDO");
  cable_.shift(shiftControl, bitCount, data_, back_);
  const std::size_t bits = bitCount > 0 ? static_cast<std::size_t>(bitCount) : 0;
  const int result =
      switchB ? static_cast<int>(differingBits(back_.data(), expected.data(),
                                               switchA ? mask.data() : nullptr, bits))
              : 0;
  co_await link_.readRequest("request for the shift result");
  // The result fills the client's whole receive buffer, so that the read-back which follows
  // at once cannot arrive in the same receive.
  std::array<char, kBlockSize> text{};
  std::snprintf(text.data(), text.size(), "%d", result);
  co_await link_.send(text.data(), text.size(),
                      "shift result (mismatching bits), padded to 1024 bytes");
  if ((switchA & 1) && result >= 0 && !(shiftControl & SimulatedCable::kNoReadBack)) {
    co_await sendReadBack(back_, true, "TDO");
  }
  co_return result;
}

asio::awaitable<int> Session::pumpData() {
  int bitCount = 0, mode = 0, readBack = 0;
  bool taken = co_await readInt(bitCount, "bit count");
  if (!taken) co_return -1;
  const int byteCount = bytesForBits(bitCount);
  if (!cable_.pumpFits(byteCount)) {
    co_await refuse(std::to_string(bitCount) + " bits do not fit the flash from address " +
                    std::to_string(cable_.flashAddress()));
    co_return -1;
  }
  if (!claim(byteCount, 0)) {
    co_await refuse(budgetSpent(byteCount, 0));
    co_return -1;
  }
  co_await link_.acknowledge("acknowledged");
  taken = co_await readInt(mode, "pump mode");
  if (!taken) co_return -1;
  if (!SimulatedCable::pumpModeKnown(mode)) {
    co_await refuse("pump mode " + std::to_string(mode) + " is unknown");
    co_return -1;
  }
  co_await link_.acknowledge("acknowledged");
  taken = co_await takeInt(readBack, "read-back switch");
  if (!taken) co_return -1;
  if (byteCount == 0) {
    link_.trace().note(link_.id(), "empty pump: nothing follows");
    co_return -1;
  }
  co_await receiveData(data_, static_cast<std::size_t>(byteCount), false, "pump data");
  const int result = cable_.pump(mode, data_, back_);
  if (readBack) {
    co_await sendReadBack(back_, true, "flash content");
  } else {
    co_await link_.acknowledge(singleBlock(byteCount) ? "reply" : "end of pump");
  }
  co_return result;
}

asio::awaitable<int> Session::busTransfers(const CommandRow& row) {
  // Every transfer of the command runs, whatever became of the one before.
  int result = 0;
  for (int i = 0; i < row.phaseCount; ++i) {
    if (row.shape == Shape::I2c) {
      result = co_await i2cTransfer(row.phases[i]);
    } else {
      result = co_await sspiTransfer(row.phases[i]);
    }
  }
  co_return result;
}

asio::awaitable<int> Session::i2cTransfer(BusPhase phase) {
  int offset = 0, header = 0, bitCount = 0, byteCount = 0, trailing = 0;
  bool taken = co_await takeInt(offset, "memory address");
  if (taken) taken = co_await readInt(header, "address byte (mirrored)");
  if (!taken) co_return -1;
  if (header < 0 || header > 255) {
    co_await refuse("address byte " + std::to_string(header) + " is outside 0 to 255");
    co_return -1;
  }
  co_await link_.acknowledge("acknowledged");
  taken = co_await takeLength(bitCount, byteCount, "bit count");
  if (taken) taken = co_await takeInt(trailing, "trailing word");
  if (!taken) co_return -1;
  // The client mirrors the address byte and the data bytes; the broker puts them back.
  const std::uint8_t addressByte = mirrorByte(static_cast<std::uint8_t>(header));
  const std::size_t length = static_cast<std::size_t>(byteCount);
  int result = 0;
  if (phase.write) {
    if (length == 0) {
      link_.trace().note(link_.id(), "empty write: nothing follows");
      co_return -1;
    }
    co_await receiveData(data_, length, false, "data (mirrored)");
    for (std::uint8_t& byte : data_) byte = mirrorByte(byte);
    result = cable_.i2cWrite(offset, addressByte, data_);
  }
  if (!phase.read) {
    co_await link_.acknowledge("end of transfer");
    co_return result;
  }
  const int readResult = cable_.i2cRead(offset, addressByte, length, back_);
  if (result == 0) result = readResult;
  co_await sendReadBack(back_, true, "bytes read");
  co_return result;
}

asio::awaitable<int> Session::sspiTransfer(BusPhase phase) {
  int chipSelect = 0, bitCount = 0, byteCount = 0, flags = 0;
  bool taken = co_await takeInt(chipSelect, "chip select");
  if (taken) taken = co_await takeLength(bitCount, byteCount, "bit count");
  if (taken) taken = co_await takeInt(flags, "transfer flags");
  if (!taken) co_return -1;
  const std::size_t length = static_cast<std::size_t>(byteCount);
  if (phase.write) {
    if (length == 0) {
      link_.trace().note(link_.id(), "empty write: nothing follows");
      co_return -1;
    }
    co_await receiveData(data_, length, false, "MOSI bytes");
  }
  const int result = cable_.spiTransfer(chipSelect, flags, phase.write ? data_.data() : nullptr,
                                        length, back_);
  if (phase.read) {
    co_await sendReadBack(back_, false, "MISO bytes");
  } else {
    co_await link_.acknowledge("end of transfer");
  }
  co_return result;
}

}  // namespace broker
