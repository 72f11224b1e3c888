// The Windows Sockets calls the library makes, on Windows: the system's own, behind the
// declarations the POSIX stand-ins share, so that nothing above this layer changes.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>

// The declarations name these as constants of their own, with the system's values; from
// here on the names are theirs. (s_addr is a macro of the system's address structure.)
constexpr ::SOCKET kSystemInvalidSocket = INVALID_SOCKET;
constexpr int kSystemSocketError = SOCKET_ERROR;
constexpr int kSystemShutdown[] = {SD_RECEIVE, SD_SEND, SD_BOTH};
#undef INVALID_SOCKET
#undef SOCKET_ERROR
#undef SD_RECEIVE
#undef SD_SEND
#undef SD_BOTH
#undef s_addr
#include "platform/winsock.h"

#include "platform/socket_handles.h"

static_assert(win::kAfInet == AF_INET && win::kSockStream == SOCK_STREAM &&
              win::kIpprotoTcp == IPPROTO_TCP);
static_assert(win::INVALID_SOCKET == kSystemInvalidSocket &&
              win::SOCKET_ERROR == kSystemSocketError);
static_assert(win::SD_RECEIVE == kSystemShutdown[0] && win::SD_SEND == kSystemShutdown[1] &&
              win::SD_BOTH == kSystemShutdown[2]);
static_assert(sizeof(win::SOCKET) == sizeof(::SOCKET));

namespace win {
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
  return SOCKET_ERROR;
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
  if (::WSACleanup() != 0) return SOCKET_ERROR;
  references.fetch_sub(1);
  return 0;
}

int WSAReferences() { return references.load(); }

SOCKET socket(int family, int type, int protocol) {
  ::SOCKET system = ::socket(family, type, protocol);
  if (system == kSystemInvalidSocket) return INVALID_SOCKET;
  SOCKET handle = socket_handles::add(system);
  if (handle == INVALID_SOCKET) {
    ::closesocket(system);
    fail(WSAEMFILE);
  }
  return handle;
}

int connect(SOCKET handle, const sockaddr* address, int length) {
  ::SOCKET s;
  if (!systemSocket(handle, s)) return fail(WSAENOTSOCK);
  if (address == nullptr || length < static_cast<int>(sizeof(SOCKADDR_IN))) return fail(WSAEFAULT);
  const SOCKADDR_IN* in = reinterpret_cast<const SOCKADDR_IN*>(address);
  sockaddr_in target{};
  target.sin_family = in->sin_family;
  target.sin_port = in->sin_port;
  target.sin_addr.S_un.S_addr = in->sin_addr.s_addr;
  if (::connect(s, reinterpret_cast<const ::sockaddr*>(&target), sizeof target) != 0)
    return SOCKET_ERROR;
  // Small tokens go back to back; none may wait for a delayed acknowledgement.
  BOOL on = TRUE;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  return 0;
}

int send(SOCKET handle, const char* data, int length, int flags) {
  if (length < 0) return fail(WSAEINVAL);
  if (length == 0) return 0;
  if (data == nullptr) return fail(WSAEFAULT);
  ::SOCKET s;
  if (!systemSocket(handle, s)) return fail(WSAENOTSOCK);
  return ::send(s, data, length, flags);
}

int recv(SOCKET handle, char* data, int length, int flags) {
  if (length < 0) return fail(WSAEINVAL);
  if (length == 0) return 0;
  if (data == nullptr) return fail(WSAEFAULT);
  ::SOCKET s;
  if (!systemSocket(handle, s)) return fail(WSAENOTSOCK);
  return ::recv(s, data, length, flags);
}

int shutdown(SOCKET handle, int how) {
  ::SOCKET s;
  if (!systemSocket(handle, s)) return fail(WSAENOTSOCK);
  return ::shutdown(s, how);
}

int closesocket(SOCKET handle) {
  std::uint64_t system;
  if (!socket_handles::remove(handle, system)) return fail(WSAENOTSOCK);
  return ::closesocket(static_cast<::SOCKET>(system));
}

std::uint32_t inet_addr(const char* dotted) {
  return dotted == nullptr ? INADDR_NONE : ::inet_addr(dotted);
}

std::uint16_t(htons)(std::uint16_t host) { return ::htons(host); }

}  // namespace win
