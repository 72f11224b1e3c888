// What the seeded fuzzing client cannot show: a client that stalls mid-transfer loses its
// connection after the transfer timeout, a connection beyond the cap is closed at once,
// and the executable takes its idle limit from the environment. Garbage, oversized tokens
// and dropped transfers are the fuzzing client's business (tests/broker_fuzz).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

#include "tests/broker/broker_harness.h"
#include "tests/support/loopback.h"
#include "tests/support/processes.h"

namespace {

// A second client still gets its answers.
void stillServes(const RunningBroker& broker) {
  WireClient other(broker.port());
  ASSERT_EQ(other.introduce(), kAck);
  ASSERT_EQ(other.command(30), kAck);
  EXPECT_EQ(other.answerInt(), 1);
}

void waitForConnections(const RunningBroker& broker, int count) {
  for (int i = 0; i < 250 && broker.openConnections() != count; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

TEST(Robustness, AStalledTransferEndsOnlyThatConnection) {
  RunningBroker broker;  // gives up on a stalled transfer after 2 s
  WireClient stalled(broker.port());
  ASSERT_EQ(stalled.introduce(), kAck);
  ASSERT_EQ(stalled.command(19), kAck);
  ASSERT_EQ(stalled.strict(0), kAck);
  EXPECT_TRUE(stalled.closedByBroker());
  stillServes(broker);
  waitForConnections(broker, 0);
  EXPECT_EQ(broker.openConnections(), 0);
}

TEST(Robustness, ConnectionsBeyondTheCapAreClosedAtOnce) {
  broker::ServerConfig config = RunningBroker::defaults();
  config.maxConnections = 4;
  RunningBroker broker(config);
  std::vector<std::unique_ptr<WireClient>> clients;
  for (int i = 0; i < 4; ++i) {
    clients.push_back(std::make_unique<WireClient>(broker.port()));
    ASSERT_EQ(clients.back()->introduce(), kAck);
  }
  WireClient refused(broker.port());
  EXPECT_TRUE(refused.closedByBroker());
  clients.pop_back();
  waitForConnections(broker, 3);
  stillServes(broker);
}

TEST(BrokerExecutable, ServesOnTheGivenPortAndExitsWhenIdle) {
  const std::uint16_t port = loopback::freePort();
  // No --idle-exit: the limit comes from the environment, as for a broker that the library
  // starts without a command line.
  processes::Launch launch{{"--port", std::to_string(port)}};
  launch.environment = {"TAPBROKER_IDLE_EXIT=1"};
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

  int status = -1;
  for (int i = 0; i < 100 && ::waitpid(pid, &status, WNOHANG) == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (status == -1) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    FAIL() << "the broker did not exit when idle";
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
