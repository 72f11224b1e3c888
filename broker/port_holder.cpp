#include "broker/port_holder.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace broker {
namespace {

constexpr const char* kListenState = "0A";

// The inode of the IPv4 socket that listens on `port`, or an empty text.
std::string listeningInode(std::uint16_t port) {
  for (const TcpSocket& socket : socketsOnPort(port)) {
    if (socket.state == kListenState) return socket.inode;
  }
  return {};
}

std::string readLink(const std::string& path) {
  char target[4096];
  const ssize_t length = ::readlink(path.c_str(), target, sizeof target - 1);
  return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : std::string();
}

// The process holding socket `inode` open, or 0 when none that this user may look at does.
long holderOf(const std::string& inode) {
  const std::string wanted = "socket:[" + inode + "]";
  DIR* processes = ::opendir("/proc");
  if (!processes) return 0;
  long found = 0;
  while (dirent* process = ::readdir(processes)) {
    char* end = nullptr;
    const long pid = std::strtol(process->d_name, &end, 10);
    if (*end != '\0' || pid <= 0 || pid == ::getpid()) continue;
    const std::string fds = "/proc/" + std::string(process->d_name) + "/fd";
    DIR* descriptors = ::opendir(fds.c_str());
    if (!descriptors) continue;
    while (dirent* fd = ::readdir(descriptors)) {
      if (readLink(fds + "/" + fd->d_name) == wanted) found = pid;
    }
    ::closedir(descriptors);
    if (found) break;
  }
  ::closedir(processes);
  return found;
}

}  // namespace

std::vector<TcpSocket> socketsOnPort(std::uint16_t port) {
  std::vector<TcpSocket> sockets;
  std::ifstream table("/proc/net/tcp");
  std::string line;
  std::getline(table, line);  // the heading
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
    fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
        timeout >> inode;
    const auto colon = local.find(':');
    if (colon == std::string::npos) continue;
    if (std::stoul(local.substr(colon + 1), nullptr, 16) == port)
      sockets.push_back({state, inode});
  }
  return sockets;
}

std::string describePortHolder(std::uint16_t port) {
  const std::string inode = listeningInode(port);
  const long pid = inode.empty() ? 0 : holderOf(inode);
  if (pid == 0) {
    return "Another program listens on port " + std::to_string(port) +
           " (one of another user, or in another namespace): stop it, then start this "
           "broker again.";
  }
  std::string program = readLink("/proc/" + std::to_string(pid) + "/exe");
  program = program.substr(program.find_last_of('/') + 1);
  const bool broker = program.rfind("tapbroker.exe", 0) == 0;
  return std::string(broker ? "Another broker" : "Another program") + ", " + program +
         " (process " + std::to_string(pid) + "), listens on port " + std::to_string(port) +
         ". Stop it with \"kill " + std::to_string(pid) +
         "\", then start this one again (with --trace to see every exchange).";
}

}  // namespace broker
