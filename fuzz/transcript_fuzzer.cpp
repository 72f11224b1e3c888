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
  std::vector<tapbroker::transcript::Conversation> read, again;
  std::string error;
  if (tapbroker::transcript::parse(input, read, error)) {
    std::string written;
    for (const tapbroker::transcript::Conversation& conversation : read) {
      tapbroker::transcript::appendHeader(written, conversation.client);
      for (const tapbroker::transcript::Exchange& exchange : conversation.exchanges)
        tapbroker::transcript::appendExchange(written, exchange.direction,
                                              exchange.bytes.data(), exchange.bytes.size());
    }
    if (!tapbroker::transcript::parse(written, again, error) || !same(read, again))
      std::abort();
  } else if (error.rfind("line ", 0) != 0) {
    std::abort();
  }

  std::string text;
  tapbroker::transcript::appendHeader(text, "fuzz");
  tapbroker::transcript::appendExchange(text, tapbroker::transcript::Direction::ToClient, data,
                                        size);
  read.clear();
  if (!tapbroker::transcript::parse(text, read, error) || read.size() != 1 ||
      read[0].exchanges.size() != 1 || read[0].exchanges[0].bytes != input)
    std::abort();
  return 0;
}
