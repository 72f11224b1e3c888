// Discovering the JTAG chain: what the broker's chain commands report, checked against a
// raw data scan of our own through the JTAG shift.
#ifndef TOOLS_CHAIN_SCAN_H
#define TOOLS_CHAIN_SCAN_H

#include <cstdint>
#include <string>
#include <vector>

#include "broker_session.h"

namespace tapclient {

struct ChainDevice {
  std::string name;
  bool hasIdcode = false;
  std::uint32_t idcode = 0;
  int irLength = 0;
};

struct ChainReport {
  std::vector<ChainDevice> devices;  // nearest TDO first
  int totalIrLength = 0;
  int rawScanBits = 0;  // length of the raw data scan that confirmed the IDCODEs
};

// Needs an open cable and session. Throws ToolError when a command fails or the raw scan
// disagrees with what the broker reports.
ChainReport scanChain(BrokerSession& session);
void printChain(const ChainReport& report);

// The devices that a data scan after a TAP reset shows, nearest TDO first: a device in
// BYPASS gives one 0 bit, one with an IDCODE its 32 bits, which begin with a 1.
std::vector<ChainDevice> decodeIdcodeScan(const std::vector<unsigned char>& tdo,
                                          std::size_t bits, std::size_t expected);

}  // namespace tapclient

#endif  // TOOLS_CHAIN_SCAN_H
