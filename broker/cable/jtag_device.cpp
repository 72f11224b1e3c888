#include "broker/cable/jtag_device.h"

#include <utility>

namespace broker {

TapDevice::TapDevice(DeviceDescription description) : description_(std::move(description)) {
  reset();
}

std::uint32_t TapDevice::irMask() const {
  return description_.irLength >= 32 ? 0xFFFFFFFFu : (1u << description_.irLength) - 1u;
}

TapDevice::Register TapDevice::selected() const {
  if (description_.hasIdcode && instruction_ == description_.idcodeOpcode)
    return Register::Idcode;
  if (instruction_ == description_.userOpcode) return Register::User;
  return Register::Bypass;
}

int TapDevice::dataRegisterLength() const { return selected() == Register::Bypass ? 1 : 32; }

void TapDevice::reset() {
  instruction_ = description_.hasIdcode ? description_.idcodeOpcode : irMask();
  shiftRegister_ = 0;
  shiftLength_ = dataRegisterLength();
}

void TapDevice::captureIr() {
  // The two bits nearest TDO capture 1 then 0, which is how a chain's IR length is found.
  shiftRegister_ = 0x1;
  shiftLength_ = description_.irLength;
}

void TapDevice::captureDr() {
  switch (selected()) {
    case Register::Idcode:
      shiftRegister_ = description_.idcode;
      break;
    case Register::User:
      shiftRegister_ = user_;
      break;
    case Register::Bypass:
      shiftRegister_ = 0;
      break;
  }
  shiftLength_ = dataRegisterLength();
}

bool TapDevice::shift(bool tdi) {
  const bool out = shiftRegister_ & 1u;
  shiftRegister_ >>= 1;
  if (tdi) shiftRegister_ |= std::uint64_t{1} << (shiftLength_ - 1);
  return out;
}

void TapDevice::updateIr() {
  instruction_ = static_cast<std::uint32_t>(shiftRegister_) & irMask();
}

void TapDevice::updateDr() {
  if (selected() == Register::User) user_ = static_cast<std::uint32_t>(shiftRegister_);
}

}  // namespace broker
