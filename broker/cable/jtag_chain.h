// The simulated JTAG chain: devices in series between the cable's TDI and TDO, clocked
// together. Device 0 is the one nearest TDO, so its bits leave the chain first and an
// IDCODE scan after reset reads the identifications in device order.
#ifndef BROKER_JTAG_CHAIN_H
#define BROKER_JTAG_CHAIN_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "broker/cable/jtag_device.h"
#include "broker/cable/tap_state.h"

namespace broker {

class JtagChain {
 public:
  explicit JtagChain(const std::vector<DeviceDescription>& devices);

  std::size_t size() const { return devices_.size(); }
  const TapDevice& device(std::size_t index) const { return devices_[index]; }
  TapState state() const { return state_; }
  std::uint64_t clockCount() const { return clocks_; }
  int totalIrLength() const;

  // One TCK: the edge acts on the current state (capture, shift), TMS picks the next
  // state, and entering Update or Test-Logic-Reset acts there. Returns TDO.
  bool clock(bool tms, bool tdi);
  // Walks the shortest TMS path to `target`, TDI held low.
  void moveTo(TapState target);
  // Asynchronous reset (the TRST line): every TAP to Test-Logic-Reset at once.
  void reset();

  // Shifts `bitCount` bits of `tdi` through the instruction registers (`instruction`) or
  // the selected data registers of the whole chain; TDO lands in `tdo` (bitCount bits).
  // The walk goes through Capture, so a scan from a stable state sees fresh captures; it
  // leaves the shift state on the last bit and ends in `end`.
  void scan(bool instruction, const std::uint8_t* tdi, std::uint8_t* tdo, std::size_t bitCount,
            TapState end);
  // Clocks `bitCount` TMS bits taken from `tms`, TDI low, capturing TDO into `tdo`.
  void clockTms(const std::uint8_t* tms, std::uint8_t* tdo, std::size_t bitCount);
  // Loads `opcode` into device `index` and BYPASS into every other device; ends in
  // Run-Test/Idle.
  void loadInstruction(std::size_t index, std::uint32_t opcode);
  // Loads each device's IDCODE instruction (BYPASS where it has none).
  void loadIdcode();

 private:
  bool shiftChain(bool tdi);
  // `bitCount` clocks in a shift state at once: the chain's registers, end to end, are a
  // delay line, so TDO is their content followed by TDI, and they keep the stream's last
  // bits. Exactly what as many single clocks do, without their cost on a long scan.
  void shiftMany(const std::uint8_t* tdi, std::uint8_t* tdo, std::size_t bitCount);
  void loadInstructions(const std::vector<std::uint32_t>& opcodes);

  std::vector<TapDevice> devices_;
  TapState state_ = TapState::TestLogicReset;
  std::uint64_t clocks_ = 0;
};

}  // namespace broker

#endif  // BROKER_JTAG_CHAIN_H
