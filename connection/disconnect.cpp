// Disconnect: the closing command 9999, then the socket is closed whatever the broker said.
#include "platform/sockets.h"
#include "protocol/recording.h"
#include "results/codes.h"
#include "tapbroker_client.h"

using tapbroker::results::kCloseRefused;
using tapbroker::results::kShutdownFailed;

int Client::Disconnect() {
  const char* name = clientName.c_str();
  PrintMessage("1098", name);
  // Only the broker's own -1 is a refusal; any other result, a failure of the dispatcher
  // included, counts as accepted and leads to the shutdown.
  int result = 0;
  if (Send(9999) == -1) {
    PrintMessage("1026", name, name);
    result = kCloseRefused;
  } else if (!tapbroker::platform::shutdownSending(socket)) {
    PrintMessage("1027", name);
    result = kShutdownFailed;
  }
  tapbroker::protocol::recording::end(socket);
  tapbroker::platform::close(socket);
  if (result != 0) {
    status = result;
    return result;
  }
  PrintMessage("1028", name);
  return 0;
}
