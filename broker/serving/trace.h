// The broker's transcript and its complaints. With tracing on, every exchange becomes one
// line on the sink: the connection, the direction, the bytes (text escaped, binary data as
// hex, long blocks shortened) and what they mean. Problems (a connection closed for bad
// input, a refused connection) are written whether tracing is on or not.
#ifndef BROKER_TRACE_H
#define BROKER_TRACE_H

#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace broker {

// A readable form of `length` bytes: quoted and escaped when they are text (NUL as \0),
// else hex; at most `limit` bytes are shown, with the total when there are more.
std::string describeBytes(const void* data, std::size_t length, std::size_t limit = 48);

class Recording;

class Trace {
 public:
  using Sink = std::function<void(const std::string& line)>;
  enum class Direction { Received, Sent };

  // Without a sink, lines go to standard error.
  explicit Trace(bool exchanges, Sink sink = {});

  bool tracing() const { return exchanges_; }
  // Where the connections record their conversations; null when nobody records.
  void recordInto(Recording* recording) { recording_ = recording; }
  Recording* recording() const { return recording_; }
  void exchange(int connection, Direction direction, const void* data, std::size_t length,
                std::string_view meaning) const;
  // A line about a connection when tracing (connection 0: the broker itself).
  void note(int connection, std::string_view text) const;
  // A line always written.
  void problem(int connection, std::string_view text) const;

 private:
  void write(const std::string& line) const;

  bool exchanges_;
  Sink sink_;
  Recording* recording_ = nullptr;
  mutable std::mutex mutex_;
};

}  // namespace broker

#endif  // BROKER_TRACE_H
