// The stand-ins for the sockets and process services, against real sockets, files and
// processes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/process.h"
#include "platform/winsock.h"
#include "tests/support/loopback.h"
#include "tests/support/processes.h"
#include "tests/support/scratch.h"

namespace {

// A listener on an ephemeral loopback port, so that these tests leave port 4001 alone.
struct Listener {
  ~Listener() { loopback::closeSocket(fd); }
  int fd = loopback::listenOn(0);
  std::uint16_t port = htons(loopback::localPort(fd));  // network byte order
};

tapbroker::win::SOCKET connectTo(const Listener& listener) {
  tapbroker::win::SOCKET s = tapbroker::win::socket(
      tapbroker::win::kAfInet, tapbroker::win::kSockStream, tapbroker::win::kIpprotoTcp);
  tapbroker::win::SOCKADDR_IN address{};
  address.sin_family = tapbroker::win::kAfInet;
  address.sin_addr = tapbroker::win::inet_addr("127.0.0.1");
  address.sin_port = listener.port;
  EXPECT_EQ(
      tapbroker::win::connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address),
      0);
  return s;
}

// The executable name of process `id` as the broker search reads it, into a buffer of
// `size` characters.
std::string executableName(pid_t id, tapbroker::win::DWORD size = 260) {
  std::string name(size, '\0');
  tapbroker::win::HANDLE process =
      tapbroker::win::OpenProcess(0x410, false, static_cast<tapbroker::win::DWORD>(id));
  tapbroker::win::HMODULE module = nullptr;
  tapbroker::win::DWORD needed = 0;
  if (process != nullptr &&
      tapbroker::win::K32EnumProcessModules(process, &module, sizeof module, &needed))
    tapbroker::win::K32GetModuleBaseNameA(process, module, name.data(), size);
  if (process != nullptr) tapbroker::win::CloseHandle(process);
  return name.c_str();
}

bool isOpen(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

bool waitForFile(const std::string& path) {
  for (int i = 0; i < 500; ++i) {
    if (std::filesystem::exists(path)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

}  // namespace

TEST(PlatformSockets, StartupCountNeverGoesBelowZero) {
  while (tapbroker::win::WSACleanup() == 0) {
  }
  EXPECT_EQ(tapbroker::win::WSACleanup(), tapbroker::win::kSocketError);
  tapbroker::win::WSADATA data{};
  tapbroker::win::WSAStartup(0x0202, &data);
  EXPECT_EQ(tapbroker::win::WSAReferences(), 1);  // the extra cleanup left no debt behind
  EXPECT_EQ(tapbroker::win::WSACleanup(), 0);
}

TEST(PlatformSockets, ClosesOnlySocketsItOpened) {
  int pipeEnds[2];
  ASSERT_EQ(::pipe(pipeEnds), 0);
  tapbroker::win::SOCKET own = tapbroker::win::socket(
      tapbroker::win::kAfInet, tapbroker::win::kSockStream, tapbroker::win::kIpprotoTcp);
  ASSERT_NE(own, tapbroker::win::kInvalidSocket);
  EXPECT_NE(::fcntl(static_cast<int>(own), F_GETFD) & FD_CLOEXEC, 0);

  // Descriptor 0 is what a failed Connect leaves in the socket field.
  bool stdinOpen = isOpen(0);
  if (own != 0) {
    EXPECT_EQ(tapbroker::win::closesocket(0), tapbroker::win::kSocketError);
  }
  EXPECT_EQ(isOpen(0), stdinOpen);
  EXPECT_EQ(tapbroker::win::closesocket(static_cast<tapbroker::win::SOCKET>(pipeEnds[0])),
            tapbroker::win::kSocketError);
  EXPECT_EQ(tapbroker::win::send(static_cast<tapbroker::win::SOCKET>(pipeEnds[1]), "x", 1, 0),
            tapbroker::win::kSocketError);
  EXPECT_TRUE(isOpen(pipeEnds[0]));
  EXPECT_EQ(tapbroker::win::closesocket(tapbroker::win::kInvalidSocket),
            tapbroker::win::kSocketError);

  EXPECT_EQ(tapbroker::win::closesocket(own), 0);
  EXPECT_EQ(tapbroker::win::closesocket(own), tapbroker::win::kSocketError);
  ::close(pipeEnds[0]);
  ::close(pipeEnds[1]);
}

TEST(PlatformSockets, OneCallPerTransferAndNoSigpipe) {
  ::signal(SIGPIPE, SIG_DFL);  // a send that raised it would end this test program
  Listener listener;
  tapbroker::win::SOCKET s = connectTo(listener);
  int peer = ::accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC);
  ASSERT_GE(peer, 0);

  int noDelay = 0;
  socklen_t size = sizeof noDelay;
  ::getsockopt(static_cast<int>(s), IPPROTO_TCP, TCP_NODELAY, &noDelay, &size);
  EXPECT_NE(noDelay, 0);

  EXPECT_EQ(tapbroker::win::send(s, "abc", 0, 0), 0);
  EXPECT_EQ(tapbroker::win::send(s, "abc", -1, 0), tapbroker::win::kSocketError);
  EXPECT_EQ(tapbroker::win::send(s, "ab", 3, 0), 3);
  char buffer[8] = {};
  EXPECT_EQ(::recv(peer, buffer, sizeof buffer, 0), 3);
  EXPECT_EQ(std::string(buffer, 3), std::string("ab\0", 3));
  ::send(peer, "+", 2, 0);
  EXPECT_EQ(tapbroker::win::recv(s, buffer, sizeof buffer, 0), 2);
  EXPECT_EQ(tapbroker::win::recv(s, buffer, -5, 0), tapbroker::win::kSocketError);

  ::close(peer);
  int result = 0;
  for (int i = 0; i < 50 && result != tapbroker::win::kSocketError; ++i) {
    result = tapbroker::win::send(s, "x", 2, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(result, tapbroker::win::kSocketError);
  EXPECT_EQ(tapbroker::win::GetLastError(), static_cast<tapbroker::win::DWORD>(EPIPE));
  EXPECT_EQ(tapbroker::win::closesocket(s), 0);
}

TEST(PlatformProcess, NamesProcessesByTheirExecutable) {
  TempDir dir;
  std::string path = dir.install("/bin/sleep", "tapbroker.exe");
  processes::Child sleeper(path, {{"30"}});
  ASSERT_GT(sleeper.pid(), 0);
  EXPECT_EQ(executableName(sleeper.pid()), "tapbroker.exe");
  EXPECT_EQ(executableName(sleeper.pid(), 4), "tap");  // cut to the buffer, with its NUL
  // A broker whose file was replaced while it runs is still found by its name.
  std::filesystem::remove(path);
  EXPECT_EQ(executableName(sleeper.pid()), "tapbroker.exe");
  EXPECT_EQ(tapbroker::win::OpenProcess(0x410, false, 0xFFFFFFF0u), nullptr);
}

TEST(PlatformProcess, StartsDetachedReportsFailureLeavesNoZombie) {
  TempDir dir;
  // The program reports its session, then what each of its descriptors points to.
  std::string script = dir / "probe.exe";
  std::ofstream(script) << "#!/bin/sh\n"
                        << "exec > '" << (dir / "out.tmp") << "'\n"
                        << "cut -d' ' -f6 /proc/$$/stat\n"
                        << "readlink /proc/$$/fd/0\n"
                        << "for f in /proc/$$/fd/*; do readlink $f; done\n"
                        << "mv '" << (dir / "out.tmp") << "' '" << (dir / "out") << "'\n";
  ::chmod(script.c_str(), 0700);
  int pipeEnds[2];
  ASSERT_EQ(::pipe(pipeEnds), 0);  // not close-on-exec: must not reach the program anyway
  struct stat pipeInfo;
  ::fstat(pipeEnds[1], &pipeInfo);
  std::string ourPipe = "pipe:[" + std::to_string(pipeInfo.st_ino) + "]";

  std::ofstream(dir / "plain.exe") << "not a program\n";
  EXPECT_FALSE(tapbroker::win::CreateProcessA((dir / "plain.exe").c_str(),
                                              tapbroker::win::kCreateNoWindow));
  EXPECT_EQ(tapbroker::win::GetLastError(), static_cast<tapbroker::win::DWORD>(EACCES));

  ASSERT_TRUE(tapbroker::win::CreateProcessA(script.c_str(), tapbroker::win::kCreateNoWindow));
  ASSERT_TRUE(waitForFile(dir / "out"));
  std::ifstream in(dir / "out");
  long session = 0;
  std::string input, target;
  in >> session >> input;
  EXPECT_NE(session, static_cast<long>(::getsid(0)));
  EXPECT_EQ(input, "/dev/null");
  while (in >> target) {
    EXPECT_NE(target, ourPipe);
  }
  ::close(pipeEnds[0]);
  ::close(pipeEnds[1]);

  // Nothing of ours is left to reap: the program was handed over at once.
  int status;
  EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}
