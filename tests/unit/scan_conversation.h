// The wire fixture with the shorthands of the scan command tests.
#ifndef TESTS_UNIT_SCAN_CONVERSATION_H
#define TESTS_UNIT_SCAN_CONVERSATION_H

#include <string>
#include <vector>

#include "tests/unit/wire_fixture.h"

using ids_t = Ids;
const std::string kRequest("+\0", 2);
const unsigned char* const kNoData = nullptr;

class ScanConversation : public WireTest {
 protected:
  void finish() { EXPECT_EQ("", broker.finish()); }
  // The command token and the broker's reply to it.
  void command(int number) { broker.token(std::to_string(number)); }
  // Send's closing read: the request token, answered by `value`.
  void finalRead(int value) { broker.request(std::to_string(value)); }
  // The identifiers of the reports made while `run` ran, in order.
  ids_t reportsOf(const std::function<void()>& run) { return reported(run); }
};

// Only the identifiers in `wanted`, in their order.
inline ids_t only(const ids_t& ids, std::initializer_list<const char*> wanted) {
  ids_t out;
  for (const std::string& id : ids)
    for (const char* w : wanted)
      if (id == w) out.push_back(id);
  return out;
}

inline std::string bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += static_cast<char>(v);
  return out;
}
// Recognisable data, `n` bytes long.
inline std::string pattern(int n, int seed) {
  std::string out;
  for (int i = 0; i < n; ++i) out += static_cast<char>((i * 7 + seed) & 0xFF);
  return out;
}
inline const unsigned char* data(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}
// Text filling the client's whole answer buffer, so that the stream cannot merge it with
// an answer that follows without a request in between.
inline std::string padded(const std::string& text) {
  return text + std::string(1024 - text.size(), '\0');
}

#endif  // TESTS_UNIT_SCAN_CONVERSATION_H
