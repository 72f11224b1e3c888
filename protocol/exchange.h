// What a command's transfer works with, and the check and run of every transfer kind.
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

// One kind of transfer. Both read their arguments from a copy of `args`: the caller's
// position never moves, so a serial shift's second pass reads what the first one read.
struct TransferKind {
  // Null when the arguments may go out, else a short text naming the limit they break.
  const char* (*refused)(const shapes::Command& command, va_list args);
  // 0 or a non-negative count on success, else the negative result code.
  int (*run)(Exchange& exchange, const shapes::Command& command, va_list args);
};

// Defined beside the scan transfers, the last of the kinds.
const TransferKind& transferKind(shapes::Transfer transfer);

#endif  // PROTOCOL_EXCHANGE_H
