// The subcommands of tapclient. Each adds its own options and arguments to its part of the
// command line (the global ones are already there), bound to the fields of one
// CommandLine, and runs from what was parsed.
#ifndef TOOLS_COMMANDS_H
#define TOOLS_COMMANDS_H

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "broker_session.h"

namespace tapclient {

// What the subcommands' own options and arguments hold once parsed; each fills its own.
struct CommandLine {
  std::string operand;            // send's N, read's KIND, program's and session's FILE
  std::vector<std::string> rest;  // send's ARGS
  bool open = false;              // send --open
  std::vector<std::string> reads; // send --read, in order
  std::string size = "192";       // demo --size, KiB
  bool stopBroker = false;        // demo --stop-broker
  std::string address = "0";      // program --address
  bool json = false;              // session --json
  bool keepGoing = false;         // session --keep-going
};

enum class ReadKind { Int, Text, List };
// "int", "text" or "list"; throws UsageError otherwise.
ReadKind readKind(const std::string& word);

struct Subcommand {
  const char* name;
  const char* summary;  // one line for the overall help
  const char* description;
  void (*configure)(CLI::App& command, CommandLine& line);
  // Returns the exit status; failures are thrown as ToolError.
  int (*run)(const CommandLine& line, const SessionOptions& session);
};

void configureDemo(CLI::App& command, CommandLine& line);
int runDemo(const CommandLine& line, const SessionOptions& session);
void configureSend(CLI::App& command, CommandLine& line);
int runSend(const CommandLine& line, const SessionOptions& session);
void configureRead(CLI::App& command, CommandLine& line);
int runRead(const CommandLine& line, const SessionOptions& session);
void configureScan(CLI::App& command, CommandLine& line);
int runScan(const CommandLine& line, const SessionOptions& session);
void configureProgram(CLI::App& command, CommandLine& line);
int runProgram(const CommandLine& line, const SessionOptions& session);
void configureSession(CLI::App& command, CommandLine& line);
int runSession(const CommandLine& line, const SessionOptions& session);

// Parses an option's or argument's number (decimal or 0x hex) within [low, high].
long long numberArgument(const std::string& text, const char* what, long long low,
                         long long high);

}  // namespace tapclient

#endif  // TOOLS_COMMANDS_H
