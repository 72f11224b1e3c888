// A first program: connect to the broker (starting it when none runs), open the cable and a
// device session, read the broker's identification, read the IDCODEs of the JTAG chain
// with one JTAG shift, and disconnect.
#include <tapbroker_client.h>

#include <cstdio>
#include <cstring>

namespace {

int fail(Client& client, const char* what) {
  std::fprintf(stderr, "first_program: %s failed (status %d)\n", what,
               client.GetClientStatus());
  return 1;
}

}  // namespace

int main() {
  char name[] = "first-program";
  Client client(name);

  if (client.Connect(nullptr, nullptr, TAPBROKER_BIN_DIR) != 0) return fail(client, "Connect");
  // Command 4 opens the cable and command 33 a device session: together they grant the
  // two flags that the cable commands need.
  if (client.Send(4, "sim-usb", "port0", 0) != 0) return fail(client, "opening the cable");
  if (client.Send(33) != 0) return fail(client, "opening the device session");

  if (client.Send(1) < 0) return fail(client, "command 1");
  std::printf("broker: %s\n", client.Read());

  // After a TAP reset every device's data register is its IDCODE: a 64-bit data scan of the
  // two-device chain reads both, nearest TDO first. Interface function 12 is the JTAG shift:
  // shift control 0 (data registers), 64 bits, switch A 1 (read back; buffer A is the
  // compare mask), switch B 0.
  unsigned char tdi[8];
  unsigned char mask[8];
  std::memset(tdi, 0xFF, sizeof tdi);
  std::memset(mask, 0xFF, sizeof mask);
  if (client.Send(6) < 0) return fail(client, "TAP reset");
  if (client.Send(44, 12, 0, 64, 1, 0, tdi, mask) < 0) return fail(client, "JTAG shift");

  unsigned char tdo[8] = {};
  if (client.GetTDO(reinterpret_cast<char*>(tdo), 64) != 0) return fail(client, "GetTDO");
  for (int device = 0; device < 2; ++device) {
    unsigned long idcode = 0;
    for (int byte = 3; byte >= 0; --byte) idcode = idcode << 8 | tdo[device * 4 + byte];
    std::printf("device %d: IDCODE 0x%08lX\n", device, idcode);
  }

  if (client.Disconnect() != 0) return fail(client, "Disconnect");
  return 0;
}
