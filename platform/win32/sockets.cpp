// The library's connection on Winsock. The sockets library is started for each connection
// before its socket is made and stopped after the socket is closed, so that every connection
// holds one reference of its own.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "platform/socket_handles.h"
#include "platform/sockets.h"

static_assert(sizeof(tapbroker::platform::Socket) == sizeof(::SOCKET));

namespace tapbroker::platform {
namespace {

constexpr WORD kSocketsVersion = 0x0202;

Opened failed(OpenStep step, int error) { return {kInvalidSocket, step, error}; }

// What a send or receive that returned `result` gives the library; a deadline that ran out
// (WSAETIMEDOUT under SO_RCVTIMEO / SO_SNDTIMEO) gives the conversation up.
int outcome(Socket handle, std::uint64_t system, int result) {
  if (result != SOCKET_ERROR) return result;
  if (::WSAGetLastError() != WSAETIMEDOUT) return kFailed;
  handles::timedOut(handle);
  ::shutdown(static_cast<::SOCKET>(system), SD_SEND);
  return kTimedOut;
}

}  // namespace

Opened openLoopback(std::uint16_t port, unsigned deadlineMs) {
  WSADATA data;
  if (const int error = ::WSAStartup(kSocketsVersion, &data)) return failed(OpenStep::kStartup, error);
  const ::SOCKET system = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (system == INVALID_SOCKET) {
    const int error = ::WSAGetLastError();
    ::WSACleanup();
    return failed(OpenStep::kCreate, error);
  }
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = ::htons(port);
  target.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
  int error = 0;
  if (::connect(system, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0)
    error = ::WSAGetLastError();
  BOOL on = TRUE;
  if (error == 0)
    ::setsockopt(system, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  // The deadline in milliseconds, as a DWORD.
  const DWORD limit = deadlineMs;
  if (error == 0 && deadlineMs > 0 &&
      (::setsockopt(system, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit),
                    sizeof limit) != 0 ||
       ::setsockopt(system, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&limit),
                    sizeof limit) != 0))
    error = ::WSAGetLastError();
  const Socket handle = error == 0 ? handles::add(system, deadlineMs) : handles::kNoHandle;
  if (handle == handles::kNoHandle) {
    ::closesocket(system);
    ::WSACleanup();
    return failed(error != 0 ? OpenStep::kConnect : OpenStep::kCreate,
                  error != 0 ? error : WSAEMFILE);
  }
  return {handle, OpenStep::kDone, 0};
}

int send(Socket handle, const void* data, int length) {
  std::uint64_t system;
  if (length <= 0 || data == nullptr) return length == 0 ? 0 : kFailed;
  const handles::Use use = handles::find(handle, system);
  if (use != handles::Use::kLive) return use == handles::Use::kGivenUp ? length : kFailed;
  return outcome(handle, system, ::send(static_cast<::SOCKET>(system), static_cast<const char*>(data),
                                length, 0));
}

int receive(Socket handle, void* data, int capacity) {
  std::uint64_t system;
  if (capacity <= 0 || data == nullptr) return capacity == 0 ? 0 : kFailed;
  if (handles::find(handle, system) != handles::Use::kLive) return kFailed;
  return outcome(handle, system,
                 ::recv(static_cast<::SOCKET>(system), static_cast<char*>(data), capacity, 0));
}

bool shutdownSending(Socket handle) {
  std::uint64_t system;
  const handles::Use use = handles::find(handle, system);
  // A conversation given up has been shut down already.
  return use == handles::Use::kGivenUp ||
         (use == handles::Use::kLive && ::shutdown(static_cast<::SOCKET>(system), SD_SEND) == 0);
}

void close(Socket handle) {
  std::uint64_t system;
  if (!handles::remove(handle, system)) return;
  ::closesocket(static_cast<::SOCKET>(system));
  ::WSACleanup();
}

}  // namespace tapbroker::platform
