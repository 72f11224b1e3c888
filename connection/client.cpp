// A Client's lifetime and its small accessors. Nothing here touches the network.
#include <cstdint>

#include "diagnostics/reporting.h"
#include "msgcore/msgManager.h"
#include "tapbroker_client.h"

Client::Client() : Client(const_cast<char*>("")) {}

Client::Client(char* name) : messagesShares(nullptr) {
  // The strings start empty; the handle comes first, then the settings in this order.
  messages = diagnostics::makeHandle();
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

Client::Client(const Client& other)
    : flagA(other.flagA),
      flagB(other.flagB),
      tdoData(other.tdoData),
      messages(nullptr),
      clientName(other.clientName),
      socket(other.socket),
      serverName(other.serverName),
      status(other.status),
      debugOn(other.debugOn),
      logPath(other.logPath),
      auxLogPath(other.auxLogPath),
      logHandle(other.logHandle),
      finishCode(other.finishCode),
      messagesShares(nullptr) {
  // Without a counter to share the handle safely, the copy goes without one: its reports
  // then post nothing and log empty lines.
  if (diagnostics::shareHandle(other.messages, other.messagesShares, messagesShares)) {
    messages = other.messages;
  }
}

Client& Client::operator=(const Client& other) {
  flagA = other.flagA;
  flagB = other.flagB;
  diagnostics::assignHandle(messages, messagesShares, finishCode, other.messages,
                            other.messagesShares);
  // The strings are copied only from another client; the scalars either way.
  if (this != &other) {
    tdoData = other.tdoData;
    clientName = other.clientName;
    serverName = other.serverName;
    logPath = other.logPath;
    auxLogPath = other.auxLogPath;
  }
  socket = other.socket;
  status = other.status;
  debugOn = other.debugOn;
  logHandle = other.logHandle;
  finishCode = other.finishCode;
  return *this;
}

Client::~Client() {
  // The last owner of the handle finishes and destroys it; the socket is the caller's to
  // close with Disconnect.
  diagnostics::dropHandle(messages, messagesShares, finishCode);
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
