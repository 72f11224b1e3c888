#include "protocol/answer_list.h"

namespace tapbroker::protocol {

void appendListItems(const char* text, std::vector<std::string>& items) {
  const char* itemStart = text;
  for (const char* at = text; *at != '\0'; ++at) {
    if (*at == ';') {
      items.emplace_back(itemStart, at);
      itemStart = at + 1;
    }
  }
  if (*itemStart != '\0') items.emplace_back(itemStart);
}

}  // namespace tapbroker::protocol
