// The generic transfers that move a caller's argument list to the broker token by token.
// Each reads its arguments from a copy of `args`, so the caller's position never moves:
// handing the same position to a second transfer reads the same arguments again.
// Results: 0, -1001 (a send failed), -1002 (a receive failed or an acknowledgement did
// not begin with "+"); sendFlagQuery also -1 and the broker's own number.
#ifndef PROTOCOL_TRANSFERS_H
#define PROTOCOL_TRANSFERS_H

#include <cstdarg>
#include <cstdint>

class CallContext;

// `count` int tokens, each strictly acknowledged.
int sendIntargs(CallContext& context, std::uint64_t socket, int count, va_list args);
// `count` string tokens (char*, null is the empty token), each strictly acknowledged.
int sendStringargs(CallContext& context, std::uint64_t socket, int count, va_list args);
// `count` string tokens, each answered by a loose reply.
int sendStringargsAnyAck(CallContext& context, std::uint64_t socket, int count,
                         va_list args);
// Eight tokens: int, string, int, string, int, string, int, string.
int sendPairargs(CallContext& context, std::uint64_t socket, va_list args);
// Sends the request token and reads the broker's 1 (grant: flag 1, result 0), 0 (flag 0,
// result -1) or other number (flag 0, result that number).
int sendFlagQuery(CallContext& context, std::uint64_t& socket, int& flag);

#endif  // PROTOCOL_TRANSFERS_H
