// Connect starting the real tapbroker.exe itself (the unit tests show what happens when
// there is none to start), and tapclient as a user runs it.
#include <sys/wait.h>

#include "tests/e2e/e2e_support.h"
#include "tests/support/loopback.h"
#include "tests/support/scratch.h"

namespace e2e {
namespace {

// Connect starts a broker only when none runs on the machine at all.
class QuietMachine : public ::testing::Test {
 protected:
  void SetUp() override { SKIP_IF_TAKEN(shared_machine::brokerOrPortTaken()); }
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

// The library waits for the answer to its introduction as long as it takes; tapclient gives
// up on a program that takes the connection and never answers, saying why.
TEST_F(QuietMachine, TapclientGivesUpOnAPortThatNeverAnswers) {
  int silent = loopback::listenOn(4001, 0);  // the kernel takes connections; nobody answers
  ASSERT_GE(silent, 0);
  TempDir scratch;
  processes::Launch launch({"send", "30"});
  launch.errorFile = scratch / "errors";
  const pid_t tapclient = processes::spawn(binaryDirectory() + "/tapclient", launch);
  int status = -1;
  ASSERT_EQ(::waitpid(tapclient, &status, 0), tapclient);
  loopback::closeSocket(silent);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
  const std::vector<std::string> errors = readLines(launch.errorFile);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("nothing on 127.0.0.1:4001 answered the introduction"),
            std::string::npos)
      << errors[0];
}

using TapclientE2E = BrokerTest;

TEST_F(TapclientE2E, DemoScansProgramsAndVerifies) {
  std::string output;
  ASSERT_EQ(runProgram("tapclient", {"demo"}, output), 0) << output;
  for (const char* expected :
       {"JTAG chain: 2 devices", "sim-fpga  0x1A2B3C4D", "sim-cpld  0x2C0FFEE1", "IR bits",
        "192.0 KiB", "verified", "read back identical", "5A 40 10", "All checks passed"}) {
    EXPECT_NE(output.find(expected), std::string::npos) << expected << "\n" << output;
  }
  // Without a terminal the progress bars print a few lines, not a redraw per chunk.
  EXPECT_EQ(output.find('\r'), std::string::npos);
}

TEST_F(TapclientE2E, SendReadsTheAnswersInTheSameConversation) {
  std::string output;
  EXPECT_EQ(runProgram("tapclient", {"send", "8", "--open", "--read", "list"}, output), 0);
  EXPECT_EQ(output, "2\n0x1A2B3C4D\n0x2C0FFEE1\n");
  output.clear();
  EXPECT_EQ(runProgram("tapclient", {"send", "9", "i:1", "--open", "--read", "text"}, output),
            0);
  EXPECT_EQ(output, "739245793\n0x2C0FFEE1\n");
  // Arguments that do not fit the command are refused before anything is sent.
  output.clear();
  EXPECT_EQ(runProgram("tapclient", {"send", "5", "s:fast"}, output), 2);
  EXPECT_EQ(output, "");
}

}  // namespace
}  // namespace e2e
