// The list splitting of Read(std::vector<std::string>&) against a reading of its own, on
// any answer a receive can bring: up to 1024 bytes, followed by the NUL that the answer
// buffer always holds beyond them.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "protocol/answer_list.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 1024) size = 1024;
  const std::string answer(reinterpret_cast<const char*>(data), size);

  // Items cut at every ";", up to the first NUL; an empty item counts unless it is last.
  std::vector<std::string> expected = {"held before"};
  std::string item;
  for (char c : answer.substr(0, answer.find('\0'))) {
    if (c == ';') {
      expected.push_back(item);
      item.clear();
    } else {
      item += c;
    }
  }
  if (!item.empty()) expected.push_back(item);

  std::vector<std::string> items = {"held before"};
  tapbroker::protocol::appendListItems(answer.c_str(), items);
  if (items != expected) std::abort();
  return 0;
}
