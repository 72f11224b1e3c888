#include "broker/program/port_holder.h"

namespace broker {

std::string describePortHolder(std::uint16_t port) {
  const PortHolder holder = listenerOf(port);
  if (holder.pid == 0) {
    return "Another program listens on port " + std::to_string(port) +
           " (one that this user may not look at): stop it, then start this broker again.";
  }
  const bool broker = holder.program.rfind("tapbroker.exe", 0) == 0;
#ifdef _WIN32
  const std::string stop = "taskkill /F /PID " + std::to_string(holder.pid);
#else
  const std::string stop = "kill " + std::to_string(holder.pid);
#endif
  return std::string(broker ? "Another broker" : "Another program") + ", " + holder.program +
         " (process " + std::to_string(holder.pid) + "), listens on port " +
         std::to_string(port) + ". Stop it with \"" + stop +
         "\", then start this one again (with --trace to see every exchange).";
}

}  // namespace broker
