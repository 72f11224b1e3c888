// A connected Client and the scripted broker it talks to, for the scan command tests:
// write the broker's side of the conversation first, then start() and run the commands.
#ifndef TESTS_UNIT_SCAN_CONVERSATION_H
#define TESTS_UNIT_SCAN_CONVERSATION_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tapbroker_client.h"
#include "tests/support/scripted_broker.h"

using ids_t = std::vector<std::string>;
const std::string kRequest("+\0", 2);
const unsigned char* const kNoData = nullptr;

class ScanConversation : public ::testing::Test {
 protected:
  ScanConversation() { broker.expectToken("scan").ack(); }

  void start() {
    broker.run();
    ASSERT_EQ(0, client.Connect(nullptr, nullptr, nullptr));
  }
  void finish() { EXPECT_EQ("", broker.finish()); }

  // The command token and the broker's reply to it.
  void command(int number) { broker.token(std::to_string(number)); }
  // Send's closing read: the request token, answered by `value`.
  void finalRead(int value) { broker.request(std::to_string(value)); }
  // Both flags granted (command 4 with no values, then command 33), so that 19 goes out.
  void scriptGrant() {
    command(4);
    for (const char* t : {"a", "b", "0", "0", "0", "1", "0", "0", "0", "1", "0", "0"})
      broker.token(t);
    broker.request("1");
    command(33);
    broker.request("1");
  }
  void grant() {
    ASSERT_EQ(0, client.Send(4, "a", "b", 0));
    ASSERT_EQ(0, client.Send(33));
  }

  // The identifiers of the reports made while `run` ran, in order.
  template <class Run>
  ids_t reportsOf(Run run) {
    client.Set_Debug_On();
    ::testing::internal::CaptureStderr();
    run();
    client.Set_Debug_Off();
    std::string posted = ::testing::internal::GetCapturedStderr();
    ids_t ids;  // each report is a line "<tag>[<id>]: <text>"
    for (std::size_t at = posted.find("]: "); at != std::string::npos;
         at = posted.find("]: ", at + 1))
      if (at >= 5 && posted[at - 5] == '[') ids.push_back(posted.substr(at - 4, 4));
    if (!ids.empty() && ids.back() == "1101") ids.pop_back();  // debugging switched off
    return ids;
  }

  ScriptedBroker broker;
  Client client{const_cast<char*>("scan")};
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
