#include "broker_session.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "common/error_file.h"
#include "common/printable.h"
#include "host.h"
#include "tool_error.h"

namespace tapclient {
namespace {

// Library codes for commands refused before anything of them went out.
using tapbroker::results::kArgumentRefused;
using tapbroker::results::kNoShiftData;

// The library waits for every answer for as long as it takes, unless the environment
// bounds the wait. A program on the port that is not a broker may take the connection and
// never answer, and a stalled broker may never answer a command: tapclient gives up after
// a while (well beyond the library's own five seconds for a broker it starts) instead of
// waiting for ever. A value the user set is kept.
constexpr const char* kTimeoutVariable = "TAPBROKER_CLIENT_TIMEOUT";
constexpr const char* kDefaultTimeout = "20";

// The bound on every wait of the conversation, as the environment gives it to Connect.
std::string answerTimeout() {
  const char* set = std::getenv(kTimeoutVariable);
  if (set != nullptr && *set != '\0') return set;
  setEnvironment(kTimeoutVariable, kDefaultTimeout);
  return kDefaultTimeout;
}

bool sendOrReceiveFailed(int code) {
  return code == tapbroker::results::kReceiveFailed || code == tapbroker::results::kSendFailed;
}

// What a broker that was handed `file` with `option` may have refused, and where it says why.
std::string refusedFile(const char* option, const char* what, const std::string& file) {
  if (file.empty()) return {};
  return std::string(", or it refused the ") + what + " " + file + " (" + error_file::path() +
         " says why, as does \"tapbroker.exe " + option + " " + file + "\")";
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string codeText(int code) {
  std::string text = std::to_string(code);
  const std::string meaning = describeLibraryCode(code);
  if (!meaning.empty()) text += " (" + meaning + ")";
  return text;
}

}  // namespace

BrokerSession::BrokerSession(const SessionOptions& options)
    : options_(options),
      name_(options.name.c_str(), options.name.c_str() + options.name.size() + 1),
      client_(name_.data()) {}

BrokerSession::~BrokerSession() {
  if (connected_ && inStep_) client_.Disconnect();
  std::error_code ignored;
  if (!replayLog_.empty()) std::filesystem::remove(replayLog_, ignored);
}

void BrokerSession::fail(const std::string& what, int code) {
  // Unless the library refused the command before sending any of it, the broker may still
  // be waiting for the rest: nothing more is sent on this conversation.
  if (isLibraryFailure(code) && code != kArgumentRefused && code != kNoShiftData) {
    inStep_ = false;
  }
  std::string why;
  if (sendOrReceiveFailed(code) && !replayLog_.empty()) {
    // The replaying broker closes a conversation where it parts from the recording, after
    // the line that says where.
    for (const std::string& line : replayProblems()) why += "\n  the broker: " + line;
  }
  if (sendOrReceiveFailed(code) && why.empty()) {
    // The library's own line says which it was; a wait that ran out ended the conversation.
    why = "; the library waits " + timeout_ + " s for an answer (" + kTimeoutVariable + ")";
  }
  throw ToolError(what + ": the library reported " + codeText(code) + why);
}

void BrokerSession::connect() {
  if (options_.debug) client_.Set_Debug_On();
  // Set before connecting, so that the log holds the search for the broker too.
  if (!options_.logFile.empty()) {
    const int logged = client_.Set_Log_File(options_.logFile.c_str());
    if (logged == -1) throw ToolError("cannot create the log file " + options_.logFile);
    if (logged != 0) fail("setting the log file " + options_.logFile, logged);
  }
  if (!options_.faultPlan.empty())
    useBrokerFile("--faults", "TAPBROKER_FAULTS", options_.faultPlan);
  if (!options_.replayFile.empty()) startReplay();
  // The library records every conversation that a Connect starts while this is set.
  if (!options_.recordFile.empty())
    setEnvironment("TAPBROKER_CLIENT_RECORD", options_.recordFile);
  const char* installDir = options_.installDir.empty() ? nullptr : options_.installDir.c_str();
  timeout_ = answerTimeout();
  const int result = client_.Connect(nullptr, nullptr, installDir);
  if (result != 0) {
    std::string what = "connecting to the broker on 127.0.0.1:4001";
    if (sendOrReceiveFailed(result)) {
      throw ToolError("nothing on 127.0.0.1:4001 answered the introduction within " +
                      timeout_ + " s (" + kTimeoutVariable +
                      "), or it closed the connection: the program that holds the port is "
                      "not a broker, or does not answer; stop it and try again (the library "
                      "reported " + codeText(result) + ")");
    }
    std::string running;
    if (result == tapbroker::results::kUnreachable && brokerProcessRunning(&running)) {
      // The library starts no second broker while one runs, whatever port that one serves.
      what += " (a tapbroker.exe from " + running +
              " runs but does not answer there, so none was started)";
    } else if (result == tapbroker::results::kUnreachable) {
      what += " (no tapbroker.exe could be started from " +
              (installDir ? options_.installDir : std::string("this program's directory")) +
              refusedFile("--faults", "fault plan", options_.faultPlan) +
              refusedFile("--replay", "transcript", options_.replayFile) + ")";
    }
    throw ToolError(what + ": the library reported " + codeText(result));
  }
  connected_ = true;
  inStep_ = true;
}

void BrokerSession::useBrokerFile(const char* option, const char* variable,
                                  const std::string& file) {
  std::string running, id;
  if (brokerProcessRunning(&running, &id)) {
    throw ToolError(std::string(option) +
                    " is for a broker that tapclient starts, but a tapbroker.exe from " +
                    running + " (process " + id + ") runs already: stop it first");
  }
  // The library starts the broker without arguments; it inherits the environment.
  setEnvironment(variable, std::filesystem::absolute(file).string());
}

void BrokerSession::startReplay() {
  std::string running, id;
  if (brokerProcessRunning(&running, &id)) {
    throw ToolError("--replay is for a broker that tapclient starts, but a tapbroker.exe from " +
                    running + " (process " + id + ") runs already: stop it first");
  }
  // Started here rather than by Connect, so that what it says about the replay (on its
  // standard error, which a broker the library starts does not have) reaches the user.
  const std::filesystem::path broker =
      std::filesystem::path(options_.installDir.empty() ? programDirectory()
                                                        : options_.installDir) /
      "tapbroker.exe";
  std::random_device random;
  char name[48];
  std::snprintf(name, sizeof name, "tapclient-replay-%08x%08x.txt", random(), random());
  std::error_code ignored;
  const std::string log = (std::filesystem::temp_directory_path(ignored) / name).string();
  const std::string transcript = std::filesystem::absolute(options_.replayFile).string();
  if (!startDetached(broker.string(), {"--trace", "--replay", transcript}, log))
    throw ToolError("cannot start " + broker.string() + " to replay " + options_.replayFile);
  replayLog_ = log;
  // Connect must find this broker listening: were it gone, Connect would start a simulator.
  for (int wait = 0; wait < 100; ++wait) {
    if (readFile(log).find("listening on") != std::string::npos) return;
    if (wait > 5 && !brokerProcessRunning()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::string said = readFile(log);
  said.erase(said.find_last_not_of('\n') + 1);
  throw ToolError("the broker started to replay " + options_.replayFile +
                  " did not come up" + (said.empty() ? std::string() : ": " + said));
}

std::vector<std::string> BrokerSession::replayProblems() const {
  std::vector<std::string> lines;
  std::istringstream text(readFile(replayLog_));
  for (std::string line; std::getline(text, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();  // a Windows broker's CR LF
    if (line.find(" replay of conversation ") != std::string::npos ||
        line.find(" refused: the transcript ") != std::string::npos)
      lines.push_back(printable::escaped(line));
  }
  return lines;
}

void BrokerSession::openCable(const char* cable, const char* port) {
  // No settings of our own: the broker keeps its defaults (setting 0 would set the TCK).
  const int opened = client_.Send(4, cable, port, 0);
  if (isLibraryFailure(opened)) fail("opening the cable", opened);
  if (opened != 0) {
    throw ToolError("the broker refused to open cable \"" + std::string(cable) + "\" on " +
                    port + " (answer " + std::to_string(opened) + ")");
  }
  const int session = client_.Send(33);
  if (isLibraryFailure(session)) fail("opening the device session", session);
  if (session != 0) {
    throw ToolError("the broker refused the device session (answer " + std::to_string(session) +
                    ")");
  }
}

void BrokerSession::disconnect() {
  if (!connected_) return;
  connected_ = false;
  const int result = client_.Disconnect();
  if (result != 0) fail("disconnecting", result);
}

int BrokerSession::checked(const std::string& what, int result) {
  const int status = client_.GetClientStatus();
  if (isLibraryFailure(status)) fail(what, status);
  if (isLibraryFailure(result)) fail(what, result);
  return result;
}

void BrokerSession::expect(const std::string& what, int result, int expected) {
  if (checked(what, result) != expected) {
    throw ToolError(what + ": the broker answered " + std::to_string(result) + ", expected " +
                    std::to_string(expected));
  }
}

std::string BrokerSession::readText(const std::string& what) {
  char* text = nullptr;
  const int result = client_.Read(text);
  if (result != 0) fail(what, result);
  return printable::escaped(text);
}

std::vector<std::string> BrokerSession::readList(const std::string& what) {
  std::vector<std::string> items;
  const int result = client_.Read(items);
  if (result != 0) fail(what, result);
  for (std::string& item : items) item = printable::escaped(item);
  return items;
}

int BrokerSession::readInt(const std::string& what) {
  int value = 0;
  const int result = client_.Read(value);
  if (result != 0) fail(what, result);
  return value;
}

void BrokerSession::takeReadBack(const std::string& what, std::vector<unsigned char>& out,
                                 int bitCount) {
  out.assign(static_cast<std::size_t>(bitCount > 0 ? (bitCount + 7) / 8 : 0), 0);
  // The read-back is not a conversation step: a failure here leaves the broker in step.
  const int result = client_.GetTDO(reinterpret_cast<char*>(out.data()), bitCount);
  if (result != 0) {
    throw ToolError(what + ": the library reported " + codeText(result));
  }
}

}  // namespace tapclient
