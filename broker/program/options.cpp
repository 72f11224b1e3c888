#include "broker/program/options.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "broker/program/chain_config.h"
#include "broker/serving/fault_plan.h"
#include "broker/common/printable.h"
#include "broker/serving/replay.h"
#include "broker/common/version.h"

namespace broker {
namespace {

constexpr const char* kIdleExitVariable = "TAPBROKER_IDLE_EXIT";
constexpr const char* kFaultPlanVariable = "TAPBROKER_FAULTS";
constexpr const char* kReplayVariable = "TAPBROKER_REPLAY";
constexpr int kDefaultIdleExit = 300;
// A replay is over when its last conversation has been served; should a client not come
// back for a conversation of the recording, a few seconds tell.
constexpr int kReplayIdleExit = 5;
constexpr int kMaxIdleExit = 86400 * 365;

ParsedOptions stop(int exitCode, std::string message) {
  ParsedOptions parsed;
  parsed.exitCode = exitCode;
  parsed.message = std::move(message);
  return parsed;
}

// A broker that the client library starts gets no command line but inherits the
// environment: that is how tests make such a broker go away soon after them. A value that
// is not a number of seconds is ignored, with a word, rather than stopping a broker that
// nobody watches start.
int idleExitDefault() {
  const char* variable = std::getenv(kIdleExitVariable);
  if (variable == nullptr || *variable == '\0') return kDefaultIdleExit;
  const std::string_view text = variable;
  int seconds = -1;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
  if (error == std::errc() && end == text.data() + text.size() && seconds >= 0 &&
      seconds <= kMaxIdleExit) {
    return seconds;
  }
  std::fprintf(stderr, "%s: ignoring %s=%s: not a number of seconds\n", kProgramName,
               kIdleExitVariable, printable::escaped(text).c_str());
  return kDefaultIdleExit;
}

// The command line's FILE, else the one `variable` names; `fromEnvironment` says which.
void fileOrVariable(std::string& file, const char* variable, bool& fromEnvironment) {
  const char* named = std::getenv(variable);
  if (!file.empty() || named == nullptr || *named == '\0') return;
  file = named;
  fromEnvironment = true;
}

}  // namespace

ParsedOptions parseOptions(int argc, const char* const* argv) {
  CLI::App app(
      "The reference broker: serves tapbroker_client conversations on 127.0.0.1 with a\n"
      "simulated programming cable (a JTAG chain, a pump-data flash, an I2C EEPROM and an "
      "SPI flash).",
      kProgramName);
  app.set_help_flag("-h,--help", "Show this help and exit.");
  app.set_version_flag("-v,--version", std::string(kProgramName) + " " + kBrokerVersion,
                       "Show the version and exit.");
  ParsedOptions parsed;
  Options& options = parsed.options;
  ServerConfig& server = options.server;
  int port = server.port;
  server.idleExitSeconds = idleExitDefault();
  std::string faults;
  std::string chain;
  app.add_flag("--trace", options.trace, "Write a transcript of every exchange to stderr.");
  app.add_option("--idle-exit", server.idleExitSeconds,
                 "Exit after SECONDS without any connection (0: never;\ndefault 300, or " +
                     std::string(kIdleExitVariable) + " when set).")
      ->option_text("SECONDS")
      ->check(CLI::Range(0, kMaxIdleExit));
  app.add_option("--port", port,
                 "Listen on PORT instead of 4001 (for testing;\n0: any free port).")
      ->option_text("PORT")
      ->check(CLI::Range(0, 65535));
  app.add_option("--max-connections", server.maxConnections,
                 "Serve at most COUNT connections at once (for testing;\ndefault: as many as "
                 "the process may open descriptors for).\nAt the limit, the connection that "
                 "has waited longest between\ncommands makes room for a new one.")
      ->option_text("COUNT")
      ->check(CLI::Range(0, 1000000));
  app.add_option("--memory-budget", server.memoryBudgetMiB,
                 "What all conversations together may hold for the data\nof their transfers, "
                 "in MiB (default 48; 0: no budget).\nA transfer beyond it is refused.")
      ->option_text("MIB")
      ->check(CLI::Range(0, 1 << 20));
  std::string replay;
  auto* faultOption =
      app.add_option("--faults", faults,
                     "Inject the faults that FILE plans (default: the file\nthat " +
                         std::string(kFaultPlanVariable) + " names, when set).")
          ->option_text("FILE");
  app.add_option("--record", options.recordFile,
                 "Append every conversation to FILE as a transcript, one\nblock per "
                 "connection when it ends.")
      ->option_text("FILE");
  auto* replayOption =
      app.add_option("--replay", replay,
                     "Serve the conversations that the transcript FILE holds\ninstead of the "
                     "simulated cable (default: the file that\n" +
                         std::string(kReplayVariable) +
                         " names, when set). Exits once every one has\nbeen served: 0 if "
                         "each went as recorded, else 3.")
          ->option_text("FILE")
          ->excludes(faultOption);
  app.add_option("chain.json", chain, "JSON description of the JTAG chain (optional).")
      ->option_text(" ")
      ->excludes(replayOption);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::string help = app.help();
    help.erase(help.find_last_not_of('\n') + 1);
    return stop(0, help);
  } catch (const CLI::CallForVersion& version) {
    return stop(0, version.what());
  } catch (const CLI::ParseError& error) {
    return stop(2, printable::escaped(error.what()));
  }
  server.port = static_cast<std::uint16_t>(port);
  bool faultsFromEnvironment = false;
  bool replayFromEnvironment = false;
  fileOrVariable(replay, kReplayVariable, replayFromEnvironment);
  fileOrVariable(faults, kFaultPlanVariable, faultsFromEnvironment);
  if (!replay.empty() && !faults.empty()) {
    // Only one of them on the command line: CLI11 has refused both already.
    ParsedOptions refused =
        stop(2, "a replay serves recorded conversations and takes no fault plan");
    refused.environmentFile = replayFromEnvironment || faultsFromEnvironment;
    return refused;
  }
  if (!faults.empty()) {
    std::string error;
    if (!FaultPlan::load(faults, server.faults, error)) {
      ParsedOptions refused = stop(2, "fault plan " + error);
      refused.environmentFile = faultsFromEnvironment;
      return refused;
    }
  }
  if (!replay.empty()) {
    server.replay = std::make_shared<Replay>();
    std::string error;
    if (!Replay::load(replay, *server.replay, error)) {
      ParsedOptions refused = stop(2, "transcript " + error);
      refused.environmentFile = replayFromEnvironment;
      return refused;
    }
    const char* idleVariable = std::getenv(kIdleExitVariable);
    const bool idleChosen = app.count("--idle-exit") > 0 ||
                            (idleVariable != nullptr && *idleVariable != '\0');
    if (!idleChosen) server.idleExitSeconds = kReplayIdleExit;
  }
  server.chain = defaultChain();
  if (!chain.empty()) {
    std::string error;
    if (!loadChainFile(chain, server.chain, error)) {
      return stop(2, "chain description " + error);
    }
  }
  parsed.run = true;
  return parsed;
}

}  // namespace broker
