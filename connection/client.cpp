// A Client's lifetime and its small accessors. Nothing here touches the network.
#include <cstdint>

#include "diagnostics/reporting.h"
#include "tapbroker_client.h"

Client::Client() : Client(const_cast<char*>("")) {}

Client::Client(char* name) {
  // The strings start empty; the handle comes first, then the settings in this order.
  messagesOwner = diagnostics::makeHandle(true, 0);
  messages = messagesOwner.get();
  finishCode = 0;
  clientName = name != nullptr ? name : "";
  socket = INVALID_SOCKET;
  serverName.clear();
  logPath.clear();
  auxLogPath.clear();
  flagA = 0;
  debugOn = 0;
  logHandle = nullptr;
  flagB = 0;
  status = 0;
}

// Copies share the socket and the catalogue handle; the handle's last holder finishes it.
Client::Client(const Client& other) = default;
Client& Client::operator=(const Client& other) = default;
Client::~Client() = default;

long Client::GetClientSocket() {
  // The handle's low 32 bits, read as signed: INVALID_SOCKET reads as -1.
  return static_cast<long>(static_cast<std::int32_t>(static_cast<std::uint32_t>(socket)));
}

int Client::GetClientStatus() { return status; }

void Client::SetClientStatus(int value) { status = value; }

bool Client::ValidClient() {
  if (!clientName.empty()) {
    PrintMessage("1088", clientName.c_str());
    return true;
  }
  PrintMessage("1087", clientName.c_str());
  return false;
}
