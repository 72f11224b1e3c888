// One device on the simulated JTAG chain: an instruction register of its own length and
// the data registers that its instructions select. BYPASS (all ones) is a one-bit register
// that captures 0; IDCODE is the 32-bit identification; USER is a 32-bit scratch register
// that keeps what is shifted into it, so that a caller can see its own data come back.
// Any other opcode selects BYPASS, as the standard asks of unused instructions.
#ifndef BROKER_JTAG_DEVICE_H
#define BROKER_JTAG_DEVICE_H

#include <cstdint>
#include <string>

namespace broker {

struct DeviceDescription {
  std::string name;
  bool hasIdcode = true;  // without one, reset selects BYPASS and a scan sees a single 0
  std::uint32_t idcode = 0;
  int irLength = 2;
  std::uint32_t idcodeOpcode = 1;
  std::uint32_t userOpcode = 2;
};

class TapDevice {
 public:
  explicit TapDevice(DeviceDescription description);

  const DeviceDescription& description() const { return description_; }
  std::uint32_t instruction() const { return instruction_; }
  std::uint32_t bypassOpcode() const { return irMask(); }
  std::uint32_t userRegister() const { return user_; }
  // Length of the data register that the current instruction puts between TDI and TDO.
  int dataRegisterLength() const;

  // Test-Logic-Reset: IDCODE is selected, or BYPASS on a device without one.
  void reset();
  void captureIr();
  void captureDr();
  // One bit in from the TDI side; returns the bit that leaves toward TDO.
  bool shift(bool tdi);
  // The register between TDI and TDO while shifting, its bit 0 the next to leave.
  std::uint64_t shiftRegister() const { return shiftRegister_; }
  int shiftLength() const { return shiftLength_; }
  void setShiftRegister(std::uint64_t bits) { shiftRegister_ = bits; }
  void updateIr();
  void updateDr();

 private:
  enum class Register { Bypass, Idcode, User };
  Register selected() const;
  std::uint32_t irMask() const;

  DeviceDescription description_;
  std::uint32_t instruction_ = 0;
  std::uint64_t shiftRegister_ = 0;
  int shiftLength_ = 1;
  std::uint32_t user_ = 0;
};

}  // namespace broker

#endif  // BROKER_JTAG_DEVICE_H
