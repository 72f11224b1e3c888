#include "diagnostics/call_context.h"

#include <utility>

#include "diagnostics/reporting.h"
#include "tapbroker_client.h"

CallContext::CallContext(int debugOn, FILE* logHandle, std::string clientName,
                         std::string logPath)
    : messages(debugOn == 1 || logHandle != nullptr ? tapbroker::diagnostics::newHandle()
                                                    : nullptr),
      clientName(std::move(clientName)),
      logPath(std::move(logPath)),
      debugOn(debugOn),
      logHandle(logHandle) {}

// A context that reports nowhere never reads the strings; not copying them spares a heap
// allocation per call when the name is longer than a string holds inline.
CallContext::CallContext(const Client& client)
    : CallContext(client.debugOn, client.logHandle,
                  client.reporting() ? client.clientName : std::string(),
                  client.reporting() ? client.logPath : std::string()) {}

void CallContext::release() {
  messages.reset();
  debugOn = 0;
  logHandle = nullptr;
  std::string().swap(clientName);
  std::string().swap(logPath);
}

void CallContext::PrintMessage(std::string id, ...) {
  if (logHandle == nullptr && debugOn != 1) return;
  va_list args;
  va_start(args, id);
  // A context reports one way only: posting takes precedence over the log file.
  if (debugOn == 1) {
    tapbroker::diagnostics::postReport(messages.get(), id, args);
  } else {
    tapbroker::diagnostics::logReport(messages.get(), id, logPath, logHandle, args);
  }
  va_end(args);
}
