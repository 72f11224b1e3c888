// Send: the gate, the argument check, the command number, the transfer its shape names,
// and the command's integer answer.
#include <charconv>

#include "commands/transfer_kind.h"
#include "diagnostics/call_context.h"
#include "protocol/command_in_progress.h"
#include "protocol/wire.h"
#include "results/codes.h"

namespace {

constexpr int kWithheldResult = 1;

// Commands whose failed command token makes the client connect again.
bool reconnectsOnFailure(int command) { return command == 1 || command == 4; }

}  // namespace

int Client::withhold() {
  const char* name = clientName.c_str();
  PrintMessage("1008", name, name);
  static const char withheldToken[] = "8888";
  if (!tapbroker::protocol::sendBytes(socket, withheldToken, sizeof withheldToken)) {
    PrintMessage("1009", name, name);
    tapbroker::protocol::reportTimeout(*this, name, socket);
    status = tapbroker::results::kSendFailed;
    return tapbroker::results::kSendFailed;
  }
  char reply[tapbroker::protocol::kBufferSize] = {};
  if (tapbroker::protocol::receiveLoose(socket, reply) == 0) {
    PrintMessage("1010", name, name);
    tapbroker::protocol::reportTimeout(*this, name, socket);
    status = tapbroker::results::kReceiveFailed;
    return tapbroker::results::kReceiveFailed;
  }
  status = kWithheldResult;
  return kWithheldResult;
}

int Client::Send(int command, ...) {
  status = 0;
  const tapbroker::protocol::shapes::Command& shape =
      tapbroker::protocol::shapes::command(command);
  // A withheld command sends none of its arguments, so they are not looked at.
  if (shape.withheld && (flagA == 0 || flagB == 0)) return withhold();

  const tapbroker::commands::TransferKind& kind =
      tapbroker::commands::transferKind(shape.transfer);
  const char* name = clientName.c_str();
  va_list list;
  va_start(list, command);
  tapbroker::protocol::ArgumentCursor args(list);
  va_end(list);
  tapbroker::protocol::ArgumentCursor checked = args.copy();
  const char* limit = kind.refused(shape, checked);
  if (limit != nullptr) {
    PrintMessage("1003", name, limit);
    status = tapbroker::results::kArgumentRefused;
    return tapbroker::results::kArgumentRefused;
  }

  char commandText[tapbroker::protocol::kBufferSize] = {};
  std::to_chars(commandText, commandText + sizeof commandText - 1, command);  // as "%d"
  int failure = 0;
  if (!tapbroker::protocol::sendToken(socket, commandText)) {
    PrintMessage("1009", name, name);
    failure = tapbroker::results::kSendFailed;
  } else if (tapbroker::protocol::receiveLoose(socket, commandText) == 0) {
    PrintMessage("1010", name, name);
    failure = tapbroker::results::kReceiveFailed;
  }
  if (failure != 0) {
    tapbroker::protocol::reportTimeout(*this, name, socket);
    if (reconnectsOnFailure(command)) Connect(serverName.data(), nullptr, nullptr);
    status = failure;
    return failure;
  }
  PrintMessage("1093", name, command);

  CallContext context(*this);
  tapbroker::protocol::CommandInProgress exchange{*this, context};
  int outcome = kind.run(exchange, shape, args);
  status = outcome;
  if (shape.finalRead && outcome >= 0) {
    int answer = 0;
    status = Read(answer);
    outcome = status == 0 ? answer : status;
  }
  if (outcome < 0) tapbroker::protocol::reportTimeout(*this, name, socket);
  return outcome;
}
