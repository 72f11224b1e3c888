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

constexpr win::WORD kSocketsVersion = 0x0202;
constexpr const char* kBrokerAddress = "127.0.0.1";
constexpr std::uint16_t kBrokerPort = 4001;
// A started broker needs a moment before it listens; there is no other signal to wait on.
constexpr win::DWORD kBrokerStartPause = 5000;
constexpr win::DWORD kCurrentDirectorySize = 256;

using namespace results;

bool given(const char* text) { return text != nullptr && text[0] != '\0'; }

// Opens a socket into `socket` and connects it to the broker, reporting the two steps.
// Returns 0, kNoSocket (socket left 0, the sockets reference given back) or
// win::SOCKET_ERROR when the connection was refused.
int attemptConnection(Client& client, Client::SOCKET& socket, const char* name) {
  socket = win::socket(win::kAfInet, win::kSockStream, win::kIpprotoTcp);
  if (socket == win::INVALID_SOCKET) {
    win::WSACleanup();
    socket = 0;
    return kNoSocket;
  }
  client.PrintMessage("1090", name);
  win::SOCKADDR_IN address{};
  address.sin_family = win::kAfInet;
  address.sin_addr.s_addr = win::inet_addr(kBrokerAddress);
  address.sin_port = win::htons(kBrokerPort);
  client.PrintMessage("1091", name);
  return win::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

// Starts tapbroker.exe from the installation and waits for it to come up. Returns 0, also
// when the start failed (the console says why and the second attempt will tell), or
// kNotInstalled when there is no directory to start it from.
int startBroker(Client& client, const char* name, const char* installDir) {
  std::string text = connection::binaryDirectory();
  const bool installed = connection::directoryExists(text);
  if (given(installDir)) text = installDir;
  // The given directory is checked only when the binary directory itself is gone; else a
  // wrong one shows as a failed start.
  if (!installed) {
    char current[kCurrentDirectorySize] = {};
    win::GetCurrentDirectoryA(kCurrentDirectorySize, current);
    text = current;
    if (given(installDir)) text = installDir;
    if (!connection::directoryExists(text)) {
      std::printf("Error : Verdane Programmer install is not correct. Please install again.\n");
      return kNotInstalled;
    }
  }
  const std::string path = connection::brokerPath(text);
  client.PrintMessage("1107", name);
  if (!win::CreateProcessA(path.c_str(), win::CREATE_NO_WINDOW)) {
    win::DWORD error = win::GetLastError();
    char* reason = win::FormatMessageA(error);
    std::printf("Norvane Server: TapBroker process not successfully launched:\n%s:%d:%s\n",
                path.c_str(), static_cast<int>(error), reason != nullptr ? reason : "");
    win::LocalFree(reason);
  }
  win::Sleep(kBrokerStartPause);
  return 0;
}

}  // namespace

int Client::Connect(char* /*ignored*/, const char* logFile, const char* installDir) {
  // Serves the broker search; released by its destructor on every way out.
  // A context that reports nowhere never reads the strings; not copying them spares a heap
  // allocation per call when the name is longer than a string holds inline.
  CallContext context(debugOn, logHandle, reporting() ? clientName : std::string(),
                      reporting() ? logPath : std::string());
  const char* name = clientName.c_str();
  PrintMessage("1089", name);

  // A name that does not fit the introduction buffer with its NUL would reach the broker
  // cut short; refuse it before anything is opened or sent.
  if (clientName.size() >= static_cast<std::size_t>(wire::kBufferSize)) {
    PrintMessage("1003", name, "a client name must be shorter than 1024 characters");
    status = kArgumentRefused;
    return kArgumentRefused;
  }

  win::WSADATA data;
  auto socketsStarted = [&]() {
    int error = win::WSAStartup(kSocketsVersion, &data);
    if (error == 0) return true;
    PrintMessage("1000", name, error, name);
    status = kSocketsFailed;
    return false;
  };
  // Two references: Disconnect gives back one of them.
  if (!socketsStarted() || !socketsStarted()) return kSocketsFailed;

  // The connection this one replaces is closed whatever becomes of the new one: a client
  // holds one conversation at a time, and a copy that still holds the old handle is
  // refused from now on rather than kept talking on a connection nobody will close.
  struct CloseOnReturn {
    SOCKET handle;
    ~CloseOnReturn() {
      recording::end(handle);
      win::closesocket(handle);
    }
  } replaced{socket};

  int connected = attemptConnection(*this, socket, name);
  if (connected == kNoSocket) return kNoSocket;
  if (connected != 0) {
    win::WSACleanup();
    win::closesocket(socket);
    socket = 0;
    PrintMessage("1106", name);
    if (connection::brokerIsRunning(context)) {
      PrintMessage("1002", name);
    } else {
      PrintMessage("1001", name);
      int started = startBroker(*this, name, installDir);
      if (started != 0) return started;
    }

    if (!socketsStarted()) return kSocketsFailed;
    connected = attemptConnection(*this, socket, name);
    if (connected == kNoSocket) return kNoSocket;
    if (connected != 0) {
      win::WSACleanup();
      win::closesocket(socket);
      socket = 0;
      PrintMessage("1004", name, name);
      win::WSACleanup();
      status = kUnreachable;
      return kUnreachable;
    }
  }

  recording::begin(socket, clientName);
  char buffer[wire::kBufferSize] = {};
  std::snprintf(buffer, sizeof buffer, "%s", name);
  if (!wire::sendBytes(socket, buffer, static_cast<int>(std::strlen(buffer)) + 1)) {
    if (reporting()) {
      wire::BoundedText text(buffer, sizeof buffer);
      PrintMessage("1006", text.c_str(), text.c_str());
    }
    status = kSendFailed;
    return kSendFailed;
  }
  if (wire::receiveLoose(socket, buffer) == 0) {
    if (reporting()) {
      wire::BoundedText text(buffer, sizeof buffer);
      PrintMessage("1007", text.c_str(), text.c_str());
    }
    status = kReceiveFailed;
    return kReceiveFailed;
  }

  if (given(logFile)) {
    PrintMessage("1092", name);
    Set_Log_File(logFile);
  }
  status = 0;
  return 0;
}
