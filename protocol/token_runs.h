// The runs of the transfer kinds that need nothing but tokens: the commands that carry
// ints or strings, command 4, the permission query and the flag clearing.
#ifndef PROTOCOL_TOKEN_RUNS_H
#define PROTOCOL_TOKEN_RUNS_H

#include "protocol/command_in_progress.h"

namespace tapbroker::protocol {

Run runNothing, runInts, runStrings, runStringsAnyAck, runPairs, runCommand4, runQueryFlagB;
// The flags change after the command went out; the report shows flag A either way.
Run runClearFlagA, runClearFlagB, runClearBothFlags;
// A command the table does not list: reported, nothing more goes out.
Run runUnlisted;

}  // namespace tapbroker::protocol

#endif  // PROTOCOL_TOKEN_RUNS_H
