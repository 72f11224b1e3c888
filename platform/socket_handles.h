// The library's 64-bit socket handles, kept apart from the system's socket numbers.
//
// The system hands a closed socket's number to the next socket it opens, so a number alone
// cannot tell one connection from the next. A handle carries the system's socket in its low
// 32 bits (what GetClientSocket shows) and, above it, a generation number that no other
// connection of this process has had. A handle is live from add() to remove(); every use
// of a socket asks find() first, so a handle kept past its close (by a copy of a Client, or
// after Disconnect) is refused even when the number has been reused.
//
// Standard C++ only, so that every sockets backend keeps its handles the same way. Safe to
// use from several threads at once.
#ifndef PLATFORM_SOCKET_HANDLES_H
#define PLATFORM_SOCKET_HANDLES_H

#include <cstdint>

namespace tapbroker::socket_handles {

constexpr std::uint64_t kNoHandle = ~std::uint64_t{0};

// Makes a live handle for the system socket `system`, just opened. Returns kNoHandle when
// the socket does not fit the low 32 bits (the caller then closes it as unusable). A live
// handle left with the same number is dropped: the system reused the number, so that
// socket was closed without remove().
std::uint64_t add(std::uint64_t system);
// True, with the system socket in `system`, while `handle` is live.
bool find(std::uint64_t handle, std::uint64_t& system);
// As find, and ends the handle's life: call it before closing the system socket, so that
// the number is no longer reachable through this handle once the system hands it out again.
bool remove(std::uint64_t handle, std::uint64_t& system);
// The live handle whose low 32 bits are `low` (as GetClientSocket reports them), or
// kNoHandle. For tests and tools that know only the number; the library never uses it.
std::uint64_t current(std::uint32_t low);

}  // namespace tapbroker::socket_handles

#endif  // PLATFORM_SOCKET_HANDLES_H
