#include "tool_error.h"

namespace tapclient {

std::string describeLibraryCode(int code) {
  switch (code) {
    case 0:
      return "success";
    case -1001:
      return "a socket send failed";
    case -1002:
      return "a socket receive failed, or an acknowledgement did not begin with \"+\"";
    case -1003:
      return "the sockets library could not be started";
    case -1004:
      return "the socket could not be created";
    case -1005:
      return "the broker was still unreachable after searching for it and starting it";
    case -1008:
      return "the broker refused the closing command";
    case -1009:
      return "the connection could not be shut down";
    case -1016:
      return "no log file path is set, or an empty one was given";
    case -1017:
      return "no second log file path is set";
    case -1020:
      return "a shift was given no shift data";
    case -1021:
      return "a shift's optional buffer is missing while its switch is on";
    case -1022:
      return "no read-back data is held";
    case -1023:
      return "the read-back destination is missing";
    case -1024:
      return "no installation directory exists to start the broker from";
    case -1025:
      return "an argument is outside the protocol's limits; nothing of the command was sent";
    default:
      return {};
  }
}

}  // namespace tapclient
