// Command 41: the list of applications that share the cable, as one packed block.
#include <cstring>

#include "protocol/wire.h"
#include "scan/application_list.h"
#include "tapbroker_client.h"

int Client::sendSharedApps(SOCKET& socket, va_list args) {
  const char* name = clientName.c_str();
  PrintMessage("1115", name);

  char block[scan::kApplicationBlockSize];
  // Send refuses a list that does not fit; never send a list cut short.
  if (!scan::packApplicationList(args, block)) return -1025;
  if (reporting()) PrintMessage("1116", name, wire::BoundedText(block, sizeof block).c_str());

  if (!wire::sendBytes(socket, block, sizeof block)) {
    PrintMessage("1052", name, name);
    return wire::kSendFailed;
  }
  // Any answer of one or two bytes will do.
  std::memset(block, 0, sizeof block);
  if (wire::receive(socket, block, 2) == 0) {
    PrintMessage("1053", name, name);
    return wire::kReceiveFailed;
  }
  return 0;
}
