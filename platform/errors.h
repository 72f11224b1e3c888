// The thread's last error, which every failing call of the platform layer sets, and the
// codes the layer reports for the refusals it makes itself, in the system's own numbering
// (Winsock's on Windows, errno's elsewhere) so that they read like the system's own.
#ifndef PLATFORM_ERRORS_H
#define PLATFORM_ERRORS_H

#include <cstdint>

#if !defined(_WIN32)
#include <cerrno>
#endif

namespace tapbroker::win {

#if defined(_WIN32)
typedef unsigned long DWORD;  // the system's own type, so that calls pass straight through
constexpr int kNotSocket = 10038;        // WSAENOTSOCK
constexpr int kInvalidArgument = 10022;  // WSAEINVAL
constexpr int kBadAddress = 10014;       // WSAEFAULT
constexpr int kTooManySockets = 10024;   // WSAEMFILE
#else
typedef std::uint32_t DWORD;
constexpr int kNotSocket = ENOTSOCK;
constexpr int kInvalidArgument = EINVAL;
constexpr int kBadAddress = EFAULT;
constexpr int kTooManySockets = EMFILE;
#endif

// The error code of the last failed call of this layer on this thread.
DWORD GetLastError();
void SetLastError(DWORD code);

}  // namespace tapbroker::win

#endif  // PLATFORM_ERRORS_H
