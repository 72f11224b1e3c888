#include "tool_error.h"

using namespace tapbroker::results;

namespace tapclient {

std::string describeLibraryCode(int code) {
  switch (code) {
    case 0:
      return "success";
    case kSendFailed:
      return "a socket send failed";
    case kReceiveFailed:
      return "a socket receive failed, or an acknowledgement did not begin with \"+\"";
    case kSocketsFailed:
      return "the sockets library could not be started";
    case kNoSocket:
      return "the socket could not be created";
    case kUnreachable:
      return "the broker was still unreachable after searching for it and starting it";
    case kCloseRefused:
      return "the broker refused the closing command";
    case kShutdownFailed:
      return "the connection could not be shut down";
    case kNoLogPath:
      return "no log file path is set, or an empty one was given";
    case kNoSecondLogPath:
      return "no second log file path is set";
    case kNoShiftData:
      return "a shift was given no shift data";
    case kNoBuffer:
      return "a shift's optional buffer is missing while its switch is on";
    case kNothingHeld:
      return "no read-back data is held";
    case kNoDestination:
      return "the read-back destination is missing";
    case kNotInstalled:
      return "no installation directory exists to start the broker from";
    case kArgumentRefused:
      return "an argument is outside the protocol's limits; nothing of the command was sent";
    default:
      return {};
  }
}

}  // namespace tapclient
