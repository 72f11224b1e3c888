// What a command's transfer works with, and the form of every transfer's run.
#ifndef PROTOCOL_COMMAND_IN_PROGRESS_H
#define PROTOCOL_COMMAND_IN_PROGRESS_H

#include <string>

#include "diagnostics/call_context.h"
#include "platform/sockets.h"
#include "protocol/argument_cursor.h"
#include "protocol/shapes.h"
#include "tapbroker_client.h"

namespace tapbroker::protocol {

// One command in progress: the client's connection and the state its transfer may change,
// reached in the client itself.
struct CommandInProgress {
  Client& client;
  // Reports of the token-by-token transfers go the context's way (posted or logged, never
  // both); the others go the client's way (Client::PrintMessage).
  CallContext& context;

  Client::SOCKET socket() const { return client.socket; }
  std::string& tdo() const { return client.tdoData; }  // the read-back bytes GetTDO hands out
  int& flagA() const { return client.flagA; }
  int& flagB() const { return client.flagB; }
  const char* name() const { return client.clientName.c_str(); }

  bool reporting() const { return context.reporting(); }
  template <typename... Arguments>
  void report(const char* id, Arguments... arguments) {
    client.PrintMessage(id, arguments...);
  }
};

// Says once, after the usual report of a failed send or receive, that the conversation on
// `socket` failed because its deadline ran out (the connection then takes no more answers).
inline void reportTimeout(Client& client, const char* name, Client::SOCKET socket) {
  if (const unsigned deadlineMs = platform::takeTimeout(socket))
    client.PrintMessage("1117", name, static_cast<int>(deadlineMs / 1000));
}

// A transfer kind's run: 0 or a non-negative count on success, else the negative result
// code. It reads its arguments from `args` as it sends them.
using Run = int(CommandInProgress& command, const shapes::Command& shape, ArgumentCursor& args);

}  // namespace tapbroker::protocol

#endif  // PROTOCOL_COMMAND_IN_PROGRESS_H
