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
#include "scan/runs.h"

namespace tapbroker::scan {
namespace {

// The broker takes these values as floating point, in single precision.
void formatAsFloat(char* buffer, int value) {
  std::snprintf(buffer, wire::kBufferSize, "%f",
                static_cast<double>(static_cast<float>(value)));
}

}  // namespace

int runInterfaceFunction(Exchange& x, const shapes::Command&, wire::ArgumentCursor& args) {
  using shapes::Function;
  const int code = args.nextInt();
  char buffer[wire::kBufferSize];
  if (!wire::sendIntToken(x.socket(), code, buffer)) {
    x.report("1060", x.name(), x.name());
    return results::kSendFailed;
  }
  x.report("1061", x.name(), buffer);
  std::memset(buffer, 0, sizeof buffer);
  const int acknowledged = wire::receive(x.socket(), buffer, 2);
  if (acknowledged == 0 || buffer[0] != '+') {
    x.report("1062", x.name(), x.name());
    return results::kReceiveFailed;
  }
  x.report("1063", x.name(), buffer);

  const shapes::InterfaceFunction function = shapes::interfaceFunction(code);
  switch (function.shape) {
    case Function::None:
      return acknowledged;
    case Function::Strings:
      return wire::sendStringargs(x.context, x.socket(), function.count, args);
    case Function::Ints:
      return wire::sendIntargs(x.context, x.socket(), function.count, args);
    case Function::IntStringInt:
      // Each part goes out even when an earlier one failed; the last one decides.
      wire::sendIntargs(x.context, x.socket(), 1, args);
      wire::sendStringargs(x.context, x.socket(), 1, args);
      return wire::sendIntargs(x.context, x.socket(), 1, args);
    case Function::CountedStringPairs: {
      // As with the parts above, the strings follow whatever became of their count, which
      // a copy reads before the count's own token takes it.
      const long long strings = 2LL * args.copy().nextInt();
      wire::sendIntargs(x.context, x.socket(), 1, args);
      return wire::sendStringargs(x.context, x.socket(),
                                  static_cast<int>(std::clamp<long long>(strings, 0, INT_MAX)),
                                  args);
    }
    case Function::JtagShift:
      return runJtagShift(x, args);
    case Function::FloatBlock: {
      // The text overwrites the acknowledgement; the rest of the block is still zero.
      formatAsFloat(buffer, args.nextInt());
      if (!wire::sendBytes(x.socket(), buffer, wire::kBufferSize)) return results::kSendFailed;
      const int received = wire::receive(x.socket(), buffer, 2);
      return received == 0 ? results::kReceiveFailed : received;
    }
    case Function::FloatToken: {
      std::memset(buffer, 0, sizeof buffer);
      formatAsFloat(buffer, args.nextInt());
      if (!wire::sendToken(x.socket(), buffer)) {
        x.report("1054", x.name(), x.name());
        return results::kSendFailed;
      }
      std::memset(buffer, 0, sizeof buffer);
      const int received = wire::receive(x.socket(), buffer, 2);
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
