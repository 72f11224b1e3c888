// The diagnostic settings of one operation, carried into the routines that do its
// transfers so that they can report without holding the Client.
#ifndef DIAGNOSTICS_CALL_CONTEXT_H
#define DIAGNOSTICS_CALL_CONTEXT_H

#include <cstdio>
#include <string>

class msgManager;

class CallContext {
 public:
  // Takes a copy of the client's settings and a catalogue handle of its own. Later
  // changes to the client do not reach the context, and the context's log openings do
  // not reach the client.
  CallContext(int debugOn, FILE* logHandle, std::string clientName, std::string logPath);
  // A copy shares the source's handle.
  CallContext(const CallContext& other);
  CallContext& operator=(const CallContext& other);
  ~CallContext();

  // Drops the handle (destroyed with its last sharer), clears the switches and strings.
  void release();

  // Reports `id`: posted while debugOn is 1, otherwise logged while logHandle is set;
  // never both.
  void PrintMessage(std::string id, ...);
  // True when a report would go anywhere.
  bool reporting() const { return logHandle != nullptr || debugOn == 1; }

  msgManager* messages;
  std::string clientName;
  std::string logPath;
  int debugOn;
  FILE* logHandle;

 private:
  mutable unsigned* shares_;  // owners of `messages`; null while this is the only one
};

#endif  // DIAGNOSTICS_CALL_CONTEXT_H
