// The diagnostic settings of one operation, carried into the routines that do its
// transfers so that they can report without holding the Client.
#ifndef DIAGNOSTICS_CALL_CONTEXT_H
#define DIAGNOSTICS_CALL_CONTEXT_H

#include <cstdio>
#include <string>

#include "diagnostics/reporting.h"

class Client;
class msgManager;

class CallContext {
 public:
  // Takes a copy of the client's settings and, when they report anywhere, a catalogue
  // handle of its own, which copies share. Later changes to the client do not reach the
  // context, and the context's log openings do not reach the client.
  CallContext(int debugOn, FILE* logHandle, std::string clientName, std::string logPath);
  // The client's settings as they stand.
  explicit CallContext(const Client& client);

  // Drops the handle (destroyed with its last sharer), clears the switches and strings.
  void release();

  // Reports `id`: posted while debugOn is 1, otherwise logged while logHandle is set;
  // never both.
  void PrintMessage(std::string id, ...);
  // True when a report would go anywhere.
  bool reporting() const { return logHandle != nullptr || debugOn == 1; }

  tapbroker::diagnostics::Handle messages;
  std::string clientName;
  std::string logPath;
  int debugOn;
  FILE* logHandle;
};

#endif  // DIAGNOSTICS_CALL_CONTEXT_H
