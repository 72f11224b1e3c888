// Failure at every step: each operation runs once against a broker that answers
// correctly, which counts the client's socket calls, and then once more for every one of
// those calls with the broker failing there in each way it can fail there. Every row
// checks the result, the status, the failure reports, what a Read handed out and tdoData
// against what the conversation says must come of that failure.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "msgcore/msgcore_internal.h"
#include "tests/fault/fault_broker.h"
#include "tests/fault/operations.h"
#include "tests/support/scratch.h"

namespace fault {
namespace {

// The library's own catalogue with every text replaced by "@@<id>" and the entry's
// placeholders, so that the log is a list of report identifiers while every argument is
// still expanded as the real texts would expand it.
std::string identifyingCatalogue() {
  std::istringstream in(msgcore::kBuiltinCatalogue);
  std::ostringstream out;
  for (std::string line; std::getline(in, line);) {
    std::size_t tab = line.find('\t');
    if (line.empty() || line[0] == '#' || tab == std::string::npos) continue;
    std::string id = line.substr(0, tab);
    out << id << "\t@@" << id;
    for (std::size_t at = line.find("$$", tab); at != std::string::npos && at + 2 < line.size();
         at = line.find("$$", at + 1)) {
      if (line[at + 2] == 's' || line[at + 2] == 'd') {
        out << " $$" << line[at + 2];
        at += 2;
      }
    }
    out << '\n';
  }
  return out.str();
}

// Aborts the whole test program, naming the row, should a row never come back: a client
// call that waits for ever is exactly the fault this table looks for.
class Watchdog {
 public:
  explicit Watchdog(std::chrono::seconds limit)
      : thread_([this, limit] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (!done_.wait_for(lock, limit, [this] { return finished_; })) {
            std::fprintf(stderr, "watchdog: no end after %lld s; running: %s\n",
                         static_cast<long long>(limit.count()), row_.c_str());
            std::abort();
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      finished_ = true;
    }
    done_.notify_all();
    thread_.join();
  }
  void row(const std::string& description) {
    std::lock_guard<std::mutex> lock(mutex_);
    row_ = description;
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  bool finished_ = false;
  std::string row_ = "setting up";
  std::thread thread_;
};

std::vector<std::string> failureReports(const std::string& logPath) {
  std::vector<std::string> ids;
  for (const std::string& line : readLines(logPath)) {
    if (line.rfind("@@", 0) != 0 || line.size() < 6) continue;
    std::string id = line.substr(2, 4);
    if (isFailureReport(id)) ids.push_back(id);
  }
  return ids;
}

// tdoData as GetTDO hands it out, from a destination filled with a byte no test data holds.
std::string heldTdo(Client& client) {
  std::vector<char> out(8192, '\xEE');
  int code = client.GetTDO(out.data(), 8 * static_cast<int>(out.size()));
  if (code == -1022) return "<none>";
  if (code != 0) return "<GetTDO " + std::to_string(code) + ">";
  std::size_t length = out.size();
  while (length > 0 && out[length - 1] == '\xEE') --length;
  return std::string(out.data(), length);
}

// The text part of an answer: up to its first NUL.
std::string textOf(const std::string& answer) { return answer.substr(0, answer.find('\0')); }

std::string listOf(const std::string& answer) {
  std::string value = "kept", item;
  for (char c : textOf(answer)) {
    if (c == ';') {
      value += "|" + item;
      item.clear();
    } else {
      item += c;
    }
  }
  if (!item.empty()) value += "|" + item;
  return value;
}

struct Expected {
  Observation observed;
  std::vector<std::string> reports;
};

Expected expectedOf(const Operation& operation, const Outcome& outcome) {
  Expected e;
  Observation& o = e.observed;
  e.reports = outcome.failIds;
  o.tdo = outcome.tdo.empty() ? "<none>" : outcome.tdo;
  const bool failed = outcome.failed;
  const int code = outcome.code;
  const int answer = std::atoi(textOf(outcome.lastAnswer).c_str());
  o.result = failed ? code : 0;
  o.status = o.result;
  switch (operation.yields) {
    case Yields::FinalInteger:
      if (!failed) o.result = answer;
      break;
    case Yields::Grant:
      if (!failed) o.status = o.result = answer == 1 ? 0 : answer == 0 ? -1 : answer;
      break;
    case Yields::Withheld:
      if (!failed) o.status = o.result = 1;
      break;
    case Yields::ReadInteger:
      o.value = failed ? "99" : std::to_string(answer);
      break;
    case Yields::ReadText:
      o.value = failed ? "untouched" : textOf(outcome.lastAnswer);
      break;
    case Yields::ReadReturnedText:
      o.result = 0;
      o.value = failed ? "" : textOf(outcome.lastAnswer);
      break;
    case Yields::ReadList:
      o.value = failed ? "kept" : listOf(outcome.lastAnswer);
      break;
    case Yields::Connect:
      break;
    case Yields::Disconnect:
      // Whatever became of the closing command, the socket is shut down; a connection
      // the broker reset refuses that.
      o.result = 0;
      if (outcome.socketReset) {
        o.result = o.status = -1009;
        e.reports.push_back("1027");
      }
      break;
  }
  return e;
}

std::string describe(const Observation& o, const std::vector<std::string>& reports) {
  std::string out = "result " + std::to_string(o.result) + ", status " +
                    std::to_string(o.status) + ", value \"" + o.value + "\", reports [";
  for (const std::string& id : reports) out += id + " ";
  out += "], tdo " + std::to_string(o.tdo.size()) + " bytes";
  return out;
}

class FaultTable : public ::testing::TestWithParam<std::size_t> {
 protected:
  static void SetUpTestSuite() { catalogue_ = new CatalogueOverride(identifyingCatalogue()); }
  static void TearDownTestSuite() {
    delete catalogue_;
    catalogue_ = nullptr;
  }

  // Runs the operation once against the broker playing `outcome`; an empty text when
  // everything came out as expected.
  std::string runRow(const Operation& operation, const std::vector<Step>& steps,
                     const Outcome& outcome) {
    const std::string logPath = scratch_.file("row.log");
    Observation observed;
    std::vector<std::string> reports;
    std::string wire;
    {
      Client client(const_cast<char*>(kClientName));
      if (client.Set_Log_File(logPath.c_str()) != 0) return "the log file cannot be made";
      broker_.play(steps, outcome);
      if (!runSetup(operation.setup, client)) {
        broker_.finish();
        return "the conversation before the operation failed";
      }
      observed = operation.run(client);
      observed.status = client.GetClientStatus();
      observed.tdo = heldTdo(client);
      wire = broker_.finish();
      reports = failureReports(logPath);
    }
    if (!wire.empty()) return "on the wire: " + wire;
    Expected expected = expectedOf(operation, outcome);
    const Observation& want = expected.observed;
    if (observed.result != want.result || observed.status != want.status ||
        observed.value != want.value || observed.tdo != want.tdo || reports != expected.reports)
      return "got " + describe(observed, reports) + "\n  expected " +
             describe(want, expected.reports);
    return "";
  }

  static CatalogueOverride* catalogue_;
  TempDir scratch_;
  FaultBroker broker_;
};

CatalogueOverride* FaultTable::catalogue_ = nullptr;

TEST_P(FaultTable, EveryStepFailsInEveryWay) {
  const Operation& operation = operations()[GetParam()];
  Watchdog watchdog(std::chrono::seconds(600));
  Conversation whole = setupConversation(operation.setup);
  const int ownFrom = whole.size();
  whole.append(operation.conversation);
  const std::vector<Step>& steps = whole.steps();

  // The correct conversation first: it must succeed, call for call.
  watchdog.row(operation.name + ": the correct conversation");
  const Outcome clean = simulate(steps, std::nullopt);
  ASSERT_FALSE(clean.failed);
  ASSERT_EQ("", runRow(operation, steps, clean)) << "the correct conversation";

  int points = 0, rows = 0;
  for (int step : successPath(steps)) {
    if (step < ownFrom) continue;
    ++points;
    const Step& at = steps[static_cast<std::size_t>(step)];
    for (FailureKind kind :
         {FailureKind::Closed, FailureKind::Reset, FailureKind::WrongFirstByte,
          FailureKind::EmptyText, FailureKind::Short, FailureKind::Full}) {
      const bool connectionEnds = kind == FailureKind::Closed || kind == FailureKind::Reset;
      if (at.clientSends ? !connectionEnds : !connectionEnds && !failedAnswer(kind, at))
        continue;
      ++rows;
      const std::string row = operation.name + ", call " + std::to_string(step - ownFrom) +
                              " (" + (at.clientSends ? "send" : "receive") + "), " +
                              nameOf(kind);
      watchdog.row(row);
      const Outcome outcome = simulate(steps, Injection{step, kind});
      EXPECT_EQ("", runRow(operation, steps, outcome)) << row;
    }
  }
  std::printf("[ fault    ] %s: %d calls, %d rows\n", operation.name.c_str(), points, rows);
}

std::string operationName(const ::testing::TestParamInfo<std::size_t>& info) {
  return operations()[info.param].name;
}

INSTANTIATE_TEST_SUITE_P(Operations, FaultTable,
                         ::testing::Range<std::size_t>(0, operations().size()), operationName);

}  // namespace
}  // namespace fault
