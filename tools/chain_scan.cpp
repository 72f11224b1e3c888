#include "chain_scan.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "terminal.h"
#include "tool_error.h"

namespace tapclient {
namespace {

bool bitAt(const std::vector<unsigned char>& bytes, std::size_t index) {
  return (bytes[index / 8] >> (index % 8)) & 1u;
}

// The broker's text for an IDCODE, "0x%08X", or "none" / "bypass".
bool parseIdcode(const std::string& text, std::uint32_t& idcode) {
  if (text.rfind("0x", 0) != 0) return false;
  char* end = nullptr;
  const unsigned long value = std::strtoul(text.c_str() + 2, &end, 16);
  if (end == text.c_str() + 2 || *end != '\0' || value > 0xFFFFFFFFul) return false;
  idcode = static_cast<std::uint32_t>(value);
  return true;
}

std::string idcodeText(const ChainDevice& device) {
  return device.hasIdcode ? hex32(device.idcode) : "(bypass)";
}

// Confirms the IDCODEs with a data scan of our own: after a TAP reset every device's data
// register is its IDCODE (or BYPASS), so shifting ones through 32 bits per device reads
// them all. Returns the scan's length.
int confirmByRawScan(BrokerSession& session, const std::vector<ChainDevice>& devices) {
  Client& client = session.client();
  const int bits = 32 * static_cast<int>(devices.size());
  if (bits == 0) return 0;
  const std::vector<unsigned char> ones(static_cast<std::size_t>((bits + 7) / 8), 0xFF);
  session.checked("TAP reset (command 44, function 3)", client.Send(44, 3));
  // Shift control 0: data registers, ending in Run-Test/Idle. Switch A 1: buffer A (the
  // compare mask) follows and the TDO comes back; no expected TDO, so no mismatch count.
  const int mismatches =
      session.checked("raw data scan (command 44, function 12)",
                      client.Send(44, 12, 0, bits, 1, 0, ones.data(), ones.data()));
  if (mismatches != 0) {
    throw ToolError("raw data scan: the broker counted " + std::to_string(mismatches) +
                    " mismatching bits without an expected TDO");
  }
  std::vector<unsigned char> tdo;
  session.takeReadBack("raw data scan read-back", tdo, bits);
  const std::vector<ChainDevice> seen =
      decodeIdcodeScan(tdo, static_cast<std::size_t>(bits), devices.size());
  for (std::size_t i = 0; i < devices.size(); ++i) {
    const bool same = i < seen.size() && seen[i].hasIdcode == devices[i].hasIdcode &&
                      (!seen[i].hasIdcode || seen[i].idcode == devices[i].idcode);
    if (!same) {
      throw ToolError("raw data scan: device " + std::to_string(i) + " reads " +
                      (i < seen.size() ? idcodeText(seen[i]) : std::string("nothing")) +
                      ", the broker reports " + idcodeText(devices[i]));
    }
  }
  return bits;
}

}  // namespace

std::vector<ChainDevice> decodeIdcodeScan(const std::vector<unsigned char>& tdo,
                                          std::size_t bits, std::size_t expected) {
  bits = std::min(bits, tdo.size() * 8);
  std::vector<ChainDevice> devices;
  std::size_t at = 0;
  while (devices.size() < expected && at < bits) {
    ChainDevice device;
    if (!bitAt(tdo, at)) {
      ++at;
    } else if (at + 32 <= bits) {
      device.hasIdcode = true;
      for (int bit = 0; bit < 32; ++bit, ++at) {
        if (bitAt(tdo, at)) device.idcode |= 1u << bit;
      }
    } else {
      break;  // a partial IDCODE: the scan was too short
    }
    devices.push_back(device);
  }
  return devices;
}

ChainReport scanChain(BrokerSession& session) {
  Client& client = session.client();
  ChainReport report;

  const int found = session.checked("chain scan (command 8)", client.Send(8));
  if (found < 0)
    throw ToolError("chain scan (command 8): the broker answered " + std::to_string(found));
  const std::vector<std::string> idcodes = session.readList("chain scan list");
  session.checked("device names (command 27)", client.Send(27));
  const std::vector<std::string> names = session.readList("device name list");
  if (idcodes.size() != static_cast<std::size_t>(found)) {
    throw ToolError("chain scan: the broker found " + std::to_string(found) +
                    " devices but listed " + std::to_string(idcodes.size()));
  }

  for (int i = 0; i < found; ++i) {
    const std::string which = "device " + std::to_string(i);
    ChainDevice device;
    device.name = static_cast<std::size_t>(i) < names.size() ? names[i] : "?";
    // The IDCODE by index, as text: as an int, 0xFFFFFFFF could not be told from -1.
    session.checked(which + " IDCODE (command 9)", client.Send(9, i));
    const std::string text = session.readText(which + " IDCODE text");
    device.hasIdcode = parseIdcode(text, device.idcode);
    std::uint32_t scanned = 0;
    const bool scannedHasIdcode = parseIdcode(idcodes[i], scanned);
    if (scannedHasIdcode != device.hasIdcode ||
        (device.hasIdcode && scanned != device.idcode)) {
      throw ToolError(which + ": the chain scan reads " + idcodes[i] + " but its IDCODE is " +
                      text);
    }
    session.expect("selecting " + which + " (command 7)", client.Send(7, i), 0);
    device.irLength = session.checked(which + " IR length (command 10)", client.Send(10));
    report.devices.push_back(device);
  }
  if (found > 0) session.expect("selecting device 0 (command 7)", client.Send(7, 0), 0);
  report.totalIrLength = session.checked("chain IR length (command 11)", client.Send(11));
  report.rawScanBits = confirmByRawScan(session, report.devices);
  return report;
}

void printChain(const ChainReport& report) {
  const std::size_t count = report.devices.size();
  std::printf("JTAG chain: %zu device%s, %d instruction bits in all (nearest TDO first)\n",
              count, count == 1 ? "" : "s", report.totalIrLength);
  Table table({{"#", Align::Right},
               {"Device"},
               {"IDCODE"},
               {"Version", Align::Right},
               {"Part", Align::Right},
               {"Maker ID", Align::Right},
               {"IR bits", Align::Right}});
  char text[16];
  for (std::size_t i = 0; i < count; ++i) {
    const ChainDevice& device = report.devices[i];
    std::vector<std::string> row{std::to_string(i), device.name, idcodeText(device)};
    if (device.hasIdcode) {
      // IDCODE fields: version (31..28), part number (27..12), maker code (11..1).
      std::snprintf(text, sizeof text, "%u", device.idcode >> 28);
      row.push_back(text);
      std::snprintf(text, sizeof text, "0x%04X", (device.idcode >> 12) & 0xFFFFu);
      row.push_back(text);
      std::snprintf(text, sizeof text, "0x%03X", (device.idcode >> 1) & 0x7FFu);
      row.push_back(text);
    } else {
      row.insert(row.end(), {"-", "-", "-"});
    }
    row.push_back(std::to_string(device.irLength));
    table.addRow(row);
  }
  table.print(stdout);
  if (report.rawScanBits > 0) {
    std::printf("  A raw %d-bit data scan through the JTAG shift reads the same IDCODEs.\n",
                report.rawScanBits);
  }
}

}  // namespace tapclient
