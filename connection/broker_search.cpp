#include "connection/broker_search.h"

#include "diagnostics/call_context.h"
#include "platform/processes.h"

namespace tapbroker::connection {

bool brokerIsRunning(CallContext& context) {
  const char* name = context.clientName.c_str();
  context.PrintMessage("1085", name);
  const int running = platform::countRunning(kBrokerExecutable);
  if (running < 0) return true;
  // Each running broker is reported.
  for (int i = 0; i < running; ++i) context.PrintMessage("1072", name);
  return running > 0;
}

}  // namespace tapbroker::connection
