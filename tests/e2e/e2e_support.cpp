#include "e2e_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include "tests/support/loopback.h"
#include "tests/support/processes.h"

extern char** environ;

namespace e2e {
namespace {

using namespace std::chrono_literals;

bool exited(pid_t pid, int& status) { return ::waitpid(pid, &status, WNOHANG) == pid; }

}  // namespace

std::string binaryDirectory() {
  return std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
}

bool waitForNoBroker(int seconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!processes::brokers().empty()) {
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(250ms);
  }
  return true;
}

bool portAnswers() {
  int fd = loopback::connectTo(4001);
  const bool answered = fd >= 0;
  loopback::closeSocket(fd);
  return answered;
}

pid_t listeningBroker(const std::string& directory) {
  // The listening socket's inode: local address 127.0.0.1:4001, state 0A (LISTEN).
  std::FILE* table = std::fopen("/proc/net/tcp", "r");
  if (table == nullptr) return 0;
  char line[512];
  std::string inode;
  while (inode.empty() && std::fgets(line, sizeof line, table) != nullptr) {
    char local[64], remote[64], state[8];
    unsigned long number = 0;
    if (std::sscanf(line, " %*s %63s %63s %7s %*s %*s %*s %*s %*s %lu", local, remote, state,
                    &number) == 4 &&
        std::strcmp(local, "0100007F:0FA1") == 0 && std::strcmp(state, "0A") == 0) {
      inode = "socket:[" + std::to_string(number) + "]";
    }
  }
  std::fclose(table);
  if (inode.empty()) return 0;
  for (pid_t pid : processes::brokers(directory)) {
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    DIR* dir = ::opendir(fds.c_str());
    if (dir == nullptr) continue;
    bool holds = false;
    while (dirent* entry = ::readdir(dir)) {
      char target[128];
      const std::string link = fds + "/" + entry->d_name;
      const ssize_t length = ::readlink(link.c_str(), target, sizeof target - 1);
      if (length > 0 && inode == std::string(target, static_cast<std::size_t>(length)))
        holds = true;
    }
    ::closedir(dir);
    if (holds) return pid;
  }
  return 0;
}

BrokerProcess::BrokerProcess() {
  const std::string path = binaryDirectory() + "/tapbroker.exe";
  // Others' tests take the port now and then: a broker that cannot have it exits with 1.
  for (int attempt = 0; attempt < 40 && pid_ == 0; ++attempt) {
    pid_ = listeningBroker(binaryDirectory());
    if (pid_ != 0) return;
    // The idle limit stops it even if this test never gets to.
    const pid_t pid = processes::spawn(path, {{"--idle-exit", "60"}});
    if (pid == 0) return;
    for (int wait = 0; wait < 100; ++wait) {
      int status = 0;
      if (exited(pid, status)) break;
      if (portAnswers()) {
        // Make sure the answer was ours: a broker that lost the port exits at once.
        std::this_thread::sleep_for(50ms);
        if (!exited(pid, status)) pid_ = pid, started_ = true;
        break;
      }
      std::this_thread::sleep_for(20ms);
    }
    if (pid_ == 0) {
      processes::stop(pid);
      std::this_thread::sleep_for(250ms);
    }
  }
}

BrokerProcess::~BrokerProcess() {
  if (started_) processes::stop(pid_);
}

int runProgram(const std::string& program, const std::vector<std::string>& arguments,
               std::string& output) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
  const pid_t pid =
      processes::spawn(binaryDirectory() + "/" + program, {arguments, pipeFds[1]});
  ::close(pipeFds[1]);
  char buffer[4096];
  ssize_t got;
  while ((got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
    if (got > 0) output.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(pipeFds[0]);
  if (pid == 0) return -1;
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

::testing::AssertionResult openCable(Client& client) {
  const int cable = client.Send(4, "sim-usb", "port0", 0);
  if (cable != 0) return ::testing::AssertionFailure() << "Send(4) gave " << cable;
  const int session = client.Send(33);
  if (session != 0) return ::testing::AssertionFailure() << "Send(33) gave " << session;
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult connectAndOpen(Client& client) {
  const int connected = client.Connect(nullptr, nullptr, nullptr);
  if (connected != 0) return ::testing::AssertionFailure() << "Connect gave " << connected;
  return openCable(client);
}

int readInt(Client& client) {
  int value = 0;
  const int result = client.Read(value);
  return result == 0 ? value : result;
}

std::string readText(Client& client) {
  char* text = nullptr;
  return client.Read(text) == 0 ? std::string(text) : std::string("<read failed>");
}

std::vector<std::string> readList(Client& client) {
  std::vector<std::string> items;
  if (client.Read(items) != 0) items = {"<read failed>"};
  return items;
}

std::vector<std::uint8_t> readBack(Client& client, std::size_t bytes) {
  std::vector<std::uint8_t> data(bytes, 0);
  const int result =
      client.GetTDO(reinterpret_cast<char*>(data.data()), static_cast<int>(bytes * 8));
  EXPECT_EQ(result, 0) << "GetTDO";
  return data;
}

std::uint32_t crc32(const std::vector<std::uint8_t>& bytes) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::uint8_t byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

std::vector<std::uint8_t> pattern(std::size_t count, std::uint32_t seed) {
  std::vector<std::uint8_t> bytes(count);
  std::uint32_t state = seed * 2654435761u + 1;
  for (std::uint8_t& byte : bytes) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<std::uint8_t>((state >> 24) % 0xFF);  // never 0xFF
  }
  return bytes;
}

}  // namespace e2e
