// A Client introduced to a ScriptedBroker, for tests that read like wire transcripts:
// script what follows the introduction on `broker`, call start(), drive the client, then
// finish() checks that the broker saw exactly the script.
#ifndef TESTS_UNIT_WIRE_TEST_H
#define TESTS_UNIT_WIRE_TEST_H

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "tapbroker_client.h"
#include "tests/support/connect_fixture.h"
#include "tests/support/scripted_broker.h"

// A buffer argument left out.
inline const unsigned char* const kNone = nullptr;

class WireTest : public ::testing::Test {
 protected:
  WireTest() { introduce(); }
  // Closes what the test left open without putting anything more on the wire.
  ~WireTest() override { hangUp(client); }

  // The broker's side of a Connect: the client's name, answered by any byte.
  void introduce() { broker.expectToken(name).answer("+"); }
  void start() {
    ASSERT_EQ(client.Connect(nullptr, nullptr, nullptr), 0);
  }
  void finish() { EXPECT_EQ(broker.finish(), ""); }

  // The command token and the broker's reply; Send's closing read answered by `value`.
  void command(int number) { broker.token(std::to_string(number)); }
  // The command token, then `tokens`, each acknowledged; no command token for -1.
  void header(int number, const Lines& tokens) {
    if (number >= 0) command(number);
    for (const std::string& token : tokens) broker.token(token);
  }
  void finalRead(int value) { broker.request(std::to_string(value)); }

  // The broker's side of Send(4, "u", "p", 0) and Send(33), both granted.
  void scriptGrant() {
    scriptCommand4("1");
    broker.expectToken("33").answer("ok").request("1");
  }
  void scriptCommand4(const std::string& grant,
                      const Lines& values = {"0", "0", "0", "1", "0", "0", "0", "1", "0", "0"}) {
    broker.expectToken("4").answer("ok").expectToken("u").answer("ok");
    broker.expectToken("p").answer("ok");
    for (const std::string& value : values) broker.expectToken(value).answer("ok");
    broker.request(grant);
  }
  void grant() {
    ASSERT_EQ(client.Send(4, "u", "p", 0), 0);
    ASSERT_EQ(client.Send(33), 0);
  }

  // The identifiers of the reports that `run` made, in order (debugging on meanwhile);
  // with `wanted`, only those.
  Lines reported(const std::function<void()>& run, const Lines& wanted = {}) {
    ::testing::internal::CaptureStderr();
    client.Set_Debug_On();
    run();
    client.Set_Debug_Off();
    const std::string lines = ::testing::internal::GetCapturedStderr();
    Lines all, ids;
    const std::string tag = "tapbrokerclient[";
    for (std::size_t at = lines.find(tag); at != std::string::npos;
         at = lines.find(tag, at + 1))
      all.push_back(lines.substr(at + tag.size(), 4));
    all.pop_back();  // Set_Debug_Off's own report
    for (const std::string& id : all)
      if (wanted.empty() || std::find(wanted.begin(), wanted.end(), id) != wanted.end())
        ids.push_back(id);
    return ids;
  }

  char name[8] = "tester";
  ScriptedBroker broker;
  Client client{name};
};

#endif  // TESTS_UNIT_WIRE_TEST_H
