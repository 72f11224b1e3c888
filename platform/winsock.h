// The Windows Sockets calls the library makes: the system's own on Windows
// (win32/sockets.cpp), POSIX stand-ins elsewhere (posix/sockets.cpp). One system call per send
// and per receive; a send never raises SIGPIPE; a send of 0 bytes returns 0.
#ifndef PLATFORM_WINSOCK_H
#define PLATFORM_WINSOCK_H

#include <cstdint>

struct sockaddr;

namespace tapbroker::win {

typedef std::uint64_t SOCKET;
typedef unsigned short WORD;

// INVALID_SOCKET, SOCKET_ERROR, SD_RECEIVE, SD_SEND, SD_BOTH, AF_INET, SOCK_STREAM and
// IPPROTO_TCP, with the system's values, under names of their own: the system headers
// define the originals as macros.
constexpr SOCKET kInvalidSocket = ~SOCKET{0};
constexpr int kSocketError = -1;
constexpr int kShutdownReceive = 0;
constexpr int kShutdownSend = 1;
constexpr int kShutdownBoth = 2;
constexpr int kAfInet = 2;
constexpr int kSockStream = 1;
constexpr int kIpprotoTcp = 6;

// An IPv4 address as the sockets API lays it out: 16 bytes, port and address in network
// byte order. The address is a plain number: the system's s_addr is a macro on Windows.
struct SOCKADDR_IN {
  std::uint16_t sin_family;
  std::uint16_t sin_port;
  std::uint32_t sin_addr;
  char sin_zero[8];
};
static_assert(sizeof(SOCKADDR_IN) == 16);

struct WSADATA {
  WORD wVersion;
  WORD wHighVersion;
};

// Reference-counted start and stop of the sockets library. WSAStartup returns 0;
// WSACleanup returns 0, or kSocketError when nothing was started (the count stays 0).
int WSAStartup(WORD version, WSADATA* data);
int WSACleanup();
// The current reference count; for tests.
int WSAReferences();

// A close-on-exec socket, or kInvalidSocket. The handle is the system's socket in the low
// 32 bits under a generation number of its own (platform/socket_handles.h): it names this
// one connection, and once closed it is refused by every call below, even when the system
// has handed the same number to another socket since.
SOCKET socket(int family, int type, int protocol);
// 0 or kSocketError. Sets TCP_NODELAY on success: the protocol sends small tokens
// back to back and must never wait for a delayed acknowledgement. `address` is a
// SOCKADDR_IN of `length` 16.
int connect(SOCKET s, const sockaddr* address, int length);
// One call each: the byte count, or kSocketError. A signal interruption repeats the call;
// a short count is returned as it is. A length of 0 returns 0 without a system call.
int send(SOCKET s, const char* data, int length, int flags);
int recv(SOCKET s, char* data, int length, int flags);
int shutdown(SOCKET s, int how);
// Closes only live handles of this layer; anything else (0 after a failed connect, a
// handle already closed, a bare descriptor number) is refused with kSocketError and left
// alone. The calls above refuse such values the same way, so a stale handle never reaches
// another connection or a descriptor the host opened.
int closesocket(SOCKET s);

// The dotted IPv4 address in network byte order; all bits set when it is malformed.
std::uint32_t inet_addr(const char* dotted);
// Parenthesised: an optimising build of the system headers makes htons a macro.
std::uint16_t(htons)(std::uint16_t host);

}  // namespace tapbroker::win

#endif  // PLATFORM_WINSOCK_H
