// Connect where nothing answers on port 4001, on the system's own processes: a broker that
// runs is found by its name and none is started, the broker is started from a directory
// whose name is not ASCII, and a start that fails says why. The same source runs under
// Wine against the Windows broker.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#endif

#include "tests/support/connect_fixture.h"
#include "tests/support/processes.h"
#include "tests/support/shared_machine.h"

using namespace tapbroker::results;

namespace {

namespace fs = std::filesystem;

class BrokerStartTest : public ConnectFixture {
 protected:
  // Connect talks to whatever listens on port 4001, and starts a broker only when it finds
  // none running on the machine: these tests need both to be free.
  void SetUp() override {
    SKIP_IF_TAKEN(shared_machine::brokerOrPortTaken());
    ConnectFixture::SetUp();
  }
  // Whatever the test started is gone when the next one begins.
  void TearDown() override {
    if (!IsSkipped())
      for (pid_t id : processes::brokers()) processes::stop(id);
  }
  // A directory `name` (UTF-8) holding a copy of tapbroker.exe; its path as Connect takes
  // it, in the ANSI code page on Windows.
  std::string installBroker(const std::string& name) {
    const fs::path directory = fs::path(scratch.path()) / fs::u8path(name);
    fs::create_directories(directory);
    fs::copy_file(processes::brokerPath(), directory / "tapbroker.exe");
#ifdef _WIN32
    char text[MAX_PATH] = {};
    ::WideCharToMultiByte(CP_ACP, 0, directory.wstring().c_str(), -1, text, MAX_PATH, nullptr,
                          nullptr);
    return text;
#else
    return directory.string();
#endif
  }
};

TEST_F(BrokerStartTest, ARunningBrokerIsRetriedWithoutStartingAnother) {
  const std::string directory = installBroker("running");
  // A broker that listens on another port: one runs, yet nothing answers on 4001.
  processes::Launch launch{{"--port", "0", "--idle-exit", "20", "--trace"}, scratch / "trace"};
  processes::Child running(directory + "/tapbroker.exe", launch);
  ASSERT_GT(running.pid(), 0);
  for (int i = 0; i < 500 && readLines(launch.errorFile).empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));

  EXPECT_EQ(client.Connect(nullptr, nullptr, directory.c_str()), kUnreachable);
  EXPECT_EQ(client.GetClientStatus(), kUnreachable);
  EXPECT_EQ(client.GetClientSocket(), 0);
  // The running broker is reported; neither "1001" nor "1107": nothing was started.
  EXPECT_EQ(reports(log), (Lines{"1089", "1090", "1091", "1106", "1085", "1072", "1002",
                                   "1090", "1091", "1004"}));
}

TEST_F(BrokerStartTest, StartsTheBrokerFromANonAsciiDirectory) {
  const std::string directory = installBroker("pr\xc3\xbc" "fung");
  ScopedEnv idle("TAPBROKER_IDLE_EXIT", "15");  // beyond the five seconds Connect waits
  EXPECT_EQ(client.Connect(nullptr, nullptr, directory.c_str()), 0);
  EXPECT_EQ(client.GetClientStatus(), 0);
  EXPECT_EQ(reports(log), (Lines{"1089", "1090", "1091", "1106", "1085", "1001", "1107",
                                   "1090", "1091"}));
  EXPECT_EQ(client.Send(30), 1);  // the protocol revision: a whole conversation
  EXPECT_EQ(client.Disconnect(), 0);
}

TEST_F(BrokerStartTest, ABrokerThatCannotStartLeavesTheClientUnconnectedAndSaysWhy) {
  const std::string directory = installBroker("empty");
  fs::remove(fs::path(directory) / "tapbroker.exe");
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(client.Connect(nullptr, nullptr, directory.c_str()), kUnreachable);
  const std::string console = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(client.GetClientStatus(), kUnreachable);
  EXPECT_EQ(client.GetClientSocket(), 0);
  // The system's own text for "file not found" follows the path and the code.
  const std::string start = "Norvane Server: TapBroker process not successfully launched:\n" +
                            directory + "/tapbroker.exe:2:";
  EXPECT_EQ(console.rfind(start, 0), 0u) << console;
  EXPECT_GT(console.size(), start.size() + 2) << console;
  EXPECT_EQ(reports(log), (Lines{"1089", "1090", "1091", "1106", "1085", "1001", "1107",
                                   "1090", "1091", "1004"}));
}

#ifndef _WIN32
TEST_F(BrokerStartTest, MissingInstallationIsReportedOnTheConsole) {
  // An application whose binary directory is gone, given an installation directory that
  // does not exist either.
  std::string console;
  const std::string helper = fs::path(TAPBROKER_EXE).parent_path() / "connect_helper";
  EXPECT_EQ(processes::run(helper, {{scratch / "gone", scratch / "missing"}}, console), 0);
  EXPECT_EQ(console,
            "Error : Verdane Programmer install is not correct. Please install again.\n"
            "result " + std::to_string(kNotInstalled) + " status 77\n");
}
#endif

}  // namespace
