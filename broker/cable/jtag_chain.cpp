#include "broker/cable/jtag_chain.h"

#include <algorithm>

#include "broker/cable/bits.h"

namespace broker {

JtagChain::JtagChain(const std::vector<DeviceDescription>& devices) {
  devices_.reserve(devices.size());
  for (const DeviceDescription& description : devices) devices_.emplace_back(description);
}

int JtagChain::totalIrLength() const {
  int total = 0;
  for (const TapDevice& device : devices_) total += device.description().irLength;
  return total;
}

bool JtagChain::shiftChain(bool tdi) {
  // TDI enters the device nearest it (the last); each passes its outgoing bit on.
  bool bit = tdi;
  for (auto device = devices_.rbegin(); device != devices_.rend(); ++device) {
    bit = device->shift(bit);
  }
  return bit;
}

bool JtagChain::clock(bool tms, bool tdi) {
  bool tdo = false;
  switch (state_) {
    case TapState::CaptureDr:
      for (TapDevice& device : devices_) device.captureDr();
      break;
    case TapState::CaptureIr:
      for (TapDevice& device : devices_) device.captureIr();
      break;
    case TapState::ShiftDr:
    case TapState::ShiftIr:
      tdo = shiftChain(tdi);
      break;
    default:
      break;
  }
  state_ = nextTapState(state_, tms);
  ++clocks_;
  switch (state_) {
    case TapState::UpdateDr:
      for (TapDevice& device : devices_) device.updateDr();
      break;
    case TapState::UpdateIr:
      for (TapDevice& device : devices_) device.updateIr();
      break;
    case TapState::TestLogicReset:
      for (TapDevice& device : devices_) device.reset();
      break;
    default:
      break;
  }
  return tdo;
}

void JtagChain::moveTo(TapState target) {
  for (bool tms : tmsPath(state_, target)) clock(tms, false);
}

void JtagChain::reset() {
  state_ = TapState::TestLogicReset;
  for (TapDevice& device : devices_) device.reset();
}

void JtagChain::scan(bool instruction, const std::uint8_t* tdi, std::uint8_t* tdo,
                     std::size_t bitCount, TapState end) {
  if (bitCount == 0) return;
  moveTo(instruction ? TapState::ShiftIr : TapState::ShiftDr);
  shiftMany(tdi, tdo, bitCount);
  // The last bit went with TMS high, into Exit1, where nothing acts.
  state_ = nextTapState(state_, true);
  moveTo(end);
}

void JtagChain::shiftMany(const std::uint8_t* tdi, std::uint8_t* tdo, std::size_t bitCount) {
  std::size_t length = 0;
  for (const TapDevice& device : devices_) length += static_cast<std::size_t>(device.shiftLength());
  // The stream that leaves at TDO: device 0's register first, then the next ones, then TDI.
  std::vector<std::uint8_t> registers(length / 8 + 1, 0);
  std::size_t position = 0;
  for (const TapDevice& device : devices_) {
    for (int bit = 0; bit < device.shiftLength(); ++bit) {
      setBitAt(registers.data(), position++, (device.shiftRegister() >> bit) & 1u);
    }
  }
  auto stream = [&](std::size_t k) {
    return k < length ? bitAt(registers.data(), k) : bitAt(tdi, k - length);
  };
  const std::size_t fromRegisters = std::min(bitCount, length);
  for (std::size_t k = 0; k < fromRegisters; ++k) setBitAt(tdo, k, stream(k));
  if (bitCount > length) copyBits(tdi, 0, tdo, length, bitCount - length);
  position = bitCount;
  for (TapDevice& device : devices_) {
    std::uint64_t bits = 0;
    for (int bit = 0; bit < device.shiftLength(); ++bit) {
      if (stream(position++)) bits |= std::uint64_t{1} << bit;
    }
    device.setShiftRegister(bits);
  }
  clocks_ += bitCount;
}

void JtagChain::clockTms(const std::uint8_t* tms, std::uint8_t* tdo, std::size_t bitCount) {
  for (std::size_t bit = 0; bit < bitCount; ++bit) {
    setBitAt(tdo, bit, clock(bitAt(tms, bit), false));
  }
}

void JtagChain::loadInstructions(const std::vector<std::uint32_t>& opcodes) {
  // The bits shifted in first travel furthest, to device 0 at the TDO end: the image
  // starts with device 0's opcode, least significant bit first.
  std::vector<std::uint8_t> image(static_cast<std::size_t>(totalIrLength() + 7) / 8 + 1, 0);
  std::size_t position = 0;
  for (std::size_t i = 0; i < devices_.size(); ++i) {
    for (int bit = 0; bit < devices_[i].description().irLength; ++bit) {
      setBitAt(image.data(), position++, (opcodes[i] >> bit) & 1u);
    }
  }
  std::vector<std::uint8_t> ignored(image.size(), 0);
  scan(true, image.data(), ignored.data(), position, TapState::RunTestIdle);
}

void JtagChain::loadInstruction(std::size_t index, std::uint32_t opcode) {
  std::vector<std::uint32_t> opcodes;
  for (std::size_t i = 0; i < devices_.size(); ++i) {
    opcodes.push_back(i == index ? opcode : devices_[i].bypassOpcode());
  }
  loadInstructions(opcodes);
}

void JtagChain::loadIdcode() {
  std::vector<std::uint32_t> opcodes;
  for (const TapDevice& device : devices_) {
    opcodes.push_back(device.description().hasIdcode ? device.description().idcodeOpcode
                                                     : device.bypassOpcode());
  }
  loadInstructions(opcodes);
}

}  // namespace broker
