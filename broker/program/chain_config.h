// The description of the simulated JTAG chain: a JSON file, or the built-in chain of two
// devices when none is given.
//
//   {"devices": [
//     {"name": "sim-fpga", "idcode": "0x1A2B3C4D", "irLength": 6},
//     {"name": "sim-cpld", "idcode": "0x2C0FFEE1", "irLength": 8,
//      "idcodeInstruction": 1, "userInstruction": 2}
//   ]}
//
// Devices are listed from the one nearest TDO. "idcode" is a number or a text (decimal or
// 0x hex), and null or absent for a device without one; its lowest bit must be 1.
//
// Beside "devices", "norFlashSize" (the pump-data flash, 1 MiB by default) and
// "spiFlashSize" (the SPI flash, 64 KiB by default) may set the simulated flashes' sizes
// in bytes: a power of two from 4096 to 256 MiB, as a number or a text like "idcode".
// Their memory is taken only where they are written.
#ifndef BROKER_CHAIN_CONFIG_H
#define BROKER_CHAIN_CONFIG_H

#include <string>
#include <string_view>
#include <vector>

#include "broker/cable/jtag_device.h"
#include "broker/cable/simulated_cable.h"

namespace broker {

constexpr int kMaxDevices = 32;

std::vector<DeviceDescription> defaultChain();
// Reads the chain and the flash sizes from JSON text; false with `error` naming the fault,
// and both left as they were.
bool parseChain(std::string_view json, std::vector<DeviceDescription>& chain, FlashSizes& flash,
                std::string& error);
// Reads the chain file at `path` (a regular file of at most 1 MiB).
bool loadChainFile(const std::string& path, std::vector<DeviceDescription>& chain,
                   FlashSizes& flash, std::string& error);

}  // namespace broker

#endif  // BROKER_CHAIN_CONFIG_H
