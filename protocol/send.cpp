// Send: puts a command number on the wire, runs the transfer its row names, and ends
// with the command's integer answer.
#include <charconv>
#include <cstdio>

#include "diagnostics/call_context.h"
#include "protocol/command_table.h"
#include "protocol/transfers.h"
#include "protocol/wire.h"
#include "scan/scan_limits.h"
#include "tapbroker_client.h"

namespace {

constexpr int kArgumentRefused = -1025;
constexpr int kWithheldResult = 1;

const char kLongString[] = "a string argument of 1024 bytes or more";
const char kTooManyValues[] = "more than 10 values for command 4";

// Commands whose failed command token makes the client connect again.
bool reconnectsOnFailure(int command) { return command == 1 || command == 4; }

}  // namespace

const char* Client::refusedArgument(int command, va_list args) {
  using commands::Transfer;
  const commands::Row& row = commands::rowFor(command);
  va_list cursor;
  va_copy(cursor, args);
  const char* refusal = nullptr;
  switch (row.transfer) {
    case Transfer::StringArgs:
    case Transfer::StringArgsAnyAck:
      for (int i = 0; i < row.count && refusal == nullptr; ++i)
        if (!wire::fitsToken(va_arg(cursor, const char*))) refusal = kLongString;
      break;
    case Transfer::PairArgs:
      for (int i = 0; i < 4 && refusal == nullptr; ++i) {
        static_cast<void>(va_arg(cursor, int));
        if (!wire::fitsToken(va_arg(cursor, const char*))) refusal = kLongString;
      }
      break;
    case Transfer::Command4: {
      const char* first = va_arg(cursor, const char*);
      const char* second = va_arg(cursor, const char*);
      int valueCount = va_arg(cursor, int);
      if (!wire::fitsToken(first) || !wire::fitsToken(second))
        refusal = kLongString;
      else if (valueCount > commands::kCommand4Values)
        refusal = kTooManyValues;
      break;
    }
    case Transfer::GenericShift:
    case Transfer::SharedApps:
    case Transfer::PumpData:
    case Transfer::InterfaceFunction:
    case Transfer::I2CShift:
    case Transfer::SSPIShift:
      refusal = scanArgumentRefused(command, args);
      break;
    default:
      break;
  }
  va_end(cursor);
  return refusal;
}

int Client::withhold() {
  const char* name = clientName.c_str();
  PrintMessage("1008", name, name);
  static const char withheldToken[] = "8888";
  if (!wire::sendBytes(socket, withheldToken, sizeof withheldToken)) {
    PrintMessage("1009", name, name);
    status = wire::kSendFailed;
    return wire::kSendFailed;
  }
  char reply[wire::kBufferSize] = {};
  if (wire::receiveLoose(socket, reply) == 0) {
    PrintMessage("1010", name, name);
    status = wire::kReceiveFailed;
    return wire::kReceiveFailed;
  }
  status = kWithheldResult;
  return kWithheldResult;
}

int Client::sendCommand4(CallContext& context, va_list args) {
  const char* name = clientName.c_str();
  char token[wire::kBufferSize] = {};
  // Every token of the sequence is answered by a reply whose content does not matter.
  auto exchange = [&](bool sent) {
    if (!sent) {
      PrintMessage("1009", name, name);
      return wire::kSendFailed;
    }
    if (wire::receiveLoose(socket, token) == 0) {
      PrintMessage("1010", name, name);
      return wire::kReceiveFailed;
    }
    return 0;
  };

  va_list cursor;
  va_copy(cursor, args);
  int result = 0;
  for (int i = 0; i < 2 && result == 0; ++i)
    result = exchange(wire::sendStringToken(socket, va_arg(cursor, const char*), token));

  int values[commands::kCommand4Values] = {0, 0, 0, 1, 0, 0, 0, 1, 0, 0};
  if (result == 0) {
    // More than ten values were refused before the command went out; the bound only
    // keeps the list safe.
    int valueCount = va_arg(cursor, int);
    for (int i = 0; i < valueCount && i < commands::kCommand4Values; ++i)
      values[i] = va_arg(cursor, int);
  }
  va_end(cursor);

  for (int i = 0; i < commands::kCommand4Values && result == 0; ++i)
    result = exchange(wire::sendIntToken(socket, values[i], token));
  if (result != 0) {
    status = result;
    return result;
  }
  return sendFlagQuery(context, socket, flagA);
}

int Client::Send(int command, ...) {
  using commands::Transfer;
  status = 0;
  // A context that reports nowhere never reads the strings; not copying them spares a heap
  // allocation per call when the name is longer than a string holds inline.
  CallContext context(debugOn, logHandle, reporting() ? clientName : std::string(),
                      reporting() ? logPath : std::string());
  const commands::Row& row = commands::rowFor(command);
  const char* name = clientName.c_str();

  va_list args;
  va_start(args, command);
  int result = [&]() -> int {
    if (const char* limit = refusedArgument(command, args)) {
      PrintMessage("1003", name, limit);
      status = kArgumentRefused;
      return kArgumentRefused;
    }
    if (row.withheld && (flagA == 0 || flagB == 0)) return withhold();

    char commandText[wire::kBufferSize] = {};
    std::to_chars(commandText, commandText + sizeof commandText - 1, command);  // as "%d"
    if (!wire::sendToken(socket, commandText)) {
      PrintMessage("1009", name, name);
      if (reconnectsOnFailure(command)) Connect(serverName.data(), nullptr, nullptr);
      status = wire::kSendFailed;
      return wire::kSendFailed;
    }
    char reply[wire::kBufferSize] = {};
    int outcome = wire::receiveLoose(socket, reply);
    if (outcome == 0) {
      PrintMessage("1010", name, name);
      if (reconnectsOnFailure(command)) Connect(serverName.data(), nullptr, nullptr);
      status = wire::kReceiveFailed;
      return wire::kReceiveFailed;
    }
    PrintMessage("1093", name, command);

    // Runs one pass of a serial shift on a fresh copy of the arguments, so that a command
    // with two passes hands the second the very arguments the first was given.
    auto serialPass = [&](auto shift, const commands::SerialPass& pass) {
      va_list passArgs;
      va_copy(passArgs, args);
      int passResult = (this->*shift)(socket, pass.writeFlag, pass.readFlag, passArgs);
      va_end(passArgs);
      return passResult;
    };

    switch (row.transfer) {
      case Transfer::None:
        break;
      case Transfer::IntArgs:
        outcome = sendIntargs(context, socket, row.count, args);
        break;
      case Transfer::StringArgs:
        outcome = sendStringargs(context, socket, row.count, args);
        break;
      case Transfer::StringArgsAnyAck:
        outcome = sendStringargsAnyAck(context, socket, row.count, args);
        break;
      case Transfer::PairArgs:
        outcome = sendPairargs(context, socket, args);
        break;
      case Transfer::Command4:
        outcome = sendCommand4(context, args);
        break;
      case Transfer::QueryFlagB:
        outcome = sendFlagQuery(context, socket, flagB);
        break;
      case Transfer::ClearFlagA:
        flagA = 0;
        PrintMessage("1012", name, flagA);
        break;
      case Transfer::ClearFlagB:
        flagB = 0;
        PrintMessage("1012", name, flagA);
        break;
      case Transfer::ClearBothFlags:
        flagA = 0;
        flagB = 0;
        PrintMessage("1012", name, flagA);
        break;
      case Transfer::Unlisted:
        PrintMessage("1013", name);
        break;
      case Transfer::GenericShift:
        outcome = sendShiftargs(socket, args);
        break;
      case Transfer::SharedApps:
        outcome = sendSharedApps(socket, args);
        break;
      case Transfer::PumpData:
        outcome = sendPumpData(socket, args);
        break;
      case Transfer::InterfaceFunction:
        outcome = JTAGInterfaceFunc(socket, args);
        break;
      case Transfer::I2CShift:
        for (int i = 0; i < row.count; ++i)
          outcome = serialPass(&Client::sendI2CShiftargs, row.passes[i]);
        break;
      case Transfer::SSPIShift:
        for (int i = 0; i < row.count; ++i)
          outcome = serialPass(&Client::sendSSPIShiftargs, row.passes[i]);
        break;
    }
    status = outcome;

    if (row.finalRead && outcome >= 0) {
      int answer = 0;
      status = Read(answer);
      outcome = status == 0 ? answer : status;
    }
    return outcome;
  }();
  va_end(args);
  return result;
}
