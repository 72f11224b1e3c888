// A transcript file and the text of one conversation on its way there, for the library's
// recording and the broker's alike.
//
// A conversation of any length holds about a megabyte of its text: what does not fit goes
// to a private spill file beside the target (unlinked, so nobody else sees it and nothing
// is left behind), written by a thread of its own while the conversation fills the other
// half of its allowance, and the whole text is appended as one block when it ends,
// under a lock on the target that every recorder takes, so that blocks never interleave.
// A block that cannot be written whole is taken back, so the file only ever holds whole
// blocks and stays readable.
#ifndef TRANSCRIPT_RECORD_FILE_H
#define TRANSCRIPT_RECORD_FILE_H

#include <cstddef>
#include <cstdint>
#include <future>
#include <memory>
#include <string>
#include <string_view>

#include "transcript/transcript.h"

namespace tapbroker::transcript {

class PendingBlock {
 public:
  // What a conversation keeps in memory at most (beyond one line longer than half of it):
  // one half filling, the other on its way to the spill file.
  static constexpr std::size_t kHeld = std::size_t{1} << 20;

  // The spill file, when one is needed, goes beside `target`.
  PendingBlock(std::string target, std::string_view client);
  ~PendingBlock();
  PendingBlock(PendingBlock&& other) noexcept;
  PendingBlock& operator=(PendingBlock&& other) noexcept;
  PendingBlock(const PendingBlock&) = delete;
  PendingBlock& operator=(const PendingBlock&) = delete;

  void exchange(Direction direction, const void* data, std::size_t length);
  // Empty while the text is whole; else why it is not (it then keeps nothing more).
  const std::string& failure() const { return failure_; }

 private:
  friend class RecordFile;
  // Half the allowance: `used` characters of text.
  struct Buffer {
    std::unique_ptr<char[]> text;
    std::size_t used = 0;
  };

  // One line, which `write` writes at the pointer it is given: at most `most` characters.
  template <class Write>
  void put(std::size_t most, Write write);
  // Starts the text held in memory on its way to the spill file.
  void spill();
  // Waits for the spill file's last write; a failure becomes the block's.
  void settle();
  // Settles, and makes the spill file when there is none yet; false when the block fails.
  bool readyToSpill();
  // Writes `length` characters to the spill file at once, after what is on its way.
  void spillNow(const char* text, std::size_t length);
  // Nothing more is kept, for `reason`.
  void fail(std::string reason);

  std::string target_;
  Buffer filling_;
  Buffer writing_;  // what `written_` is writing into the spill file
  std::future<std::string> written_;  // why that write failed; empty when it did not
  int spill_ = -1;
  std::uint64_t spilled_ = 0;
  std::string failure_;
};

class RecordFile {
 public:
  RecordFile() = default;
  ~RecordFile();
  RecordFile(const RecordFile&) = delete;
  RecordFile& operator=(const RecordFile&) = delete;

  // Opens `path` for appending: a regular file, or a new one. The opening never waits (a
  // FIFO without a reader is refused at once), and what is not a regular file once open
  // (a FIFO, a device, a socket) is refused, so a write can neither block nor raise
  // SIGPIPE. False with `error` saying why not.
  bool open(const std::string& path, std::string& error);
  // Appends `block` and a blank line after it, whole, or leaves the file as it was. False
  // with `error` saying why (the block's own failure, when it has one).
  bool append(PendingBlock& block, std::string& error);

 private:
  int fd_ = -1;
};

}  // namespace tapbroker::transcript

#endif  // TRANSCRIPT_RECORD_FILE_H
