// A client that misbehaves at random, against the broker executable on a port of its own:
// garbage, oversized tokens, transfers dropped halfway, tokens in the wrong places,
// connections closed or reset at any point. After each such connection a fresh client must
// still hold a correct conversation with the broker, and the broker must still be running;
// at the end it must stop cleanly when asked (under the sanitizers, also without leaks).
//
// The run is repeatable: TAPBROKER_FUZZ_SEED picks another seed, TAPBROKER_FUZZ_CONNECTIONS
// another number of connections.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/loopback.h"
#include "tests/support/processes.h"
#include "tests/support/scratch.h"

extern char** environ;

namespace {

const std::string kAck("+\0", 2);

unsigned long setting(const char* name, unsigned long fallback) {
  const char* text = std::getenv(name);
  return text != nullptr && *text != '\0' ? std::strtoul(text, nullptr, 10) : fallback;
}

// One connection to the broker; every wait is bounded.
class Connection : public loopback::Connection {
 public:
  using loopback::Connection::Connection;
  bool open() const { return connected(); }
  // A text answer up to its NUL.
  std::string answer(int ms) {
    token("+");
    std::string text;
    for (std::string byte; (byte = receive(1, ms)).size() == 1 && byte[0] != '\0';)
      text += byte;
    return text;
  }
};

// The broker executable on a free port, stopped and reaped by the destructor. What it
// writes to standard error (its problem lines, and any sanitizer report) goes to a file,
// shown when something went wrong.
class BrokerProcess {
 public:
  BrokerProcess() {
    port_ = loopback::freePort();
    processes::Launch launch{{"--port", std::to_string(port_), "--idle-exit", "0"}};
    launch.errorFile = directory_ / "errors";
    pid_ = processes::spawn(TAPBROKER_EXE, launch);
  }
  ~BrokerProcess() {
    if (pid_ > 0) processes::stop(pid_);
  }

  // The last lines of the broker's standard error.
  std::string errors() const {
    const std::vector<std::string> lines = readLines(directory_ / "errors");
    std::string out;
    for (std::size_t i = lines.size() > 60 ? lines.size() - 60 : 0; i < lines.size(); ++i)
      out += lines[i] + "\n";
    return out;
  }

  std::uint16_t port() const { return port_; }
  bool started() const { return pid_ > 0; }
  bool running() {
    int status = 0;
    if (pid_ <= 0 || ::waitpid(pid_, &status, WNOHANG) == 0) return pid_ > 0;
    exitStatus_ = status;
    pid_ = -1;
    return false;
  }
  // Asks the broker to stop and waits (boundedly) for it; its wait status, or -1.
  int stop() {
    if (pid_ <= 0) return exitStatus_;
    ::kill(pid_, SIGTERM);
    for (int i = 0; i < 200; ++i) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return status;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return -1;
  }
  int exitStatus() const { return exitStatus_; }

 private:
  pid_t pid_ = -1;
  std::uint16_t port_ = 0;
  int exitStatus_ = -1;
  TempDir directory_;
};

// What a confused or broken client might send, drawn from one generator.
class Misbehaviour {
 public:
  explicit Misbehaviour(unsigned long seed)
      : random_(static_cast<std::mt19937::result_type>(seed)) {}

  int below(int n) { return static_cast<int>(random_() % static_cast<unsigned>(n)); }
  bool coin() { return below(2) == 0; }

  int number() {
    static const int edges[] = {0,   1,   -1,      7,       8,       8192,    8193, 16384,
                                -15, -16, 2097152, 2097160, INT_MAX, INT_MIN, 255,  256};
    return coin() ? edges[below(std::size(edges))] : static_cast<int>(random_());
  }
  std::string bytes(std::size_t n) {
    std::string out(n, '\0');
    for (char& c : out) c = static_cast<char>(random_());
    return out;
  }
  std::string text(std::size_t most) {
    static const char letters[] = "0123456789+-;ab TCK\xff";
    std::string out(static_cast<std::size_t>(below(static_cast<int>(most) + 1)), 'a');
    for (char& c : out) c = letters[below(sizeof letters - 1)];
    return out;
  }

  // A whole transfer as a correct client would begin it, unit by unit: each unit is what
  // goes out in one send and whether the broker answers it.
  struct Unit {
    std::string bytes;
    bool answered;
  };
  std::vector<Unit> transfer() {
    std::vector<Unit> units;
    auto token = [&](const std::string& t) { units.push_back({t + '\0', true}); };
    auto integer = [&](int v) { token(std::to_string(v)); };
    // Data of `bits` bits as a correct client would send them, within reason. Only some
    // transfers answer a single block.
    auto data = [&](int bits, bool withZero, bool padded, bool singleAnswered) {
      long long count = (static_cast<long long>(bits) + 7) / 8;
      if (count <= 0 || count > 3 * 1024) return;
      std::string all = bytes(static_cast<std::size_t>(count));
      if (count <= 1024) {
        units.push_back({withZero ? all + '\0' : all, singleAnswered});
        return;
      }
      for (long long at = 0; at < count; at += 1024) {
        std::string block = all.substr(static_cast<std::size_t>(at), 1024);
        if (padded) block.resize(1024, '\0');
        units.push_back({block, true});
      }
    };
    const int bits = this->number();
    static const int commands[] = {3, 4, 12, 19, 21, 41, 42, 44, 46, 47, 48, 50, 51, 52};
    const int command = commands[below(std::size(commands))];
    units.push_back({std::to_string(command) + '\0', true});
    switch (command) {
      case 3:
      case 12:
        token(text(40));
        token(text(40));
        break;
      case 4:
        token(coin() ? "SIM-USB" : text(20));
        token("USB0");
        for (int i = 0; i < 10; ++i) integer(below(3) == 0 ? this->number() : i % 4 == 3);
        units.push_back({std::string("+\0", 2), true});
        break;
      case 19:
        integer(below(16));
        integer(bits);
        integer(coin() ? static_cast<int>((static_cast<long long>(bits) + 7) / 8)
                       : this->number());
        integer(coin());
        data(bits, false, false, true);
        break;
      case 21:
        for (int i = 0; i < 4; ++i) {
          integer(this->number());
          token(text(8));
        }
        break;
      case 41:
        units.push_back({text(1024) + std::string(1024, '\0'), true});
        units.back().bytes.resize(1024);
        break;
      case 42:
        integer(bits);
        integer(below(4));
        integer(coin());
        data(bits, false, false, true);
        break;
      case 44: {
        const int function = coin() ? 12 : below(150);
        integer(function);
        if (function == 12) {
          integer(below(16));
          integer(bits);
          integer(below(3));
          integer(below(2));
          data(bits, true, true, true);
        } else {
          for (int i = below(4); i > 0; --i) coin() ? integer(this->number()) : token(text(30));
        }
        break;
      }
      default:  // 46 to 48 and 50 to 52
        integer(this->number());
        if (command < 50) integer(below(256));
        integer(bits);
        integer(0);
        data(bits, false, false, false);
        break;
    }
    units.push_back({std::string("+\0", 2), true});
    return units;
  }

 private:
  std::mt19937 random_;
};

// One connection that misbehaves in one of several ways, and is then dropped.
void misbehave(Misbehaviour& draw, std::uint16_t port) {
  Connection c(port);
  if (!c.open()) return;
  const int way = draw.below(6);
  if (way != 0 && draw.below(8) != 0) {
    c.token(draw.coin() ? "fuzzing client" : draw.text(60));
    c.receive(2, 200);
  }
  switch (way) {
    case 0:  // garbage from the first byte on
    case 1:  // garbage after the introduction
      c.send(draw.bytes(static_cast<std::size_t>(1 + draw.below(4096))));
      c.reply(20);
      break;
    case 2: {  // a token too long for any buffer, ended or not
      std::string longToken(static_cast<std::size_t>(1024 + draw.below(4096)), 'A');
      if (draw.coin()) longToken += std::string(1, '\0');
      if (draw.coin()) longToken.replace(0, 4, "9999");
      c.send(longToken);
      c.reply(50);
      break;
    }
    case 3:
    case 4: {  // a transfer begun properly and dropped at some unit, maybe halfway
      const std::vector<Misbehaviour::Unit> units = draw.transfer();
      const int stop = draw.below(static_cast<int>(units.size()) + 1);
      for (int i = 0; i < stop; ++i) {
        c.send(units[static_cast<std::size_t>(i)].bytes);
        if (!units[static_cast<std::size_t>(i)].answered) continue;
        const std::string reply = c.reply(100);
        if (reply.empty() || reply[0] == '-') break;
      }
      if (stop < static_cast<int>(units.size()) && draw.coin()) {
        const std::string& next = units[static_cast<std::size_t>(stop)].bytes;
        c.send(next.substr(0, next.size() / 2));
      }
      break;
    }
    case 5:  // tokens of every kind in no particular order
      for (int i = draw.below(30); i >= 0; --i) {
        switch (draw.below(5)) {
          case 0:
            c.token(std::to_string(draw.number()));
            break;
          case 1:
            c.token(draw.text(40));
            break;
          case 2:
            c.token("+");
            break;
          default:
            c.token(std::to_string(draw.below(60)));
            break;
        }
        c.reply(10);
      }
      break;
  }
  c.close(draw.coin());
}

// A well-behaved client, from the introduction to an answer that echoes its own value (a
// TCK frequency, which the broker keeps within 1 to 100000 kHz).
::testing::AssertionResult holdsAConversation(std::uint16_t port, int value) {
  Connection c(port);
  if (!c.open()) return ::testing::AssertionFailure() << "no connection";
  c.token("checking client");
  if (c.receive(2, 5000) != kAck) return ::testing::AssertionFailure() << "no introduction";
  c.token("5");
  if (c.receive(2, 5000) != kAck) return ::testing::AssertionFailure() << "command refused";
  c.token(std::to_string(value));
  if (c.receive(2, 5000) != kAck) return ::testing::AssertionFailure() << "value refused";
  const std::string answer = c.answer(5000);
  if (answer != std::to_string(value))
    return ::testing::AssertionFailure() << "answered \"" << answer << "\" for " << value;
  return ::testing::AssertionSuccess();
}

TEST(BrokerFuzz, MisbehavingClientsNeverBringTheBrokerDown) {
  const unsigned long seed = setting("TAPBROKER_FUZZ_SEED", 20240611);
  const unsigned long connections = setting("TAPBROKER_FUZZ_CONNECTIONS", 1000);
  SCOPED_TRACE("seed " + std::to_string(seed));

  BrokerProcess broker;
  ASSERT_TRUE(broker.started());
  bool listening = false;
  for (int attempt = 0; attempt < 200 && !listening; ++attempt) {
    listening = Connection(broker.port()).open();
    if (!listening) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_TRUE(listening) << "the broker never listened on port " << broker.port();

  Misbehaviour draw(seed);
  for (unsigned long i = 0; i < connections; ++i) {
    misbehave(draw, broker.port());
    ASSERT_TRUE(holdsAConversation(broker.port(), 1 + draw.below(100000)))
        << "after connection " << i << "; the broker wrote:\n"
        << broker.errors();
    ASSERT_TRUE(broker.running())
        << "the broker ended after connection " << i << " with wait status "
        << broker.exitStatus() << "; it wrote:\n"
        << broker.errors();
  }
  const int status = broker.stop();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << "the broker did not stop cleanly: wait status " << status << "; it wrote:\n"
      << broker.errors();
}

}  // namespace
