// What a command's transfer works with, and the form of every transfer's run.
#ifndef PROTOCOL_EXCHANGE_H
#define PROTOCOL_EXCHANGE_H

#include <cstdarg>
#include <cstdint>
#include <string>

#include "diagnostics/call_context.h"
#include "protocol/shapes.h"
#include "tapbroker_client.h"

// One command in progress: the client's connection and the state its transfer may change.
struct Exchange {
  Client& client;
  // Reports of the token-by-token transfers go the context's way (posted or logged, never
  // both); the others go the client's way (Client::PrintMessage).
  CallContext& context;
  std::uint64_t socket;
  std::string& tdo;  // the read-back bytes GetTDO hands out
  int& flagA;
  int& flagB;
  const char* name;

  bool reporting() const { return context.reporting(); }
  template <typename... Arguments>
  void report(const char* id, Arguments... arguments) {
    client.PrintMessage(id, arguments...);
  }
};

// A transfer kind's run: 0 or a non-negative count on success, else the negative result
// code. It reads its arguments from a copy of `args`: the caller's position never moves.
using Run = int(Exchange& exchange, const shapes::Command& command, va_list args);

#endif  // PROTOCOL_EXCHANGE_H
