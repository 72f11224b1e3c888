// Command 44: one JTAG interface function, its code as a token and then the arguments its
// shape calls for.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

#include "protocol/argument_cursor.h"
#include "protocol/transfers.h"
#include "protocol/wire.h"
#include "results/codes.h"
#include "scan/scan_runs.h"

namespace tapbroker::scan {
namespace {

// The broker takes these values as floating point, in single precision.
void formatAsFloat(char* buffer, int value) {
  std::snprintf(buffer, protocol::kBufferSize, "%f",
                static_cast<double>(static_cast<float>(value)));
}

}  // namespace

int runInterfaceFunction(protocol::CommandInProgress& x, const protocol::shapes::Command&,
                         protocol::ArgumentCursor& args) {
  using protocol::shapes::Function;
  const int code = args.nextInt();
  char buffer[protocol::kBufferSize];
  if (!protocol::sendIntToken(x.socket(), code, buffer)) {
    x.report("1060", x.name(), x.name());
    return results::kSendFailed;
  }
  x.report("1061", x.name(), buffer);
  std::memset(buffer, 0, sizeof buffer);
  const int acknowledged = protocol::receive(x.socket(), buffer, 2);
  if (acknowledged == 0 || buffer[0] != '+') {
    x.report("1062", x.name(), x.name());
    return results::kReceiveFailed;
  }
  x.report("1063", x.name(), buffer);

  const protocol::shapes::InterfaceFunction function =
      protocol::shapes::interfaceFunction(code);
  switch (function.shape) {
    case Function::None:
      return acknowledged;
    case Function::Strings:
      return protocol::sendTokens(x, protocol::kStringTokens, function.count, args);
    case Function::Ints:
      return protocol::sendTokens(x, protocol::kIntTokens, function.count, args);
    case Function::IntStringInt:
      // Each part goes out even when an earlier one failed; the last one decides.
      protocol::sendTokens(x, protocol::kIntTokens, 1, args);
      protocol::sendTokens(x, protocol::kStringTokens, 1, args);
      return protocol::sendTokens(x, protocol::kIntTokens, 1, args);
    case Function::CountedStringPairs: {
      // As with the parts above, the strings follow whatever became of their count, which
      // a copy reads before the count's own token takes it.
      const long long strings = 2LL * args.copy().nextInt();
      protocol::sendTokens(x, protocol::kIntTokens, 1, args);
      return protocol::sendTokens(
          x, protocol::kStringTokens, static_cast<int>(std::clamp<long long>(strings, 0, INT_MAX)),
          args);
    }
    case Function::JtagShift:
      return runJtagShift(x, args);
    case Function::FloatBlock: {
      // The text overwrites the acknowledgement; the rest of the block is still zero.
      formatAsFloat(buffer, args.nextInt());
      if (!protocol::sendBytes(x.socket(), buffer, protocol::kBufferSize))
        return results::kSendFailed;
      const int received = protocol::receive(x.socket(), buffer, 2);
      return received == 0 ? results::kReceiveFailed : received;
    }
    case Function::FloatToken: {
      std::memset(buffer, 0, sizeof buffer);
      formatAsFloat(buffer, args.nextInt());
      if (!protocol::sendToken(x.socket(), buffer)) {
        x.report("1054", x.name(), x.name());
        return results::kSendFailed;
      }
      std::memset(buffer, 0, sizeof buffer);
      const int received = protocol::receive(x.socket(), buffer, 2);
      if (received == 0 || buffer[0] != '+') {
        x.report("1055", x.name(), x.name());
        return results::kReceiveFailed;
      }
      return received;
    }
    case Function::Unknown:
      break;
  }
  // The broker has acknowledged the code already: nothing more follows it.
  x.report("2000");
  return acknowledged;
}

}  // namespace tapbroker::scan
