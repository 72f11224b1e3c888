#include "broker/program/options.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "broker/common/version.h"
#include "broker/program/chain_config.h"
#include "broker/serving/fault_plan.h"
#include "broker/serving/replay.h"
#include "common/printable.h"

namespace broker {
namespace {

constexpr const char* kIdleExitVariable = "TAPBROKER_IDLE_EXIT";
constexpr const char* kFaultPlanVariable = "TAPBROKER_FAULTS";
constexpr const char* kReplayVariable = "TAPBROKER_REPLAY";
constexpr const char* kChainVariable = "TAPBROKER_CHAIN";
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

// A decimal whole number from `low` to `high`, and nothing else.
bool wholeNumber(std::string_view text, int low, int high, int& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && value >= low &&
         value <= high;
}

// The check of a numeric option: CLI11's own range check would call a word "not in range".
CLI::Validator wholeNumberFrom(int low, int high) {
  return CLI::Validator(
      [low, high](std::string& text) -> std::string {
        int value = 0;
        if (wholeNumber(text, low, high, value)) return {};
        return "\"" + printable::escaped(text) + "\" is not a whole number from " +
               std::to_string(low) + " to " + std::to_string(high);
      },
      "");
}

// The environment's file when the command line names none: the broker that the library
// starts gets no command line but inherits the application's environment.
CLI::Option* fileFromEnvironment(CLI::Option* option, const char* variable) {
  return option->envname(variable)->option_text("FILE");
}

// Whether `file` is the one that `variable` names: the broker was most likely started by
// the library, with nobody to read its stderr.
bool namedByEnvironment(const std::string& file, const char* variable) {
  const char* named = std::getenv(variable);
  return !file.empty() && named != nullptr && file == named;
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
  if (wholeNumber(text, 0, kMaxIdleExit, seconds)) return seconds;
  std::fprintf(stderr, "%s: ignoring %s=%s: not a number of seconds\n", kProgramName,
               kIdleExitVariable, printable::escaped(text).c_str());
  return kDefaultIdleExit;
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
      ->check(wholeNumberFrom(0, kMaxIdleExit));
  app.add_option("--port", port,
                 "Listen on PORT instead of 4001 (for testing;\n0: any free port).")
      ->option_text("PORT")
      ->check(wholeNumberFrom(0, 65535));
  app.add_option("--max-connections", server.maxConnections,
                 "Serve at most COUNT connections at once (for testing;\ndefault: as many as "
                 "the process may open descriptors for).\nAt the limit, the connection that "
                 "has waited longest between\ncommands makes room for a new one.")
      ->option_text("COUNT")
      ->check(wholeNumberFrom(0, 1000000));
  app.add_option("--memory-budget", server.memoryBudgetMiB,
                 "What all conversations together may hold for the data\nof their transfers "
                 "(and the longest transfer taken),\nin MiB (default 48; 0: no budget).\n"
                 "A transfer beyond it is refused.")
      ->option_text("MIB")
      ->check(wholeNumberFrom(0, 1 << 20));
  std::string replay;
  auto* faultOption = fileFromEnvironment(
      app.add_option("--faults", faults,
                     "Inject the faults that FILE plans (default: the file\nthat " +
                         std::string(kFaultPlanVariable) + " names, when set)."),
      kFaultPlanVariable);
  app.add_option("--record", options.recordFile,
                 "Append every conversation to FILE as a transcript, one\nblock per "
                 "connection when it ends.")
      ->option_text("FILE");
  auto* replayOption = fileFromEnvironment(
      app.add_option("--replay", replay,
                     "Serve the conversations that the transcript FILE holds\ninstead of the "
                     "simulated cable (default: the file that\n" +
                         std::string(kReplayVariable) +
                         " names, when set). Exits once every one has\nbeen served: 0 if "
                         "each went as recorded, else 3."),
      kReplayVariable);
  replayOption->excludes(faultOption);
  fileFromEnvironment(app.add_option("chain.json", chain,
                                     "JSON description of the JTAG chain and the flash\n"
                                     "sizes (optional; default: the file that\n" +
                                         std::string(kChainVariable) + " names, when set)."),
                      kChainVariable)
      ->option_text(" ")
      ->excludes(replayOption);

  // The variables that named the files given: a refusal of one of them is left in the
  // error file too.
  const auto fromEnvironment = [&] {
    std::string named;
    for (const auto& [file, variable] : {std::pair{&faults, kFaultPlanVariable},
                                         {&replay, kReplayVariable},
                                         {&chain, kChainVariable}}) {
      if (namedByEnvironment(*file, variable))
        named += (named.empty() ? "" : ", ") + std::string(variable);
    }
    return named;
  };
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::string help = app.help();
    help.erase(help.find_last_not_of('\n') + 1);
    return stop(0, help);
  } catch (const CLI::CallForVersion& version) {
    return stop(0, version.what());
  } catch (const CLI::ParseError& error) {
    ParsedOptions refused = stop(2, printable::escaped(error.what()));
    // Two files that exclude each other, one or both from the environment.
    const std::string named = error.get_name() == "ExcludesError" ? fromEnvironment() : "";
    if (!named.empty()) {
      refused.message += " (as the environment's " + named + " ask)";
      refused.environmentFile = true;
    }
    return refused;
  }
  server.port = static_cast<std::uint16_t>(port);
  // Each file read with the same care; a refusal names what the file was meant to be.
  const auto refuse = [](const std::string& what, const std::string& error,
                         const std::string& file, const char* variable) {
    ParsedOptions refused = stop(2, what + " " + error);
    refused.environmentFile = namedByEnvironment(file, variable);
    return refused;
  };
  std::string error;
  if (!faults.empty() && !FaultPlan::load(faults, server.faults, error)) {
    return refuse("fault plan", error, faults, kFaultPlanVariable);
  }
  if (!replay.empty()) {
    server.replay = std::make_shared<Replay>();
    if (!Replay::load(replay, *server.replay, error))
      return refuse("transcript", error, replay, kReplayVariable);
    const char* idleVariable = std::getenv(kIdleExitVariable);
    const bool idleChosen =
        app.count("--idle-exit") > 0 || (idleVariable != nullptr && *idleVariable != '\0');
    if (!idleChosen) server.idleExitSeconds = kReplayIdleExit;
  }
  server.chain = defaultChain();
  if (!chain.empty() && !loadChainFile(chain, server.chain, server.flash, error)) {
    return refuse("chain description", error, chain, kChainVariable);
  }
  parsed.run = true;
  return parsed;
}

}  // namespace broker
