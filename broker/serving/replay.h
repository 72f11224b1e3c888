// Recorded conversations to serve again (`--replay FILE`): which conversation a client
// gets, and whether the replay went as recorded. The k-th connection that introduces itself
// with a name gets the k-th recorded conversation of that name. Serving one is
// ReplaySession's business; this is the book-keeping the connections share.
#ifndef BROKER_REPLAY_H
#define BROKER_REPLAY_H

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "transcript/transcript.h"

namespace broker {

class Replay {
 public:
  // Reads the transcript at `path` (a regular file of at most kMaxTranscriptSize bytes);
  // false with `error` naming the file and, for a file that is no transcript, the line.
  static bool load(const std::string& path, Replay& replay, std::string& error);

  // The next conversation of `client` and its number in the file (from 1); null when
  // the recording holds no more of that name (`count` then says how many it held).
  // `connection` says which connection of that name this is, from 1, refused or not.
  const tapbroker::transcript::Conversation* take(const std::string& client, int& number,
                                                  std::size_t& count, std::size_t& connection);
  // A conversation taken has ended, served to its end or not; a connection was refused.
  void finished(bool asRecorded);
  void refused() { diverged_ = true; }

  // Every conversation has been taken and has ended.
  bool complete() const { return finished_ == conversations_.size(); }
  // Something went otherwise than recorded: a difference, a refusal, or (once idle) a
  // conversation that nobody asked for.
  bool asRecorded() const { return !diverged_ && complete(); }
  std::size_t size() const { return conversations_.size(); }
  std::size_t finishedCount() const { return finished_; }

 private:
  std::vector<tapbroker::transcript::Conversation> conversations_;
  std::map<std::string, std::vector<std::size_t>> byName_;  // indices, in file order
  std::map<std::string, std::size_t> connections_;  // by name, served and refused
  std::size_t finished_ = 0;
  bool diverged_ = false;
};

}  // namespace broker

#endif  // BROKER_REPLAY_H
