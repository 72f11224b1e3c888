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

bool same(const std::vector<transcript::Conversation>& a,
          const std::vector<transcript::Conversation>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].client != b[i].client || a[i].exchanges.size() != b[i].exchanges.size())
      return false;
    for (std::size_t j = 0; j < a[i].exchanges.size(); ++j) {
      if (a[i].exchanges[j].direction != b[i].exchanges[j].direction ||
          a[i].exchanges[j].bytes != b[i].exchanges[j].bytes)
        return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<transcript::Conversation> read, again;
  std::string error;
  if (transcript::parse(input, read, error)) {
    std::string written;
    for (const transcript::Conversation& conversation : read) {
      transcript::appendHeader(written, conversation.client);
      for (const transcript::Exchange& exchange : conversation.exchanges)
        transcript::appendExchange(written, exchange.direction, exchange.bytes.data(),
                                   exchange.bytes.size());
    }
    if (!transcript::parse(written, again, error) || !same(read, again)) std::abort();
  } else if (error.rfind("line ", 0) != 0) {
    std::abort();
  }

  std::string text;
  transcript::appendHeader(text, "fuzz");
  transcript::appendExchange(text, transcript::Direction::ToClient, data, size);
  read.clear();
  if (!transcript::parse(text, read, error) || read.size() != 1 ||
      read[0].exchanges.size() != 1 || read[0].exchanges[0].bytes != input)
    std::abort();
  return 0;
}
