// A Client's lifetime and its small accessors. Nothing here touches the network.
#include <cstdint>
#include <tuple>

#include "diagnostics/reporting.h"
#include "tapbroker_client.h"

Client::Client() : Client(const_cast<char*>("")) {}

Client::Client(char* name) {
  // The strings start empty; the handle comes first, then the settings in this order.
  messages = tapbroker::diagnostics::newHandle();
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
// serverName holds the text this client's Read handed out: a copy starts without one.
Client::Client(const Client& other) : messages(nullptr), finishCode(0) { *this = other; }

Client& Client::operator=(const Client& other) {
  // Shared first and released last, so that assigning a client to itself keeps its handle.
  msgManager* previous = messages;
  tapbroker::diagnostics::shareHandle(other.messages);
  // Every other field, in the order they are declared, but serverName: it holds the text
  // that this client's Read handed out, which stays valid until this client reads again.
  std::tie(flagA, flagB, tdoData, messages, clientName, socket, status, debugOn, logPath,
           auxLogPath, logHandle) =
      std::tie(other.flagA, other.flagB, other.tdoData, other.messages, other.clientName,
               other.socket, other.status, other.debugOn, other.logPath, other.auxLogPath,
               other.logHandle);
  tapbroker::diagnostics::releaseHandle(previous, &finishCode);
  finishCode = other.finishCode;
  return *this;
}

Client::~Client() {
  tapbroker::diagnostics::releaseHandle(messages, &finishCode);
  messages = nullptr;
}

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
