// Connect starting the real tapbroker.exe itself (the unit tests show what happens when
// there is none to start), and tapclient as a user runs it.
#include <gmock/gmock.h>
#include <unistd.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <tuple>

#include "tests/e2e/e2e_support.h"
#include "tests/support/loopback.h"
#include "tests/support/scratch.h"

namespace e2e {
namespace {

using ::testing::HasSubstr;

// Connect starts a broker only when none runs on the machine at all.
class QuietMachine : public ::testing::Test {
 protected:
  void SetUp() override { SKIP_IF_TAKEN(shared_machine::brokerOrPortTaken()); }
};

// TAPBROKER_CHAIN reaches the broker that Connect starts, as the fault plan's variable does:
// a chain it takes is the one a scan finds; one it refuses leaves its reason in the error
// file and costs that Connect -1005.
TEST_F(QuietMachine, ConnectStartsTheBrokerWithTheChainTheEnvironmentNames) {
  TempDir directory;
  const std::string chain = directory / "chain.json";
  std::ofstream(chain) << R"({"devices": [{"name": "a", "idcode": 3, "irLength": 4},
    {"name": "b", "irLength": 5}, {"name": "c", "idcode": "0x5", "irLength": 2}]})";
  const std::string broken = directory / "broken.json";
  std::ofstream(broken) << R"({"devices": []})";
  char name[] = "e2e-chain";
  Client client(name);
  {
    ScopedEnv temporary("TMPDIR", directory.path()), idle("TAPBROKER_IDLE_EXIT", "15");
    ScopedEnv refused("TAPBROKER_CHAIN", broken);
    EXPECT_EQ(client.Connect(nullptr, nullptr, nullptr), -1005);
    ScopedEnv taken("TAPBROKER_CHAIN", chain);
    ASSERT_EQ(client.Connect(nullptr, nullptr, nullptr), 0);
  }
  ASSERT_TRUE(connectAndOpen(client, false));
  EXPECT_EQ(client.Send(8), 3);
  EXPECT_EQ(readList(client), (std::vector<std::string>{"0x00000003", "bypass", "0x00000005"}));
  EXPECT_EQ(client.Disconnect(), 0);
  for (pid_t pid : processes::brokers(binaryDirectory())) EXPECT_TRUE(processes::stop(pid));
  const std::string note = readFile(directory / ("tapbroker-" + std::to_string(::geteuid())) +
                                    "/tapbroker-error.txt");
  EXPECT_THAT(note, HasSubstr("chain description " + broken + ": \"devices\" must hold 1 to"));
}

// The library waits for an answer as long as it takes unless TAPBROKER_CLIENT_TIMEOUT bounds
// the wait; tapclient sets it, and gives up on a program that takes the connection and
// never answers, or on a broker that holds an answer back, saying why.
TEST_F(QuietMachine, TapclientGivesUpOnAnAnswerThatNeverComes) {
  TempDir scratch;
  const std::string plan = scratch / "plan.txt";
  std::ofstream(plan) << "30 every delay 600000\n";
  int silent = loopback::listenOn(4001, 0);  // the kernel takes connections; nobody answers
  ASSERT_GE(silent, 0);
  ToolRun run = runTapclient({"send", "30"}, {"TAPBROKER_CLIENT_TIMEOUT=1"});
  loopback::closeSocket(silent);
  EXPECT_EQ(run.status, 1);
  ASSERT_EQ(run.errors.size(), 1u);
  EXPECT_THAT(run.errors[0],
              HasSubstr("nothing on 127.0.0.1:4001 answered the introduction within 1 s"));

  run = runTapclient({"--faults", plan, "send", "30"},
                     {"TAPBROKER_CLIENT_TIMEOUT=1", "TAPBROKER_IDLE_EXIT=60"});
  for (pid_t pid : processes::brokers(binaryDirectory())) processes::stop(pid);
  EXPECT_EQ(run.status, 1);
  ASSERT_FALSE(run.errors.empty());
  EXPECT_THAT(run.errors[0], HasSubstr("command 30: the library reported -1002"));
  EXPECT_THAT(run.errors[0], HasSubstr("the library waits 1 s for an answer"));
}

// The broker that tapclient starts for a fault plan keeps the plan for every later client:
// the run ends by saying so, and how to stop that broker.
TEST_F(QuietMachine, TapclientWithAFaultPlanEndsByNamingTheBrokerThatKeepsIt) {
  TempDir scratch;
  const std::string plan = scratch / "plan.txt";
  std::ofstream(plan) << "30 1 answer 7\n";
  const ToolRun run =
      runTapclient({"--faults", plan, "send", "30"}, {"TAPBROKER_IDLE_EXIT=60"});
  const std::vector<pid_t> started = processes::brokers(binaryDirectory());
  ASSERT_EQ(started.size(), 1u) << (run.errors.empty() ? "" : run.errors.front());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, "7\n");
  ASSERT_FALSE(run.errors.empty());
  EXPECT_THAT(run.errors.back(), HasSubstr("keeps the fault plan " + plan));
  EXPECT_THAT(run.errors.back(), HasSubstr("kill " + std::to_string(started[0])));
  for (pid_t pid : started) EXPECT_TRUE(processes::stop(pid));
}

using TapclientE2E = BrokerTest;

// A scan command's data goes as hex, its read-back printed after the answer; arguments that
// do not fit the command are refused before anything is sent.
TEST_F(TapclientE2E, SendReadsTheAnswersInTheSameConversation) {
  const std::string ones = "d:ffffffffffffffff";
  for (const auto& [arguments, status, printed] :
       std::vector<std::tuple<std::vector<std::string>, int, std::string>>{
           {{"send", "8", "--open", "--read", "list"}, 0, "2\n0x1A2B3C4D\n0x2C0FFEE1\n"},
           {{"send", "9", "i:1", "--open", "--read", "text"}, 0, "739245793\n0x2C0FFEE1\n"},
           {{"send", "--open", "44", "12", "0", "64", "1", "0", ones, ones}, 0,
            "0\ntdo 4d3c2b1ae1fe0f2c\n"},
           {{"send", "5", "s:fast"}, 2, ""}}) {
    const ToolRun run = runTapclient(arguments);
    EXPECT_EQ(run.status, status) << arguments[1];
    EXPECT_EQ(run.output, printed);
  }
}

// What a broker answers reaches the terminal with its control characters escaped (the
// simulated cable lists the application names it was given); a number the broker does
// not know is said to be one, not left as a bare -1.
TEST_F(TapclientE2E, SendSaysWhatTheBrokerAnsweredSafely) {
  ToolRun run = runTapclient(
      {"send", "41", "s:a\x1b[2J\r\n\xc2\x9b\x9b\xe2\x80\xa8\xc3\xa9", "--read", "list"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, "1\na\\x1B[2J\\x0D\\x0A\\xC2\\x9B\\x9B\\xE2\\x80\\xA8\xc3\xa9\n");

  for (const auto& [arguments, unknown] :
       {std::pair<std::vector<std::string>, std::string>{{"send", "77"}, "command 77"},
        {{"send", "--open", "44", "72"}, "interface function 72"}}) {
    run = runTapclient(arguments);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, "-1\n");
    ASSERT_EQ(run.errors.size(), 1u);
    EXPECT_THAT(run.errors[0], HasSubstr("the broker does not know " + unknown));
  }
}

// A bench test as a session script: one conversation scans, programs, reads back and
// verifies; each line's answer on a line, a read-back in hex; the first line whose answer is
// not the expected one ends the run, unless --keep-going.
TEST_F(TapclientE2E, SessionRunsAScriptInOneConversation) {
  TempDir scratch;
  const std::string image = scratch / "image.bin", script = scratch / "bench.txt";
  std::string bytes(2048, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + 1);
  std::ofstream(image, std::ios::binary) << bytes;
  std::ofstream(script) << "# the chain, then 2 KiB programmed, read back and verified\n"
                           "4 s:sim-usb s:port0 = 0\n"
                           "33 = 0\n"
                           "8 --read list\n"
                           "6\n"
                           "44 12 0 64 1 0 d:ffffffffffffffff d:FFFFFFFFFFFFFFFF  # IDCODEs\n"
                           "\n"
                           "16 0 = 0\n"
                           "15 0\n"
                           "42 d:@" + image + " i:16384 i:0 i:0 = 0\n"
                           "15 1020\n"
                           "42 d:0000000000000000 i:64 i:1 i:1\n"
                           "15 0\n"
                           "42 d:@" + image + " i:16384 i:2 i:0 = 0\n"
                           "15 0 = 1\n"
                           "24\n";
  ToolRun run = runTapclient({"session", script});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output,
            "0\n0\n2\n0x1A2B3C4D\n0x2C0FFEE1\n0\n0\ntdo 4d3c2b1ae1fe0f2c\n0\n0\n0\n0\n0\n"
            "tdo e5ecf3fa01080f16\n0\n0\n");
  ASSERT_EQ(run.errors.size(), 1u);
  EXPECT_THAT(run.errors[0],
              HasSubstr("line 15 (15 0 = 1): command 15: the broker answered 0, expected 1"));

  run = runTapclient({"session", "--json", "--keep-going", script});
  EXPECT_EQ(run.status, 1);
  std::vector<nlohmann::json> lines;
  std::istringstream output(run.output);
  for (std::string line; std::getline(output, line);) lines.push_back(nlohmann::json::parse(line));
  ASSERT_EQ(lines.size(), 14u) << run.output;
  EXPECT_EQ(lines[2]["answers"], nlohmann::json::parse(R"([["0x1A2B3C4D","0x2C0FFEE1"]])"));
  EXPECT_EQ(lines[4]["tdo"], "4d3c2b1ae1fe0f2c");
  EXPECT_EQ(lines[12]["line"], 15);
  EXPECT_TRUE(lines[12].contains("error"));
  EXPECT_EQ(lines[13]["command"], 24);  // went on after the failure

  // A line that cannot be sent as written stops the script before anything is sent.
  std::ofstream(script) << "5 s:fast\n";
  run = runTapclient({"session", script});
  EXPECT_EQ(run.status, 2);
  ASSERT_FALSE(run.errors.empty());
  EXPECT_THAT(run.errors[0], HasSubstr("bench.txt, line 1: command 5 takes i:NUMBER"));
}

}  // namespace
}  // namespace e2e
