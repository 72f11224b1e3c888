// tapclient: the command-line front end of tapbroker_client. `tapclient demo` shows what the
// library does; the other subcommands script a broker or poke at it by hand.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <exception>

#include "commands.h"
#include "host.h"
#include "tool_error.h"

#ifndef TAPCLIENT_VERSION
#define TAPCLIENT_VERSION "0.0.0"
#endif

namespace tapclient {
namespace {

// The descriptions are printed as written: their line breaks keep them within 80 columns.
const Subcommand kSubcommands[] = {
    {"demo", "Tour the library against the simulated cable (start here).",
     "Connects (starting the broker when none runs), opens the cable, scans the JTAG\n"
     "chain, programs and verifies a generated flash image, round-trips the I2C EEPROM\n"
     "and the SPI flash, and prints what it all took.",
     configureDemo, runDemo},
    {"send", "Send one numbered command with typed arguments.",
     "Sends command N with its arguments and prints the integer result. Each tapclient\n"
     "invocation is a conversation of its own, so a command's further answers are read\n"
     "in the same invocation, with --read.",
     configureSend, runSend},
    {"read", "Read the pending answer of a fresh conversation (always 0).",
     "Connects and reads the pending answer once. In a fresh conversation that is the\n"
     "answer to the introduction, 0, as an integer, a text or a one-item list: to read a\n"
     "command's answers, use send --read (e.g. send 1 --read text, send --open 8\n"
     "--read list).",
     configureRead, runRead},
    {"scan", "Print the JTAG chain: devices, IDCODEs, IR lengths.",
     "Opens the cable and a device session, scans the JTAG chain and prints its devices.",
     configureScan, runScan},
    {"program", "Program an image into the flash and verify it.",
     "Erases the 4 KiB sectors the image covers, programs it through pump data and\n"
     "verifies it by reading it back.",
     configureProgram, runProgram},
    {"session", "Run a script of commands in one conversation.",
     "Reads commands from FILE (or standard input), one a line as send takes them:\n"
     "N [ARGS...] [--read KIND]... [= VALUE]. Arguments are i:NUMBER, s:TEXT (one word)\n"
     "or data, d:HEX or d:@FILE; \"= VALUE\" is the answer the broker must give; #\n"
     "starts a comment. Each line's answer is printed on a line, a read-back as\n"
     "\"tdo HEX\". The script is checked whole before anything is sent; the first line\n"
     "that fails ends it (exit 1) unless --keep-going.",
     configureSession, runSession},
};

constexpr const char* kCommandList = "demo, send, read, scan, program, session";

// The options that every subcommand takes too, before or after its name: both places
// bind the same values.
void addGlobalOptions(CLI::App& app, SessionOptions& options) {
  app.add_flag("--debug", options.debug, "Post the library's messages to standard error.");
  app.add_option("--name", options.name,
                 "Introduce the client as NAME (default tapclient): a\nreplay serves the "
                 "conversations recorded under it.")
      ->option_text("NAME");
  app.add_option("--log", options.logFile, "Log the library's messages to FILE.")
      ->option_text("FILE");
  app.add_option("--install-dir", options.installDir,
                 "Start the broker from DIR instead of this program's\ndirectory.")
      ->option_text("DIR");
  app.add_option("--faults", options.faultPlan,
                 "Start the broker with the fault plan in FILE\n(docs/broker.md); no broker "
                 "may run yet.")
      ->option_text("FILE");
  app.add_option("--replay", options.replayFile,
                 "Start a broker that replays the transcript FILE\n(docs/broker.md, "
                 "Transcripts); no broker may run yet.")
      ->option_text("FILE");
  app.add_option("--record", options.recordFile,
                 "Append the command's conversations to the transcript\nFILE (docs/broker.md, "
                 "Transcripts).")
      ->option_text("FILE");
}

// Says, when the command is over (whether it succeeded or not), that a broker started with
// a fault plan keeps it for every later client, or that one started to replay a transcript
// is still waiting for conversations of it, and how to stop it.
class PlannedBrokerNote {
 public:
  PlannedBrokerNote(const SessionOptions& options, std::string& note)
      : plan_(options.faultPlan),
        replay_(options.replayFile),
        note_(note),
        ranBefore_(brokerProcessRunning()) {}
  ~PlannedBrokerNote() {
    std::string id;
    if ((plan_.empty() && replay_.empty()) || ranBefore_ || !brokerProcessRunning(nullptr, &id))
      return;
    note_ = "the broker started here (process " + id + ") " +
            (plan_.empty() ? "replays " + replay_ +
                                 " for the next clients, and exits by itself once each "
                                 "recorded conversation has been served, or 5 s after its "
                                 "last connection; "
                           : "keeps the fault plan " + plan_ +
                                 " for every client until it exits, by itself after 5 "
                                 "minutes without connections; ") +
            stopCommand(id) + " stops it now";
  }
  PlannedBrokerNote(const PlannedBrokerNote&) = delete;
  PlannedBrokerNote& operator=(const PlannedBrokerNote&) = delete;

 private:
  std::string plan_;
  std::string replay_;
  std::string& note_;
  bool ranBefore_;
};

std::string withoutTrailingNewlines(std::string text) {
  text.erase(text.find_last_not_of('\n') + 1);
  return text + "\n";
}

int run(int argc, char** argv, std::string& closingNote) {
  CLI::App app(
      "Drives a programming cable through tapbroker.exe with the tapbroker_client "
      "library.",
      "tapclient");
  app.set_help_flag("-h,--help", "Show this help; COMMAND --help shows a command's own.");
  app.set_version_flag("-v,--version", "tapclient " TAPCLIENT_VERSION, "Show the version.");
  app.footer(
      "Global options go before or after COMMAND. \"tapclient help COMMAND\" is\n"
      "\"tapclient COMMAND --help\".");
  SessionOptions options;
  addGlobalOptions(app, options);
  CommandLine line;
  for (const Subcommand& subcommand : kSubcommands) {
    CLI::App* command = app.add_subcommand(subcommand.name, subcommand.summary);
    command->footer(subcommand.description);
    command->set_help_flag("-h,--help", "Show this help.");
    addGlobalOptions(*command, options);
    subcommand.configure(*command, line);
  }

  // "tapclient help [COMMAND]" is "tapclient [COMMAND] --help".
  std::vector<std::string> arguments(argv + 1, argv + argc);
  const auto word = std::find_if(arguments.begin(), arguments.end(),
                                 [](const std::string& a) { return a.rfind('-', 0) != 0; });
  const bool wantHelp = word != arguments.end() && *word == "help";
  if (wantHelp) {
    arguments.erase(word);
    arguments.push_back("--help");
  }
  std::reverse(arguments.begin(), arguments.end());  // CLI11 takes them from the back

  try {
    app.parse(arguments);
  } catch (const CLI::ExtrasError& error) {
    // A word where the command's name belongs names none.
    const std::vector<std::string> extra = app.remaining();
    if (!app.get_subcommands().empty() || extra.empty() || extra.front().rfind('-', 0) == 0)
      throw UsageError(error.what());
    throw UsageError("unknown command \"" + extra.front() + "\" (commands: " + kCommandList +
                     ")");
  } catch (const CLI::CallForHelp&) {
    std::fputs(withoutTrailingNewlines(app.help()).c_str(), stdout);
    return kExitOk;
  } catch (const CLI::CallForVersion& version) {
    std::printf("%s\n", version.what());
    return kExitOk;
  } catch (const CLI::ParseError& error) {
    throw UsageError(error.what());
  }
  const std::vector<CLI::App*> chosen = app.get_subcommands();
  if (chosen.empty()) {
    std::fputs(withoutTrailingNewlines(app.help()).c_str(), stderr);
    return kExitUsage;
  }
  for (const Subcommand& subcommand : kSubcommands) {
    if (chosen.front()->get_name() != subcommand.name) continue;
    const PlannedBrokerNote note(options, closingNote);
    return subcommand.run(line, options);
  }
  return kExitUsage;  // not reached: every subcommand has its row
}

// Runs the command line; prints what went wrong and returns the exit status.
int runReporting(int argc, char** argv, std::string& closingNote) {
  try {
    return run(argc, argv, closingNote);
  } catch (const UsageError& error) {
    std::fflush(stdout);
    std::fprintf(stderr,
                 "tapclient: %s\nRun \"tapclient --help\" or \"tapclient COMMAND --help\" "
                 "for the usage.\n",
                 error.what());
    return error.exitStatus();
  } catch (const ToolError& error) {
    std::fflush(stdout);
    std::fprintf(stderr, "tapclient: %s\n", error.what());
    return error.exitStatus();
  } catch (const std::exception& error) {
    std::fflush(stdout);
    std::fprintf(stderr, "tapclient: %s\n", error.what());
    return kExitFailed;
  }
}

}  // namespace
}  // namespace tapclient

int main(int argc, char** argv) {
  // Said last, after any error, so that it is what the user reads at the end.
  std::string closingNote;
  const int status = tapclient::runReporting(argc, argv, closingNote);
  if (!closingNote.empty()) std::fprintf(stderr, "tapclient: %s\n", closingNote.c_str());
  return status;
}
