// A Client introduced to a ScriptedBroker, for tests that read like wire transcripts:
// script what follows the introduction on `broker`, call start(), drive the client, then
// check broker.finish().
#ifndef TESTS_UNIT_WIRE_FIXTURE_H
#define TESTS_UNIT_WIRE_FIXTURE_H

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/socket_handles.h"
#include "platform/winsock.h"
#include "tapbroker_client.h"
#include "tests/support/scripted_broker.h"

using Ids = std::vector<std::string>;

class WireTest : public ::testing::Test {
 protected:
  WireTest() { introduce(); }
  ~WireTest() override {
    // Close what the test left open without putting anything more on the wire.
    win::closesocket(
        socket_handles::current(static_cast<std::uint32_t>(client.GetClientSocket())));
    win::WSACleanup();
  }

  // Scripts the broker's side of a Connect: the client's name, answered by any byte.
  void introduce() { broker.expectToken(name).answer("+"); }
  void start() {
    broker.run();
    ASSERT_EQ(client.Connect(nullptr, nullptr, nullptr), 0);
  }

  // The broker's side of Send(4, "u", "p", 0) and Send(33), both granted.
  void scriptGrant() {
    scriptCommand4("1");
    broker.expectToken("33").answer("ok").request("1");
  }
  void scriptCommand4(const std::string& grant,
                      const std::vector<std::string>& values = {"0", "0", "0", "1", "0", "0",
                                                                "0", "1", "0", "0"}) {
    broker.expectToken("4").answer("ok");
    broker.expectToken("u").answer("ok").expectToken("p").answer("ok");
    for (const std::string& value : values) broker.expectToken(value).answer("ok");
    broker.request(grant);
  }
  void grant() {
    ASSERT_EQ(client.Send(4, "u", "p", 0), 0);
    ASSERT_EQ(client.Send(33), 0);
  }

  // The message identifiers that `run` reported, in order (debugging is on meanwhile).
  Ids reported(const std::function<void()>& run) {
    Ids ids = posted([&] {
      client.Set_Debug_On();
      run();
      client.Set_Debug_Off();
    });
    ids.pop_back();  // Set_Debug_Off's own report
    return ids;
  }
  // The message identifiers posted to the catalogue while `run` ran, in order.
  static Ids posted(const std::function<void()>& run) {
    ::testing::internal::CaptureStderr();
    run();
    std::string lines = ::testing::internal::GetCapturedStderr();
    Ids ids;
    const std::string tag = "tapbrokerclient[";
    for (std::size_t at = lines.find(tag); at != std::string::npos;
         at = lines.find(tag, at + 1))
      ids.push_back(lines.substr(at + tag.size(), 4));
    return ids;
  }

  char name[8] = "tester";
  ScriptedBroker broker;
  Client client{name};
};

#endif  // TESTS_UNIT_WIRE_FIXTURE_H
