// A first program, the one docs/getting-started.md walks through: connect to the broker
// (starting it when none runs), open the cable and a device session, set the clock, read
// the IDCODEs of the JTAG chain with one JTAG shift, program 4 KiB of flash and read them
// back, read a text and a list answer, log the last steps, and disconnect.
#include <tapbroker_client.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

// The directory that holds tapbroker.exe, which Connect starts when no broker runs. The
// build passes it: CMake from tapbroker_client_BINDIR, pkg-config from its bindir
// variable. Without it Connect looks in this program's own directory.
#ifndef TAPBROKER_BIN_DIR
#define TAPBROKER_BIN_DIR nullptr
#endif

namespace {

int fail(const char* what, int result) {
  std::fprintf(stderr, "first_program: %s failed: %d\n", what, result);
  return 1;
}

}  // namespace

int main() {
  char name[] = "my-programmer";
  Client client(name);                       // no network yet
  int rc = client.Connect(nullptr, nullptr, TAPBROKER_BIN_DIR);
  if (rc != 0) return fail("Connect", rc);

  rc = client.Send(4, "sim-usb", "port0", 0);  // cable name, port, number of settings
  if (rc != 0) return fail("opening the cable", rc);
  rc = client.Send(33);                        // device session
  if (rc != 0) return fail("opening the device session", rc);

  namespace codes = tapbroker::results;      // the library's own result codes
  int frequency = client.Send(5, 1000);      // TCK at 1000 kHz; answers the frequency set
  if (client.GetClientStatus() <= codes::kSendFailed) return fail("command 5", frequency);
  std::printf("TCK: %d kHz\n", frequency);
  int refused = client.Send(5, 0);           // 0 kHz: the broker answers -1
  if (client.GetClientStatus() <= codes::kSendFailed) return fail("command 5", refused);
  if (refused < 0) std::printf("the broker refused 0 kHz: %d\n", refused);

  // The JTAG shift (interface function 12 of command 44): shift control 0 (data
  // registers), 64 bits, switch A 1 (read back; buffer A is the compare mask), switch B 0.
  unsigned char tdi[8], mask[8], tdo[8];
  std::memset(tdi, 0xFF, 8);
  std::memset(mask, 0xFF, 8);
  client.Send(6);                                  // TAP reset: data registers hold IDCODEs
  client.Send(44, 12, 0, 64, 1, 0, tdi, mask);     // 64-bit data scan with read-back
  rc = client.GetTDO(reinterpret_cast<char*>(tdo), 64);  // 0; tdo: both IDCODEs, LSB first
  if (rc != 0) return fail("GetTDO", rc);
  for (int device = 0; device < 2; ++device) {
    unsigned long idcode = 0;
    for (int byte = 3; byte >= 0; --byte) idcode = idcode << 8 | tdo[device * 4 + byte];
    std::printf("device %d: IDCODE 0x%08lX\n", device, idcode);
  }

  // Pump data (command 42): program 4 KiB from address 0 of the erased sector 0, then read
  // it back. A read-back longer than 1024 bytes carries '+' in place of the first byte of
  // every 1024-byte block, so read at most 1024 bytes per pump: each comes back exact.
  std::vector<unsigned char> image(4096), back(image.size());
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<unsigned char>(i * 7);
  client.Send(16, 0);                              // erase sector 0 (4 KiB)
  client.Send(15, 0);                              // flash address 0
  rc = client.Send(42, image.data(), 4096 * 8, 0, 0);  // mode 0 programs; answers the
  if (rc != 0) return fail("programming", rc);          // bytes that did not take
  client.Send(15, 0);
  for (std::size_t at = 0; at < back.size(); at += 1024) {
    rc = client.Send(42, image.data(), 1024 * 8, 1, 1);  // mode 1 reads, with read-back
    if (rc != 0) return fail("reading back", rc);
    rc = client.GetTDO(reinterpret_cast<char*>(back.data() + at), 1024 * 8);
    if (rc != 0) return fail("GetTDO", rc);
  }
  if (back != image) return fail("comparing the read-back", -1);
  std::printf("flash: %zu bytes programmed and read back identical\n", back.size());

  client.Send(1);                            // identification
  const char* text = client.Read();          // "tapbroker.exe 2.0.0, simulated cable"
  std::printf("broker: %s\n", text);

  std::vector<std::string> devices;
  client.Send(8);                            // scan the chain
  client.Read(devices);                      // {"0x1A2B3C4D", "0x2C0FFEE1"}
  for (const std::string& device : devices) std::printf("chain: %s\n", device.c_str());

  client.Set_Log_File("session.log");        // one line per report, the file emptied first
  client.Set_Debug_On();                     // each report also on standard error:
                                             // tapbrokerclient[1098]: ...

  rc = client.Disconnect();                  // command 9999, then the socket is closed
  if (rc != 0) return fail("Disconnect", rc);
  return 0;
}
