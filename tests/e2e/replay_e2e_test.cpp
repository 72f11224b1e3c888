// Recording on the broker's side and replay, through the library and tapclient: the broker's
// transcript reads as the library's, a recorded demo passes again with the simulator gone,
// a client that parts from the recording is stopped at the transcript's line, and a file
// the broker cannot use stops it at start, with the reason where a person finds it.
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "e2e_support.h"
#include "tests/support/loopback.h"
#include "tests/support/scratch.h"
#include "transcript/transcript.h"

using namespace tapbroker::results;

namespace e2e {
namespace {

std::string contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A transcript as the bytes each side moved: a `>` line is a unit of the client's, and
// the broker's answers between two of them are one run, however a receive cut them.
std::vector<std::pair<char, std::string>> byteRuns(const std::string& path) {
  std::vector<tapbroker::transcript::Conversation> conversations;
  std::string error;
  EXPECT_TRUE(tapbroker::transcript::parse(contents(path), conversations, error)) << error;
  std::vector<std::pair<char, std::string>> runs;
  for (const tapbroker::transcript::Conversation& conversation : conversations) {
    runs.push_back({'c', conversation.client});
    for (const tapbroker::transcript::Line& line : conversation.lines) {
      const char direction = static_cast<char>(line.direction);
      if (direction == '<' && runs.back().first == '<') {
        runs.back().second += line.bytes;
      } else if (!line.bytes.empty()) {
        runs.push_back({direction, line.bytes});
      }
    }
  }
  return runs;
}

// The exit status of a broker started here, once it has exited by itself (-1 when it had
// to be stopped after a minute).
int exitStatus(pid_t pid) {
  for (int wait = 0; wait < 600; ++wait) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid)
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  processes::stop(pid);
  return -1;
}

// Starts tapbroker.exe with `arguments` and waits until it listens.
pid_t startBroker(std::vector<std::string> arguments, const std::string& errorFile = {}) {
  processes::Launch launch(std::move(arguments));
  launch.errorFile = errorFile;
  const pid_t pid = processes::spawn(brokerPath(), launch);
  for (int wait = 0; wait < 250; ++wait) {
    int fd = loopback::connectTo(4001);
    const bool listening = fd >= 0;
    loopback::closeSocket(fd);
    if (listening) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return pid;
}

TEST(ReplayE2E, TheRecordedDemoPassesAgainWithTheSimulatorGone) {
  SKIP_IF_TAKEN(shared_machine::brokerOrPortTaken());
  TempDir directory;
  const std::string byLibrary = directory / "library.txt";
  const std::string byBroker = directory / "broker.txt";
  std::string output;
  const pid_t simulator = startBroker({"--record", byBroker, "--idle-exit", "60"});
  EXPECT_EQ(runProgram("tapclient", {"--record", byLibrary, "demo"}, output), 0) << output;
  EXPECT_TRUE(processes::stop(simulator));
  EXPECT_EQ(byteRuns(byBroker), byteRuns(byLibrary));

  const pid_t replay = startBroker({"--replay", byLibrary});
  EXPECT_EQ(runProgram("tapclient", {"demo"}, output), 0) << output;
  EXPECT_EQ(exitStatus(replay), 0);
}

TEST(ReplayE2E, AClientThatSendsOneDifferentByteIsStoppedAtItsLine) {
  SKIP_IF_TAKEN(shared_machine::brokerOrPortTaken());
  TempDir directory;
  const std::string recorded = directory / "recorded.txt";
  const std::string complaints = directory / "stderr.txt";
  char name[] = "replayed";
  const auto converse = [&name](const char* port) {
    Client client(name);
    EXPECT_EQ(client.Connect(nullptr, nullptr, nullptr), 0);
    // The recording holds one conversation of this name: while this one holds it, every
    // other connection of the name is refused, and told which one it is.
    for (int extra = 0; extra < 2; ++extra) Client(name).Connect(nullptr, nullptr, nullptr);
    const int result = client.Send(4, "sim-usb", port, 0);
    const int status = client.GetClientStatus();
    client.Disconnect();
    return std::make_pair(result, status);
  };
  const pid_t simulator = startBroker({"--idle-exit", "60"});
  ::setenv("TAPBROKER_CLIENT_RECORD", recorded.c_str(), 1);
  const auto [answer, recordedStatus] = converse("port0");
  ::unsetenv("TAPBROKER_CLIENT_RECORD");
  EXPECT_TRUE(processes::stop(simulator));
  EXPECT_EQ(answer, 0);
  EXPECT_EQ(recordedStatus, 0);

  const pid_t replay = startBroker({"--replay", recorded}, complaints);
  EXPECT_EQ(converse("port1"), std::make_pair(kReceiveFailed, kReceiveFailed));
  EXPECT_EQ(exitStatus(replay), 3);
  // The port is the client's fourth unit: introduction, command, cable, port.
  const std::vector<std::string> lines = readLines(recorded);
  ASSERT_GE(lines.size(), 8u);
  EXPECT_EQ(lines[7], "> \"port0\\0\"");
  const std::string said = contents(complaints);
  EXPECT_NE(said.find("replay of conversation 1 (\"replayed\", line 1) differs at line 8, "
                      "byte 5: expected \"port0\\0\", came \"port1\\0\""),
            std::string::npos)
      << said;
  for (const char* refused : {"this is the 2nd connection", "this is the 3rd connection"})
    EXPECT_NE(said.find(refused), std::string::npos) << said;
}

// A data block that differs is shown by the place of its first differing byte, the bytes
// around it and the command it belongs to, not whole; a client introduced by another name
// (tapclient --name) is served what a program of that name recorded.
TEST(ReplayE2E, ADataBlockThatDiffersIsShownWhereItDiffers) {
  SKIP_IF_TAKEN(shared_machine::brokerOrPortTaken());
  TempDir directory;
  const std::string recorded = directory / "recorded.txt", script = directory / "script.txt";
  const std::string complaints = directory / "stderr.txt";
  std::string block(1024, '\x11');
  std::ofstream(script) << "16 0\n15 0\n42 d:@" << directory / "image" << " i:8192 i:0 i:0\n";
  std::ofstream(directory / "image", std::ios::binary) << block;
  std::string output;
  const pid_t simulator = startBroker({"--idle-exit", "60"});
  EXPECT_EQ(runProgram("tapclient", {"--name", "bench", "--record", recorded, "session",
                                     "--open", script}, output), 0) << output;
  EXPECT_TRUE(processes::stop(simulator));

  block[517] = '\x12';
  std::ofstream(directory / "image", std::ios::binary) << block;
  const pid_t replay = startBroker({"--replay", recorded}, complaints);
  EXPECT_EQ(runProgram("tapclient", {"--name", "bench", "session", "--open", script}, output), 1);
  EXPECT_EQ(exitStatus(replay), 3);
  const std::vector<std::string> lines = readLines(recorded);
  std::size_t data = 0, command = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i] == "> \"42\\0\"") command = i + 1;
    if (lines[i].rfind("> hex 1111", 0) == 0) data = i + 1;
  }
  const std::string where = "replay of conversation 1 (\"bench\", line 1) differs at line " +
                            std::to_string(data) + ", byte 518 of 1024, in the data of "
                            "command 42 (line " + std::to_string(command) + "): expected ... "
                            "11 11 11 11 [11] 11 11 11 11 ..., came ... 11 11 11 11 [12] 11 11 "
                            "11 11 ...";
  EXPECT_NE(contents(complaints).find(where), std::string::npos) << contents(complaints);

  // tapclient --replay starts that broker itself and shows its line.
  processes::Launch launch({"--name", "bench", "--replay", recorded, "session", "--open", script});
  launch.errorFile = complaints;
  const pid_t tapclient = processes::spawn(binaryDirectory() + "/tapclient", launch);
  int status = 0;
  EXPECT_EQ(::waitpid(tapclient, &status, 0), tapclient);
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_NE(contents(complaints).find("the broker: tapbroker #1 " + where), std::string::npos)
      << contents(complaints);
}

TEST(ReplayE2E, AFileTheBrokerCannotUseStopsItAtStartWithTheReasonWhereAPersonLooks) {
  SKIP_IF_TAKEN(shared_machine::brokerOrPortTaken());
  TempDir directory;
  const std::string broken = directory / "broken.txt";
  std::ofstream(broken) << "client \"x\"\n> \"x\\0\"\n< \"+\\q\"\n";
  const std::string complaints = directory / "stderr.txt";
  EXPECT_EQ(exitStatus(startBroker({"--replay", broken}, complaints)), 2);
  EXPECT_NE(contents(complaints).find("line 3: unknown escape \\q"), std::string::npos)
      << contents(complaints);

  // Named in the environment of an application, a broken plan costs its Connect kUnreachable
  // alone; the reason waits in the temporary directory.
  const std::string plan = directory / "plan.txt";
  std::ofstream(plan) << "4 1 answer 0\n44/12 1 flip\n";
  const char* temporary = std::getenv("TMPDIR");
  const std::string keptTemporary = temporary ? temporary : "";
  ::setenv("TMPDIR", directory.path().c_str(), 1);
  ::setenv("TAPBROKER_FAULTS", plan.c_str(), 1);
  char name[] = "rejected";
  Client client(name);
  EXPECT_EQ(client.Connect(nullptr, nullptr, nullptr), kUnreachable);
  ::unsetenv("TAPBROKER_FAULTS");
  if (temporary) ::setenv("TMPDIR", keptTemporary.c_str(), 1); else ::unsetenv("TMPDIR");
  const std::string note = contents(directory / ("tapbroker-" + std::to_string(::geteuid())) +
                                    "/tapbroker-error.txt");
  EXPECT_NE(note.find("fault plan " + plan + ", line 2: "), std::string::npos) << note;
}

}  // namespace
}  // namespace e2e
