// The conversation's life against a real broker: Connect starting tapbroker.exe itself, or
// failing clearly when there is none to start; two clients at once; a broker that keeps
// serving a client while another connection sends it garbage.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "e2e_support.h"
#include "tests/support/loopback.h"
#include "tests/support/scratch.h"

namespace e2e {
namespace {

// Connect only starts a broker when none runs on the machine at all; other programs' tests
// start brokers too, so wait for a quiet moment.
constexpr int kQuietWaitSeconds = 10;

// A raw TCP connection to the broker, for bytes no Client would send.
class RawConnection : public loopback::Connection {
 public:
  RawConnection() : Connection(4001) {}
  // Up to `atMost` bytes, within five seconds; `closed` tells whether the broker closed
  // the connection.
  std::string receive(std::size_t atMost, bool& closed) {
    const std::string bytes = Connection::receive(atMost);
    closed = bytes.size() < atMost && closedByPeer(0);
    return bytes;
  }
};

// NUL-terminated tokens, as the conversation carries them.
std::string tokens(std::initializer_list<std::string_view> texts) {
  std::string bytes;
  for (std::string_view text : texts) (bytes += text) += '\0';
  return bytes;
}

class QuietMachine : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!waitForNoBroker(kQuietWaitSeconds) || portAnswers())
      GTEST_SKIP() << "a broker runs on this machine or port 4001 is taken";
  }
};

TEST_F(QuietMachine, ConnectStartsTheBrokerFromTheBinaryDirectory) {
  char name[] = "e2e-autostart";
  Client client(name);
  ASSERT_EQ(client.Connect(nullptr, nullptr, nullptr), 0);
  const std::vector<pid_t> started = processes::brokers(binaryDirectory());
  EXPECT_EQ(started.size(), 1u);
  EXPECT_EQ(client.Send(30), 1);
  EXPECT_EQ(client.Disconnect(), 0);
  for (pid_t pid : started) EXPECT_TRUE(processes::stop(pid));
}

TEST_F(QuietMachine, ConnectFailsWhenThereIsNoBrokerToStart) {
  TempDir empty;
  char name[] = "e2e-nobroker";
  Client client(name);
  EXPECT_EQ(client.Connect(nullptr, nullptr, empty.path().c_str()), -1005);
  EXPECT_EQ(client.GetClientStatus(), -1005);
  EXPECT_TRUE(processes::brokers().empty());
}

class BrokerE2E : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(broker_.pid(), 0) << "tapbroker.exe did not come up"; }
  BrokerProcess broker_;
};

TEST_F(BrokerE2E, TwoClientsEachHaveACableOfTheirOwn) {
  char nameA[] = "e2e-first", nameB[] = "e2e-second";
  Client first(nameA), second(nameB);
  ASSERT_TRUE(connectAndOpen(first));
  ASSERT_TRUE(connectAndOpen(second));
  EXPECT_EQ(first.Send(31), 2);
  EXPECT_EQ(second.Send(31), 2);

  // Interleaved: what one programs, the other does not see.
  const std::vector<std::uint8_t> zeros(16, 0);
  ASSERT_EQ(first.Send(15, 0), 0);
  ASSERT_EQ(second.Send(7, 1), 0);
  EXPECT_EQ(first.Send(42, zeros.data(), 128, 0, 0), 0);
  EXPECT_EQ(second.Send(54, 0), 0xFF);
  EXPECT_EQ(first.Send(54, 0), 0);
  EXPECT_EQ(second.Send(10), 8);
  EXPECT_EQ(first.Send(10), 6);
  EXPECT_EQ(first.Send(8), 2);
  EXPECT_EQ(readList(first), (std::vector<std::string>{"0x1A2B3C4D", "0x2C0FFEE1"}));
  EXPECT_EQ(second.Send(1), 0);
  EXPECT_NE(readText(second).find("simulated cable"), std::string::npos);

  EXPECT_EQ(first.Disconnect(), 0);
  EXPECT_EQ(second.Send(30), 1);
  EXPECT_EQ(second.Disconnect(), 0);
}

TEST_F(BrokerE2E, GarbageOnOneConnectionLeavesTheOthersServed) {
  char name[] = "e2e-steady";
  Client client(name);
  ASSERT_TRUE(connectAndOpen(client));
  ASSERT_EQ(client.Send(13), 0);

  struct Garbage {
    const char* what;
    std::string bytes;
  };
  const std::vector<Garbage> garbage = {
      {"not a command", tokens({"hello"})},
      {"a token without NUL", std::string(2000, 'x')},
      {"binary noise", std::string("\xFF\xFE\x01\x00\x80", 5)},
      // A generic shift of two blocks with read-back, and garbage where the request for the
      // second read-back block is due.
      {"not the request token",
       tokens({"19", "0", "16384", "2048", "1"}) + std::string(2048, 'A') + tokens({"zz"})},
  };
  for (const Garbage& g : garbage) {
    SCOPED_TRACE(g.what);
    RawConnection raw;
    ASSERT_TRUE(raw.connected());
    raw.send(tokens({"intruder"}));
    bool closed = false;
    EXPECT_EQ(raw.receive(2, closed), std::string("+\0", 2));
    raw.send(g.bytes);
    raw.receive(1 << 20, closed);
    EXPECT_TRUE(closed) << "the broker kept the connection";
    // Meanwhile the client's conversation goes on.
    EXPECT_EQ(client.Send(30), 1);
    EXPECT_EQ(client.Send(8), 2);
  }
  // A refused argument is answered "-" and the broker stays in step with that connection.
  RawConnection raw;
  raw.send(tokens({"polite", "5", "fast", "+"}));
  bool closed = false;
  EXPECT_EQ(raw.receive(9, closed), tokens({"+", "+", "-", "-1"}));
  EXPECT_EQ(client.Send(14), 1);
  EXPECT_EQ(client.Disconnect(), 0);
}

}  // namespace
}  // namespace e2e
