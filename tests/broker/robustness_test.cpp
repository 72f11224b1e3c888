// What the end-to-end tests cannot show: a client that stalls mid-transfer loses its
// connection after the transfer timeout, the rule at the connection limit, and the
// executable's own behaviour (its idle limit from the environment, a taken port named).
// Garbage, oversized tokens and dropped transfers are the broker fuzzer's (fuzz/).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "tests/broker/broker_harness.h"
#include "tests/support/loopback.h"
#include "tests/support/processes.h"
#include "tests/support/scratch.h"

namespace {

using ::testing::HasSubstr;

TEST(Robustness, AStalledTransferEndsOnlyThatConnection) {
  RunningBroker broker;  // gives up on a stalled transfer after 2 s
  WireClient stalled(broker.port());
  ASSERT_EQ(stalled.introduce(), kAck);
  ASSERT_EQ(stalled.command(19), kAck);
  ASSERT_EQ(stalled.strict(0), kAck);
  EXPECT_TRUE(stalled.closedByPeer());
  WireClient other(broker.port());
  ASSERT_EQ(other.introduce(), kAck);
  EXPECT_EQ(other.command(30), kAck);
}

// Whatever a conversation throws ends it alone, with the reason in the trace: here the trace
// itself fails when the conversation of "thrower" begins.
TEST(Robustness, AFailureInsideAConversationEndsThatConversationAlone) {
  std::atomic<bool> failureTraced{false};
  RunningBroker broker(RunningBroker::defaults(), [&](const std::string& line) {
    if (line.find("\"thrower\" connected") != std::string::npos)
      throw std::runtime_error("the trace cannot be written");
    if (line.find("the conversation failed: the trace cannot be written") != std::string::npos)
      failureTraced = true;
  });
  WireClient other(broker.port());
  ASSERT_EQ(other.introduce(), kAck);
  WireClient thrower(broker.port());
  thrower.token("thrower");
  EXPECT_TRUE(thrower.closedByPeer());
  EXPECT_TRUE(failureTraced);
  EXPECT_EQ(other.command(31), kAck);
  EXPECT_EQ(other.answer(), "1");  // open connections: the thrower no longer counts
}

// A failure of the accept loop stops the broker with a failure status instead of leaving it
// alive but deaf: here the trace fails when the loop refuses a newcomer at the limit.
TEST(Robustness, AFailureOfTheAcceptLoopStopsTheBroker) {
  broker::ServerConfig config = RunningBroker::defaults();
  config.maxConnections = 1;
  config.timeouts.transferMs = config.timeouts.progressMs = 60000;
  RunningBroker broker(config, [](const std::string& line) {
    if (line.find("refused: ") != std::string::npos)
      throw std::runtime_error("the trace cannot be written");
  });
  WireClient busy(broker.port());
  ASSERT_EQ(busy.introduce(), kAck);
  ASSERT_EQ(busy.command(19), kAck);  // in the middle of a command: it cannot make room
  WireClient newcomer(broker.port());
  EXPECT_TRUE(busy.closedByPeer());
  EXPECT_TRUE(broker.failed());
}

TEST(Robustness, AtTheLimitTheLongestIdleMakesRoomUnlessAllAreBusy) {
  broker::ServerConfig config = RunningBroker::defaults();
  config.maxConnections = 3;
  config.timeouts.transferMs = 60000;
  config.timeouts.progressMs = 60000;  // busy in a command, not stalled in it
  RunningBroker broker(config);
  std::vector<std::unique_ptr<WireClient>> clients;
  for (int i = 0; i < 3; ++i) {
    clients.push_back(std::make_unique<WireClient>(broker.port()));
    ASSERT_EQ(clients.back()->introduce(), kAck);
  }
  // The first waited longest between commands: it goes, the newcomer is served.
  WireClient newcomer(broker.port());
  ASSERT_EQ(newcomer.introduce(), kAck);
  EXPECT_TRUE(clients[0]->closedByPeer());
  // With everyone in the middle of a command, nobody is displaced.
  for (WireClient* busy : {clients[1].get(), clients[2].get(), &newcomer}) {
    ASSERT_EQ(busy->command(5), kAck);
  }
  WireClient refused(broker.port());
  EXPECT_TRUE(refused.closedByPeer());
  EXPECT_EQ(newcomer.strict(5), kAck);
}

// A broker serving on a thread of its own is destroyed from another while one client keeps
// it busy and others wait in the middle of a command: destroying it must stop its loop
// first, or the two threads take the same conversations down twice.
TEST(Robustness, DestroyingAServingBrokerStopsItFirst) {
  for (int round = 0; round < 10; ++round) {
    broker::Trace trace(false, [](const std::string&) {});
    auto server = std::make_unique<broker::Server>(RunningBroker::defaults(), trace);
    std::string error;
    ASSERT_TRUE(server->listen(error)) << error;
    const std::uint16_t port = server->port();
    std::thread serving([raw = server.get()] { raw->run(); });

    std::vector<std::unique_ptr<WireClient>> waiting;
    for (int i = 0; i < 4; ++i) {
      waiting.push_back(std::make_unique<WireClient>(port));
      ASSERT_EQ(waiting.back()->introduce(), kAck);
      ASSERT_EQ(waiting.back()->command(19), kAck);
    }
    std::atomic<bool> served{false};
    std::thread busy([port, &served] {
      WireClient client(port);
      if (client.introduce() != kAck) return;
      while (client.command(30) == kAck && client.answer() == "1") served = true;
    });
    while (!served) std::this_thread::yield();
    server.reset();
    serving.join();
    busy.join();
  }
}

TEST(BrokerExecutable, ServesExitsWhenIdleAndNamesTheBrokerOnItsPort) {
  const std::uint16_t port = loopback::freePort();
  // No --idle-exit: the limit comes from the environment, as for a broker that the library
  // starts without a command line.
  processes::Launch launch{{"--port", std::to_string(port)}};
  launch.environment = {"TAPBROKER_IDLE_EXIT=2"};
  const pid_t pid = processes::spawn(TAPBROKER_EXE, launch);
  ASSERT_GT(pid, 0);
  std::unique_ptr<WireClient> client;
  for (int attempt = 0; attempt < 100; ++attempt) {
    client = std::make_unique<WireClient>(port);
    if (client->connected()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_TRUE(client->connected());
  EXPECT_EQ(client->introduce(), kAck);
  EXPECT_EQ(client->command(30), kAck);
  EXPECT_EQ(client->answerInt(), 1);
  client->close();

  // A second broker on the same port says which process holds it and how to stop it.
  TempDir directory;
  processes::Launch second{{"--port", std::to_string(port)}, directory / "errors"};
  EXPECT_EQ(processes::exitStatus(processes::spawn(TAPBROKER_EXE, second), 10), 1);
  const std::string errors = readFile(second.errorFile);
  EXPECT_THAT(errors, HasSubstr("kill " + std::to_string(pid)));
  EXPECT_EQ(processes::exitStatus(pid, 10), 0) << "the broker did not exit when idle";
}

}  // namespace
