// Failure at every step. Each operation runs first against a broker that answers every
// receive alike, while the client's socket calls are noted; then once for every call of the
// operation and every way that call can fail: refused by the system; a send cut short; a
// receive that finds the connection closed, or whose answer is replaced by one with a wrong
// first byte, an empty text, half of it, or all a receive takes without a NUL. After the
// failure nobody answers. Every such row must end, and leave what any failure must leave:
// the code of the call that failed, in the result and the status; a report of the failure;
// nothing sent after it; a Read's destination untouched; and no read-back data beyond the
// conversation's blocks. The sockets are in memory, so a receive that nobody answers fails
// at once instead of waiting: no row can hang on the wire.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <set>
#include <sstream>

#include "tapbroker_client.h"
#include "tests/support/connect_fixture.h"
#include "tests/support/memory_sockets.h"
#include "tests/support/scratch.h"
#include "tests/support/wire_bytes.h"

using namespace tapbroker::results;

namespace fault {
namespace {

using memory_sockets::Call;
using memory_sockets::Hangup;

constexpr std::size_t kNoFailure = SIZE_MAX;

struct Observation {
  int result = 0;
  int status = 0;
  std::string value = "";  // a Read's destination afterwards
  std::string tdo = "";    // tdoData as GetTDO hands it out; empty when none is held
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

bool runSetup(Setup setup, Client& client) {
  if (setup == Setup::Fresh) return true;
  if (client.Connect(nullptr, nullptr, nullptr) != 0) return false;
  return setup == Setup::Connected ||
         (client.Send(4, "sim-usb", "port0", 0) == 0 && client.Send(33) == 0 &&
          client.Send(42, data(kSeed), 32, 1, 1) >= 0);
}

Observation observe(const Operation& operation, Client& client) {
  Observation o = operation.run(client);
  o.status = client.GetClientStatus();
  std::string held(8192, '\xEE');  // a byte no answer holds
  const int code = client.GetTDO(held.data(), 8 * static_cast<int>(held.size()));
  if (code == 0) o.tdo = held.substr(0, held.find_last_not_of('\xEE') + 1);
  if (code != 0 && code != kNothingHeld) o.tdo = "<GetTDO " + std::to_string(code) + ">";
  return o;
}

// The ways a call fails: the system refuses it (for a receive: the connection is reset), a
// send moves half its bytes and the broker gives up waiting for the rest, or a receive finds
// the connection closed or gets a replaced answer, after which the connection closes.
enum Way { kRefused, kCut, kClosed, kWrongSign, kEmpty, kHalf, kFull, kWays };
const char* const kCallNames[] = {"startup", "socket", "connect", "send", "receive", "shutdown"};
const char* const kWayNames[] = {"refused", "cut short",  "closed",          "wrong first byte",
                                 "empty text", "half",   "full without NUL"};
// A refused connect would send the client looking for a broker to start, which is the
// platform suite's business; every other call can fail here.
bool applies(Way way, Call call) {
  if (call == Call::Connect) return false;
  if (call == Call::Send) return way == kRefused || way == kCut;
  if (call == Call::Receive) return way != kCut;
  return way == kRefused;
}

// The broker's answer to every receive, "+1" and NUL cut to what the receive takes: a sign
// for every check, 1 for every number read (which grants both flags).
std::string answerFor(std::size_t capacity) {
  return std::string("+1\0", 3).substr(0, capacity);
}

// The answer replaced in the way `way`; nothing where it would not differ.
std::optional<std::string> replaced(Way way, std::size_t capacity) {
  const std::string answer = answerFor(capacity);
  std::string out = answer;
  if (way == kWrongSign) out[0] = '-';
  if (way == kEmpty) out = std::string(1, '\0');
  if (way == kHalf) out.resize(answer.size() / 2 + answer.size() % 2);
  if (way == kFull) {
    std::replace(out.begin(), out.end(), '\0', 'Z');
    out.resize(capacity, 'Z');
  }
  if (way < kWrongSign || out == answer) return std::nullopt;
  return out;
}

// One call of the client's, as the clean run made it.
struct Noted {
  Call call;
  std::size_t size = 0;  // what a send carried, what a receive could take
};

// The broker's side: answers every receive, notes the calls, and fails call `failAt` in the
// way `way`; from then on every connection it has or is asked for closes at once.
class Broker : public memory_sockets::Peer {
 public:
  Broker(std::size_t failAt = kNoFailure, Way way = kRefused) : failAt_(failAt), way_(way) {
    memory_sockets::install(this);
  }
  ~Broker() override { memory_sockets::install(nullptr); }

  std::vector<Noted> calls;
  std::optional<Call> firstFailed;  // the first call the system failed
  int callsAfterFailure = -1;       // sends and receives; -1: no call failed
  bool lastCallFailed = false;

  int failure(Call call, int connection) override {
    calls.push_back({call});
    if (calls.size() - 1 != failAt_) return 0;
    dead_ = true;
    if (way_ == kRefused || way_ == kClosed) memory_sockets::hangUp(connection, Hangup::Closed);
    if (way_ != kRefused) return 0;
    return call == Call::Startup ? memory_sockets::kSystemNotReady
                                 : memory_sockets::kConnectionReset;
  }
  void returned(Call call, int, int result) override {
    const bool transfer = call == Call::Send || call == Call::Receive;
    const bool failed = transfer ? result <= 0 : result != 0;
    if (callsAfterFailure >= 0 && transfer) ++callsAfterFailure;
    if (failed && !firstFailed) {
      firstFailed = call;
      callsAfterFailure = 0;
    }
    lastCallFailed = failed;
  }
  bool accept(int connection) override {
    if (dead_) memory_sockets::hangUp(connection, Hangup::Closed);
    return true;
  }
  std::size_t received(int connection, const std::string& bytes) override {
    calls.back().size = bytes.size();
    if (calls.size() - 1 != failAt_ || way_ != kCut) return bytes.size();
    memory_sockets::hangUp(connection, Hangup::Closed);
    return bytes.size() / 2;
  }
  void waiting(int connection, std::size_t capacity) override {
    calls.back().size = capacity;
    const bool failing = calls.size() - 1 == failAt_;
    if (failing) memory_sockets::deliver(connection, *replaced(way_, capacity));
    if (!dead_) memory_sockets::deliver(connection, answerFor(capacity));
    if (dead_) memory_sockets::hangUp(connection, Hangup::Closed);
  }

 private:
  const std::size_t failAt_;
  const Way way_;
  bool dead_ = false;
};

// The reports that say a step failed, by their texts in the library's catalogue.
std::set<std::string> failureReports() {
  std::set<std::string> ids;
  std::istringstream in(tapbroker::msgcore::kBuiltinCatalogue);
  for (std::string line; std::getline(in, line);) {
    for (const char* words : {"failed", "did not", "could not", "may be lost"})
      if (line.find(words) != std::string::npos) ids.insert(line.substr(0, 4));
  }
  return ids;
}

// The code a failure of each call leaves.
int codeOf(Call call) {
  switch (call) {
    case Call::Startup: return kSocketsFailed;
    case Call::Open: return kNoSocket;
    case Call::Send: return kSendFailed;
    default: return kReceiveFailed;
  }
}

class FaultTable : public ::testing::TestWithParam<std::size_t> {
 protected:
  // Runs the operation failing call `failAt` in the way `way`; the calls it made, and what
  // went wrong. Only calls from `opStart` on, the operation's own, are failed.
  std::string row(const Operation& operation, std::size_t failAt, Way way,
                  std::size_t& opStart, std::vector<Noted>& calls) {
    const std::string logPath = scratch_ / "row.log";
    Broker broker(failAt, way);
    Observation got;
    {
      Client client(const_cast<char*>(kClientName));
      client.Set_Log_File(logPath.c_str());
      if (!runSetup(operation.setup, client)) return "the setup failed";
      opStart = broker.calls.size();
      got = observe(operation, client);
      hangUp(client);
    }
    calls = broker.calls;
    bool reported = false;
    for (const std::string& line : readLines(logPath))
      reported = reported || failureIds_.count(line.substr(0, 4)) != 0;
    std::remove(logPath.c_str());
    if (failAt == kNoFailure) {
      if (!broker.firstFailed && !reported) return "";
      return "the clean run failed: " + describe(got);
    }

    // Connect alone leaves kNoSocket out of the status.
    const int code = got.result == kNoSocket ? got.result : got.status;
    const bool failed = code <= kSendFailed && code >= kNoSocket;
    if (!(operation.traits & kGoesOn) && broker.callsAfterFailure > 0)
      return "the client went on after a failed call";
    // Disconnect closes whatever came before: done, refused by the broker, or not shut down.
    if ((operation.traits & kCloses) && got.result != 0 &&
        !(got.result == code && (code == kCloseRefused || code == kShutdownFailed)))
      return "Disconnect gave " + describe(got);
    if (!(operation.traits & kCloses) && (failed || got.result <= kSendFailed) && got.result != code)
      return "the result is not the status: " + describe(got);
    if (broker.lastCallFailed && !(operation.traits & kCloses) &&
        ((operation.traits & kGoesOn) ? !failed : code != codeOf(*broker.firstFailed)))
      return "the code is not the failed call's: " + describe(got);
    if (!broker.lastCallFailed && code <= kSendFailed && code != kReceiveFailed && !(operation.traits & kCloses))
      return "a receive judged wrong gave " + describe(got);
    // Connect reports no socket that could not be made.
    if (failed && code != kNoSocket && !reported && !(operation.traits & kQuiet))
      return "no failure report";
    if (failed && got.value != operation.untouched) return "the destination changed";
    // Read-back data can only have come from the conversation's receives.
    std::size_t receivable = 0;
    for (const Noted& call : calls)
      if (call.call == Call::Receive) receivable += call.size;
    if (got.tdo.size() > receivable)
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
  const Operation& operation = operations()[GetParam()];
  std::size_t opStart = 0;
  std::vector<Noted> calls, ignored;
  ASSERT_EQ("", row(operation, kNoFailure, kRefused, opStart, calls));

  int rows = 0;
  for (std::size_t at = opStart; at < calls.size(); ++at) {
    for (int w = 0; w < kWays; ++w) {
      const Way way = static_cast<Way>(w);
      const Noted& call = calls[at];
      if (!applies(way, call.call) || (way == kCut && call.size < 2) ||
          (way >= kWrongSign && !replaced(way, call.size)))
        continue;
      const std::string name = operation.name + ", call " + std::to_string(at - opStart) +
                               " (" + kCallNames[static_cast<int>(call.call)] + "), " +
                               kWayNames[way];
      ++rows;
      std::size_t start = 0;
      EXPECT_EQ("", row(operation, at, way, start, ignored)) << name;
    }
  }
  std::printf("[ fault    ] %s: %zu calls, %d rows\n", operation.name.c_str(),
              calls.size() - opStart, rows);
}

INSTANTIATE_TEST_SUITE_P(Operations, FaultTable,
                         ::testing::Range<std::size_t>(0, operations().size()),
                         [](const auto& info) { return operations()[info.param].name; });

}  // namespace
}  // namespace fault
