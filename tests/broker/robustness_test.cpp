// Clients that break the conversation: each loses its own connection, and the broker goes on
// serving the others. Also the executable itself, on a port of its own.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tests/broker/broker_harness.h"

extern char** environ;

namespace {

// A second client still gets its answers.
void stillServes(const RunningBroker& broker) {
  WireClient other(broker.port());
  ASSERT_EQ(other.introduce(), kAck);
  ASSERT_EQ(other.command(30), kAck);
  EXPECT_EQ(other.answerInt(), 1);
}

bool anyProblemMentions(const RunningBroker& broker, const std::string& text) {
  for (const std::string& line : broker.problems()) {
    if (line.find(text) != std::string::npos) return true;
  }
  return false;
}

void waitForConnections(const RunningBroker& broker, int count) {
  for (int i = 0; i < 250 && broker.openConnections() != count; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

TEST(Robustness, GarbageAndOversizedTokensCloseOnlyTheirConnection) {
  RunningBroker broker;
  WireClient garbage(broker.port());
  ASSERT_EQ(garbage.introduce(), kAck);
  garbage.send(bytes({0xDE, 0xAD, 0x00, 0xBE, 0xEF}));
  EXPECT_TRUE(garbage.closedByBroker());
  EXPECT_TRUE(anyProblemMentions(broker, "not a command"));

  WireClient endless(broker.port());
  endless.send(std::string(1024, 'A'));  // no NUL in reach
  EXPECT_TRUE(endless.closedByBroker());
  EXPECT_TRUE(anyProblemMentions(broker, "without NUL within 1024 bytes"));
  stillServes(broker);
}

TEST(Robustness, DropsAndStallsInTheMiddleOfATransferEndThatConnection) {
  RunningBroker broker;  // gives up on a stalled transfer after 2 s
  {
    WireClient dropped(broker.port());
    ASSERT_EQ(dropped.introduce(), kAck);
    ASSERT_EQ(dropped.command(42), kAck);
    for (int token : {8 * 5000, 1, 1}) ASSERT_EQ(dropped.strict(token), kAck);
    dropped.send(std::string(1024, 'x'));
    ASSERT_EQ(dropped.receive(2), kAck);
    dropped.send(std::string(500, 'y'));  // half a block, then gone
  }
  WireClient stalled(broker.port());
  ASSERT_EQ(stalled.introduce(), kAck);
  ASSERT_EQ(stalled.command(19), kAck);
  ASSERT_EQ(stalled.strict(0), kAck);
  EXPECT_TRUE(stalled.closedByBroker());
  EXPECT_TRUE(anyProblemMentions(broker, "in the middle of an exchange"));
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

TEST(Robustness, RandomBytesAfterAnyCommandNeverBringTheBrokerDown) {
  RunningBroker broker;
  const int commands[] = {4, 19, 21, 41, 42, 44, 46, 47, 51, 52, 120, 9999};
  unsigned seed = 1;
  for (int round = 0; round < 48; ++round) {
    WireClient client(broker.port());
    ASSERT_EQ(client.introduce(), kAck);
    client.token(std::to_string(commands[round % std::size(commands)]));
    // Short tokens (digits, signs, text, NULs) mixed with raw bytes, as a confused client
    // might send them, without waiting for the answers.
    std::string noise = pattern(64 + 97 * round, seed++);
    for (std::size_t i = 0; i < noise.size(); i += 5) noise[i] = "0123-+;\0"[i % 9];
    client.send(noise);
    client.close();
  }
  stillServes(broker);
}

// The executable, on a free port, exits by itself once idle.
TEST(BrokerExecutable, ServesOnTheGivenPortAndExitsWhenIdle) {
  int probe = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
  const std::string port = std::to_string(ntohs(address.sin_port));
  ::close(probe);

  // No --idle-exit: the limit comes from the environment, as for a broker that the library
  // starts without a command line.
  const char* argv[] = {TAPBROKER_EXE, "--port", port.c_str(), nullptr};
  std::vector<char*> environment;
  for (char** variable = environ; *variable; ++variable) environment.push_back(*variable);
  std::string idle = "TAPBROKER_IDLE_EXIT=1";
  environment.push_back(idle.data());
  environment.push_back(nullptr);
  pid_t pid = 0;
  ASSERT_EQ(::posix_spawn(&pid, TAPBROKER_EXE, nullptr, nullptr, const_cast<char**>(argv),
                          environment.data()),
            0);
  std::unique_ptr<WireClient> client;
  for (int attempt = 0; attempt < 100; ++attempt) {
    client = std::make_unique<WireClient>(static_cast<std::uint16_t>(std::stoi(port)));
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
