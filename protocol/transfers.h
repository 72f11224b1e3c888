// The transfers that move a caller's arguments to the broker token by token, and the
// commands that carry no data of their own. Each reads its arguments from `args`, which
// moves past what it read.
// Results: 0, kSendFailed (a send failed), kReceiveFailed (a receive failed or an acknowledgement did
// not begin with "+"); the flag queries also -1 and the broker's own number.
#ifndef PROTOCOL_TRANSFERS_H
#define PROTOCOL_TRANSFERS_H

#include <cstdint>

#include "protocol/argument_cursor.h"

class CallContext;

namespace tapbroker::protocol {

struct CommandInProgress;

// How a run of tokens goes. Reports go the context's way.
struct TokenRun {
  const char* types;  // the argument types it cycles through: "i", "s" or "is"
  bool strict;        // each token strictly acknowledged, else answered by any reply
  bool showsText;     // reports show the token and reply, else the client's name
  const char* start;
  const char* end;
  const char* sendFailed;
  const char* sent;
  const char* ackFailed;
  const char* acknowledged;
};

extern const TokenRun kIntTokens;            // ints, strictly acknowledged
extern const TokenRun kStringTokens;         // strings (null: the empty token), likewise
extern const TokenRun kStringTokensAnyAck;   // strings, any reply accepted
extern const TokenRun kPairTokens;           // int, string, int, string, ...

// `count` tokens of the command in progress as `run` says.
int sendTokens(CommandInProgress& x, const TokenRun& run, int count, ArgumentCursor& args);

// Sends the request token and reads the broker's 1 (grant: flag 1, result 0), 0 (flag 0,
// result -1) or other number (flag 0, result that number).
int sendFlagQuery(CallContext& context, std::uint64_t socket, int& flag);
// Command 4: two strings and ten ints, each answered by any reply, then the query for
// flag A.
int sendCommand4(CommandInProgress& exchange, ArgumentCursor& args);

}  // namespace tapbroker::protocol

#endif  // PROTOCOL_TRANSFERS_H
