// POSIX stand-ins for the Windows Sockets calls the library makes. One system call per
// send and per receive; a send never raises SIGPIPE; a send of 0 bytes returns 0.
#ifndef PLATFORM_WINSOCK_H
#define PLATFORM_WINSOCK_H

#include <cstdint>

struct sockaddr;

namespace win {

typedef std::uint64_t SOCKET;
typedef unsigned short WORD;
constexpr SOCKET INVALID_SOCKET = ~SOCKET{0};
constexpr int SOCKET_ERROR = -1;
constexpr int SD_SEND = 1;

struct WSADATA {
  WORD wVersion;
  WORD wHighVersion;
};

// Reference-counted start and stop of the sockets library: returns 0.
int WSAStartup(WORD version, WSADATA* data);
int WSACleanup();
// The current reference count; for tests.
int WSAReferences();

// A close-on-exec socket, or INVALID_SOCKET.
SOCKET socket(int family, int type, int protocol);
// 0 or SOCKET_ERROR. Sets TCP_NODELAY on success: the protocol sends small tokens
// back to back and must never wait for a delayed acknowledgement.
int connect(SOCKET s, const sockaddr* address, int length);
// One call each: the byte count, or SOCKET_ERROR. A signal interruption repeats the call.
int send(SOCKET s, const char* data, int length, int flags);
int recv(SOCKET s, char* data, int length, int flags);
int shutdown(SOCKET s, int how);
// Closes only sockets this layer opened; anything else (0 after a failed connect, a
// stale value) is refused with SOCKET_ERROR and left alone.
int closesocket(SOCKET s);

std::uint32_t inet_addr(const char* dotted);
std::uint16_t htons(std::uint16_t host);

}  // namespace win

#endif  // PLATFORM_WINSOCK_H
