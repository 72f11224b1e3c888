// Recording of conversations into a transcript file: when TAPBROKER_CLIENT_RECORD names a
// file at Connect, every byte the wire moves on that connection is kept, in order (about a
// megabyte of its text in memory, the rest in a spill file beside the target), and the
// conversation is appended to the file as one block when it ends (the connection closed
// by Disconnect or by the next Connect, or the process exiting). Whole blocks, written one
// at a time under the file's lock, keep the conversations of clients and processes that
// record at once apart in the file.
//
// Recording never changes the conversation: a file that cannot be written costs the
// recording only, and says so once on standard error. A block that cannot be written whole
// is taken back, and nothing more is recorded, so the file keeps only whole blocks.
#ifndef PROTOCOL_RECORDING_H
#define PROTOCOL_RECORDING_H

#include <atomic>
#include <cstdint>
#include <string_view>

namespace tapbroker::protocol::recording {

typedef std::uint64_t SOCKET;

// The conversations being recorded in this process. The wire's one check: with none, a
// send or a receive costs nothing more than this load.
extern std::atomic<int> liveConversations;
inline bool active() { return liveConversations.load(std::memory_order_relaxed) != 0; }

// Starts the conversation of `client` on `socket` when the environment asks for it.
void begin(SOCKET socket, std::string_view client);
// Appends the conversation on `socket` to its file, if one is being recorded.
void end(SOCKET socket);
// One send or receive call on `socket` that moved `length` bytes (0 or less: none).
void sent(SOCKET socket, const void* data, int length);
void received(SOCKET socket, const void* data, int length);

}  // namespace tapbroker::protocol::recording

#endif  // PROTOCOL_RECORDING_H
