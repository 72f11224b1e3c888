#include "broker/cable/outcome.h"

namespace broker {

Outcome Outcome::withText(int result, std::string text) {
  if (text.size() > kMaxAnswerText) text.resize(kMaxAnswerText);
  return {result, true, std::move(text)};
}

Outcome Outcome::withList(int result, const std::vector<std::string>& items) {
  std::string joined;
  for (const std::string& item : items) {
    if (joined.size() + item.size() + 1 > kMaxAnswerText) break;
    joined += item;
    joined += ';';
  }
  return {result, true, std::move(joined)};
}

}  // namespace broker
