#include "broker/serving/replay.h"

#include "broker/common/input_file.h"
#include "common/printable.h"

namespace broker {

bool Replay::load(const std::string& path, Replay& replay, std::string& error) {
  std::string text;
  if (!readInputFile(path, text, error, kMaxTranscriptSize)) {
    error = printable::escaped(path) + ": " + error;
    return false;
  }
  if (!tapbroker::transcript::parse(text, replay.conversations_, error)) {
    error = printable::escaped(path) + ", " + error;
    return false;
  }
  if (replay.conversations_.empty()) {
    error = printable::escaped(path) + ": no conversation (no \"client\" line)";
    return false;
  }
  for (std::size_t i = 0; i < replay.conversations_.size(); ++i) {
    replay.byName_[replay.conversations_[i].client].push_back(i);
  }
  return true;
}

const tapbroker::transcript::Conversation* Replay::take(const std::string& client, int& number,
                                                        std::size_t& count,
                                                        std::size_t& connection) {
  const auto found = byName_.find(client);
  count = found == byName_.end() ? 0 : found->second.size();
  connection = ++connections_[client];
  if (connection > count) return nullptr;
  const std::size_t index = found->second[connection - 1];
  number = static_cast<int>(index) + 1;
  return &conversations_[index];
}

void Replay::finished(bool asRecorded) {
  ++finished_;
  if (!asRecorded) diverged_ = true;
}

}  // namespace broker
