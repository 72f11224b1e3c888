// What the JTAG interface functions of command 44 do to the simulated cable. Function 12,
// the JTAG shift, is a transfer of its own (see the session); every other code that the
// table lists is accepted, and those below act on the cable.
#include <cmath>

#include "broker/cable/simulated_cable.h"

namespace broker {
namespace {

// A "%f" value in volts as millivolts, when it lies within 0 to 5 V.
bool millivolts(double volts, int& out) {
  if (!(volts >= 0.0 && volts <= 5.0)) return false;
  out = static_cast<int>(std::lround(volts * 1000.0));
  return true;
}

}  // namespace

Outcome SimulatedCable::interfaceFunction(int code, const Arguments& args) {
  const int first = args.intAt(0);
  switch (code) {
    case 1: {
      std::uint32_t opcode = 0;
      if (!opcodeByName(selected_, args.stringAt(0), opcode)) return Outcome::of(-2);
      chain_.loadInstruction(selected_, opcode);
      return Outcome::of(0);
    }
    case 2:
      return Outcome::of(selectDevice(first));
    case 3:
      resetTap();
      return Outcome::of(0);
    case 4:
      chain_.moveTo(TapState::RunTestIdle);
      return Outcome::of(0);
    case 7:
      chain_.moveTo(TapState::PauseDr);
      return Outcome::of(0);
    case 8:
      chain_.moveTo(TapState::PauseIr);
      return Outcome::of(0);
    case 9:
      // An index past the chain loads BYPASS into every device.
      chain_.loadInstruction(chain_.size(), 0);
      return Outcome::of(0);
    case 10:
      chain_.loadIdcode();
      return Outcome::of(0);
    case 11:
      return Outcome::of(clockInState(TapState::RunTestIdle, first));
    case 13: {
      TapState target;
      if (!tapStateFromCode(first, target)) return Outcome::of(-1);
      chain_.moveTo(target);
      return Outcome::of(0);
    }
    case 14:
      return Outcome::of(static_cast<int>(chain_.state()));
    case 15:
      return Outcome::of(static_cast<int>(chain_.size()));
    case 16:
      return Outcome::of(chain_.totalIrLength());
    case 17:
      return Outcome::of(first > 0 ? setTck(first) : -1);
    case 36: {
      const double kilohertz = args.realAt(0);
      if (!(kilohertz >= 1.0 && kilohertz <= 100000.0)) return Outcome::of(-1);
      return Outcome::of(setTck(std::llround(kilohertz)));
    }
    case 69:
      if (!millivolts(args.realAt(0), supplyMillivolts_)) return Outcome::of(-1);
      supplyOn_ = supplyMillivolts_ > 0;
      return Outcome::of(0);
    case 70:
      return Outcome::of(millivolts(args.realAt(0), ioMillivolts_) ? 0 : -1);
    default:
      return Outcome::of(0);
  }
}

}  // namespace broker
