// Connect where nothing answers on port 4001: against processes named like the broker, and
// with a stand-in broker that Connect itself has to start, on real sockets and processes.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/support/connect_fixture.h"
#include "tests/support/loopback.h"
#include "tests/support/processes.h"
#include "tests/support/shared_machine.h"

using namespace tapbroker::results;

namespace {

std::string helperProgram() {
  return std::filesystem::path(TAPBROKER_EXE).parent_path() / "connect_helper";
}

// Waits a while for the brokers started from `directory` to end by themselves, then ends
// those that remain; brokers run from anywhere else are left alone.
void endBrokersStartedFrom(const std::string& directory) {
  for (int i = 0; i < 300 && !processes::brokers(directory).empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  for (pid_t id : processes::brokers(directory)) processes::stop(id);
}

class BrokerStartTest : public ConnectFixture {
 protected:
  // Connect talks to whatever listens on port 4001, and starts a broker only when it finds
  // none running on the machine: these tests need both to be free.
  void SetUp() override {
    SKIP_IF_TAKEN(shared_machine::brokerOrPortTaken());
    ConnectFixture::SetUp();
  }
};

TEST_F(BrokerStartTest, RunningBrokerIsRetriedWithoutStartingAnother) {
  TempDir dir;
  std::string fake = dir.install("/bin/sleep", "tapbroker.exe");
  processes::Child first(fake, {{"30"}});
  processes::Child second(fake, {{"30"}});
  ASSERT_GT(first.pid(), 0);
  ASSERT_GT(second.pid(), 0);

  EXPECT_EQ(client.Connect(nullptr, nullptr, dir.path().c_str()), kUnreachable);
  EXPECT_EQ(client.GetClientStatus(), kUnreachable);
  EXPECT_EQ(client.GetClientSocket(), 0);
  // Each running broker is reported; neither "1001" nor "1107": nothing was started.
  EXPECT_EQ(reports(log), (Reports{"1089", "1090", "1091", "1106", "1085", "1072", "1072",
                                   "1002", "1090", "1091", "1004"}));
}

TEST_F(BrokerStartTest, StartsTheBrokerFromTheInstallDirectory) {
  TempDir dir;
  // A directory name that is not ASCII must reach the system unchanged.
  std::string installDir = dir / "b\xc3\xbcro";
  std::filesystem::create_directory(installDir);
  std::filesystem::copy_file(helperProgram(), installDir + "/tapbroker.exe");

  EXPECT_EQ(client.Connect(nullptr, nullptr, installDir.c_str()), 0);
  EXPECT_EQ(client.GetClientStatus(), 0);
  EXPECT_EQ(reports(log), (Reports{"1089", "1090", "1091", "1106", "1085", "1001", "1107",
                                   "1090", "1091"}));
  hangUp();
  endBrokersStartedFrom(installDir);
  EXPECT_EQ(readLines(installDir + "/introduction"), Reports{std::string("probe\0", 6)});
}

TEST_F(BrokerStartTest, BrokerThatCannotStartLeavesTheClientUnconnected) {
  TempDir installDir;  // exists, but holds no tapbroker.exe
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(client.Connect(nullptr, nullptr, installDir.path().c_str()), kUnreachable);
  const std::string console = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(client.GetClientStatus(), kUnreachable);
  EXPECT_EQ(client.GetClientSocket(), 0);
  EXPECT_EQ(console, "Norvane Server: TapBroker process not successfully launched:\n" +
                         (installDir / "tapbroker.exe") + ":2:No such file or directory\n");
  EXPECT_EQ(reports(log), (Reports{"1089", "1090", "1091", "1106", "1085", "1001", "1107",
                                   "1090", "1091", "1004"}));
}

// A program on the port that takes the connection and never answers: with a deadline,
// Connect gives up on the introduction instead of waiting for ever.
TEST_F(BrokerStartTest, DeadlineEndsAConnectNobodyAnswers) {
  int listener = loopback::listenOn(4001);
  ASSERT_GE(listener, 0);
  ::setenv("TAPBROKER_CLIENT_TIMEOUT", "1", 1);
  EXPECT_EQ(client.Connect(nullptr, nullptr, nullptr), kReceiveFailed);
  ::unsetenv("TAPBROKER_CLIENT_TIMEOUT");
  EXPECT_EQ(client.GetClientStatus(), kReceiveFailed);
  EXPECT_EQ(reports(log), (Reports{"1089", "1090", "1091", "1007", "1117"}));
  hangUp();
  loopback::closeSocket(listener);
}

TEST_F(BrokerStartTest, MissingInstallationIsReportedOnTheConsole) {
  // An application whose binary directory is gone, given an installation directory that
  // does not exist either.
  std::string console;
  EXPECT_EQ(processes::run(helperProgram(),
                           {"installed-in", scratch / "gone", scratch / "missing"}, console),
            0);
  EXPECT_EQ(console,
            "Error : Verdane Programmer install is not correct. Please install again.\n"
            "result " + std::to_string(kNotInstalled) + " status 77\n");
}

}  // namespace
