#include "protocol/token_runs.h"

#include "protocol/transfers.h"

namespace tapbroker::protocol {

namespace {

void clearFlags(CommandInProgress& x, bool clearA, bool clearB) {
  if (clearA) x.flagA() = 0;
  if (clearB) x.flagB() = 0;
  x.report("1012", x.name(), x.flagA());
}

}  // namespace

int runNothing(CommandInProgress&, const shapes::Command&, ArgumentCursor&) { return 0; }
int runInts(CommandInProgress& x, const shapes::Command& c, ArgumentCursor& args) {
  return sendTokens(x.context, x.socket(), kIntTokens, c.count, args);
}
int runStrings(CommandInProgress& x, const shapes::Command& c, ArgumentCursor& args) {
  return sendTokens(x.context, x.socket(), kStringTokens, c.count, args);
}
int runStringsAnyAck(CommandInProgress& x, const shapes::Command& c, ArgumentCursor& args) {
  return sendTokens(x.context, x.socket(), kStringTokensAnyAck, c.count, args);
}
int runPairs(CommandInProgress& x, const shapes::Command& c, ArgumentCursor& args) {
  return sendTokens(x.context, x.socket(), kPairTokens, c.count, args);
}
int runCommand4(CommandInProgress& x, const shapes::Command&, ArgumentCursor& args) {
  return sendCommand4(x, args);
}
int runQueryFlagB(CommandInProgress& x, const shapes::Command&, ArgumentCursor&) {
  return sendFlagQuery(x.context, x.socket(), x.flagB());
}
int runClearFlagA(CommandInProgress& x, const shapes::Command&, ArgumentCursor&) {
  clearFlags(x, true, false);
  return 0;
}
int runClearFlagB(CommandInProgress& x, const shapes::Command&, ArgumentCursor&) {
  clearFlags(x, false, true);
  return 0;
}
int runClearBothFlags(CommandInProgress& x, const shapes::Command&, ArgumentCursor&) {
  clearFlags(x, true, true);
  return 0;
}
int runUnlisted(CommandInProgress& x, const shapes::Command&, ArgumentCursor&) {
  x.report("1013", x.name());
  return 0;
}

}  // namespace tapbroker::protocol
