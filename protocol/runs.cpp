#include "protocol/runs.h"

#include "protocol/transfers.h"

namespace tapbroker::wire {

namespace {

void clearFlags(Exchange& x, bool clearA, bool clearB) {
  if (clearA) x.flagA() = 0;
  if (clearB) x.flagB() = 0;
  x.report("1012", x.name(), x.flagA());
}

}  // namespace

int runNothing(Exchange&, const shapes::Command&, ArgumentCursor&) { return 0; }
int runInts(Exchange& x, const shapes::Command& c, ArgumentCursor& args) {
  return sendTokens(x.context, x.socket(), kIntTokens, c.count, args);
}
int runStrings(Exchange& x, const shapes::Command& c, ArgumentCursor& args) {
  return sendTokens(x.context, x.socket(), kStringTokens, c.count, args);
}
int runStringsAnyAck(Exchange& x, const shapes::Command& c, ArgumentCursor& args) {
  return sendTokens(x.context, x.socket(), kStringTokensAnyAck, c.count, args);
}
int runPairs(Exchange& x, const shapes::Command& c, ArgumentCursor& args) {
  return sendTokens(x.context, x.socket(), kPairTokens, c.count, args);
}
int runCommand4(Exchange& x, const shapes::Command&, ArgumentCursor& args) {
  return sendCommand4(x, args);
}
int runQueryFlagB(Exchange& x, const shapes::Command&, ArgumentCursor&) {
  return sendFlagQuery(x.context, x.socket(), x.flagB());
}
int runClearFlagA(Exchange& x, const shapes::Command&, ArgumentCursor&) {
  clearFlags(x, true, false);
  return 0;
}
int runClearFlagB(Exchange& x, const shapes::Command&, ArgumentCursor&) {
  clearFlags(x, false, true);
  return 0;
}
int runClearBothFlags(Exchange& x, const shapes::Command&, ArgumentCursor&) {
  clearFlags(x, true, true);
  return 0;
}
int runUnlisted(Exchange& x, const shapes::Command&, ArgumentCursor&) {
  x.report("1013", x.name());
  return 0;
}

}  // namespace tapbroker::wire
