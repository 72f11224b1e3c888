#include "protocol/transfers.h"

#include "diagnostics/call_context.h"
#include "protocol/wire.h"

namespace {

// Message identifiers of one token-by-token transfer, in the order its steps use them.
struct TransferMessages {
  const char* start;
  const char* end;
  const char* sendFailed;
  const char* sent;
  const char* ackFailed;
  const char* acknowledged;
};

constexpr TransferMessages kIntMessages{"1079", "1080", "1060", "1061", "1062", "1063"};
constexpr TransferMessages kStringMessages{"1081", "1082", "1064", "1065", "1066", "1067"};

// Sends `count` tokens strictly acknowledged, each value taken from `cursor` by
// `sendNext` (which formats it into the buffer and sends it).
template <typename SendNext>
int sendAcknowledgedTokens(CallContext& context, std::uint64_t socket, int count,
                           const TransferMessages& ids, SendNext sendNext) {
  const char* name = context.clientName.c_str();
  context.PrintMessage(ids.start, name);
  char buffer[wire::kBufferSize] = {};
  for (int i = 0; i < count; ++i) {
    if (!sendNext(buffer)) {
      context.PrintMessage(ids.sendFailed, name, name);
      return wire::kSendFailed;
    }
    context.PrintMessage(ids.sent, name, buffer);
    std::memset(buffer, 0, sizeof buffer);
    if (!wire::receiveStrictAck(socket, buffer)) {
      context.PrintMessage(ids.ackFailed, name, name);
      return wire::kReceiveFailed;
    }
    // The zeroed buffer took at most 2 bytes: it stays NUL-terminated.
    context.PrintMessage(ids.acknowledged, name, buffer);
  }
  context.PrintMessage(ids.end, name);
  return 0;
}

}  // namespace

int sendIntargs(CallContext& context, std::uint64_t socket, int count, va_list args) {
  va_list cursor;
  va_copy(cursor, args);
  int result = sendAcknowledgedTokens(context, socket, count, kIntMessages, [&](char* buffer) {
    return wire::sendIntToken(socket, va_arg(cursor, int), buffer);
  });
  va_end(cursor);
  return result;
}

int sendStringargs(CallContext& context, std::uint64_t socket, int count, va_list args) {
  va_list cursor;
  va_copy(cursor, args);
  int result =
      sendAcknowledgedTokens(context, socket, count, kStringMessages, [&](char* buffer) {
        return wire::sendStringToken(socket, va_arg(cursor, const char*), buffer);
      });
  va_end(cursor);
  return result;
}

int sendStringargsAnyAck(CallContext& context, std::uint64_t socket, int count, va_list args) {
  const char* name = context.clientName.c_str();
  context.PrintMessage("1077", name);
  char buffer[wire::kBufferSize] = {};
  va_list cursor;
  va_copy(cursor, args);
  int result = 0;
  for (int i = 0; i < count; ++i) {
    if (!wire::sendStringToken(socket, va_arg(cursor, const char*), buffer)) {
      context.PrintMessage("1056", name, name);
      result = wire::kSendFailed;
      break;
    }
    context.PrintMessage("1057", name, buffer);
    // The reply lands on top of the token without zeroing and may fill the whole buffer
    // without a NUL, so a report sees it only through a bounded copy.
    if (wire::receiveLoose(socket, buffer) == 0) {
      context.PrintMessage("1058", name, name);
      result = wire::kReceiveFailed;
      break;
    }
    if (context.reporting())
      context.PrintMessage("1059", name, wire::BoundedText(buffer, wire::kBufferSize).c_str());
  }
  va_end(cursor);
  if (result == 0) context.PrintMessage("1078", name);
  return result;
}

int sendPairargs(CallContext& context, std::uint64_t socket, va_list args) {
  const char* name = context.clientName.c_str();
  context.PrintMessage("1083", name);
  char buffer[wire::kBufferSize] = {};
  va_list cursor;
  va_copy(cursor, args);
  int result = 0;
  for (int i = 0; i < 8; ++i) {
    bool sent = i % 2 == 0 ? wire::sendIntToken(socket, va_arg(cursor, int), buffer)
                           : wire::sendStringToken(socket, va_arg(cursor, const char*), buffer);
    if (!sent) {
      context.PrintMessage("1068", name, name);
      result = wire::kSendFailed;
      break;
    }
    context.PrintMessage("1069", name, name);
    if (!wire::receiveStrictAck(socket, buffer)) {
      context.PrintMessage("1070", name, name);
      result = wire::kReceiveFailed;
      break;
    }
    context.PrintMessage("1071", name, name);
  }
  va_end(cursor);
  if (result == 0) context.PrintMessage("1084", name);
  return result;
}

int sendFlagQuery(CallContext& context, std::uint64_t& socket, int& flag) {
  const char* name = context.clientName.c_str();
  context.PrintMessage("1086", name);
  if (!wire::sendRequestToken(socket)) {
    context.PrintMessage("1073", name, name);
    return wire::kSendFailed;
  }
  char buffer[wire::kBufferSize] = {};
  int received = wire::receive(socket, buffer, 2);
  if (received == 0) {
    context.PrintMessage("1074", name);
    return wire::kReceiveFailed;
  }
  int answer = wire::leadingInt(buffer, received);
  if (answer == 1) {
    flag = 1;
    context.PrintMessage("1075", name, 1);
    return 0;
  }
  flag = 0;
  context.PrintMessage("1076", name);
  return answer == 0 ? -1 : answer;
}
