// The broker's side of a transcript (`--record FILE`): every connection's exchanges, in the
// format the client library records, appended to the file as one block when the connection
// ends. A `>` line is one unit the client sent (a token with its NUL, or a block of data)
// and a `<` line one send of the broker: the broker cuts the stream where the protocol
// does, so TCP's splitting or merging of the client's sends does not show.
#ifndef BROKER_RECORDING_H
#define BROKER_RECORDING_H

#include <cstddef>
#include <cstdio>
#include <map>
#include <string>

namespace broker {

class Recording {
 public:
  Recording() = default;
  ~Recording();
  Recording(const Recording&) = delete;
  Recording& operator=(const Recording&) = delete;

  // Opens `path` for appending; false with `error` saying why not.
  bool open(const std::string& path, std::string& error);
  // One exchange of `connection`; its first received unit, the introduction, names the
  // conversation.
  void exchange(int connection, bool received, const void* data, std::size_t length);
  // Appends the conversation of `connection` to the file, if it introduced itself.
  void end(int connection);

 private:
  std::FILE* file_ = nullptr;
  std::map<int, std::string> open_;  // connection -> its block so far
};

}  // namespace broker

#endif  // BROKER_RECORDING_H
