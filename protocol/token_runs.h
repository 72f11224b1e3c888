// The runs of the transfer kinds that need nothing but tokens: the commands that carry
// ints or strings, command 4, the permission query and the flag clearing.
#ifndef PROTOCOL_TOKEN_RUNS_H
#define PROTOCOL_TOKEN_RUNS_H

#include "protocol/command_in_progress.h"
#include "protocol/transfers.h"

namespace tapbroker::protocol {

Run runNothing, runCommand4, runQueryFlagB;
// A command the table does not list: reported, nothing more goes out.
Run runUnlisted;

// The command's `count` tokens as `tokens` says: kIntTokens, kStringTokens and so on.
template <const TokenRun& tokens>
int runTokens(CommandInProgress& x, const shapes::Command& command, ArgumentCursor& args) {
  return sendTokens(x, tokens, command.count, args);
}

// The flags change after the command went out; the report shows flag A either way.
void clearFlags(CommandInProgress& x, bool clearA, bool clearB);
template <bool clearA, bool clearB>
int runClearFlags(CommandInProgress& x, const shapes::Command&, ArgumentCursor&) {
  clearFlags(x, clearA, clearB);
  return 0;
}

}  // namespace tapbroker::protocol

#endif  // PROTOCOL_TOKEN_RUNS_H
