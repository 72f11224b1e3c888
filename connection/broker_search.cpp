#include "connection/broker_search.h"

#include <cstring>

#include "diagnostics/call_context.h"
#include "platform/process.h"

namespace tapbroker::connection {
namespace {

constexpr int kMaxProcesses = 1024;
constexpr int kNameSize = 260;

// True when process `id` runs the broker executable. A process that cannot be opened or
// read keeps the name "<unknown>" and never matches.
bool isBroker(win::DWORD id) {
  char name[kNameSize] = "<unknown>";
  win::HANDLE process =
      win::OpenProcess(win::kProcessQueryInformation | win::kProcessVmRead, false, id);
  if (process == nullptr) return false;
  win::HMODULE module = nullptr;
  win::DWORD needed = 0;
  if (win::K32EnumProcessModules(process, &module, sizeof module, &needed))
    win::K32GetModuleBaseNameA(process, module, name, kNameSize);
  win::CloseHandle(process);
  return std::strcmp(name, kBrokerExecutable) == 0;
}

}  // namespace

bool brokerIsRunning(CallContext& context) {
  const char* name = context.clientName.c_str();
  context.PrintMessage("1085", name);
  win::DWORD ids[kMaxProcesses];
  win::DWORD bytes = 0;
  if (!win::K32EnumProcesses(ids, sizeof ids, &bytes)) return true;
  win::DWORD count = bytes / sizeof(win::DWORD);
  bool found = false;
  // Every process is tested, so that each running broker is reported.
  for (win::DWORD i = 0; i < count; ++i) {
    if (ids[i] == 0 || !isBroker(ids[i])) continue;
    context.PrintMessage("1072", name);
    found = true;
  }
  return found;
}

}  // namespace tapbroker::connection
