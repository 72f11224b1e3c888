// Who listens on a port, from the system's tables: the owning process of the listener in
// the TCP table, then that process's executable in a process snapshot (which names
// processes of other users too, unlike opening them).
#ifdef _WIN32
#include "broker/program/port_holder.h"

#define WIN32_LEAN_AND_MEAN
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <tlhelp32.h>

#include <vector>

namespace broker {
namespace {

DWORD listeningProcess(std::uint16_t port) {
  std::vector<unsigned char> buffer;
  ULONG size = 0;
  DWORD result = ERROR_INSUFFICIENT_BUFFER;
  // The table may grow between asking its size and reading it: ask again a few times.
  for (int attempt = 0; attempt < 4 && result == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
    buffer.resize(size);
    result = ::GetExtendedTcpTable(buffer.empty() ? nullptr : buffer.data(), &size, FALSE,
                                   AF_INET, TCP_TABLE_OWNER_PID_LISTENER, 0);
  }
  if (result != NO_ERROR) return 0;
  const auto* table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(buffer.data());
  for (DWORD i = 0; i < table->dwNumEntries; ++i) {
    // The port is in network byte order in the low 16 bits.
    if (::ntohs(static_cast<u_short>(table->table[i].dwLocalPort)) == port)
      return table->table[i].dwOwningPid;
  }
  return 0;
}

std::string moduleName(DWORD pid) {
  const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return "<unknown>";
  std::string name = "<unknown>";
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32First(snapshot, &entry); more;
       more = ::Process32Next(snapshot, &entry)) {
    if (entry.th32ProcessID == pid) {
      name = entry.szExeFile;
      break;
    }
  }
  ::CloseHandle(snapshot);
  return name;
}

}  // namespace

PortHolder listenerOf(std::uint16_t port) {
  PortHolder holder;
  holder.pid = static_cast<long>(listeningProcess(port));
  if (holder.pid != 0) holder.program = moduleName(static_cast<DWORD>(holder.pid));
  return holder;
}

}  // namespace broker
#endif  // _WIN32
