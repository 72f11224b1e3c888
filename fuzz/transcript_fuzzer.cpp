// The transcript reader on any text: it never reads past its input, and whatever it takes,
// written again and read again, gives back the same conversations. The writer on any
// bytes: read back, they are the same bytes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "transcript/transcript.h"

namespace {

bool same(const std::vector<tapbroker::transcript::Conversation>& a,
          const std::vector<tapbroker::transcript::Conversation>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].client != b[i].client || a[i].lines.size() != b[i].lines.size()) return false;
    for (std::size_t j = 0; j < a[i].lines.size(); ++j) {
      if (a[i].lines[j].direction != b[i].lines[j].direction ||
          a[i].lines[j].bytes != b[i].lines[j].bytes)
        return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<tapbroker::transcript::Conversation> read, again;
  std::string error;
  if (tapbroker::transcript::parse(input, read, error)) {
    std::string written;
    for (const tapbroker::transcript::Conversation& conversation : read) {
      tapbroker::transcript::appendHeader(written, conversation.client);
      for (const tapbroker::transcript::Line& line : conversation.lines)
        tapbroker::transcript::appendLine(written, line.direction, line.bytes.data(),
                                          line.bytes.size());
    }
    if (!tapbroker::transcript::parse(written, again, error) || !same(read, again))
      std::abort();
  } else if (error.rfind("line ", 0) != 0) {
    std::abort();
  }

  std::string text;
  tapbroker::transcript::appendHeader(text, "fuzz");
  tapbroker::transcript::appendLine(text, tapbroker::transcript::Direction::ToClient, data,
                                    size);
  read.clear();
  if (!tapbroker::transcript::parse(text, read, error) || read.size() != 1 ||
      read[0].lines.size() != 1 || read[0].lines[0].bytes != input)
    std::abort();
  return 0;
}
