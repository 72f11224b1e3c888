// Connect on the system's own process services: finding a running broker by its module
// name, starting one from a directory with a non-ASCII name, and a start that fails.
// A small Windows program installed as tapbroker.exe plays the broker.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tapbroker_client.h"

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

// The scratch directory, holding the catalogue, which is served from before the first
// Client exists; it goes with everything in it when the program ends.
const fs::path& scratch() {
  static const struct Scratch {
    Scratch() {
      fs::create_directories(path);
      std::ofstream(path / "tapbrokerclient.msg", std::ios::binary) << kIdCatalogue;
      ::_putenv_s("MSGCORE_PATH", path.string().c_str());
    }
    ~Scratch() {
      std::error_code ignored;
      fs::remove_all(path, ignored);
    }
    fs::path path = fs::temp_directory_path() /
                    ("tapbroker-windows-" + std::to_string(::GetCurrentProcessId()));
  } scratch;
  return scratch.path;
}

// A directory holding the broker double as tapbroker.exe; its name in the ANSI code page.
std::string installDouble(const std::wstring& name) {
  fs::path directory = scratch() / name;
  fs::create_directories(directory);
  fs::copy_file(ownDirectory() + "\\broker_double.exe", directory / "tapbroker.exe",
                fs::copy_options::overwrite_existing);
  char text[MAX_PATH] = {};
  ::WideCharToMultiByte(CP_ACP, 0, directory.wstring().c_str(), -1, text, MAX_PATH, nullptr,
                        nullptr);
  return text;
}

std::string contents(const fs::path& file) {
  std::ostringstream text;
  text << std::ifstream(file, std::ios::binary).rdbuf();
  return text.str();
}

class WindowsConnect : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(client.Set_Log_File(log.c_str()), 0); }
  void TearDown() override { fs::remove(log); }

  // The reports logged, in order.
  std::vector<std::string> reports() {
    std::vector<std::string> ids;
    std::istringstream lines(contents(log));
    for (std::string line; std::getline(lines, line);)
      if (!line.empty() && line != "\r") ids.push_back(line.substr(0, 4));
    return ids;
  }

  std::string log = (scratch() / "connect.log").string();
  char name[16] = "windows-connect";
  Client client{name};
};

TEST_F(WindowsConnect, FindsARunningBrokerByItsModuleName) {
  std::string directory = installDouble(L"running");
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION idle{};
  std::string command = "tapbroker.exe idle";
  ASSERT_TRUE(::CreateProcessA((directory + "\\tapbroker.exe").c_str(), command.data(), nullptr,
                               nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                               &idle));
  for (int i = 0; i < 500 && !fs::exists(fs::path(directory) / "running"); ++i) ::Sleep(10);

  // Nothing listens, a broker runs: nothing is started and the second attempt fails.
  EXPECT_EQ(client.Connect(nullptr, nullptr, directory.c_str()), -1005);
  EXPECT_EQ(reports(), (std::vector<std::string>{"1106", "1085", "1072", "1002", "1004"}));
  ::TerminateProcess(idle.hProcess, 0);
  ::WaitForSingleObject(idle.hProcess, 5000);
  ::CloseHandle(idle.hThread);
  ::CloseHandle(idle.hProcess);
}

TEST_F(WindowsConnect, SaysWhyTheBrokerCouldNotStart) {
  std::string directory = installDouble(L"empty");
  fs::remove(fs::path(directory) / "tapbroker.exe");
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(client.Connect(nullptr, nullptr, directory.c_str()), -1005);
  std::string said = ::testing::internal::GetCapturedStdout();
  // The system's own text for ERROR_FILE_NOT_FOUND follows the path and the code.
  std::string start = directory + "/tapbroker.exe:2:";
  ASSERT_NE(said.find(start), std::string::npos) << said;
  EXPECT_GT(said.size(), said.find(start) + start.size() + 2) << said;
  EXPECT_EQ(reports(), (std::vector<std::string>{"1106", "1085", "1001", "1107", "1004"}));
}

// Last: the broker it starts goes by itself once the client has disconnected.
TEST_F(WindowsConnect, StartsTheBrokerFromANonAsciiDirectory) {
  std::string directory = installDouble(L"pr\u00fcfung");
  ASSERT_EQ(client.Connect(nullptr, nullptr, directory.c_str()), 0);
  EXPECT_EQ(reports(), (std::vector<std::string>{"1106", "1085", "1001", "1107"}));
  EXPECT_EQ(contents(fs::path(directory) / "introduction"), std::string(name) + '\0');
  EXPECT_EQ(client.Disconnect(), 0);
}

}  // namespace
