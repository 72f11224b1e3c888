// The Windows Sockets calls the library makes, on Windows: the system's own, behind the
// declarations the POSIX stand-ins share, so that nothing above this layer changes.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>

#include "platform/errors.h"
#include "platform/socket_handles.h"
#include "platform/winsock.h"

static_assert(tapbroker::win::kAfInet == AF_INET &&
              tapbroker::win::kSockStream == SOCK_STREAM &&
              tapbroker::win::kIpprotoTcp == IPPROTO_TCP);
static_assert(tapbroker::win::kInvalidSocket == INVALID_SOCKET &&
              tapbroker::win::kSocketError == SOCKET_ERROR);
static_assert(tapbroker::win::kShutdownReceive == SD_RECEIVE &&
              tapbroker::win::kShutdownSend == SD_SEND &&
              tapbroker::win::kShutdownBoth == SD_BOTH);
static_assert(tapbroker::win::kNotSocket == WSAENOTSOCK &&
              tapbroker::win::kInvalidArgument == WSAEINVAL &&
              tapbroker::win::kBadAddress == WSAEFAULT &&
              tapbroker::win::kTooManySockets == WSAEMFILE);
static_assert(sizeof(tapbroker::win::SOCKET) == sizeof(::SOCKET));

namespace tapbroker::win {
namespace {

std::atomic<int> references{0};

// The system socket behind the library handle `s`; false when `s` is not live (0 after a
// failed connect, a handle already closed whose socket number may be in use again).
bool systemSocket(SOCKET s, ::SOCKET& system) {
  std::uint64_t found;
  if (!socket_handles::find(s, found)) return false;
  system = static_cast<::SOCKET>(found);
  return true;
}

int fail(int error) {
  ::WSASetLastError(error);
  return kSocketError;
}

}  // namespace

int WSAStartup(WORD version, WSADATA* data) {
  ::WSADATA system{};
  int error = ::WSAStartup(version, &system);
  if (error != 0) return error;
  references.fetch_add(1);
  if (data != nullptr) {
    data->wVersion = system.wVersion;
    data->wHighVersion = system.wHighVersion;
  }
  return 0;
}

int WSACleanup() {
  if (::WSACleanup() != 0) return kSocketError;
  references.fetch_sub(1);
  return 0;
}

int WSAReferences() { return references.load(); }

SOCKET socket(int family, int type, int protocol) {
  ::SOCKET system = ::socket(family, type, protocol);
  if (system == INVALID_SOCKET) return kInvalidSocket;
  SOCKET handle = socket_handles::add(system);
  if (handle == kInvalidSocket) {
    ::closesocket(system);
    fail(kTooManySockets);
  }
  return handle;
}

int connect(SOCKET handle, const sockaddr* address, int length) {
  ::SOCKET s;
  if (!systemSocket(handle, s)) return fail(kNotSocket);
  if (address == nullptr || length < static_cast<int>(sizeof(SOCKADDR_IN))) return fail(kBadAddress);
  const SOCKADDR_IN* in = reinterpret_cast<const SOCKADDR_IN*>(address);
  sockaddr_in target{};
  target.sin_family = in->sin_family;
  target.sin_port = in->sin_port;
  target.sin_addr.s_addr = in->sin_addr;
  if (::connect(s, reinterpret_cast<const ::sockaddr*>(&target), sizeof target) != 0)
    return kSocketError;
  // Small tokens go back to back; none may wait for a delayed acknowledgement.
  BOOL on = TRUE;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  return 0;
}

int send(SOCKET handle, const char* data, int length, int flags) {
  if (length < 0) return fail(kInvalidArgument);
  if (length == 0) return 0;
  if (data == nullptr) return fail(kBadAddress);
  ::SOCKET s;
  if (!systemSocket(handle, s)) return fail(kNotSocket);
  return ::send(s, data, length, flags);
}

int recv(SOCKET handle, char* data, int length, int flags) {
  if (length < 0) return fail(kInvalidArgument);
  if (length == 0) return 0;
  if (data == nullptr) return fail(kBadAddress);
  ::SOCKET s;
  if (!systemSocket(handle, s)) return fail(kNotSocket);
  return ::recv(s, data, length, flags);
}

int shutdown(SOCKET handle, int how) {
  ::SOCKET s;
  if (!systemSocket(handle, s)) return fail(kNotSocket);
  return ::shutdown(s, how);
}

int closesocket(SOCKET handle) {
  std::uint64_t system;
  if (!socket_handles::remove(handle, system)) return fail(kNotSocket);
  return ::closesocket(static_cast<::SOCKET>(system));
}

std::uint32_t inet_addr(const char* dotted) {
  return dotted == nullptr ? INADDR_NONE : ::inet_addr(dotted);
}

std::uint16_t(htons)(std::uint16_t host) { return ::htons(host); }

}  // namespace tapbroker::win
