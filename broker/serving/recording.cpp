#include "broker/serving/recording.h"

#include <utility>

#include "common/printable.h"
#include "broker/serving/trace.h"

namespace broker {

Recording::~Recording() { finish(); }

bool Recording::open(const std::string& path, const Trace& trace, std::string& error) {
  if (!file_.open(path, error)) {
    error = printable::escaped(path) + ": " + error;
    return false;
  }
  path_ = path;
  trace_ = &trace;
  writer_ = std::thread([this] { writeBlocks(); });
  return true;
}

std::optional<tapbroker::transcript::PendingBlock> Recording::begin(
    std::string_view client) const {
  if (lost_) return std::nullopt;
  return tapbroker::transcript::PendingBlock(path_, client);
}

void Recording::end(tapbroker::transcript::PendingBlock block) {
  if (lost_) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!closing_) {
      waiting_.push_back(std::move(block));
      ready_.notify_one();
      return;
    }
  }
  lose("the conversation ended after the recording had been closed");
}

bool Recording::finish() {
  if (writer_.joinable()) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closing_ = true;
    }
    ready_.notify_one();
    writer_.join();
  }
  return !lost_;
}

void Recording::writeBlocks() {
  for (;;) {
    std::unique_lock<std::mutex> lock(mutex_);
    ready_.wait(lock, [this] { return closing_ || !waiting_.empty(); });
    if (waiting_.empty()) return;
    tapbroker::transcript::PendingBlock block = std::move(waiting_.front());
    waiting_.pop_front();
    lock.unlock();
    std::string error;
    if (!lost_ && !file_.append(block, error)) lose(error);
  }
}

void Recording::lose(const std::string& reason) {
  if (lost_.exchange(true)) return;
  trace_->problem(0, "stops recording into " + printable::escaped(path_) + ": " + reason +
                         "; the conversation's block is not in the file, nor any after it");
}

}  // namespace broker
