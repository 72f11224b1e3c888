// Compiled, never run: the calls of Send that the header's argument check must let
// through as they are, and (with REFUSED) one that it must stop at compile time.
#include <tapbroker_client.h>

#include <cstdint>
#include <string>

enum Mode { kModeA };

int calls(Client& client) {
  char name[] = "name";
  unsigned char data[4] = {};
  const unsigned char* constData = data;
  const std::uint32_t bits = 32;
  client.Send(33);
  client.Send(4, "sim-usb", "port0", 0);
  client.Send(4, nullptr, name, 1, 7);
  client.Send(44, 12, 0, bits, 1, 0, data, data);
  client.Send(19, 0, 8, true, constData);
  client.Send(5, kModeA);
#ifdef REFUSED
  client.Send(4, "sim-usb", std::string("port0"), 0);
#endif
  return client.Send(5, static_cast<unsigned short>(1000));
}
