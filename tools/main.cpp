// tapclient: the command-line front end of tapbroker_client. `tapclient demo` shows what the
// library does; the other subcommands script a broker or poke at it by hand.
#include <QCoreApplication>
#include <QStringList>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "commands.h"
#include "tool_error.h"

#ifndef TAPCLIENT_VERSION
#define TAPCLIENT_VERSION "0.0.0"
#endif

namespace tapclient {
namespace {

const Subcommand kSubcommands[] = {
    {"demo", "", "Tour the library against the simulated cable (start here).",
     "Connects (starting the broker when none runs), opens the cable, scans the JTAG chain, "
     "programs and verifies a generated flash image, round-trips the I2C EEPROM and the SPI "
     "flash, and prints what it all took.",
     configureDemo, runDemo},
    {"send", "N [ARGS...]", "Send one numbered command with typed arguments.",
     "Sends command N with its arguments and prints the integer result. Each tapclient "
     "invocation is a conversation of its own, so a command's further answers are read in "
     "the same invocation, with --read.",
     configureSend, runSend},
    {"read", "int|text|list", "Read the pending answer of a fresh conversation (always 0).",
     "Connects and reads the pending answer once. In a fresh conversation that is the "
     "answer to the introduction, 0, as an integer, a text or a one-item list: to read a "
     "command's answers, use send --read (e.g. send 1 --read text, send --open 8 --read "
     "list).",
     configureRead, runRead},
    {"scan", "", "Print the JTAG chain: devices, IDCODEs, IR lengths.",
     "Opens the cable and a device session, scans the JTAG chain and prints its devices.",
     configureScan, runScan},
    {"program", "FILE", "Program an image into the flash and verify it.",
     "Erases the 4 KiB sectors the image covers, programs it through pump data and verifies "
     "it by reading it back.",
     configureProgram, runProgram},
};

const Subcommand* findSubcommand(const QString& name) {
  for (const Subcommand& subcommand : kSubcommands) {
    if (name == subcommand.name) return &subcommand;
  }
  return nullptr;
}

struct GlobalOptions {
  QCommandLineOption debug{"debug", "Post the library's messages to standard error."};
  QCommandLineOption log{"log", "Log the library's messages to <file>.", "file"};
  QCommandLineOption installDir{
      "install-dir", "Start the broker from <dir> instead of this program's directory.", "dir"};
  QCommandLineOption faults{
      "faults", "Start the broker with the fault plan in <file> (none may run yet).", "file"};
  QCommandLineOption record{
      "record", "Append the command's conversations to the transcript <file>.", "file"};
  void addTo(QCommandLineParser& parser) const {
    parser.addOptions({debug, log, installDir, faults, record});
  }
};

std::string overallHelp(const QString& program) {
  std::string text = "Usage: " + program.toStdString() +
                     " [--debug] [--log FILE] [--install-dir DIR] [--faults FILE] "
                     "[--record FILE] COMMAND [ARGS...]\n\n"
                     "Drives a programming cable through tapbroker.exe with the "
                     "tapbroker_client library.\n\nCommands:\n";
  for (const Subcommand& subcommand : kSubcommands) {
    char line[160];
    std::snprintf(line, sizeof line, "  %-9s %s\n", subcommand.name, subcommand.summary);
    text += line;
  }
  text +=
      "\nGlobal options (before or after COMMAND):\n"
      "  --debug            Post the library's messages to standard error.\n"
      "  --log FILE         Log the library's messages to FILE.\n"
      "  --install-dir DIR  Start the broker from DIR instead of this program's directory.\n"
      "  --faults FILE      Start the broker with the fault plan in FILE (docs/broker.md);\n"
      "                     no broker may run yet.\n"
      "  --record FILE      Append the command's conversations to the transcript FILE\n"
      "                     (docs/broker.md, Transcripts).\n"
      "  -h, --help         Show this help; COMMAND --help shows a command's own.\n"
      "  -v, --version      Show the version.\n";
  return text;
}

int run(const QStringList& arguments) {
  const QString program = arguments.isEmpty() ? QString("tapclient") : arguments.first();
  const GlobalOptions global;
  QCommandLineParser first;
  // Everything from the command's name on belongs to the command's own parser.
  first.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
  const QCommandLineOption help({"h", "help"}, "Show this help.");
  const QCommandLineOption version({"v", "version"}, "Show the version.");
  first.addOptions({help, version});
  global.addTo(first);
  first.addPositionalArgument("command", "The command to run.");
  if (!first.parse(arguments)) throw UsageError(first.errorText().toStdString());
  if (first.isSet(version)) {
    std::printf("tapclient %s\n", TAPCLIENT_VERSION);
    return kExitOk;
  }
  QStringList rest = first.positionalArguments();
  // "tapclient help [COMMAND]" is "tapclient [COMMAND] --help".
  bool wantHelp = first.isSet(help);
  if (!rest.isEmpty() && rest.first() == "help") {
    rest.removeFirst();
    wantHelp = true;
  }
  if (rest.isEmpty()) {
    std::fputs(overallHelp(program).c_str(), wantHelp ? stdout : stderr);
    return wantHelp ? kExitOk : kExitUsage;
  }
  const Subcommand* subcommand = findSubcommand(rest.first());
  if (subcommand == nullptr) {
    throw UsageError("unknown command \"" + rest.first().toStdString() +
                     "\" (commands: demo, send, read, scan, program)");
  }

  QCommandLineParser parser;
  parser.setApplicationDescription(subcommand->description);
  parser.addOption(help);
  global.addTo(parser);
  // The command's name stands first among the positional arguments, so that the usage
  // line reads "tapclient send [options] N [ARGS...]".
  parser.addPositionalArgument(subcommand->name, subcommand->summary, subcommand->name);
  subcommand->configure(parser);
  QStringList commandArguments{program};
  commandArguments.append(rest);
  if (!parser.parse(commandArguments)) throw UsageError(parser.errorText().toStdString());
  if (wantHelp || parser.isSet(help)) {
    std::fputs(parser.helpText().toStdString().c_str(), stdout);
    return kExitOk;
  }

  SessionOptions options;
  options.debug = first.isSet(global.debug) || parser.isSet(global.debug);
  const auto valueOf = [&](const QCommandLineOption& option) {
    return (parser.isSet(option) ? parser.value(option) : first.value(option)).toStdString();
  };
  options.logFile = valueOf(global.log);
  options.installDir = valueOf(global.installDir);
  options.faultPlan = valueOf(global.faults);
  // The library records every conversation that a Connect starts while this is set.
  const std::string record = valueOf(global.record);
  if (!record.empty()) ::setenv("TAPBROKER_CLIENT_RECORD", record.c_str(), 1);
  return subcommand->run(parser, parser.positionalArguments().mid(1), options);
}

}  // namespace
}  // namespace tapclient

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  QCoreApplication::setApplicationName("tapclient");
  QCoreApplication::setApplicationVersion(TAPCLIENT_VERSION);
  try {
    return tapclient::run(QCoreApplication::arguments());
  } catch (const tapclient::UsageError& error) {
    std::fflush(stdout);
    std::fprintf(stderr,
                 "tapclient: %s\nRun \"tapclient --help\" or \"tapclient COMMAND --help\" "
                 "for the usage.\n",
                 error.what());
    return error.exitStatus();
  } catch (const tapclient::ToolError& error) {
    std::fflush(stdout);
    std::fprintf(stderr, "tapclient: %s\n", error.what());
    return error.exitStatus();
  } catch (const std::exception& error) {
    std::fflush(stdout);
    std::fprintf(stderr, "tapclient: %s\n", error.what());
    return tapclient::kExitFailed;
  }
}
