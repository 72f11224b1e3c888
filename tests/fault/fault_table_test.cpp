// Failure at every step. Each operation first runs against the reference broker, in this
// process, while the client's socket calls are recorded: what each send carried and what
// each receive took. A fake broker then plays that conversation back from inside the
// client's own calls: once as recorded, which must give what the recording gave, and once
// for every call of the operation and every way a broker can fail there (the connection
// closed or reset; or the answer replaced by one with a wrong first byte, an empty text,
// half of it, or a full buffer without NUL, and the connection closed after it). Every
// such row must end, and leave what any failure must leave: the code of the call that
// failed, in the result and the status; a report of the failure; nothing sent after it;
// a Read's destination untouched; and no read-back data beyond the conversation's blocks.
#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#include "broker/chain_config.h"
#include "broker/server.h"
#include "platform/socket_handles.h"
#include "platform/winsock.h"
#include "tapbroker_client.h"
#include "tests/fault/socket_hooks.h"
#include "tests/support/loopback.h"
#include "tests/support/scratch.h"
#include "tests/support/scripted_broker.h"
#include "tests/support/shared_machine.h"

namespace fault {
namespace {

constexpr int kWaitMs = 5000;
constexpr std::size_t kNoFailure = SIZE_MAX;

// One socket call of the client: what its send carried or its receive took.
struct Call {
  bool sends;
  std::string bytes;
  std::size_t capacity;  // the receive's buffer
};

struct Observation {
  int result = 0;
  int status = 0;
  std::string value = "";  // a Read's destination afterwards
  std::string tdo = "";    // tdoData as GetTDO hands it out; empty when none is held
  bool operator==(const Observation&) const = default;
};

std::string describe(const Observation& o) {
  return "result " + std::to_string(o.result) + ", status " + std::to_string(o.status) +
         ", value \"" + o.value + "\", " + std::to_string(o.tdo.size()) + " bytes held";
}

// Before the operation: nothing, a connection, or a connection with both flags granted
// and known bytes in tdoData.
enum class Setup { Fresh, Connected, Granted };

// What sets an operation apart from the others.
enum Trait {
  kGoesOn = 1,  // parts of it go on after one has failed
  kQuiet = 2,   // some of its steps fail without a report of their own
  kCloses = 4,  // Disconnect: the socket is shut down whatever came before
};

struct Operation {
  std::string name;
  std::function<Observation(Client&)> run;
  Setup setup = Setup::Granted;
  int traits = 0;
  std::string untouched = "";  // a Read's destination as a failed Read leaves it
};

const char kClientName[] = "fault";
const std::string kSeed = "SEED";
const std::string kTwo = bytes({0x12, 0x34}), kOnes(8, '\xFF');
const std::string kBig = pattern(1030, 1), kBigMask(1030, '\xFF');  // two blocks
constexpr int kBigBits = 8 * 1030;

using Run = std::function<int(Client&)>;
Operation send(std::string name, Run run, Setup setup = Setup::Granted, int traits = 0) {
  return {std::move(name), [run](Client& c) { return Observation{run(c)}; }, setup, traits};
}

std::vector<Operation> makeOperations() {
  return {
      send("connect", [](Client& c) { return c.Connect(nullptr, nullptr, nullptr); },
           Setup::Fresh),
      send("command_alone", [](Client& c) { return c.Send(30); }),
      send("unlisted_command", [](Client& c) { return c.Send(77); }),
      send("integers", [](Client& c) { return c.Send(36, 1800, 1); }),
      send("strict_strings", [](Client& c) { return c.Send(12, "sim-cpld", "USER"); }),
      send("strings_any_ack", [](Client& c) { return c.Send(3, "speed", "fast"); }),
      send("pairs", [](Client& c) { return c.Send(21, 0, "TCK", 1, "TMS", 2, "TDI", 3, "TDO"); }),
      send("command_33", [](Client& c) { return c.Send(33); }),
      send("withheld", [](Client& c) { return c.Send(5, 2500); }, Setup::Connected),
      send("shared_applications", [](Client& c) { return c.Send(41, 2, "alpha", "beta"); }),
      send("interface_float_token", [](Client& c) { return c.Send(44, 69, 3); }),
      send("generic_shift", [](Client& c) { return c.Send(19, 0, 16, 0, data(kTwo)); }),
      send("generic_shift_read_back", [](Client& c) { return c.Send(19, 0, 64, 1, data(kOnes)); }),
      send("generic_shift_multi", [](Client& c) { return c.Send(19, 0, kBigBits, 0, data(kBig)); }),
      send("generic_shift_multi_read_back",
           [](Client& c) { return c.Send(19, 0, kBigBits, 1, data(kBig)); }),
      send("jtag_shift_buffer_b",
           [](Client& c) { return c.Send(44, 12, 0, 16, 0, 1, data(kTwo), data(kTwo)); }),
      send("jtag_shift_multi",
           [](Client& c) { return c.Send(44, 12, 0, kBigBits, 0, 0, data(kBig)); }),
      send("jtag_shift_multi_read_back",
           [](Client& c) { return c.Send(44, 12, 0, kBigBits, 1, 0, data(kBig), data(kBigMask)); }),
      send("pump", [](Client& c) { return c.Send(42, data(kTwo), 16, 0, 0); }),
      send("pump_read_back", [](Client& c) { return c.Send(42, data(kTwo), 16, 1, 1); }),
      send("pump_multi", [](Client& c) { return c.Send(42, data(kBig), kBigBits, 0, 0); }),
      send("pump_multi_read_back",
           [](Client& c) { return c.Send(42, data(kBig), kBigBits, 1, 1); }),
      send("i2c_write", [](Client& c) { return c.Send(46, 0x20, 0xA0, 16, data(kTwo), 0); }),
      send("i2c_read", [](Client& c) { return c.Send(48, 0x20, 0xA0, 16, data(kTwo), 0); }),
      send("i2c_read_multi",
           [](Client& c) { return c.Send(48, 0x20, 0xA0, kBigBits, data(kBig), 0); }),
      send("sspi_write", [](Client& c) { return c.Send(50, 0, 16, data(kTwo), 0); }),
      send("sspi_read", [](Client& c) { return c.Send(52, 0, 16, data(kTwo), 0); }),
      send("sspi_read_multi", [](Client& c) { return c.Send(52, 0, kBigBits, data(kBig), 0); }),
      // The single-block JTAG shift's read-back and function 36's floating-point block.
      send("jtag_shift_read_back",
           [](Client& c) { return c.Send(44, 12, 0, 64, 1, 0, data(kOnes), data(kOnes)); },
           Setup::Granted, kQuiet),
      send("interface_float_block", [](Client& c) { return c.Send(44, 36, 5); }, Setup::Granted,
           kQuiet),
      // The three parts of function 30, the first pass of 47 and 51, and command 4, which
      // connects again when its token does not get through.
      send("interface_three_parts", [](Client& c) { return c.Send(44, 30, 7, "s", 9); },
           Setup::Granted, kGoesOn),
      send("i2c_read_write", [](Client& c) { return c.Send(47, 0x20, 0xA0, 16, data(kTwo), 0); },
           Setup::Granted, kGoesOn),
      send("sspi_read_write", [](Client& c) { return c.Send(51, 0, 16, data(kTwo), 0); },
           Setup::Granted, kGoesOn),
      send("command_4", [](Client& c) { return c.Send(4, "sim-usb", "port0", 0); },
           Setup::Connected, kGoesOn),
      send("disconnect", [](Client& c) { return c.Disconnect(); }, Setup::Granted, kCloses),
      {"read_integer",
       [](Client& c) {
         int value = 99;
         return Observation{c.Read(value), 0, std::to_string(value)};
       },
       Setup::Granted, 0, "99"},
      {"read_text",
       [](Client& c) {
         static char untouched[] = "untouched";
         char* text = untouched;
         return Observation{c.Read(text), 0, text};
       },
       Setup::Granted, 0, "untouched"},
      {"read_returned_text",
       [](Client& c) {
         const std::string text = c.Read();
         return Observation{c.GetClientStatus(), 0, text};
       }},
      {"read_list",
       [](Client& c) {
         std::vector<std::string> items = {"kept"};
         Observation o{c.Read(items)};
         for (const std::string& item : items) o.value += (o.value.empty() ? "" : "|") + item;
         return o;
       },
       Setup::Granted, 0, "kept"},
  };
}

const std::vector<Operation>& operations() {
  static const std::vector<Operation> all = makeOperations();
  return all;
}

// Closes the client's socket without a closing conversation.
void hangUp(Client& client) {
  win::closesocket(socket_handles::current(static_cast<std::uint32_t>(client.GetClientSocket())));
}

bool runSetup(Setup setup, Client& client) {
  if (setup == Setup::Fresh) return true;
  if (client.Connect(nullptr, nullptr, nullptr) != 0) return false;
  return setup == Setup::Connected ||
         (client.Send(4, "sim-usb", "port0", 0) == 0 && client.Send(33) == 0 &&
          client.Send(42, data(kSeed), 32, 1, 1) == 0);
}

Observation observe(const Operation& operation, Client& client) {
  Observation o = operation.run(client);
  o.status = client.GetClientStatus();
  std::string held(8192, '\xEE');  // a byte no test data holds
  const int code = client.GetTDO(held.data(), 8 * static_cast<int>(held.size()));
  if (code == 0) o.tdo = held.substr(0, held.find_last_not_of('\xEE') + 1);
  if (code != 0 && code != -1022) o.tdo = "<GetTDO " + std::to_string(code) + ">";
  return o;
}

// Notes the calls of the thread that made it; the broker's own threads pass.
struct Recorder : SocketHooks {
  void afterSend(int, const void* data, ssize_t result) override { note(true, data, result); }
  void beforeRecv(int, size_t length) override { capacity = length; }
  void afterRecv(int, const void* data, ssize_t result) override { note(false, data, result); }
  void note(bool sends, const void* data, ssize_t result) {
    if (std::this_thread::get_id() != owner) return;
    failed = failed || result <= 0;
    if (result > 0) calls.push_back({sends, {static_cast<const char*>(data), std::size_t(result)}, capacity});
  }
  std::vector<Call> calls;
  bool failed = false;
  std::thread::id owner = std::this_thread::get_id();
  std::size_t capacity = 0;
};

// The failures at a call: 0 closed, 1 reset, and at a receive 2 to 5 the answer replaced
// (by one with a wrong first byte, an empty text, half of it, all a receive takes without
// a NUL); nothing where the replacement would not differ from the answer.
constexpr int kKinds = 6;
const char* const kKindNames[] = {"closed", "reset", "wrong first byte", "empty text", "half",
                                  "full without NUL"};
std::optional<std::string> replaced(int kind, const Call& call) {
  std::string answer = call.bytes;
  if (kind == 2 && !answer.empty() && answer[0] == '+') answer[0] = '-';
  if (kind == 3) answer = std::string(1, '\0');
  if (kind == 4) answer.resize(answer.size() / 2 + answer.size() % 2);
  if (kind == 5) {
    for (char& c : answer) c = c == '\0' ? 'Z' : c;
    answer.resize(call.capacity, 'Z');
  }
  if (kind < 2 || answer == call.bytes) return std::nullopt;
  return answer;
}

// The broker's side played back from inside the client's calls, failing at one of them.
// After the failure nobody answers: a connection the client makes then is closed at once.
class Player : public SocketHooks {
 public:
  Player(const std::vector<Call>& calls, std::size_t failAt, int kind)
      : calls_(calls), failAt_(failAt), kind_(kind), listener_(loopback::listenOn(4001)) {
    installSocketHooks(this);
  }
  ~Player() override {
    installSocketHooks(nullptr);
    loopback::closeSocket(connection_);
    loopback::closeSocket(listener_);
  }

  // What differed from the recording before the failure; empty when nothing did.
  std::string mismatch;
  bool sendFailedFirst = false;  // the first call the system failed was a send
  int callsAfterFailure = -1;    // -1: no call failed in the system
  bool lastCallFailed = false;
  // The client stopped early without a failure of ours.
  bool stoppedEarly() const { return failAt_ == kNoFailure && next_ != calls_.size(); }

  bool connect(int fd, const sockaddr* address, socklen_t length, int& result) override {
    result = ::connect(fd, address, length);
    loopback::closeSocket(connection_);
    connection_ = loopback::acceptWithin(listener_, kWaitMs);
    if (dead_) loopback::closeSocket(connection_);
    return true;
  }
  void beforeSend(int) override {
    if (expected(true) != nullptr && next_ == failAt_) die(kind_ == 1);
  }
  void afterSend(int, const void* data, ssize_t result) override {
    const Call* call = noteResult(true, result);
    if (call == nullptr || result <= 0) return;
    const std::string sent(static_cast<const char*>(data), static_cast<std::size_t>(result));
    if (sent != call->bytes) return fail("the client sent \"" + visible(sent) + "\"");
    // Take the bytes off the connection, so that a later close is orderly.
    loopback::receiveUpTo(connection_, sent.size(), kWaitMs);
  }
  void beforeRecv(int, size_t) override {
    const Call* call = expected(false);
    std::optional<std::string> answer = call ? replaced(kind_, *call) : std::nullopt;
    if (call != nullptr && next_ != failAt_) loopback::sendAll(connection_, call->bytes);
    if (call != nullptr && next_ == failAt_) {
      if (answer) loopback::sendAll(connection_, *answer);
      die(!answer && kind_ == 1);
    }
  }
  void afterRecv(int, const void*, ssize_t result) override {
    const Call* call = noteResult(false, result);
    if (call != nullptr && static_cast<std::size_t>(result) != call->bytes.size())
      fail("the receive took " + std::to_string(result) + " bytes");
  }

 private:
  // The call the recording has next, while the broker still plays.
  const Call* expected(bool sends) {
    if (dead_) return nullptr;
    if (next_ < calls_.size() && calls_[next_].sends == sends) return &calls_[next_];
    fail(std::string("a ") + (sends ? "send" : "receive") + " the recording does not have");
    return nullptr;
  }
  // After a call: notes whether the system failed it; the recording's call while live.
  const Call* noteResult(bool sends, ssize_t result) {
    lastCallFailed = result <= 0;
    if (callsAfterFailure >= 0) ++callsAfterFailure;
    if (callsAfterFailure < 0 && lastCallFailed) {
      callsAfterFailure = 0;
      sendFailedFirst = sends;
    }
    const Call* call = dead_ || next_ >= calls_.size() ? nullptr : &calls_[next_];
    ++next_;
    return call;
  }
  void die(bool abortive) {
    loopback::closeSocket(connection_, abortive);
    dead_ = true;
  }
  void fail(const std::string& what) {
    if (mismatch.empty()) mismatch = "call " + std::to_string(next_) + ": " + what;
    die(true);  // whatever the client does next, it must not wait for an answer
  }

  const std::vector<Call>& calls_;
  const std::size_t failAt_;
  const int kind_;
  int listener_;
  int connection_ = -1;
  std::size_t next_ = 0;
  bool dead_ = false;
};

// The reports that say a step failed, by their texts in the library's catalogue.
std::set<std::string> failureReports() {
  std::set<std::string> ids;
  std::istringstream in(msgcore::kBuiltinCatalogue);
  for (std::string line; std::getline(in, line);) {
    for (const char* words : {"failed", "did not", "could not", "may be lost"})
      if (line.find(words) != std::string::npos) ids.insert(line.substr(0, 4));
  }
  return ids;
}

// A row that never ends is exactly the fault this table looks for: the alarm names it.
char currentRow[256];
void onAlarm(int) {
  const char header[] = "fault table: a row did not end within a minute: ";
  [[maybe_unused]] ssize_t written = ::write(2, header, sizeof header - 1);
  written = ::write(2, currentRow, std::strlen(currentRow));
  std::abort();
}
void startRow(const std::string& name) {
  std::snprintf(currentRow, sizeof currentRow, "%s\n", name.c_str());
  std::signal(SIGALRM, onAlarm);
  ::alarm(60);
}

class FaultTable : public ::testing::TestWithParam<std::size_t> {
 protected:
  // Runs the operation once against the reference broker: its calls from `opStart` on are
  // the operation's own.
  std::vector<Call> record(const Operation& operation, std::size_t& opStart, Observation& seen) {
    broker::Trace quiet(false, [](const std::string&) {});
    broker::ServerConfig config;
    config.idleExitSeconds = 0;
    config.chain = broker::defaultChain();
    broker::Server server(config, quiet);
    std::string error;
    EXPECT_TRUE(server.listen(error)) << error;
    std::thread serving([&] { server.run(); });
    Recorder recorder;
    installSocketHooks(&recorder);
    {
      Client client(const_cast<char*>(kClientName));
      EXPECT_TRUE(runSetup(operation.setup, client));
      opStart = recorder.calls.size();
      seen = observe(operation, client);
      hangUp(client);
    }
    installSocketHooks(nullptr);
    server.stop();
    serving.join();
    EXPECT_FALSE(recorder.failed) << "a call failed against the reference broker";
    return recorder.calls;
  }

  // Plays the recording back failing at `failAt` in the way `kind`; what went wrong.
  std::string row(const Operation& operation, const std::vector<Call>& calls,
                  const Observation& clean, std::size_t failAt, int kind) {
    const std::string logPath = scratch_ / "row.log";
    Player player(calls, failAt, kind);
    Observation got;
    {
      Client client(const_cast<char*>(kClientName));
      client.Set_Log_File(logPath.c_str());
      if (!runSetup(operation.setup, client)) return "the setup failed: " + player.mismatch;
      got = observe(operation, client);
      hangUp(client);
    }
    if (player.stoppedEarly()) player.mismatch += "the client stopped early";
    if (!player.mismatch.empty()) return "on the wire: " + player.mismatch;
    bool reported = false;
    for (const std::string& line : readLines(logPath))
      reported = reported || failureIds_.count(line.substr(0, 4)) != 0;
    if (failAt == kNoFailure) {
      if (got == clean && !reported) return "";
      return "got " + describe(got) + (reported ? ", a failure reported" : "") +
             "\n  recorded " + describe(clean);
    }

    const int code = got.status;
    const bool failed = code == -1001 || code == -1002;
    if (!(operation.traits & kGoesOn) && player.callsAfterFailure > 0)
      return "the client went on after a failed call";
    if ((operation.traits & kCloses) && got.result != 0 && !(got.result == -1009 && code == -1009))
      return "Disconnect gave " + describe(got);
    if (!(operation.traits & kCloses) && (failed || got.result <= -1000) && got.result != code)
      return "the result is not the status: " + describe(got);
    if (player.lastCallFailed && !(operation.traits & kCloses) &&
        ((operation.traits & kGoesOn) ? !failed : code != (player.sendFailedFirst ? -1001 : -1002)))
      return "the code is not the failed call's: " + describe(got);
    if (!player.lastCallFailed && code <= -1000 && code != -1002 && !(operation.traits & kCloses))
      return "a receive judged wrong gave " + describe(got);
    if (failed && !reported && !(operation.traits & kQuiet)) return "no failure report";
    if (failed && got.value != operation.untouched) return "the destination changed";
    // A read-back block may bring up to 1024 bytes, whatever the shift's length.
    const std::size_t blocks = (std::max(clean.tdo.size(), kSeed.size()) + 1023) / 1024;
    if (got.tdo.size() > 1024 * blocks)
      return "read-back data beyond the conversation's blocks: " + describe(got);
    return "";
  }

  static void SetUpTestSuite() { catalogue_ = new CatalogueOverride(identifyingCatalogue()); }
  static void TearDownTestSuite() { delete catalogue_; }

  static inline CatalogueOverride* catalogue_ = nullptr;
  const std::set<std::string> failureIds_ = failureReports();
  TempDir scratch_;
};

TEST_P(FaultTable, EveryCallFailsInEveryWay) {
  SKIP_IF_TAKEN(shared_machine::portTaken());
  const Operation& operation = operations()[GetParam()];
  std::size_t opStart = 0;
  Observation clean;
  const std::vector<Call> calls = record(operation, opStart, clean);
  startRow(operation.name + ": as recorded");
  ASSERT_EQ("", row(operation, calls, clean, kNoFailure, 0)) << "as recorded";

  int rows = 0;
  for (std::size_t at = opStart; at < calls.size(); ++at) {
    for (int kind = 0; kind < kKinds; ++kind) {
      if (kind >= 2 && (calls[at].sends || !replaced(kind, calls[at]))) continue;
      const std::string name = operation.name + ", call " + std::to_string(at - opStart) +
                               " (" + (calls[at].sends ? "send" : "receive") + "), " +
                               kKindNames[kind];
      startRow(name);
      ++rows;
      EXPECT_EQ("", row(operation, calls, clean, at, kind)) << name;
    }
  }
  ::alarm(0);
  std::printf("[ fault    ] %s: %zu calls, %d rows\n", operation.name.c_str(),
              calls.size() - opStart, rows);
}

INSTANTIATE_TEST_SUITE_P(Operations, FaultTable,
                         ::testing::Range<std::size_t>(0, operations().size()),
                         [](const auto& info) { return operations()[info.param].name; });

}  // namespace
}  // namespace fault
