// The simulated programming cable that one conversation drives: a JTAG chain, a flash
// memory that pump data program and read, an EEPROM on I2C and a flash on SPI, and the
// cable's own settings. The session reads the wire and calls in here; everything here is
// plain state, with no sockets.
#ifndef BROKER_SIMULATED_CABLE_H
#define BROKER_SIMULATED_CABLE_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "broker/cable/i2c_eeprom.h"
#include "broker/cable/jtag_chain.h"
#include "broker/cable/nor_flash.h"
#include "broker/cable/outcome.h"
#include "broker/cable/spi_flash.h"

namespace broker {

// The sizes of the simulated flashes: powers of two, up to kMaxFlashSize.
struct FlashSizes {
  static constexpr std::size_t kMaxFlashSize = std::size_t{256} << 20;
  std::size_t nor = std::size_t{1} << 20;  // the pump-data target
  std::size_t spi = SpiFlash::kDefaultSize;
};

struct CableContext {
  std::vector<DeviceDescription> chain;
  FlashSizes flash;
  std::function<int()> openConnections;          // for command 31
  std::function<void(const std::string&)> note;  // for command 29
};

class SimulatedCable {
 public:
  static constexpr std::size_t kFlashSector = 4096;
  static constexpr std::size_t kEepromSize = 8 * 1024;
  static constexpr std::uint8_t kEepromBusAddress = 0x50;
  static constexpr int kMaxClocks = 1000000;

  // Bits of a shift's control word (commands 19 and 44/12).
  static constexpr int kInstructionScan = 0x1;  // the instruction registers, not data
  static constexpr int kNoReadBack = 0x2;       // 44/12: the client takes no read-back
  static constexpr int kEndInPause = 0x4;       // stay in Pause, else Run-Test/Idle
  static constexpr int kTmsBits = 0x8;          // the data are TMS bits, TDI held low

  // Pump modes (the middle word of command 42).
  enum PumpMode { kPumpProgram = 0, kPumpRead = 1, kPumpVerify = 2 };
  // Trailing word of an SPI transfer: keep chip select asserted afterwards.
  static constexpr int kSpiKeepSelected = 0x1;

  explicit SimulatedCable(CableContext context);

  const JtagChain& chain() const { return chain_; }
  const NorFlash& flash() const { return flash_; }
  std::size_t flashAddress() const { return flashAddress_; }
  bool cableOpen() const { return cableOpen_; }
  bool sessionOpen() const { return sessionOpen_; }

  // A command whose arguments are plain tokens, already read.
  Outcome command(int number, const Arguments& args);
  // Command 4: the flag granted (true: the cable is open).
  bool openCable(const std::string& cable, const std::string& port,
                 const std::array<int, 10>& settings);
  // Command 33: the flag granted (true: a device session is open; needs an open cable).
  bool openSession();
  // Command 41.
  Outcome registerApplications(std::vector<std::string> names);
  // Command 44, for every function but the JTAG shift.
  Outcome interfaceFunction(int code, const Arguments& args);

  // A JTAG shift of `bitCount` bits (commands 19 and 44/12); `tdi` holds the bytes and
  // `tdo` gets the TDO bytes, as many.
  void shift(int shiftControl, int bitCount, const std::vector<std::uint8_t>& tdi,
             std::vector<std::uint8_t>& tdo);

  // Pump data: whether `byteCount` bytes fit from the flash address on.
  bool pumpFits(int byteCount) const;
  static bool pumpModeKnown(int mode);
  // Runs a pump at the flash address and moves it on; `readBack` gets the flash content.
  // The result: bytes that did not program (program) or differ (verify); 0 for a read.
  int pump(int mode, const std::vector<std::uint8_t>& data,
           std::vector<std::uint8_t>& readBack);

  // I2C: the address byte selects the device, `offset` is the memory address.
  // 0, -1 when no device answers the address, -2 when the EEPROM is write-protected.
  int i2cWrite(int offset, std::uint8_t addressByte, const std::vector<std::uint8_t>& data);
  int i2cRead(int offset, std::uint8_t addressByte, std::size_t length,
              std::vector<std::uint8_t>& out);

  // SPI: one transfer on chip select `chipSelect` (only 0 has a device). `mosi` null
  // clocks idle (0xFF) bytes. 0, or -1 when no device sits on that chip select.
  int spiTransfer(int chipSelect, int flags, const std::uint8_t* mosi, std::size_t length,
                  std::vector<std::uint8_t>& miso);

 private:
  void resetTap();
  int selectDevice(int index);
  int deviceByName(const std::string& name) const;
  // Opcode of instruction `name` (BYPASS, IDCODE, USER) on device `index`; false if none.
  bool opcodeByName(std::size_t index, const std::string& name, std::uint32_t& opcode) const;
  int setTck(long long kilohertz);
  int clockInState(TapState state, int count);
  Outcome scanIdentifications();
  std::string status() const;

  CableContext context_;
  JtagChain chain_;
  NorFlash flash_;
  I2cEeprom eeprom_;
  SpiFlash spiFlash_;

  bool cableOpen_ = false;
  bool sessionOpen_ = false;
  std::string cableName_;
  std::string portName_;
  std::array<int, 10> settings_{};
  std::size_t selected_ = 0;
  std::size_t flashAddress_ = 0;
  int tckKilohertz_ = 1000;
  int idleClocks_ = 0;
  bool srst_ = true;
  bool trst_ = true;
  int supplyMillivolts_ = 3300;
  bool supplyOn_ = false;
  int ioMillivolts_ = 3300;
  int spiMode_ = 0;
  int spiKilohertz_ = 1000;
  int i2cKilohertz_ = 100;
  std::uint16_t gpio_ = 0;
  std::array<std::string, 4> pinNames_{};
  std::vector<std::pair<std::string, std::string>> options_;
  std::vector<std::string> applications_;
};

}  // namespace broker

#endif  // BROKER_SIMULATED_CABLE_H
