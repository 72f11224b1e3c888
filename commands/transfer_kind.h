// The transfer kinds: each command's shape names one, which pairs the check of its
// arguments with the run that sends them. Above both the token transfers and the scans,
// so that neither needs the other.
#ifndef COMMANDS_TRANSFER_KIND_H
#define COMMANDS_TRANSFER_KIND_H

#include "protocol/argument_cursor.h"
#include "protocol/command_in_progress.h"
#include "protocol/shapes.h"

namespace tapbroker::commands {

struct TransferKind {
  // Null when the arguments may go out, else a short text naming the limit they break.
  // Runs on a copy of the arguments' position, before anything of the command goes out.
  const char* (*refused)(const protocol::shapes::Command& command,
                         protocol::ArgumentCursor& args);
  protocol::Run* run;
};

const TransferKind& transferKind(protocol::shapes::Transfer transfer);

}  // namespace tapbroker::commands

#endif  // COMMANDS_TRANSFER_KIND_H
