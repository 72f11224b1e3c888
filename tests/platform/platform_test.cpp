// The platform layer's operations against real sockets, files and processes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <thread>

#include "platform/processes.h"
#include "platform/sockets.h"
#include "tests/support/loopback.h"
#include "tests/support/processes.h"
#include "tests/support/scratch.h"

namespace platform = tapbroker::platform;

namespace {

// A listener on an ephemeral loopback port, so that these tests leave port 4001 alone.
struct Listener {
  ~Listener() { loopback::closeSocket(fd); }
  int fd = loopback::listenOn(0);
  std::uint16_t port = loopback::localPort(fd);
};

platform::Socket connectTo(const Listener& listener, unsigned deadlineMs = 0) {
  const platform::Opened opened = platform::openLoopback(listener.port, deadlineMs);
  EXPECT_EQ(opened.failed, platform::OpenStep::kDone) << opened.error;
  return opened.socket;
}

int descriptorOf(platform::Socket s) { return static_cast<int>(static_cast<std::uint32_t>(s)); }

bool isOpen(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

}  // namespace

TEST(PlatformSockets, ClosesOnlySocketsItOpened) {
  int pipeEnds[2];
  ASSERT_EQ(::pipe(pipeEnds), 0);
  Listener listener;
  platform::Socket own = connectTo(listener);
  EXPECT_NE(::fcntl(descriptorOf(own), F_GETFD) & FD_CLOEXEC, 0);

  // Descriptor 0 is what a failed Connect leaves in the socket field.
  const bool stdinOpen = isOpen(0);
  platform::close(0);
  EXPECT_EQ(isOpen(0), stdinOpen);
  platform::close(static_cast<platform::Socket>(pipeEnds[0]));
  EXPECT_EQ(platform::send(static_cast<platform::Socket>(pipeEnds[1]), "x", 1), platform::kFailed);
  EXPECT_TRUE(isOpen(pipeEnds[0]));
  platform::close(platform::kInvalidSocket);

  const int fd = descriptorOf(own);
  Listener other;
  platform::close(own);
  EXPECT_FALSE(isOpen(fd));
  // The closed handle stays refused when the system hands its number out again.
  platform::Socket next = connectTo(other);
  ASSERT_EQ(descriptorOf(next), fd);
  EXPECT_EQ(platform::send(own, "x", 1), platform::kFailed);
  platform::close(own);
  EXPECT_TRUE(isOpen(fd));
  platform::close(next);
  ::close(pipeEnds[0]);
  ::close(pipeEnds[1]);
}

TEST(PlatformSockets, OneCallPerTransferAndNoSigpipe) {
  ::signal(SIGPIPE, SIG_DFL);  // a send that raised it would end this test program
  Listener listener;
  platform::Socket s = connectTo(listener);
  int peer = ::accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC);
  ASSERT_GE(peer, 0);

  int noDelay = 0;
  socklen_t size = sizeof noDelay;
  ::getsockopt(descriptorOf(s), IPPROTO_TCP, TCP_NODELAY, &noDelay, &size);
  EXPECT_NE(noDelay, 0);

  EXPECT_EQ(platform::send(s, "abc", 0), 0);
  EXPECT_EQ(platform::send(s, "abc", -1), platform::kFailed);
  EXPECT_EQ(platform::send(s, "ab", 3), 3);
  char buffer[8] = {};
  EXPECT_EQ(::recv(peer, buffer, sizeof buffer, 0), 3);
  EXPECT_EQ(std::string(buffer, 3), std::string("ab\0", 3));
  ::send(peer, "+", 2, 0);
  EXPECT_EQ(platform::receive(s, buffer, sizeof buffer), 2);
  EXPECT_EQ(platform::receive(s, buffer, -5), platform::kFailed);

  ::close(peer);
  int result = 0;
  for (int i = 0; i < 50 && result != platform::kFailed; ++i) {
    result = platform::send(s, "x", 2);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(result, platform::kFailed);
  platform::close(s);
  EXPECT_EQ(platform::openLoopback(loopback::freePort(), 0).failed, platform::OpenStep::kConnect);
}

// A peer that takes the connection and never answers: the deadline ends the wait and gives
// the conversation up. The answer that comes late is never read, the peer sees the end, and
// a later send is dropped, so that its call fails at its receive instead of waiting.
TEST(PlatformSockets, DeadlineGivesTheConversationUp) {
  Listener listener;
  platform::Socket s = connectTo(listener, 200);
  int peer = ::accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC);
  ASSERT_GE(peer, 0);
  char buffer[8] = {};
  EXPECT_EQ(platform::receive(s, buffer, sizeof buffer), platform::kTimedOut);
  ::send(peer, "late", 5, 0);
  EXPECT_EQ(platform::receive(s, buffer, sizeof buffer), platform::kFailed);
  EXPECT_EQ(platform::send(s, "x", 2), 2);
  timeval wait{2, 0};
  ::setsockopt(peer, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  EXPECT_EQ(::recv(peer, buffer, sizeof buffer, 0), 0);
  platform::close(s);
  ::close(peer);
}

TEST(PlatformProcess, CountsProcessesByTheirExecutable) {
  TempDir dir;
  const std::string name = "probe-" + std::to_string(::getpid()) + ".exe";
  std::string path = dir.install("/bin/sleep", name);
  EXPECT_EQ(platform::countRunning(name.c_str()), 0);
  processes::Child sleeper(path, {{"30"}});
  ASSERT_GT(sleeper.pid(), 0);
  EXPECT_EQ(platform::countRunning(name.c_str()), 1);
  // A broker whose file was replaced while it runs is still found by its name.
  std::filesystem::remove(path);
  EXPECT_EQ(platform::countRunning(name.c_str()), 1);
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
  EXPECT_EQ(platform::startDetached(dir / "plain.exe"), EACCES);
  EXPECT_EQ(platform::errorText(EACCES), "Permission denied");

  ASSERT_EQ(platform::startDetached(script), 0);
  for (int i = 0; i < 500 && !std::filesystem::exists(dir / "out"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
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
