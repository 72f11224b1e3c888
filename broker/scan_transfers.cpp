// The scan transfers of a session: shifts, pump data and the I2C and SPI transfers. Their
// lengths come from the bit count in their header, in the client's arithmetic: a single
// block up to 1024 bytes, beyond that blocks of 1024 bytes, each acknowledged.
#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

#include "broker/bits.h"
#include "broker/session.h"

namespace broker {
namespace {

bool singleBlock(int byteCount) { return byteCount <= kBlockSize; }

}  // namespace

void Session::genericShift() {
  int shiftControl = 0, bitCount = 0, byteCount = 0, announced = 0, readBack = 0;
  if (!takeInt(shiftControl, "shift control") ||
      !takeLength(bitCount, byteCount, "bit count") || !readInt(announced, "byte count")) {
    return setOutcome(Outcome::of(-1));
  }
  if (announced != byteCount) {
    refuse("byte count " + std::to_string(announced) + " does not match " +
           std::to_string(bitCount) + " bits");
    return setOutcome(Outcome::of(-1));
  }
  link_.acknowledge("acknowledged");
  if (!takeInt(readBack, "read-back switch")) return setOutcome(Outcome::of(-1));
  if (byteCount == 0) {
    // The client cannot send an empty block and gives up here.
    link_.trace().note(link_.id(), "empty shift: nothing follows");
    return setOutcome(Outcome::of(-1));
  }
  std::vector<std::uint8_t> tdi(static_cast<std::size_t>(byteCount));
  if (singleBlock(byteCount)) {
    link_.readExact(tdi.data(), tdi.size(), "shift data");
    // The one reply is also the read-back, whether the client keeps it or not.
    link_.send(cable_.shift(shiftControl, bitCount, tdi).data(), tdi.size(), "TDO");
  } else {
    receiveBlocks(tdi, false, "shift data");
    std::vector<std::uint8_t> tdo = cable_.shift(shiftControl, bitCount, tdi);
    if (readBack) {
      sendBlocks(std::move(tdo), false, "TDO");
    } else {
      link_.acknowledge("end of shift");
    }
  }
  setOutcome(Outcome::of(0));
}

void Session::jtagShift() {
  int shiftControl = 0, bitCount = 0, byteCount = 0, switchA = 0, switchB = 0;
  if (!takeInt(shiftControl, "shift control") ||
      !takeLength(bitCount, byteCount, "bit count") || !takeInt(switchA, "switch A") ||
      !takeInt(switchB, "switch B")) {
    return setOutcome(Outcome::of(-1));
  }
  // The shift data, then the compare mask (switch A) and the expected TDO (switch B).
  const std::size_t length = static_cast<std::size_t>(byteCount);
  std::vector<std::uint8_t> tdi(length), mask(length), expected(length);
  std::vector<std::pair<std::vector<std::uint8_t>*, const char*>> buffers{{&tdi, "shift data"}};
  if (switchA) buffers.emplace_back(&mask, "compare mask");
  if (switchB) buffers.emplace_back(&expected, "expected TDO");
  for (auto& [buffer, name] : buffers) {
    if (singleBlock(byteCount)) {
      // A single block travels with one zero byte after it.
      std::vector<std::uint8_t> block(length + 1);
      link_.readExact(block.data(), block.size(), name);
      std::copy_n(block.begin(), length, buffer->begin());
      link_.acknowledge("reply");
    } else {
      receiveBlocks(*buffer, true, name);
    }
  }
  std::vector<std::uint8_t> tdo = cable_.shift(shiftControl, bitCount, tdi);
  const std::size_t bits = bitCount > 0 ? static_cast<std::size_t>(bitCount) : 0;
  const int result =
      switchB ? static_cast<int>(differingBits(tdo.data(), expected.data(),
                                               switchA ? mask.data() : nullptr, bits))
              : 0;
  link_.readRequest("request for the shift result");
  // The result fills the client's whole receive buffer, so that the read-back which follows
  // at once cannot arrive in the same receive.
  std::array<char, kBlockSize> text{};
  std::snprintf(text.data(), text.size(), "%d", result);
  link_.send(text.data(), text.size(), "shift result (mismatching bits), padded to 1024 bytes");
  const bool readBack =
      (switchA & 1) && result >= 0 && !(shiftControl & SimulatedCable::kNoReadBack);
  if (readBack) {
    if (singleBlock(byteCount)) {
      sendReadBack(tdo, "TDO");
    } else {
      sendBlocks(std::move(tdo), true, "TDO");
    }
  }
  setOutcome(Outcome::of(result));
}

void Session::pumpData() {
  int bitCount = 0, byteCount = 0, mode = 0, readBack = 0;
  if (!readInt(bitCount, "bit count")) return setOutcome(Outcome::of(-1));
  byteCount = bytesForBits(bitCount);
  if (byteCount < 0 || byteCount > SimulatedCable::kMaxTransferBytes ||
      !cable_.pumpFits(byteCount)) {
    refuse(std::to_string(bitCount) + " bits do not fit the flash from address " +
           std::to_string(cable_.flashAddress()));
    return setOutcome(Outcome::of(-1));
  }
  link_.acknowledge("acknowledged");
  if (!readInt(mode, "pump mode")) return setOutcome(Outcome::of(-1));
  if (!SimulatedCable::pumpModeKnown(mode)) {
    refuse("pump mode " + std::to_string(mode) + " is unknown");
    return setOutcome(Outcome::of(-1));
  }
  link_.acknowledge("acknowledged");
  if (!takeInt(readBack, "read-back switch")) return setOutcome(Outcome::of(-1));
  if (byteCount == 0) {
    link_.trace().note(link_.id(), "empty pump: nothing follows");
    return setOutcome(Outcome::of(-1));
  }
  std::vector<std::uint8_t> data(static_cast<std::size_t>(byteCount)), back;
  if (singleBlock(byteCount)) {
    link_.readExact(data.data(), data.size(), "pump data");
    const int result = cable_.pump(mode, data, back);
    if (readBack) {
      link_.send(back.data(), back.size(), "flash content");
    } else {
      link_.acknowledge("reply");
    }
    return setOutcome(Outcome::of(result));
  }
  receiveBlocks(data, false, "pump data");
  const int result = cable_.pump(mode, data, back);
  if (readBack) {
    sendBlocks(std::move(back), true, "flash content");
  } else {
    link_.acknowledge("end of pump");
  }
  setOutcome(Outcome::of(result));
}

void Session::busTransfers(const CommandRow& row) {
  // Every transfer of the command runs, whatever became of the one before.
  int result = 0;
  for (int i = 0; i < row.phaseCount; ++i) {
    result = row.shape == Shape::I2c ? i2cTransfer(row.phases[i]) : sspiTransfer(row.phases[i]);
  }
  setOutcome(Outcome::of(result));
}

int Session::i2cTransfer(BusPhase phase) {
  int offset = 0, header = 0, bitCount = 0, byteCount = 0, trailing = 0;
  if (!takeInt(offset, "memory address") || !readInt(header, "address byte (mirrored)")) {
    return -1;
  }
  if (header < 0 || header > 255) {
    refuse("address byte " + std::to_string(header) + " is outside 0 to 255");
    return -1;
  }
  link_.acknowledge("acknowledged");
  if (!takeLength(bitCount, byteCount, "bit count") || !takeInt(trailing, "trailing word")) {
    return -1;
  }
  // The client mirrors the address byte and the data bytes; the broker puts them back.
  const std::uint8_t addressByte = mirrorByte(static_cast<std::uint8_t>(header));
  const std::size_t length = static_cast<std::size_t>(byteCount);
  int result = 0;
  if (phase.write) {
    if (length == 0) {
      link_.trace().note(link_.id(), "empty write: nothing follows");
      return -1;
    }
    std::vector<std::uint8_t> data(length);
    if (singleBlock(byteCount)) {
      link_.readExact(data.data(), length, "data (mirrored)");
    } else {
      receiveBlocks(data, false, "data (mirrored)");
    }
    for (std::uint8_t& byte : data) byte = mirrorByte(byte);
    result = cable_.i2cWrite(offset, addressByte, data);
  }
  if (!phase.read) {
    link_.acknowledge("end of transfer");
    return result;
  }
  std::vector<std::uint8_t> back;
  const int readResult = cable_.i2cRead(offset, addressByte, length, back);
  if (result == 0) result = readResult;
  if (singleBlock(byteCount)) {
    sendReadBack(back, "bytes read");
  } else {
    sendBlocks(std::move(back), true, "bytes read");
  }
  return result;
}

int Session::sspiTransfer(BusPhase phase) {
  int chipSelect = 0, bitCount = 0, byteCount = 0, flags = 0;
  if (!takeInt(chipSelect, "chip select") || !takeLength(bitCount, byteCount, "bit count") ||
      !takeInt(flags, "transfer flags")) {
    return -1;
  }
  const std::size_t length = static_cast<std::size_t>(byteCount);
  std::vector<std::uint8_t> mosi;
  if (phase.write) {
    if (length == 0) {
      link_.trace().note(link_.id(), "empty write: nothing follows");
      return -1;
    }
    mosi.resize(length);
    if (singleBlock(byteCount)) {
      link_.readExact(mosi.data(), length, "MOSI bytes");
    } else {
      receiveBlocks(mosi, false, "MOSI bytes");
    }
  }
  std::vector<std::uint8_t> miso;
  const int result =
      cable_.spiTransfer(chipSelect, flags, phase.write ? mosi.data() : nullptr, length, miso);
  if (!phase.read) {
    link_.acknowledge("end of transfer");
  } else if (singleBlock(byteCount)) {
    sendReadBack(miso, "MISO bytes");
  } else {
    sendBlocks(std::move(miso), false, "MISO bytes");
  }
  return result;
}

}  // namespace broker
