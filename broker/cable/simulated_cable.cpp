#include "broker/cable/simulated_cable.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <utility>

#include "broker/cable/bits.h"

namespace broker {
namespace {

bool sameWord(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) ==
                  std::toupper(static_cast<unsigned char>(y));
         });
}

}  // namespace

SimulatedCable::SimulatedCable(CableContext context)
    : context_(std::move(context)),
      chain_(context_.chain),
      flash_(context_.flash.nor, kFlashSector),
      eeprom_(kEepromBusAddress, kEepromSize),
      spiFlash_(context_.flash.spi) {}

bool SimulatedCable::openCable(const std::string& cable, const std::string& port,
                               const std::array<int, 10>& settings) {
  // "none" stands for a cable that is not plugged in, so that a refusal can be tried.
  if (cable == "none") {
    cableOpen_ = false;
    return false;
  }
  cableOpen_ = true;
  cableName_ = cable.empty() ? "SIM-USB" : cable;
  portName_ = port;
  settings_ = settings;
  if (settings[0] > 0) setTck(settings[0]);
  return true;
}

bool SimulatedCable::openSession() {
  sessionOpen_ = cableOpen_;
  return sessionOpen_;
}

Outcome SimulatedCable::registerApplications(std::vector<std::string> names) {
  applications_ = std::move(names);
  return Outcome::withList(static_cast<int>(applications_.size()), applications_);
}

void SimulatedCable::resetTap() {
  for (int i = 0; i < 5; ++i) chain_.clock(true, false);
}

int SimulatedCable::selectDevice(int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= chain_.size()) return -1;
  selected_ = static_cast<std::size_t>(index);
  return 0;
}

int SimulatedCable::deviceByName(const std::string& name) const {
  if (name.empty()) return static_cast<int>(selected_);
  for (std::size_t i = 0; i < chain_.size(); ++i) {
    if (sameWord(chain_.device(i).description().name, name)) return static_cast<int>(i);
  }
  return -1;
}

bool SimulatedCable::opcodeByName(std::size_t index, const std::string& name,
                                  std::uint32_t& opcode) const {
  const TapDevice& device = chain_.device(index);
  if (sameWord(name, "BYPASS")) {
    opcode = device.bypassOpcode();
  } else if (sameWord(name, "IDCODE") && device.description().hasIdcode) {
    opcode = device.description().idcodeOpcode;
  } else if (sameWord(name, "USER")) {
    opcode = device.description().userOpcode;
  } else {
    return false;
  }
  return true;
}

int SimulatedCable::setTck(long long kilohertz) {
  tckKilohertz_ = static_cast<int>(std::clamp(kilohertz, 1LL, 100000LL));
  return tckKilohertz_;
}

int SimulatedCable::clockInState(TapState state, int count) {
  if (count < 0 || count > kMaxClocks) return -1;
  chain_.moveTo(state);
  for (int i = 0; i < count; ++i) chain_.clock(false, false);
  return 0;
}

void SimulatedCable::shift(int shiftControl, int bitCount, const std::vector<std::uint8_t>& tdi,
                           std::vector<std::uint8_t>& tdo) {
  tdo.assign(tdi.size(), 0);
  const std::size_t bits = std::min<std::size_t>(
      bitCount > 0 ? static_cast<std::size_t>(bitCount) : 0, tdi.size() * 8);
  if (shiftControl & kTmsBits) {
    chain_.clockTms(tdi.data(), tdo.data(), bits);
    return;
  }
  const bool instruction = shiftControl & kInstructionScan;
  const TapState end = !(shiftControl & kEndInPause) ? TapState::RunTestIdle
                       : instruction                 ? TapState::PauseIr
                                                     : TapState::PauseDr;
  chain_.scan(instruction, tdi.data(), tdo.data(), bits, end);
  if (bits > 0 && end == TapState::RunTestIdle) clockInState(end, idleClocks_);
}

bool SimulatedCable::pumpFits(int byteCount) const {
  return byteCount >= 0 && flashAddress_ + static_cast<std::size_t>(byteCount) <= flash_.size();
}

bool SimulatedCable::pumpModeKnown(int mode) {
  return mode == kPumpProgram || mode == kPumpRead || mode == kPumpVerify;
}

int SimulatedCable::pump(int mode, const std::vector<std::uint8_t>& data,
                         std::vector<std::uint8_t>& readBack) {
  std::size_t result = 0;
  if (mode == kPumpProgram) result = flash_.program(flashAddress_, data.data(), data.size());
  if (mode == kPumpVerify) result = flash_.compare(flashAddress_, data.data(), data.size());
  readBack.resize(data.size());
  flash_.read(flashAddress_, readBack.data(), data.size());
  flashAddress_ += data.size();
  return static_cast<int>(result);
}

int SimulatedCable::i2cWrite(int offset, std::uint8_t addressByte,
                             const std::vector<std::uint8_t>& data) {
  if (!eeprom_.selectedBy(addressByte)) return -1;
  return eeprom_.write(static_cast<std::uint32_t>(offset), data.data(), data.size()) ? 0 : -2;
}

int SimulatedCable::i2cRead(int offset, std::uint8_t addressByte, std::size_t length,
                            std::vector<std::uint8_t>& out) {
  // Nobody drives the bus for an address that no device answers: it reads high.
  out.assign(length, 0xFF);
  if (!eeprom_.selectedBy(addressByte)) return -1;
  eeprom_.read(static_cast<std::uint32_t>(offset), out.data(), length);
  return 0;
}

int SimulatedCable::spiTransfer(int chipSelect, int flags, const std::uint8_t* mosi,
                                std::size_t length, std::vector<std::uint8_t>& miso) {
  miso.assign(length, 0xFF);
  if (chipSelect != 0) return -1;
  for (std::size_t i = 0; i < length; ++i) miso[i] = spiFlash_.exchange(mosi ? mosi[i] : 0xFF);
  if (!(flags & kSpiKeepSelected)) spiFlash_.deselect();
  return 0;
}

Outcome SimulatedCable::scanIdentifications() {
  // What a tool does to discover a chain: reset, then read the data registers with ones
  // going in. A device with an IDCODE shows a 1 first and 32 bits; one in BYPASS a 0.
  resetTap();
  const std::size_t bits = 32 * chain_.size();
  std::vector<std::uint8_t> ones(bits / 8 + 1, 0xFF);
  std::vector<std::uint8_t> tdo(ones.size(), 0);
  chain_.scan(false, ones.data(), tdo.data(), bits, TapState::RunTestIdle);
  std::vector<std::string> found;
  std::size_t at = 0;
  while (found.size() < chain_.size() && at < bits) {
    if (!bitAt(tdo.data(), at)) {
      found.emplace_back("bypass");
      ++at;
      continue;
    }
    std::uint32_t idcode = 0;
    for (int bit = 0; bit < 32 && at < bits; ++bit, ++at) {
      if (bitAt(tdo.data(), at)) idcode |= 1u << bit;
    }
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", idcode);
    found.emplace_back(text);
  }
  return Outcome::withList(static_cast<int>(found.size()), found);
}

}  // namespace broker
