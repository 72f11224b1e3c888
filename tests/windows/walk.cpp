// The end-to-end core, built for Windows and for Linux from this one source and run against
// the reference broker: connect with a log file, grant both flags, a command of each
// transfer kind with its read-back, every Read overload, both GetTDO overloads, disconnect.
// It checks every answer and the log file (one report a line, CR LF under Windows), and
// exits non-zero on the first difference. The broker's transcripts of the two builds must
// be the same: scripts/test-windows.sh compares them.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tapbroker_client.h"

namespace {

using Bytes = std::vector<unsigned char>;
int failures = 0;

void check(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "walk: %s does not hold\n", what);
    ++failures;
  }
}
#define CHECK(condition) check((condition), #condition)

// The bytes the last read-back held, by the overload that hands out into caller memory
// or the one that fills a buffer, alternately.
Bytes readBack(Client& client, int bits) {
  static bool intoPointer = false;
  Bytes tdo((bits + 7) / 8, 0);
  intoPointer = !intoPointer;
  unsigned char* target = tdo.data();
  int result = intoPointer ? client.GetTDO(target, bits)
                           : client.GetTDO(reinterpret_cast<char*>(tdo.data()), bits);
  CHECK(result == 0);
  return tdo;
}

// The chain's two IDCODEs as a data scan reads them after a reset, LSB first.
const Bytes kIdcodes = {0x4D, 0x3C, 0x2B, 0x1A, 0xE1, 0xFE, 0x0F, 0x2C};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: walk LOGFILE\n");
    return 2;
  }
  const char* log = argv[1];
  char name[] = "walk";
  Client client(name);
  if (client.Connect(nullptr, log, nullptr) != 0) {
    std::fprintf(stderr, "walk: no broker on 127.0.0.1:4001 (status %d)\n",
                 client.GetClientStatus());
    return 1;
  }
  CHECK(client.Send(4, "sim-usb", "port0", 0) == 0);  // the cable: the first flag
  CHECK(client.Send(33) == 0);                        // a device session: the second

  // Every Read overload.
  CHECK(client.Send(1) == 0);
  CHECK(std::strncmp(client.Read(), "tapbroker.exe ", 14) == 0);
  CHECK(client.Send(9, 1) == 0x2C0FFEE1);
  char* text = nullptr;
  CHECK(client.Read(text) == 0 && text != nullptr && std::strstr(text, "2C0FFEE1") != nullptr);
  const int flashSize = client.Send(25);  // no text: a second read gives the number again
  int value = 0;
  CHECK(flashSize > 0 && client.Read(value) == 0 && value == flashSize);
  std::vector<std::string> items;
  CHECK(client.Send(8) == 2);
  CHECK(client.Read(items) == 0 && items == (std::vector<std::string>{"0x1A2B3C4D", "0x2C0FFEE1"}));

  // Arguments: ints, strings loose and strict, the pairs, the shared applications.
  CHECK(client.Send(5, 1000) == 1000);
  CHECK(client.Send(29, "a note from the walk") == 0);
  CHECK(client.Send(12, "", "IDCODE") == 0);
  CHECK(client.Send(21, 0, "TCK", 1, "TMS", 2, "TDI", 3, "TDO") == 0);
  CHECK(client.Send(41, 2, "alpha", "beta") == 2);
  items.clear();
  CHECK(client.Read(items) == 0 && items == (std::vector<std::string>{"alpha", "beta"}));

  // Each scan transfer with its read-back.
  const Bytes ones(8, 0xFF);
  CHECK(client.Send(6) == 0);
  CHECK(client.Send(19, 0, 64, 1, ones.data()) == 0);  // generic shift
  CHECK(readBack(client, 64) == kIdcodes);
  CHECK(client.Send(6) == 0);
  CHECK(client.Send(44, 12, 0, 64, 1, 0, ones.data(), ones.data()) == 0);  // JTAG shift
  CHECK(readBack(client, 64) == kIdcodes);
  const Bytes message = {0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE};
  CHECK(client.Send(48, 0x100, 0xA0, 64, message.data(), 0) == 0);  // I2C write and read
  CHECK(readBack(client, 64) == message);
  const unsigned char readId[] = {0x9F, 0, 0, 0};
  CHECK(client.Send(52, 0, 32, readId, 0) == 0);  // SPI write and read
  CHECK(readBack(client, 32) == (Bytes{0xFF, 0x5A, 0x40, 0x10}));
  Bytes image(3000);  // pump data over three blocks, programmed and read back
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<unsigned char>(i * 7 + 1);
  CHECK(client.Send(15, 0) == 0);
  CHECK(client.Send(42, image.data(), 3000 * 8, 0, 0) == 0);
  CHECK(client.Send(15, 0) == 0);
  CHECK(client.Send(42, image.data(), 3000 * 8, 1, 1) == 0);
  Bytes expected = image;
  for (std::size_t at = 0; at < expected.size(); at += 1024) expected[at] = '+';
  CHECK(readBack(client, 3000 * 8) == expected);

  CHECK(client.Disconnect() == 0);

  // One report a line, ended as the platform's text files end lines.
  std::ostringstream bytes;
  bytes << std::ifstream(log, std::ios::binary).rdbuf();
  const std::string written = bytes.str();
  std::size_t lines = 0;
  [[maybe_unused]] std::size_t endedByPair = 0;  // only Windows ends lines in pairs
  for (std::size_t at = 0; (at = written.find('\n', at)) != std::string::npos; ++at, ++lines)
    endedByPair += at > 0 && written[at - 1] == '\r';
  const auto carriageReturns = std::count(written.begin(), written.end(), '\r');
#if defined(_WIN32)
  CHECK(endedByPair == lines && carriageReturns == static_cast<long>(lines));
#else
  CHECK(carriageReturns == 0);
#endif
  CHECK(lines > 50 && written.back() == '\n');
  if (failures != 0) return 1;
  std::printf("walk: every answer, read-back and log line as expected (%zu log lines)\n", lines);
  return 0;
}
