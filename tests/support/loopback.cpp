#include "tests/support/loopback.h"

#include <algorithm>
#include <chrono>
#include <thread>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>

// Winsock under the POSIX names used below; its socket handles are small values that an int
// carries.
namespace loopback {
namespace {
constexpr int SOCK_CLOEXEC = 0, MSG_NOSIGNAL = 0;
int close(int fd) { return ::closesocket(fd); }
int poll(pollfd* fds, unsigned long count, int ms) { return ::WSAPoll(fds, count, ms); }
// Started once and never given back, so that the library's own WSACleanup calls never take
// the count to zero, which would close every socket of the process.
const bool started = [] {
  WSADATA data;
  return ::WSAStartup(0x0202, &data) == 0;
}();
}  // namespace
}  // namespace loopback
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace loopback {
namespace {

sockaddr_in addressOf(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

void noDelay(int fd) {
  const int on = 1;
  const char* value = reinterpret_cast<const char*>(&on);
  if (fd >= 0) ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, value, sizeof on);
}

bool readable(int fd, int ms) {
  pollfd p{};
  p.fd = fd;
  p.events = POLLIN;
  return fd >= 0 && poll(&p, 1, ms) > 0;
}

}  // namespace

int listenOn(std::uint16_t port, int patienceMs) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
  const sockaddr_in address = addressOf(port);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(patienceMs);
  while (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      close(fd);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ::listen(fd, 16);
  return fd;
}

std::uint16_t localPort(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.sin_port);
}

std::uint16_t freePort() {
  int probe = listenOn(0);
  const std::uint16_t port = localPort(probe);
  closeSocket(probe);
  return port;
}

int connectTo(std::uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in address = addressOf(port);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    closeSocket(fd);
  noDelay(fd);
  return fd;
}

std::string receiveUpTo(int fd, std::size_t length, int ms) {
  std::string got;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (got.size() < length) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !readable(fd, static_cast<int>(left.count()))) break;
    char chunk[4096];
    const ssize_t n = ::recv(fd, chunk, std::min(sizeof chunk, length - got.size()), 0);
    if (n <= 0) break;
    got.append(chunk, static_cast<std::size_t>(n));
  }
  return got;
}

std::string receiveSome(int fd, int ms) {
  char chunk[4096];
  const ssize_t n = readable(fd, ms) ? ::recv(fd, chunk, sizeof chunk, 0) : 0;
  return n > 0 ? std::string(chunk, static_cast<std::size_t>(n)) : std::string();
}

bool sendAll(int fd, const std::string& bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t sent = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    done += static_cast<std::size_t>(sent);
  }
  return true;
}

void closeSocket(int& fd) {
  if (fd < 0) return;
  close(fd);
  fd = -1;
}

bool Connection::closedByPeer(int ms) {
  while (readable(fd_, ms))
    if (receiveSome(fd_, 0).empty()) return true;
  return false;
}

}  // namespace loopback
