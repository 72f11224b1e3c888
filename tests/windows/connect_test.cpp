// Connect on the system's own process services: finding a running broker by its module
// name, starting one from a directory with a non-ASCII name, and a start that fails. The
// Windows broker is copied into each test's directory, as an installation holds it.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tapbroker_client.h"
#include "tests/support/processes.h"
#include "tests/support/scratch.h"

using namespace tapbroker::results;

namespace {

namespace fs = std::filesystem;

// Texts that name their own identifier, so that the log reads as the reports made.
const char kIdCatalogue[] =
    "1001\t1001\n1002\t1002\n1004\t1004\n1072\t1072\n1085\t1085\n1106\t1106\n1107\t1107\n";

std::string ownDirectory() {
  char path[MAX_PATH] = {};
  std::string own(path, ::GetModuleFileNameA(nullptr, path, MAX_PATH));
  return own.substr(0, own.find_last_of('\\'));
}

class WindowsConnect : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(client.Set_Log_File(log.c_str()), 0); }

  // A directory holding tapbroker.exe; its path in the ANSI code page.
  std::string installBroker(const std::wstring& name) {
    fs::path directory = fs::path(scratch.path()) / name;
    fs::create_directories(directory);
    fs::copy_file(ownDirectory() + "\\tapbroker.exe", directory / "tapbroker.exe");
    char text[MAX_PATH] = {};
    ::WideCharToMultiByte(CP_ACP, 0, directory.wstring().c_str(), -1, text, MAX_PATH, nullptr,
                          nullptr);
    return text;
  }
  // The reports logged, in order.
  std::vector<std::string> reports() {
    std::vector<std::string> ids;
    for (const std::string& line : readLines(log))
      if (!line.empty()) ids.push_back(line);
    return ids;
  }

  TempDir scratch;
  std::string log = scratch.file("connect.log");
  CatalogueOverride catalogue{kIdCatalogue};
  char name[16] = "windows-connect";
  Client client{name};
};

TEST_F(WindowsConnect, FindsARunningBrokerByItsModuleName) {
  std::string directory = installBroker(L"running");
  // A broker that listens on another port: one runs, yet nothing answers on 4001.
  const std::string trace = scratch.file("trace");
  processes::Launch launch{{"--port", "0", "--idle-exit", "20", "--trace"}};
  launch.errorFile = trace;
  const pid_t running = processes::spawn(directory + "\\tapbroker.exe", launch);
  ASSERT_GT(running, 0);
  for (int i = 0; i < 500 && readLines(trace).empty(); ++i) ::Sleep(10);

  // Nothing listens, a broker runs: nothing is started and the second attempt fails.
  EXPECT_EQ(client.Connect(nullptr, nullptr, directory.c_str()), kUnreachable);
  EXPECT_EQ(reports(), (std::vector<std::string>{"1106", "1085", "1072", "1002", "1004"}));
  EXPECT_TRUE(processes::stop(running));
}

TEST_F(WindowsConnect, SaysWhyTheBrokerCouldNotStart) {
  std::string directory = installBroker(L"empty");
  fs::remove(fs::path(directory) / "tapbroker.exe");
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(client.Connect(nullptr, nullptr, directory.c_str()), kUnreachable);
  std::string said = ::testing::internal::GetCapturedStdout();
  // The system's own text for ERROR_FILE_NOT_FOUND follows the path and the code.
  std::string start = directory + "/tapbroker.exe:2:";
  ASSERT_NE(said.find(start), std::string::npos) << said;
  EXPECT_GT(said.size(), said.find(start) + start.size() + 2) << said;
  EXPECT_EQ(reports(), (std::vector<std::string>{"1106", "1085", "1001", "1107", "1004"}));
}

// Last: the broker it starts goes by itself soon after the client has disconnected.
TEST_F(WindowsConnect, StartsTheBrokerFromANonAsciiDirectory) {
  std::string directory = installBroker(L"pr\u00fcfung");
  ::setenv("TAPBROKER_IDLE_EXIT", "15", 1);  // beyond the five seconds Connect waits
  ASSERT_EQ(client.Connect(nullptr, nullptr, directory.c_str()), 0);
  EXPECT_EQ(reports(), (std::vector<std::string>{"1106", "1085", "1001", "1107"}));
  EXPECT_EQ(client.Send(30), 1);  // the protocol revision: a whole conversation
  EXPECT_EQ(client.Disconnect(), 0);
  ::unsetenv("TAPBROKER_IDLE_EXIT");
}

}  // namespace
