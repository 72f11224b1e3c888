#include "protocol/token_runs.h"

namespace tapbroker::protocol {

void clearFlags(CommandInProgress& x, bool clearA, bool clearB) {
  if (clearA) x.flagA() = 0;
  if (clearB) x.flagB() = 0;
  x.report("1012", x.name(), x.flagA());
}

int runNothing(CommandInProgress&, const shapes::Command&, ArgumentCursor&) { return 0; }
int runCommand4(CommandInProgress& x, const shapes::Command&, ArgumentCursor& args) {
  return sendCommand4(x, args);
}
int runQueryFlagB(CommandInProgress& x, const shapes::Command&, ArgumentCursor&) {
  return sendFlagQuery(x.context, x.socket(), x.flagB());
}
int runUnlisted(CommandInProgress& x, const shapes::Command&, ArgumentCursor&) {
  x.report("1013", x.name());
  return 0;
}

}  // namespace tapbroker::protocol
