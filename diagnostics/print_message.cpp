#include "diagnostics/reporting.h"
#include "tapbroker_client.h"

void Client::PrintMessage(std::string id, ...) {
  // Reports are made at every step of every operation: with both switches off they must
  // cost nothing beyond these two tests.
  if (logHandle == nullptr && debugOn != 1) return;
  va_list args;
  va_start(args, id);
  if (debugOn == 1) tapbroker::diagnostics::postReport(messages, id, args);
  if (logHandle != nullptr)
    tapbroker::diagnostics::logReport(messages, id, logPath, logHandle, args);
  va_end(args);
}
