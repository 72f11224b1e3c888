#include "broker/serving/process_resources.h"

#include <algorithm>
#include <cerrno>
#include <climits>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#if defined(_WIN32)
#include <windows.h>
#endif

namespace broker {

#if !defined(_WIN32)

int raiseDescriptorLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 1024;
  if (limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
    ::getrlimit(RLIMIT_NOFILE, &limit);
  }
  return static_cast<int>(std::min<rlim_t>(limit.rlim_cur, INT_MAX));
}

void keepFromChildren(asio::ip::tcp::socket::native_handle_type socket) {
  ::fcntl(socket, F_SETFD, FD_CLOEXEC);
}

bool outOfDescriptors(const std::error_code& error) {
  return error.category() == std::system_category() &&
         (error.value() == EMFILE || error.value() == ENFILE);
}

void SpareDescriptor::release() {
  if (descriptor_ >= 0) ::close(descriptor_);
  descriptor_ = -1;
}

void SpareDescriptor::keep() {
  if (descriptor_ < 0) descriptor_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

#else

// Windows sets no per-process limit on sockets; this bounds the broker's memory instead.
int raiseDescriptorLimit() { return 16384; }

void keepFromChildren(asio::ip::tcp::socket::native_handle_type socket) {
  ::SetHandleInformation(reinterpret_cast<HANDLE>(static_cast<SOCKET>(socket)),
                         HANDLE_FLAG_INHERIT, 0);
}

bool outOfDescriptors(const std::error_code& error) {
  return error == asio::error::no_descriptors || error == asio::error::no_buffer_space;
}

void SpareDescriptor::release() {}
void SpareDescriptor::keep() {}

#endif

void returnFreeMemory() {
#if defined(__GLIBC__)
  ::malloc_trim(0);
#endif
}

}  // namespace broker
