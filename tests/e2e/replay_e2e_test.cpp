// Recording on the broker's side and replay, through the library and tapclient: the broker's
// transcript reads as the library's, a recorded demo passes again with the simulator gone,
// and a client that parts from the recording is stopped at the transcript's line, where a
// person finds it.
#include <gmock/gmock.h>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "e2e_support.h"
#include "tests/support/scratch.h"
#include "transcript/transcript.h"

using namespace tapbroker::results;

namespace e2e {
namespace {

using ::testing::HasSubstr;

// A transcript as the bytes each side moved: a `>` line is a unit of the client's, and
// the broker's answers between two of them are one run, however a receive cut them.
std::vector<std::pair<char, std::string>> byteRuns(const std::string& path) {
  std::vector<tapbroker::transcript::Conversation> conversations;
  std::string error;
  EXPECT_TRUE(tapbroker::transcript::parse(readFile(path), conversations, error)) << error;
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

TEST(ReplayE2E, TheRecordedDemoPassesAgainWithTheSimulatorGone) {
  SKIP_IF_TAKEN(shared_machine::brokerOrPortTaken());
  TempDir directory;
  const std::string byLibrary = directory / "library.txt";
  const std::string byBroker = directory / "broker.txt";
  const pid_t simulator = startBroker({{"--record", byBroker, "--idle-exit", "60"}});
  EXPECT_EQ(runTapclient({"--record", byLibrary, "demo"}).status, 0);
  EXPECT_TRUE(processes::stop(simulator));
  EXPECT_EQ(byteRuns(byBroker), byteRuns(byLibrary));

  const pid_t replay = startBroker({{"--replay", byLibrary}});
  const ToolRun demo = runTapclient({"demo"});
  const std::string& output = demo.output;
  EXPECT_EQ(demo.status, 0);
  EXPECT_EQ(processes::exitStatus(replay, 60), 0);
  for (const char* expected :
       {"JTAG chain: 2 devices", "sim-fpga  0x1A2B3C4D", "sim-cpld  0x2C0FFEE1", "IR bits",
        "192.0 KiB", "verified", "read back identical", "5A 40 10", "All checks passed"}) {
    EXPECT_THAT(output, HasSubstr(expected));
  }
  // Without a terminal the progress bars print a few lines, not a redraw per chunk.
  EXPECT_EQ(output.find('\r'), std::string::npos);
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
  const pid_t simulator = startBroker({{"--idle-exit", "60"}});
  const auto [answer, recordedStatus] = [&] {
    ScopedEnv record("TAPBROKER_CLIENT_RECORD", recorded);
    return converse("port0");
  }();
  EXPECT_TRUE(processes::stop(simulator));
  EXPECT_EQ(answer, 0);
  EXPECT_EQ(recordedStatus, 0);

  const pid_t replay = startBroker({{"--replay", recorded}, complaints});
  EXPECT_EQ(converse("port1"), std::make_pair(kReceiveFailed, kReceiveFailed));
  EXPECT_EQ(processes::exitStatus(replay, 60), 3);
  // The port is the client's fourth unit: introduction, command, cable, port.
  const std::vector<std::string> lines = readLines(recorded);
  ASSERT_GE(lines.size(), 8u);
  EXPECT_EQ(lines[7], "> \"port0\\0\"");
  const std::string said = readFile(complaints);
  EXPECT_THAT(said, HasSubstr("replay of conversation 1 (\"replayed\", line 1) differs at line 8, "
                              "byte 5: expected \"port0\\0\", came \"port1\\0\""));
  for (const char* refused : {"this is the 2nd connection", "this is the 3rd connection"})
    EXPECT_THAT(said, HasSubstr(refused));
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
  const pid_t simulator = startBroker({{"--idle-exit", "60"}});
  EXPECT_EQ(runTapclient({"--name", "bench", "--record", recorded, "session", "--open", script})
                .status, 0);
  EXPECT_TRUE(processes::stop(simulator));

  block[517] = '\x12';
  std::ofstream(directory / "image", std::ios::binary) << block;
  const pid_t replay = startBroker({{"--replay", recorded}, complaints});
  EXPECT_EQ(runTapclient({"--name", "bench", "session", "--open", script}).status, 1);
  EXPECT_EQ(processes::exitStatus(replay, 60), 3);
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
  EXPECT_THAT(readFile(complaints), HasSubstr(where));

  // tapclient --replay starts that broker itself and shows its line.
  processes::Launch launch({"--name", "bench", "--replay", recorded, "session", "--open", script},
                          complaints);
  const pid_t tapclient = processes::spawn(binaryDirectory() + "/tapclient", launch);
  EXPECT_EQ(processes::exitStatus(tapclient, 60), 1);
  EXPECT_THAT(readFile(complaints), HasSubstr("the broker: tapbroker #1 " + where));
}

}  // namespace
}  // namespace e2e
