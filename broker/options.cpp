#include "broker/options.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <cstdio>

#include "broker/chain_config.h"
#include "broker/fault_plan.h"
#include "broker/version.h"

namespace broker {
namespace {

constexpr const char* kIdleExitVariable = "TAPBROKER_IDLE_EXIT";
constexpr const char* kFaultPlanVariable = "TAPBROKER_FAULTS";
constexpr int kMaxIdleExit = 86400 * 365;

ParsedOptions stop(int exitCode, std::string message) {
  ParsedOptions parsed;
  parsed.exitCode = exitCode;
  parsed.message = std::move(message);
  return parsed;
}

// A whole number from `low` to `high`, or false.
bool readNumber(const QString& text, int low, int high, int& value) {
  bool ok = false;
  const int number = text.toInt(&ok, 10);
  if (!ok || number < low || number > high) return false;
  value = number;
  return true;
}

}  // namespace

ParsedOptions parseOptions(const QStringList& arguments) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      "The reference broker: serves tapbroker_client conversations on 127.0.0.1 with a "
      "simulated programming cable (a JTAG chain, a pump-data flash, an I2C EEPROM and an "
      "SPI flash).");
  const QCommandLineOption help({"h", "help"}, "Show this help and exit.");
  const QCommandLineOption version({"v", "version"}, "Show the version and exit.");
  const QCommandLineOption trace("trace", "Write a transcript of every exchange to stderr.");
  // A broker that the client library starts gets no command line but inherits the
  // environment: that is how tests make such a broker go away soon after them.
  QString idleDefault = "300";
  int number = 0;
  const QString fromEnvironment = qEnvironmentVariable(kIdleExitVariable);
  if (readNumber(fromEnvironment, 0, kMaxIdleExit, number)) {
    idleDefault = fromEnvironment;
  } else if (!fromEnvironment.isEmpty()) {
    std::fprintf(stderr, "%s: ignoring %s=%s: not a number of seconds\n", kProgramName,
                 kIdleExitVariable, qPrintable(fromEnvironment));
  }
  const QCommandLineOption idleExit("idle-exit",
                                    "Exit after <seconds> without any connection (0: never; "
                                    "default 300, or " +
                                        QString(kIdleExitVariable) + " when set).",
                                    "seconds", idleDefault);
  const QCommandLineOption port("port",
                                "Listen on <port> instead of 4001 (for testing; 0: any free "
                                "port).",
                                "port", "4001");
  const QCommandLineOption maxConnections(
      "max-connections",
      "Serve at most <count> connections at once (for testing; default: as many as the "
      "process may open descriptors for). At the limit, the connection that has waited "
      "longest between commands makes room for a new one.",
      "count", "0");
  const QCommandLineOption faults("faults",
                                  "Inject the faults that <file> plans (default: the file "
                                  "that " + QString(kFaultPlanVariable) +
                                      " names, when set).",
                                  "file", qEnvironmentVariable(kFaultPlanVariable));
  parser.addOptions({help, version, trace, idleExit, port, maxConnections, faults});
  parser.addPositionalArgument("chain", "JSON description of the JTAG chain (optional).",
                               "[chain.json]");

  if (!parser.parse(arguments)) return stop(2, parser.errorText().toStdString());
  if (parser.isSet(help)) return stop(0, parser.helpText().toStdString());
  if (parser.isSet(version)) {
    return stop(0, std::string(kProgramName) + " " + kBrokerVersion);
  }

  ParsedOptions parsed;
  Options& options = parsed.options;
  options.trace = parser.isSet(trace);
  if (!readNumber(parser.value(idleExit), 0, kMaxIdleExit, options.server.idleExitSeconds)) {
    return stop(2, "--idle-exit takes a number of seconds, 0 or more");
  }
  if (!readNumber(parser.value(port), 0, 65535, number)) {
    return stop(2, "--port takes a port number from 0 to 65535");
  }
  options.server.port = static_cast<std::uint16_t>(number);
  if (!readNumber(parser.value(maxConnections), 0, 1000000, options.server.maxConnections)) {
    return stop(2, "--max-connections takes a count from 1 to 1000000 (0: no limit of its own)");
  }
  if (const QString plan = parser.value(faults); !plan.isEmpty()) {
    std::string error;
    if (!FaultPlan::load(plan.toStdString(), options.server.faults, error)) {
      return stop(2, "fault plan " + error);
    }
  }
  const QStringList positional = parser.positionalArguments();
  if (positional.size() > 1) return stop(2, "at most one chain description may be given");
  options.server.chain = defaultChain();
  if (!positional.isEmpty()) {
    options.chainFile = positional.first();
    std::string error;
    if (!loadChainFile(options.chainFile, options.server.chain, error)) {
      return stop(2, "chain description " + error);
    }
  }
  parsed.run = true;
  return parsed;
}

}  // namespace broker
