#include "diagnostics/call_context.h"

#include <utility>

#include "diagnostics/reporting.h"

CallContext::CallContext(int debugOn, FILE* logHandle, std::string clientName,
                         std::string logPath)
    : messages(diagnostics::makeHandle()),
      clientName(std::move(clientName)),
      logPath(std::move(logPath)),
      debugOn(debugOn),
      logHandle(logHandle),
      shares_(nullptr) {}

CallContext::CallContext(const CallContext& other)
    : messages(nullptr),
      clientName(other.clientName),
      logPath(other.logPath),
      debugOn(other.debugOn),
      logHandle(other.logHandle),
      shares_(nullptr) {
  if (diagnostics::shareHandle(other.messages, other.shares_, shares_)) {
    messages = other.messages;
  }
}

CallContext& CallContext::operator=(const CallContext& other) {
  if (this == &other) return *this;
  diagnostics::assignHandle(messages, shares_, 0, other.messages, other.shares_);
  clientName = other.clientName;
  logPath = other.logPath;
  debugOn = other.debugOn;
  logHandle = other.logHandle;
  return *this;
}

CallContext::~CallContext() { release(); }

void CallContext::release() {
  diagnostics::dropHandle(messages, shares_, 0);
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
    diagnostics::postReport(messages, id, args);
  } else {
    diagnostics::logReport(messages, id, logPath, logHandle, args);
  }
  va_end(args);
}
