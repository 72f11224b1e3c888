#include "broker/serving/recording.h"

#include <cerrno>
#include <cstring>
#include <string_view>

#include "common/printable.h"
#include "transcript/transcript.h"

namespace broker {

Recording::~Recording() {
  if (file_) std::fclose(file_);
}

bool Recording::open(const std::string& path, std::string& error) {
  file_ = std::fopen(path.c_str(), "ab");
  if (!file_) error = printable::escaped(path) + ": " + std::strerror(errno);
  return file_ != nullptr;
}

void Recording::exchange(int connection, bool received, const void* data, std::size_t length) {
  auto block = open_.find(connection);
  if (block == open_.end()) {
    // A connection that sends nothing (a probe of the port) leaves no block.
    if (!received) return;
    const std::string_view bytes(static_cast<const char*>(data), length);
    block = open_.emplace(connection, std::string()).first;
    tapbroker::transcript::appendHeader(block->second, bytes.substr(0, bytes.find('\0')));
  }
  tapbroker::transcript::appendExchange(block->second,
                                        received ? tapbroker::transcript::Direction::ToBroker
                                                 : tapbroker::transcript::Direction::ToClient,
                                        data, length);
}

void Recording::end(int connection) {
  const auto block = open_.find(connection);
  if (block == open_.end()) return;
  // Whole blocks, flushed at once: conversations that end one after the other never mix,
  // and a broker that is killed loses only those still open. A blank line parts them, as
  // in the library's recording.
  block->second += '\n';
  std::fwrite(block->second.data(), 1, block->second.size(), file_);
  std::fflush(file_);
  open_.erase(block);
}

}  // namespace broker
