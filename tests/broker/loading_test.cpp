// What the broker reads before it serves: the command line and the files it names. A file
// that is not a regular file of a sane size stops the broker at once with exit code 2 and
// says why; a fault that would leave bytes the client never reads is refused at load.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "broker/common/input_file.h"
#include "broker/serving/fault_plan.h"
#include "tests/support/processes.h"
#include "tests/support/scratch.h"

namespace {

using ::testing::HasSubstr;

struct Outcome {
  int status = -1;  // the exit code; -1 when it did not exit by itself
  std::string errors;
};

// Runs the broker on a port of its own and an idle limit of one second, so that a broker
// that wrongly starts serving ends by itself and fails the test instead of hanging it.
Outcome runBroker(const TempDir& scratch, std::vector<std::string> arguments,
                  std::vector<std::string> environment = {}) {
  arguments.insert(arguments.begin(), {"--port", "0", "--idle-exit", "1"});
  processes::Launch launch{arguments, scratch / "errors"};
  // The error file goes to the scratch directory, not the user's.
  environment.push_back("TMPDIR=" + scratch.path());
  launch.environment = std::move(environment);
  // A broker stuck opening a pipe would wait for ever; it is given ample time, then stopped.
  return {processes::exitStatus(processes::spawn(TAPBROKER_EXE, launch), 10),
          readFile(launch.errorFile)};
}

TEST(BrokerExecutable, RefusesFilesThatAreNotSmallRegularFilesAndNamesWhatItWasGiven) {
  TempDir scratch;
  const std::string fifo = scratch / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string large = scratch / "large.txt";
  std::ofstream(large) << std::string(broker::kMaxInputFileSize + 1, '#');
  const std::string escaping = scratch / "escaping.txt";
  std::ofstream(escaping) << "5 1 \x1b[2J\x9b\n";
  const std::string transcript = scratch / "transcript.txt";
  std::ofstream(transcript) << "client \"x\"\n> \"x\\0\"\n< \"+\\q\"\n";

  const struct {
    std::vector<std::string> arguments;
    std::vector<std::string> environment;
    std::string complaint;
  } cases[] = {
      {{"--faults", scratch.path()}, {}, "fault plan " + scratch.path() + ": a directory"},
      {{"--faults", fifo}, {}, "fault plan " + fifo + ": not a regular file"},
      {{"--faults", "/dev/zero"}, {}, "fault plan /dev/zero: not a regular file"},
      {{}, {"TAPBROKER_FAULTS=" + fifo}, "fault plan " + fifo + ": not a regular file"},
      {{"--faults", large}, {}, "larger than 1048576 bytes"},
      {{"--faults", escaping}, {}, R"(unknown fault "\x1B[2J\x9B")"},
      {{scratch.path()}, {}, "chain description " + scratch.path() + ": a directory"},
      {{fifo}, {}, "chain description " + fifo + ": not a regular file"},
      {{"/dev/zero"}, {}, "chain description /dev/zero: not a regular file"},
      {{}, {"TAPBROKER_CHAIN=" + fifo}, "chain description " + fifo + ": not a regular file"},
      {{}, {"TAPBROKER_FAULTS=" + escaping, "TAPBROKER_REPLAY=" + escaping},
       "--faults excludes --replay (as the environment's TAPBROKER_FAULTS, TAPBROKER_REPLAY"},
      {{"--bogus"}, {}, "--bogus"},
      {{"--idle-exit", "abc"}, {}, R"(--idle-exit: "abc" is not a whole number from 0 to)"},
      {{"--replay", transcript}, {}, "line 3: unknown escape \\q"},
      // What could never hold a transcript is refused before the broker listens.
      {{"--record", scratch.path()}, {}, "cannot record into " + scratch.path() + ": Is a"},
      {{"--record", fifo}, {}, "cannot record into " + fifo},
      {{"--record", "/dev/full"}, {}, "cannot record into /dev/full: a device"},
  };
  for (const auto& c : cases) {
    const Outcome outcome = runBroker(scratch, c.arguments, c.environment);
    SCOPED_TRACE(c.complaint);
    EXPECT_EQ(outcome.status, 2);
    EXPECT_EQ(outcome.errors.rfind("tapbroker.exe: ", 0), 0u) << outcome.errors;
    EXPECT_THAT(outcome.errors, HasSubstr(c.complaint));
  }
}

// A rejected file that the environment named leaves its reason in a directory of the user's
// own: whatever stands in its place, a link, a pipe or a directory others may change, the
// broker neither follows it nor waits on it, and says where the reason did not go.
TEST(BrokerExecutable, LeavesTheErrorFileWhereNobodyCanRedirectIt) {
  namespace fs = std::filesystem;
  TempDir scratch;
  const std::string own = scratch / ("tapbroker-" + std::to_string(::geteuid()));
  const std::string note = own + "/tapbroker-error.txt";
  const std::string precious = scratch / "precious";
  // What stands where the reason goes; with `inOwnDirectory`, in a directory of the
  // user's own made first.
  const struct {
    const char* name;
    bool inOwnDirectory;
    std::function<void()> prepare;
    bool written;
  } cases[] = {
      {"made afresh", false, [] {}, true},
      {"a stale reason", true, [&] { std::ofstream(note) << "stale\n"; }, true},
      {"a link to a file", true, [&] { fs::create_symlink(precious, note); }, false},
      {"a pipe", true, [&] { ::mkfifo(note.c_str(), 0600); }, false},
      {"a directory others may write", true, [&] { ::chmod(own.c_str(), 0777); }, false},
      {"a link to a directory", false,
       [&] { fs::create_directory_symlink(scratch.path(), own); }, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(own);
    std::ofstream(precious) << "precious";
    if (c.inOwnDirectory) {
      fs::create_directory(own);
      ::chmod(own.c_str(), 0700);
    }
    c.prepare();
    const Outcome outcome = runBroker(scratch, {}, {"TAPBROKER_FAULTS=" + scratch.path()});
    EXPECT_EQ(outcome.status, 2);
    EXPECT_EQ(readFile(precious), "precious");
    const std::string reason = c.written ? readFile(note) : outcome.errors;
    EXPECT_THAT(reason, HasSubstr(c.written ? "did not start: fault plan "
                                            : "not written to the error file"));
    EXPECT_EQ(reason.find("stale"), std::string::npos);
  }
}

// A file is read into as much memory as it holds, not the limit's worth.
TEST(InputFile, TakesTheMemoryOfWhatItReads) {
  TempDir scratch;
  const std::string path = scratch / "small.txt";
  std::ofstream(path) << "a transcript of 27 bytes...";
  std::string text, error;
  ASSERT_TRUE(broker::readInputFile(path, text, error, broker::kMaxTranscriptSize)) << error;
  EXPECT_EQ(text, "a transcript of 27 bytes...");
  EXPECT_LT(text.capacity(), 4096u);
}

TEST(FaultPlanLoading, RefusesAFlagAnswerTheClientCannotReadWhole) {
  const struct {
    const char* line;
    bool accepted;
  } cases[] = {
      {"33 1 answer 12345", false}, {"4 1 answer -1", false}, {"4 every answer 10", false},
      {"4 1 answer 0", true},       {"33 1 answer 9", true},  {"5 1 answer 12345", true},
  };
  for (const auto& c : cases) {
    broker::FaultPlan plan;
    std::string error;
    EXPECT_EQ(broker::FaultPlan::parse(c.line, plan, error), c.accepted) << c.line;
    if (!c.accepted) {
      EXPECT_THAT(error, HasSubstr("reads in two bytes"));
    }
  }
}

}  // namespace
