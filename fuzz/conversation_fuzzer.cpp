// A broker whose every answer comes from the fuzzer's input, while a Client runs a fixed
// round of operations: every command shape, every scan path, the four Read overloads,
// GetTDO and Disconnect. Whatever the broker says, answers of any length up to 1024 bytes,
// without NULs, with the wrong sign or none at all, or a connection that ends early, the
// client must neither read nor write out of bounds, nor leak, nor wait for ever.
//
// The client's sockets are the tests' sockets in memory, so no port is needed. When one of
// the client's receives finds nothing waiting, the broker answers with the next record of
// the input; at the end of the input it hangs up. Records: a byte that chooses the kind,
// then its content:
//   0 hang up                    4 raw bytes: a 16-bit length (mod 1025), the bytes
//   1 "+" and NUL                5 "+" then raw bytes: as 4, at most 1023 of them
//   2 "+" alone                  6 1024 copies of the next byte (a NUL becomes "Z")
//   3 a number: the next byte    7 a text: bytes up to and with the next NUL
//     as signed decimal, NUL
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/socket_handles.h"
#include "platform/sockets.h"
#include "tapbroker_client.h"
#include "tests/support/memory_sockets.h"

using namespace tapbroker::results;

namespace {

class Records {
 public:
  Records(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool empty() const { return at_ >= size_; }
  std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
  std::string bytes(std::size_t n) {
    n = std::min(n, size_ - std::min(at_, size_));
    std::string out(reinterpret_cast<const char*>(data_ + at_), n);
    at_ += n;
    return out;
  }

  // The next answer; nothing means hang up.
  std::optional<std::string> next() {
    if (empty()) return std::nullopt;
    std::string answer;
    const int kind = byte() % 8;
    switch (kind) {
      case 0:
        return std::nullopt;
      case 1:
        answer = std::string("+\0", 2);
        break;
      case 2:
        answer = "+";
        break;
      case 3:
        answer = std::to_string(static_cast<std::int8_t>(byte())) + '\0';
        break;
      case 4:
      case 5: {
        std::size_t length = byte();
        length = (length | std::size_t{byte()} << 8) % 1025;
        if (kind == 5) answer = "+";
        answer += bytes(kind == 5 ? std::min<std::size_t>(length, 1023) : length);
        break;
      }
      case 6: {
        char fill = static_cast<char>(byte());
        answer.assign(1024, fill == '\0' ? 'Z' : fill);
        break;
      }
      case 7:
        while (!empty() && answer.size() < 1024) {
          answer += static_cast<char>(byte());
          if (answer.back() == '\0') break;
        }
        break;
    }
    if (answer.empty()) return std::nullopt;  // nothing to send: the same as hanging up
    return answer;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

class FuzzingBroker : public memory_sockets::Peer {
 public:
  FuzzingBroker(const std::uint8_t* data, std::size_t size) : records_(data, size) {
    memory_sockets::install(this);
  }
  ~FuzzingBroker() override { memory_sockets::install(nullptr); }

  bool accept(int) override { return true; }
  std::size_t received(int, const std::string& bytes) override { return bytes.size(); }
  void waiting(int connection, std::size_t) override {
    if (std::optional<std::string> answer = records_.next())
      memory_sockets::deliver(connection, *answer);
    else
      memory_sockets::hangUp(connection, memory_sockets::Hangup::Closed);
  }

 private:
  Records records_;
};

std::string pattern(int n, int seed) {
  std::string out;
  for (int i = 0; i < n; ++i) out += static_cast<char>((i * 7 + seed) & 0xFF);
  return out;
}

const unsigned char* bytesOf(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

void require(bool condition) {
  if (!condition) std::abort();
}

bool isReadCode(int code) { return code == 0 || code == kSendFailed || code == kReceiveFailed; }

// The held read-back, which must fit what the largest read-back could bring.
void collectTdo(Client& client) {
  static char out[8192];
  int code = client.GetTDO(out, 8 * static_cast<int>(sizeof out));
  require(code == 0 || code == kNothingHeld);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A catalogue-less run would expand nothing: keep the built-in texts.
  ::unsetenv("MSGCORE_PATH");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string small = pattern(2, 1), smallB = pattern(2, 2);
  static const std::string big = pattern(1030, 3), bigA = pattern(1030, 4),
                           bigB = pattern(1030, 5);
  const int bigBits = 8 * 1030;
  char u[] = "u", p[] = "p", ab[] = "ab", empty[] = "", x[] = "x", yz[] = "yz";
  char a[] = "a", b[] = "b", c[] = "c", d[] = "d", alpha[] = "alpha", beta[] = "beta";
  char name[] = "fuzz";

  // The first byte decides whether reports are expanded into a log, so that both the
  // quiet path and every expansion of a broker's answer are run.
  const bool logging = size > 0 && (data[0] & 1);
  FuzzingBroker broker(data + (size > 0), size - (size > 0));
  Client client(name);
  if (logging) require(client.Set_Log_File("/dev/null") == 0);

  int code = client.Connect(nullptr, nullptr, nullptr);
  require(code == 0 || code == kSendFailed || code == kReceiveFailed);
  client.Send(4, u, p, 2, 9, 8);
  client.Send(33);
  client.Send(30);
  client.Send(36, 7, -1);
  client.Send(12, ab, empty);
  client.Send(3, x, yz);
  client.Send(21, 1, a, 2, b, 3, c, 4, d);
  client.Send(5, 7);
  client.Send(19, 0, 16, 1, bytesOf(small));
  collectTdo(client);
  client.Send(19, 0, bigBits, 1, bytesOf(big));
  collectTdo(client);
  client.Send(44, 12, 0, 16, 1, 1, bytesOf(small), bytesOf(smallB), bytesOf(smallB));
  collectTdo(client);
  client.Send(44, 12, 0, bigBits, 1, 1, bytesOf(big), bytesOf(bigA), bytesOf(bigB));
  collectTdo(client);
  client.Send(44, 120, 2, a, b, c, d);
  client.Send(44, 30, 1, x, 2);
  client.Send(44, 36, 5);
  client.Send(44, 69, 3);
  client.Send(47, 1, 0x01, 16, bytesOf(small), 2);
  collectTdo(client);
  client.Send(48, 1, 0x01, bigBits, bytesOf(big), 2);
  collectTdo(client);
  client.Send(51, 1, 16, bytesOf(small), 2);
  client.Send(52, 1, bigBits, bytesOf(big), 2);
  collectTdo(client);
  client.Send(42, bytesOf(small), 16, 5, 1);
  client.Send(42, bytesOf(big), bigBits, 5, 1);
  collectTdo(client);
  client.Send(41, 2, alpha, beta);

  int value = 0;
  require(isReadCode(client.Read(value)));
  char* text = nullptr;
  code = client.Read(text);
  require(isReadCode(code));
  if (code == 0) require(text != nullptr && std::strlen(text) <= 1024);
  std::vector<std::string> items;
  require(isReadCode(client.Read(items)));
  require(items.size() <= 1025);
  for (const std::string& item : items) require(item.size() <= 1024);
  require(std::strlen(client.Read()) <= 1024);

  code = client.Disconnect();
  require(code == 0 || code == kCloseRefused || code == kShutdownFailed);
  // Whatever Disconnect left open.
  tapbroker::platform::close(tapbroker::platform::handles::current(
      static_cast<std::uint32_t>(client.GetClientSocket())));
  return 0;
}
