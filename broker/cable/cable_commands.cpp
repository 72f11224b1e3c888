// What each numbered command does to the simulated cable, once the session has read its
// arguments. The scan commands (19, 41, 42, 44, 46 to 52) and the two flag commands (4,
// 33) have entries of their own in SimulatedCable.
#include <climits>
#include <cstdio>

#include "broker/cable/simulated_cable.h"
#include "broker/common/version.h"

namespace broker {
namespace {

constexpr int kProtocolRevision = 1;
constexpr std::size_t kMaxOptions = 64;

std::string hex32(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

}  // namespace

std::string SimulatedCable::status() const {
  char text[kMaxAnswerText + 1];
  std::snprintf(text, sizeof text,
                "cable %.64s%s%.64s; session %s; TCK %d kHz; %zu device(s), TAP in %s; "
                "SRST %s, TRST %s; supply %s %d mV, I/O %d mV; flash address 0x%05zX; "
                "I2C %d kHz; SPI mode %d at %d kHz; GPIO 0x%04X",
                cableOpen_ ? cableName_.c_str() : "closed", cableOpen_ ? " on " : "",
                cableOpen_ ? portName_.c_str() : "", sessionOpen_ ? "open" : "closed",
                tckKilohertz_, chain_.size(), tapStateName(chain_.state()),
                srst_ ? "high" : "low", trst_ ? "high" : "low", supplyOn_ ? "on" : "off",
                supplyMillivolts_, ioMillivolts_, flashAddress_, i2cKilohertz_, spiMode_,
                spiKilohertz_, static_cast<unsigned>(gpio_));
  return text;
}

Outcome SimulatedCable::command(int number, const Arguments& args) {
  const int first = args.intAt(0);
  const int second = args.intAt(1);
  switch (number) {
    case 1:
      return Outcome::withText(
          0, std::string(kProgramName) + " " + kBrokerVersion + ", simulated cable");
    case 2: {
      const int device = deviceByName(args.stringAt(0));
      if (device >= 0) selectDevice(device);
      return Outcome::of(device);
    }
    case 3:
      if (options_.size() >= kMaxOptions) return Outcome::of(-1);
      options_.emplace_back(args.stringAt(0), args.stringAt(1));
      return Outcome::of(0);
    case 5:
      return Outcome::of(first > 0 ? setTck(first) : -1);
    case 6:
      resetTap();
      return Outcome::of(0);
    case 7:
      return Outcome::of(selectDevice(first));
    case 8:
      return scanIdentifications();
    case 9: {
      // No such device has no IDCODE either: the same answer as a device without one.
      if (first < 0 || static_cast<std::size_t>(first) >= chain_.size()) {
        return Outcome::withText(-1, "none");
      }
      const DeviceDescription& description =
          chain_.device(static_cast<std::size_t>(first)).description();
      if (!description.hasIdcode) return Outcome::withText(-1, "none");
      return Outcome::withText(static_cast<int>(description.idcode), hex32(description.idcode));
    }
    case 10:
      return Outcome::of(chain_.device(selected_).description().irLength);
    case 11:
      return Outcome::of(chain_.totalIrLength());
    case 12: {
      const int device = deviceByName(args.stringAt(0));
      if (device < 0) return Outcome::of(-1);
      std::uint32_t opcode = 0;
      if (!opcodeByName(static_cast<std::size_t>(device), args.stringAt(1), opcode)) {
        return Outcome::of(-2);
      }
      chain_.loadInstruction(static_cast<std::size_t>(device), opcode);
      return Outcome::of(0);
    }
    case 13:
      flash_.eraseAll();
      return Outcome::of(0);
    case 14:
      return Outcome::of(flash_.blank() ? 1 : 0);
    case 15:
      if (first < 0 || static_cast<std::size_t>(first) > flash_.size()) return Outcome::of(-1);
      flashAddress_ = static_cast<std::size_t>(first);
      return Outcome::of(0);
    case 16:
      return Outcome::of(
          first >= 0 && flash_.eraseSector(static_cast<std::size_t>(first)) ? 0 : -1);
    case 17:
      srst_ = first != 0;
      return Outcome::of(0);
    case 18:
      // TRST is active low: driving it to 0 resets every TAP at once.
      trst_ = first != 0;
      if (!trst_) chain_.reset();
      return Outcome::of(0);
    case 20: {
      if (first < 0 || first > kMaxClocks) return Outcome::of(-1);
      for (int i = 0; i < first; ++i) chain_.clock(second != 0, false);
      return Outcome::of(static_cast<int>(chain_.state()));
    }
    case 21:
      for (std::size_t i = 0; i < pinNames_.size(); ++i) pinNames_[i] = args.stringAt(i);
      return Outcome::of(0);
    case 22:
      return Outcome::withText(static_cast<int>(chain_.state()), tapStateName(chain_.state()));
    case 23: {
      TapState target;
      if (!tapStateFromCode(first, target)) return Outcome::of(-1);
      chain_.moveTo(target);
      return Outcome::of(0);
    }
    case 24: {
      const std::uint32_t crc = flash_.crc32();
      return Outcome::withText(static_cast<int>(crc), hex32(crc));
    }
    case 25:
      return Outcome::of(static_cast<int>(flash_.size()));
    case 26:
      return Outcome::of(static_cast<int>(flashAddress_));
    case 27: {
      std::vector<std::string> names;
      for (std::size_t i = 0; i < chain_.size(); ++i)
        names.push_back(chain_.device(i).description().name);
      return Outcome::withList(static_cast<int>(names.size()), names);
    }
    case 28:
      return Outcome::of(chain_.clockCount() > INT_MAX ? INT_MAX
                                                       : static_cast<int>(chain_.clockCount()));
    case 29:
      if (context_.note) context_.note(args.stringAt(0));
      return Outcome::of(0);
    case 30:
      return Outcome::of(kProtocolRevision);
    case 31:
      return Outcome::of(context_.openConnections ? context_.openConnections() : 1);
    case 32:
      return Outcome::withList(1, {"SIM-USB"});
    case 34:
      sessionOpen_ = false;
      return Outcome::of(0);
    case 35:
    case 9999:
      cableOpen_ = false;
      sessionOpen_ = false;
      return Outcome::of(0);
    case 36:
      if (first < 0 || first > 5000) return Outcome::of(-1);
      supplyMillivolts_ = first;
      supplyOn_ = second != 0;
      return Outcome::of(0);
    case 37:
      if (first < 0 || first > kMaxClocks) return Outcome::of(-1);
      idleClocks_ = first;
      return Outcome::of(0);
    case 38:
      return Outcome::of(supplyOn_ ? supplyMillivolts_ : 0);
    case 39:
      if (first < 0 || first > 3) return Outcome::of(-1);
      spiMode_ = first;
      return Outcome::of(0);
    case 40:
      if (first < 0 || first > 15) return Outcome::of(-1);
      gpio_ =
          static_cast<std::uint16_t>(second ? gpio_ | (1u << first) : gpio_ & ~(1u << first));
      return Outcome::of(0);
    case 43:
      return Outcome::withList(static_cast<int>(applications_.size()), applications_);
    case 45:
      if (first <= 0) return Outcome::of(-1);
      i2cKilohertz_ = first;
      return Outcome::of(0);
    case 49:
      eeprom_.setWriteProtected(first != 0);
      return Outcome::of(0);
    case 53:
      if (first <= 0) return Outcome::of(-1);
      spiKilohertz_ = first;
      return Outcome::of(0);
    case 54:
      if (first < 0 || static_cast<std::size_t>(first) >= flash_.size()) return Outcome::of(-1);
      return Outcome::of(flash_.at(static_cast<std::size_t>(first)));
    case 55:
      if (first < 0 || static_cast<std::size_t>(first) >= kEepromSize) return Outcome::of(-1);
      return Outcome::of(eeprom_.at(static_cast<std::size_t>(first)));
    case 56:
      return Outcome::withText(0, status());
    default:
      return Outcome::of(-1);
  }
}

}  // namespace broker
