// Who listens on a port, from /proc: the socket's inode in /proc/net/tcp, then the
// process that holds a descriptor of that socket.
#ifndef _WIN32
#include "broker/program/port_holder.h"

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

PortHolder listenerOf(std::uint16_t port) {
  const std::string inode = listeningInode(port);
  PortHolder holder;
  holder.pid = inode.empty() ? 0 : holderOf(inode);
  if (holder.pid != 0) {
    const std::string program = readLink("/proc/" + std::to_string(holder.pid) + "/exe");
    holder.program = program.substr(program.find_last_of('/') + 1);
  }
  return holder;
}

}  // namespace broker
#endif  // _WIN32
