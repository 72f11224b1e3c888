// Connect: reach the broker on the loopback address, start it when nothing answers and no
// broker process runs, and introduce this client by name.
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "connection/broker_search.h"
#include "connection/install_path.h"
#include "diagnostics/call_context.h"
#include "platform/processes.h"
#include "platform/sockets.h"
#include "protocol/command_in_progress.h"
#include "protocol/recording.h"
#include "protocol/wire.h"
#include "results/codes.h"
#include "tapbroker_client.h"

namespace {

constexpr std::uint16_t kBrokerPort = 4001;
// A started broker needs a moment before it listens; there is no other signal to wait on.
constexpr auto kBrokerStartPause = std::chrono::seconds(5);
constexpr std::size_t kCurrentDirectorySize = 256;
// The deadline an application may set for every send and receive of a conversation.
constexpr const char* kDeadlineVariable = "TAPBROKER_CLIENT_TIMEOUT";
constexpr unsigned kLongestDeadline = 86400;  // seconds: a day

using namespace tapbroker::results;
using tapbroker::platform::OpenStep;

bool given(const char* text) { return text != nullptr && text[0] != '\0'; }

// The deadline in milliseconds that the environment sets for this conversation, or 0 for
// none. Anything but a whole number of seconds from 1 to a day is reported and ignored.
unsigned deadlineFromEnvironment(Client& client, const char* name) {
  const char* text = std::getenv(kDeadlineVariable);
  if (text == nullptr) return 0;
  const char* end = text + std::strlen(text);
  unsigned seconds = 0;
  const auto [at, error] = std::from_chars(text, end, seconds);
  if (error == std::errc() && at == end && seconds >= 1 && seconds <= kLongestDeadline)
    return seconds * 1000;
  tapbroker::protocol::BoundedText shown(text, static_cast<int>(end - text));
  client.PrintMessage("1118", name, shown.c_str());
  return 0;
}

// One attempt: a connection to the broker's port in `socket` (0 when there is none),
// reported as it goes. Returns 0, kSocketsFailed (reported, and stored in the status),
// kNoSocket, or kUnreachable when nothing took the connection.
int attemptConnection(Client& client, Client::SOCKET& socket, const char* name,
                      unsigned deadlineMs) {
  const tapbroker::platform::Opened opened =
      tapbroker::platform::openLoopback(kBrokerPort, deadlineMs);
  socket = opened.failed == OpenStep::kDone ? opened.socket : 0;
  switch (opened.failed) {
    case OpenStep::kStartup:
      client.PrintMessage("1000", name, opened.error, name);
      client.SetClientStatus(kSocketsFailed);
      return kSocketsFailed;
    case OpenStep::kCreate:
      return kNoSocket;
    default:
      client.PrintMessage("1090", name);
      client.PrintMessage("1091", name);
      return opened.failed == OpenStep::kDone ? 0 : kUnreachable;
  }
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
    text = tapbroker::platform::currentDirectory(kCurrentDirectorySize);
    if (given(installDir)) text = installDir;
    if (!tapbroker::connection::directoryExists(text)) {
      std::printf("Error : Verdane Programmer install is not correct. Please install again.\n");
      return kNotInstalled;
    }
  }
  const std::string path = tapbroker::connection::brokerPath(text);
  client.PrintMessage("1107", name);
  if (const int error = tapbroker::platform::startDetached(path)) {
    std::printf("Norvane Server: TapBroker process not successfully launched:\n%s:%d:%s\n",
                path.c_str(), error, tapbroker::platform::errorText(error).c_str());
  }
  std::this_thread::sleep_for(kBrokerStartPause);
  return 0;
}

// Connects `socket` to the broker, starting the broker when nothing answered and no broker
// process runs. Returns 0, kNoSocket, kNotInstalled, kSocketsFailed or kUnreachable (the
// last two recorded in the status).
int reachBroker(Client& client, const char* name, Client::SOCKET& socket,
                CallContext& context, const char* installDir, unsigned deadlineMs) {
  int connected = attemptConnection(client, socket, name, deadlineMs);
  if (connected != kUnreachable) return connected;
  client.PrintMessage("1106", name);
  if (tapbroker::connection::brokerIsRunning(context)) {
    client.PrintMessage("1002", name);
  } else {
    client.PrintMessage("1001", name);
    if (int started = startBroker(client, name, installDir)) return started;
  }
  connected = attemptConnection(client, socket, name, deadlineMs);
  if (connected != kUnreachable) return connected;
  client.PrintMessage("1004", name, name);
  client.SetClientStatus(kUnreachable);
  return kUnreachable;
}

// Introduces the client: its name and NUL in one send, answered by anything. Returns 0,
// kSendFailed or kReceiveFailed; a failure reports the buffer as it stands.
int introduce(Client& client, const CallContext& context, Client::SOCKET socket,
              const char* name) {
  char buffer[tapbroker::protocol::kBufferSize] = {};
  std::snprintf(buffer, sizeof buffer, "%s", name);
  const char* failed = nullptr;
  int result = 0;
  if (!tapbroker::protocol::sendBytes(socket, buffer,
                                      static_cast<int>(std::strlen(buffer)) + 1)) {
    failed = "1006";
    result = kSendFailed;
  } else if (tapbroker::protocol::receiveLoose(socket, buffer) == 0) {
    failed = "1007";
    result = kReceiveFailed;
  }
  if (failed != nullptr && context.reporting()) {
    tapbroker::protocol::BoundedText text(buffer, sizeof buffer);
    client.PrintMessage(failed, text.c_str(), text.c_str());
  }
  if (failed != nullptr) tapbroker::protocol::reportTimeout(client, name, socket);
  return result;
}

// The connection a new Connect replaces is closed whatever becomes of the new one: a
// client holds one conversation at a time, and a copy that still holds the old handle is
// refused from now on rather than kept talking on a connection nobody will close.
struct CloseOnReturn {
  Client::SOCKET handle;
  ~CloseOnReturn() {
    tapbroker::protocol::recording::end(handle);
    tapbroker::platform::close(handle);
  }
};

}  // namespace

int Client::Connect(char* /*ignored*/, const char* logFile, const char* installDir) {
  CallContext context(*this);  // serves the broker search
  const char* name = clientName.c_str();
  PrintMessage("1089", name);

  // A name that does not fit the introduction buffer with its NUL would reach the broker
  // cut short; refuse it before anything is opened or sent.
  if (clientName.size() >= static_cast<std::size_t>(tapbroker::protocol::kBufferSize)) {
    PrintMessage("1003", name, "a client name must be shorter than 1024 characters");
    status = kArgumentRefused;
    return kArgumentRefused;
  }
  const unsigned deadlineMs = deadlineFromEnvironment(*this, name);

  CloseOnReturn replaced{socket};
  if (int failed = reachBroker(*this, name, socket, context, installDir, deadlineMs))
    return failed;
  tapbroker::protocol::recording::begin(socket, clientName);
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
