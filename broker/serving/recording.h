// The broker's side of a transcript (`--record FILE`): every connection's exchanges, in the
// format the client library records, appended to the file as one block when the
// connection ends. Each connection's Link taps what it moves into a PendingBlock (about a
// megabyte in memory, the rest spilled beside the file); the blocks of ended connections
// are appended by a thread of their own, so that a long one never holds up the event loop.
//
// A block that cannot be written whole is taken back (the file keeps whole blocks only),
// recording stops, and the reason goes to the trace once; finish() then tells the broker
// that something was lost.
#ifndef BROKER_RECORDING_H
#define BROKER_RECORDING_H

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "transcript/record_file.h"

namespace broker {

class Trace;

class Recording {
 public:
  Recording() = default;
  ~Recording();
  Recording(const Recording&) = delete;
  Recording& operator=(const Recording&) = delete;

  // Opens `path` for appending (a regular file or a new one); false with `error` saying
  // why not. Problems later go to `trace`.
  bool open(const std::string& path, const Trace& trace, std::string& error);
  // A conversation's block, named by the client's introduction; none once recording has
  // stopped.
  std::optional<tapbroker::transcript::PendingBlock> begin(std::string_view client) const;
  // Hands an ended conversation's block over to be appended.
  void end(tapbroker::transcript::PendingBlock block);
  // Waits until every block handed over has been written: true when none was lost.
  bool finish();

 private:
  void writeBlocks();
  // Recording stops for `reason`, said once.
  void lose(const std::string& reason);

  tapbroker::transcript::RecordFile file_;
  std::string path_;
  const Trace* trace_ = nullptr;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<tapbroker::transcript::PendingBlock> waiting_;
  bool closing_ = false;
  std::atomic<bool> lost_{false};
  std::thread writer_;
};

}  // namespace broker

#endif  // BROKER_RECORDING_H
