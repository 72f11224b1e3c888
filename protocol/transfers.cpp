#include "protocol/transfers.h"

#include <cstring>

#include "diagnostics/call_context.h"
#include "protocol/argument_cursor.h"
#include "protocol/command_in_progress.h"
#include "protocol/wire.h"
#include "results/codes.h"

namespace tapbroker::protocol {

const TokenRun kIntTokens{"i", true, true, "1079", "1080", "1060", "1061", "1062", "1063"};
const TokenRun kStringTokens{"s", true, true, "1081", "1082", "1064", "1065", "1066", "1067"};
const TokenRun kStringTokensAnyAck{"s",    false,  true,   "1077", "1078",
                                   "1056", "1057", "1058", "1059"};
const TokenRun kPairTokens{"is", true, false, "1083", "1084", "1068", "1069", "1070", "1071"};

int sendTokens(CommandInProgress& x, const TokenRun& run, int count, ArgumentCursor& args) {
  CallContext& context = x.context;
  const Client::SOCKET socket = x.socket();
  const char* name = context.clientName.c_str();
  context.PrintMessage(run.start, name);
  char buffer[kBufferSize] = {};
  const std::size_t types = std::strlen(run.types);
  for (int i = 0; i < count; ++i) {
    const bool sent = run.types[static_cast<std::size_t>(i) % types] == 'i'
                          ? sendIntToken(socket, args.nextInt(), buffer)
                          : sendStringToken(socket, args.nextString(), buffer);
    if (!sent) {
      context.PrintMessage(run.sendFailed, name, name);
      return results::kSendFailed;
    }
    context.PrintMessage(run.sent, name, run.showsText ? buffer : name);
    // A strict acknowledgement lands in a zeroed buffer; any other reply lands on top of
    // the token and may fill the whole buffer without a NUL.
    if (run.strict) std::memset(buffer, 0, sizeof buffer);
    if (run.strict ? !receiveStrictAck(socket, buffer) : receiveLoose(socket, buffer) == 0) {
      context.PrintMessage(run.ackFailed, name, name);
      return results::kReceiveFailed;
    }
    if (context.reporting())
      context.PrintMessage(run.acknowledged, name,
                           run.showsText ? BoundedText(buffer, sizeof buffer).c_str() : name);
  }
  context.PrintMessage(run.end, name);
  return 0;
}

int sendFlagQuery(CallContext& context, std::uint64_t socket, int& flag) {
  const char* name = context.clientName.c_str();
  context.PrintMessage("1086", name);
  if (!sendRequestToken(socket)) {
    context.PrintMessage("1073", name, name);
    return results::kSendFailed;
  }
  char buffer[kBufferSize] = {};
  int received = receive(socket, buffer, 2);
  if (received == 0) {
    context.PrintMessage("1074", name);
    return results::kReceiveFailed;
  }
  int answer = leadingInt(buffer, received);
  if (answer == 1) {
    flag = 1;
    context.PrintMessage("1075", name, 1);
    return 0;
  }
  flag = 0;
  context.PrintMessage("1076", name);
  return answer == 0 ? -1 : answer;
}

int sendCommand4(CommandInProgress& x, ArgumentCursor& args) {
  char token[kBufferSize] = {};
  // Every token is answered by a reply whose content does not matter.
  auto exchange = [&](bool sent) {
    if (!sent) {
      x.report("1009", x.name(), x.name());
      return results::kSendFailed;
    }
    if (receiveLoose(x.socket(), token) == 0) {
      x.report("1010", x.name(), x.name());
      return results::kReceiveFailed;
    }
    return 0;
  };
  const char* strings[2] = {args.nextString(), args.nextString()};
  int values[shapes::kCommand4Values] = {0, 0, 0, 1, 0, 0, 0, 1, 0, 0};
  // More than ten values were refused before the command went out; the bound only keeps
  // the list safe.
  const int valueCount = args.nextInt();
  for (int i = 0; i < valueCount && i < shapes::kCommand4Values; ++i)
    values[i] = args.nextInt();

  int result = 0;
  for (int i = 0; i < 2 && result == 0; ++i)
    result = exchange(sendStringToken(x.socket(), strings[i], token));
  for (int i = 0; i < shapes::kCommand4Values && result == 0; ++i)
    result = exchange(sendIntToken(x.socket(), values[i], token));
  return result != 0 ? result : sendFlagQuery(x.context, x.socket(), x.flagA());
}

}  // namespace tapbroker::protocol
