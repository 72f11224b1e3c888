// Disconnect: the closing command 9999, then the socket is closed whatever the broker said.
#include "platform/winsock.h"
#include "protocol/results.h"
#include "tapbroker_client.h"

using results::kCloseRefused;
using results::kShutdownFailed;

int Client::Disconnect() {
  const char* name = clientName.c_str();
  PrintMessage("1098", name);
  // Only the broker's own -1 is a refusal; any other result, a failure of the dispatcher
  // included, counts as accepted and leads to the shutdown.
  if (Send(9999) == -1) {
    PrintMessage("1026", name, name);
    win::closesocket(socket);
    win::WSACleanup();
    status = kCloseRefused;
    return kCloseRefused;
  }
  if (win::shutdown(socket, win::SD_SEND) == win::SOCKET_ERROR) {
    PrintMessage("1027", name);
    win::closesocket(socket);
    win::WSACleanup();
    status = kShutdownFailed;
    return kShutdownFailed;
  }
  win::closesocket(socket);
  win::WSACleanup();
  PrintMessage("1028", name);
  return 0;
}
