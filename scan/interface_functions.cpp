// Command 44: one JTAG interface function, its code as a token and then the arguments its
// shape calls for.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

#include "diagnostics/call_context.h"
#include "protocol/transfers.h"
#include "protocol/wire.h"
#include "scan/argument_cursor.h"
#include "scan/interface_shapes.h"
#include "tapbroker_client.h"

namespace {

// The broker takes these values as floating point, in single precision.
void formatAsFloat(char* buffer, int value) {
  std::snprintf(buffer, wire::kBufferSize, "%f",
                static_cast<double>(static_cast<float>(value)));
}

}  // namespace

int Client::JTAGInterfaceFunc(SOCKET& socket, va_list args) {
  using scan::InterfaceShape;
  // A context that reports nowhere never reads the strings; not copying them spares a heap
  // allocation per call when the name is longer than a string holds inline.
  CallContext context(debugOn, logHandle, reporting() ? clientName : std::string(),
                      reporting() ? logPath : std::string());
  scan::ArgumentCursor list(args);
  const int code = list.nextInt();
  const char* name = clientName.c_str();

  char buffer[wire::kBufferSize];
  if (!wire::sendIntToken(socket, code, buffer)) {
    PrintMessage("1060", name, name);
    return wire::kSendFailed;
  }
  PrintMessage("1061", name, buffer);
  std::memset(buffer, 0, sizeof buffer);
  const int acknowledged = wire::receive(socket, buffer, 2);
  if (acknowledged == 0 || buffer[0] != '+') {
    PrintMessage("1062", name, name);
    return wire::kReceiveFailed;
  }
  PrintMessage("1063", name, buffer);

  const scan::InterfaceFunction function = scan::interfaceFunction(code);
  switch (function.shape) {
    case InterfaceShape::None:
      return acknowledged;
    case InterfaceShape::Strings:
      return sendStringargs(context, socket, function.count, list.position());
    case InterfaceShape::Ints:
      return sendIntargs(context, socket, function.count, list.position());
    case InterfaceShape::IntStringInt:
      // Each part goes out even when an earlier one failed; the last one decides.
      sendIntargs(context, socket, 1, list.position());
      list.nextInt();
      sendStringargs(context, socket, 1, list.position());
      list.nextString();
      return sendIntargs(context, socket, 1, list.position());
    case InterfaceShape::CountedStringPairs: {
      // As with the parts above, the strings follow whatever became of their count.
      sendIntargs(context, socket, 1, list.position());
      const long long strings = 2LL * list.nextInt();
      return sendStringargs(context, socket,
                            static_cast<int>(std::clamp<long long>(strings, 0, INT_MAX)),
                            list.position());
    }
    case InterfaceShape::JtagShift:
      return sendJTAGShiftargs(socket, list.position());
    case InterfaceShape::FloatBlock: {
      // The text overwrites the acknowledgement; the rest of the block is still zero.
      formatAsFloat(buffer, list.nextInt());
      if (!wire::sendBytes(socket, buffer, wire::kBufferSize)) return wire::kSendFailed;
      const int received = wire::receive(socket, buffer, 2);
      return received == 0 ? wire::kReceiveFailed : received;
    }
    case InterfaceShape::FloatToken: {
      std::memset(buffer, 0, sizeof buffer);
      formatAsFloat(buffer, list.nextInt());
      if (!wire::sendToken(socket, buffer)) {
        PrintMessage("1054", name, name);
        return wire::kSendFailed;
      }
      std::memset(buffer, 0, sizeof buffer);
      const int received = wire::receive(socket, buffer, 2);
      if (received == 0 || buffer[0] != '+') {
        PrintMessage("1055", name, name);
        return wire::kReceiveFailed;
      }
      return received;
    }
    case InterfaceShape::Unknown:
      break;
  }
  // The broker has acknowledged the code already: nothing more follows it.
  PrintMessage("2000");
  return acknowledged;
}
