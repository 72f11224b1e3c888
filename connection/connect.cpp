// Connect: reach the broker on the loopback address, start it when nothing answers and no
// broker process runs, and introduce this client by name.
#include <cstdio>
#include <cstring>
#include <string>

#include "connection/broker_search.h"
#include "connection/install_path.h"
#include "diagnostics/call_context.h"
#include "platform/process.h"
#include "platform/winsock.h"
#include "protocol/recording.h"
#include "protocol/wire.h"
#include "results/codes.h"
#include "tapbroker_client.h"

namespace {

constexpr tapbroker::win::WORD kSocketsVersion = 0x0202;
constexpr const char* kBrokerAddress = "127.0.0.1";
constexpr std::uint16_t kBrokerPort = 4001;
// A started broker needs a moment before it listens; there is no other signal to wait on.
constexpr tapbroker::win::DWORD kBrokerStartPause = 5000;
constexpr tapbroker::win::DWORD kCurrentDirectorySize = 256;

using namespace tapbroker::results;

bool given(const char* text) { return text != nullptr && text[0] != '\0'; }

// The sockets reference each connection attempt needs; false, with the failure reported
// and recorded, when the system refuses it.
bool socketsStarted(Client& client, const char* name) {
  tapbroker::win::WSADATA data;
  const int error = tapbroker::win::WSAStartup(kSocketsVersion, &data);
  if (error == 0) return true;
  client.PrintMessage("1000", name, error, name);
  client.SetClientStatus(kSocketsFailed);
  return false;
}

// Opens a socket into `socket` and connects it to the broker, reporting the two steps.
// Returns 0, kNoSocket (socket left 0, the sockets reference given back) or
// tapbroker::win::kSocketError when the connection was refused.
int attemptConnection(Client& client, Client::SOCKET& socket, const char* name) {
  socket = tapbroker::win::socket(tapbroker::win::kAfInet, tapbroker::win::kSockStream,
                                  tapbroker::win::kIpprotoTcp);
  if (socket == tapbroker::win::kInvalidSocket) {
    tapbroker::win::WSACleanup();
    socket = 0;
    return kNoSocket;
  }
  client.PrintMessage("1090", name);
  tapbroker::win::SOCKADDR_IN address{};
  address.sin_family = tapbroker::win::kAfInet;
  address.sin_addr = tapbroker::win::inet_addr(kBrokerAddress);
  address.sin_port = tapbroker::win::htons(kBrokerPort);
  client.PrintMessage("1091", name);
  return tapbroker::win::connect(socket, reinterpret_cast<const sockaddr*>(&address),
                                 sizeof address);
}

// Gives up an attempt the broker did not take: its sockets reference and its socket.
void dropAttempt(Client::SOCKET& socket) {
  tapbroker::win::WSACleanup();
  tapbroker::win::closesocket(socket);
  socket = 0;
}

// Starts tapbroker.exe from the installation and waits for it to come up. Returns 0, also
// when the start failed (the console says why and the second attempt will tell), or
// kNotInstalled when there is no directory to start it from.
int startBroker(Client& client, const char* name, const char* installDir) {
  std::string text = tapbroker::connection::binaryDirectory();
  const bool installed = tapbroker::connection::directoryExists(text);
  if (given(installDir)) text = installDir;
  // The given directory is checked only when the binary directory itself is gone; else a
  // wrong one shows as a failed start.
  if (!installed) {
    char current[kCurrentDirectorySize] = {};
    tapbroker::win::GetCurrentDirectoryA(kCurrentDirectorySize, current);
    text = current;
    if (given(installDir)) text = installDir;
    if (!tapbroker::connection::directoryExists(text)) {
      std::printf("Error : Verdane Programmer install is not correct. Please install again.\n");
      return kNotInstalled;
    }
  }
  const std::string path = tapbroker::connection::brokerPath(text);
  client.PrintMessage("1107", name);
  if (!tapbroker::win::CreateProcessA(path.c_str(), tapbroker::win::kCreateNoWindow)) {
    tapbroker::win::DWORD error = tapbroker::win::GetLastError();
    char* reason = tapbroker::win::FormatMessageA(error);
    std::printf("Norvane Server: TapBroker process not successfully launched:\n%s:%d:%s\n",
                path.c_str(), static_cast<int>(error), reason != nullptr ? reason : "");
    tapbroker::win::LocalFree(reason);
  }
  tapbroker::win::Sleep(kBrokerStartPause);
  return 0;
}

// Connects `socket` to the broker, starting the broker when nothing answered and no broker
// process runs. Returns 0, kNoSocket, kNotInstalled, kSocketsFailed or kUnreachable (the
// last two recorded in the status).
int reachBroker(Client& client, const char* name, Client::SOCKET& socket,
                CallContext& context, const char* installDir) {
  int connected = attemptConnection(client, socket, name);
  if (connected == 0 || connected == kNoSocket) return connected;
  dropAttempt(socket);
  client.PrintMessage("1106", name);
  if (tapbroker::connection::brokerIsRunning(context)) {
    client.PrintMessage("1002", name);
  } else {
    client.PrintMessage("1001", name);
    if (int started = startBroker(client, name, installDir)) return started;
  }

  if (!socketsStarted(client, name)) return kSocketsFailed;
  connected = attemptConnection(client, socket, name);
  if (connected == 0 || connected == kNoSocket) return connected;
  dropAttempt(socket);
  client.PrintMessage("1004", name, name);
  tapbroker::win::WSACleanup();
  client.SetClientStatus(kUnreachable);
  return kUnreachable;
}

// Introduces the client: its name and NUL in one send, answered by anything. Returns 0,
// kSendFailed or kReceiveFailed; a failure reports the buffer as it stands.
int introduce(Client& client, const CallContext& context, Client::SOCKET socket,
              const char* name) {
  char buffer[tapbroker::wire::kBufferSize] = {};
  std::snprintf(buffer, sizeof buffer, "%s", name);
  const char* failed = nullptr;
  int result = 0;
  if (!tapbroker::wire::sendBytes(socket, buffer, static_cast<int>(std::strlen(buffer)) + 1)) {
    failed = "1006";
    result = kSendFailed;
  } else if (tapbroker::wire::receiveLoose(socket, buffer) == 0) {
    failed = "1007";
    result = kReceiveFailed;
  }
  if (failed != nullptr && context.reporting()) {
    tapbroker::wire::BoundedText text(buffer, sizeof buffer);
    client.PrintMessage(failed, text.c_str(), text.c_str());
  }
  return result;
}

// The connection a new Connect replaces is closed whatever becomes of the new one: a
// client holds one conversation at a time, and a copy that still holds the old handle is
// refused from now on rather than kept talking on a connection nobody will close.
struct CloseOnReturn {
  Client::SOCKET handle;
  ~CloseOnReturn() {
    tapbroker::recording::end(handle);
    tapbroker::win::closesocket(handle);
  }
};

}  // namespace

int Client::Connect(char* /*ignored*/, const char* logFile, const char* installDir) {
  CallContext context(*this);  // serves the broker search
  const char* name = clientName.c_str();
  PrintMessage("1089", name);

  // A name that does not fit the introduction buffer with its NUL would reach the broker
  // cut short; refuse it before anything is opened or sent.
  if (clientName.size() >= static_cast<std::size_t>(tapbroker::wire::kBufferSize)) {
    PrintMessage("1003", name, "a client name must be shorter than 1024 characters");
    status = kArgumentRefused;
    return kArgumentRefused;
  }
  // Two references: Disconnect gives back one of them.
  if (!socketsStarted(*this, name) || !socketsStarted(*this, name)) return kSocketsFailed;

  CloseOnReturn replaced{socket};
  if (int failed = reachBroker(*this, name, socket, context, installDir)) return failed;
  tapbroker::recording::begin(socket, clientName);
  if (int failed = introduce(*this, context, socket, name)) {
    status = failed;
    return failed;
  }

  if (given(logFile)) {
    PrintMessage("1092", name);
    Set_Log_File(logFile);
  }
  status = 0;
  return 0;
}
