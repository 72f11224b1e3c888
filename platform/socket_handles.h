// The library's 64-bit socket handles, kept apart from the system's socket numbers, with
// what the library keeps of each connection: its deadline and whether it ran out.
//
// The system hands a closed socket's number to the next socket it opens, so a number alone
// cannot tell one connection from the next. A handle carries the system's socket in its low
// 32 bits (what GetClientSocket shows) and, above it, a generation number that no other
// connection of this process has had. A handle is live from add() to remove(); every use
// of a socket asks find() first, so a handle kept past its close (by a copy of a Client, or
// after Disconnect) is refused even when the number has been reused.
//
// This table is the library's one piece of process-wide state, on purpose: only a table
// beside the Client can tell a stale copy of a handle from the live one, since the Client's
// layout is fixed. Standard C++ only, so that every sockets backend keeps its handles the
// same way. Safe to use from several threads at once.
#ifndef PLATFORM_SOCKET_HANDLES_H
#define PLATFORM_SOCKET_HANDLES_H

#include <cstdint>

namespace tapbroker::platform::handles {

constexpr std::uint64_t kNoHandle = ~std::uint64_t{0};

// Makes a live handle for the system socket `system`, just opened, whose sends and
// receives give up after `deadlineMs` (0: never). Returns kNoHandle when the socket does not
// fit the low 32 bits (the caller then closes it as unusable). A live handle left with the
// same number is dropped: the system reused the number, so that socket was closed without
// remove().
std::uint64_t add(std::uint64_t system, unsigned deadlineMs);
// What a handle stands for now: nothing (never opened by this layer, or closed since), a
// live connection, or one given up when its deadline ran out (timedOut).
enum class Use { kNone, kLive, kGivenUp };
// The handle's use, with the system socket in `system` unless it is kNone.
Use find(std::uint64_t handle, std::uint64_t& system);
// As find, and ends the handle's life: call it before closing the system socket, so that
// the number is no longer reachable through this handle once the system hands it out again.
bool remove(std::uint64_t handle, std::uint64_t& system);
// Marks that a send or receive on `handle` ran out of time; platform::takeTimeout (in
// sockets.h, kept here for every backend) answers it once.
void timedOut(std::uint64_t handle);
// The live handle whose low 32 bits are `low` (as GetClientSocket reports them), or
// kNoHandle. For tests and tools that know only the number; the library never uses it.
std::uint64_t current(std::uint32_t low);

}  // namespace tapbroker::platform::handles

#endif  // PLATFORM_SOCKET_HANDLES_H
