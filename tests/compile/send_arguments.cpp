// Compiled, never run: the calls of Send that the header's argument check must let
// through as they are, and (with REFUSED=n) the ones that it must stop at compile time.
#include <tapbroker_client.h>

#include <cstddef>
#include <cstdint>
#include <string>

enum Mode { kModeA };
enum SmallMode : unsigned char { kSmall };
enum class ScopedMode { kScoped };

int calls(Client& client) {
  char name[] = "name";
  unsigned char data[4] = {};
  const unsigned char* constData = data;
  std::int8_t* signedData = reinterpret_cast<std::int8_t*>(data);
  void* untyped = data;
  const std::uint32_t bits = 32;
  client.Send(33);
  client.Send(4, "sim-usb", "port0", 0);
  client.Send(4, nullptr, name, 1, 7);
  client.Send(4, NULL, NULL, 0);  // NULL is a long to GCC on 64-bit Linux
  client.Send(19, 0, 8, 1, NULL);
  client.Send(44, 12, 0, bits, 1, 0, data, data);
  client.Send(19, 0, 8, true, constData);
  client.Send(42, signedData, 8, 0, 1);
  client.Send(46, 0, 0xA0, 8, untyped, 0);
  client.Send(5, kModeA);
  client.Send(5, kSmall);
  client.Send(5, ScopedMode::kScoped);
  client.Send(5, 'x');
#if REFUSED == 1
  client.Send(4, "sim-usb", std::string("port0"), 0);
#elif REFUSED == 2
  client.Send(42, data, sizeof data * 8, 0, 1);
#elif REFUSED == 3
  client.Send(5, 1.5f);
#elif REFUSED == 4
  client.Send(19, 0, 32, 0, &bits);
#endif
  return client.Send(5, static_cast<unsigned short>(1000));
}
