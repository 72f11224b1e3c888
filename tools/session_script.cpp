// `tapclient session [FILE]`: many commands in one conversation, one a line in send's
// syntax, so that a bench test is a script (and, with --record and --replay, a test that
// runs without the cable). The whole script is read and checked before anything is sent:
// a line that cannot be sent as written costs nothing on the wire.
#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "commands.h"
#include "send_command.h"
#include "tool_error.h"

namespace tapclient {
namespace {

struct ScriptLine {
  int number = 0;  // in the file, from 1
  std::string text;
  int command = 0;
  std::vector<TypedArgument> arguments;
  std::vector<ReadKind> reads;
  std::optional<int> expected;  // "= VALUE": the broker's answer must be this
};

// "N [ARGS...] [--read KIND]... [= VALUE]"; nothing for a blank line or a comment.
std::optional<ScriptLine> parseLine(const std::string& text, int number) {
  std::istringstream words(text);
  std::vector<std::string> tokens;
  for (std::string word; words >> word;) {
    if (word.front() == '#') break;
    tokens.push_back(word);
  }
  if (tokens.empty()) return std::nullopt;
  ScriptLine line;
  line.number = number;
  line.text = text.substr(text.find_first_not_of(" \t"));
  line.text.erase(line.text.find_last_not_of(" \t\r") + 1);
  line.command = static_cast<int>(
      numberArgument(tokens[0], "the command number", INT32_MIN, INT32_MAX));
  for (std::size_t i = 1; i < tokens.size(); ++i) {
    if (tokens[i] == "--read" || tokens[i] == "=") {
      if (i + 1 >= tokens.size()) throw UsageError(tokens[i] + " needs a value");
      if (tokens[i] == "--read") {
        line.reads.push_back(readKind(tokens[++i]));
      } else {
        line.expected = static_cast<int>(
            numberArgument(tokens[++i], "the expected answer", INT32_MIN, INT32_MAX));
      }
    } else if (!line.reads.empty() || line.expected) {
      throw UsageError("the arguments come before --read and =, not \"" + tokens[i] + "\"");
    } else {
      line.arguments.push_back(parseTypedArgument(tokens[i]));
    }
  }
  checkTypedArguments(line.command, line.arguments);
  return line;
}

std::vector<ScriptLine> readScript(std::istream& in, const std::string& name) {
  std::vector<ScriptLine> script;
  int number = 0;
  for (std::string text; std::getline(in, text);) {
    ++number;
    try {
      if (std::optional<ScriptLine> line = parseLine(text, number)) script.push_back(*line);
    } catch (const UsageError& error) {
      throw UsageError(name + ", line " + std::to_string(number) + ": " + error.what());
    }
  }
  if (in.bad()) throw ToolError("cannot read " + name);
  return script;
}

// One line of JSON; a broker's text that is not UTF-8 keeps its place as U+FFFD.
std::string jsonLine(const nlohmann::json& object) {
  return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// What one line did: the answer, the read-back and the further answers, in order.
struct Outcome {
  int result = 0;
  std::string readBack;  // hex; empty when the command left none
  std::vector<std::vector<std::string>> answers;  // one entry per --read, items of a list
};

Outcome runLine(BrokerSession& session, const ScriptLine& line) {
  const std::string what = "command " + std::to_string(line.command);
  Outcome outcome;
  outcome.result =
      session.checked(what, sendTyped(session.client(), line.command, line.arguments));
  if (line.expected && outcome.result != *line.expected) {
    throw ToolError(what + ": the broker answered " + std::to_string(outcome.result) +
                    ", expected " + std::to_string(*line.expected));
  }
  outcome.readBack = takeReadBack(session.client(), line.command, line.arguments);
  for (ReadKind kind : line.reads) {
    switch (kind) {
      case ReadKind::Int:
        outcome.answers.push_back({std::to_string(session.readInt(what + ", reading an int"))});
        break;
      case ReadKind::Text:
        outcome.answers.push_back({session.readText(what + ", reading a text")});
        break;
      case ReadKind::List:
        outcome.answers.push_back(session.readList(what + ", reading a list"));
        break;
    }
  }
  return outcome;
}

void printOutcome(const ScriptLine& line, const Outcome& outcome, bool json) {
  if (json) {
    nlohmann::json object = {{"line", line.number}, {"command", line.command},
                             {"result", outcome.result}};
    if (!outcome.readBack.empty()) object["tdo"] = outcome.readBack;
    if (!outcome.answers.empty()) object["answers"] = outcome.answers;
    std::printf("%s\n", jsonLine(object).c_str());
    return;
  }
  std::printf("%d\n", outcome.result);
  if (!outcome.readBack.empty()) std::printf("tdo %s\n", outcome.readBack.c_str());
  for (const std::vector<std::string>& answer : outcome.answers)
    for (const std::string& item : answer) std::printf("%s\n", item.c_str());
}

void printFailure(const ScriptLine& line, const std::string& message, bool json) {
  if (json) {
    const nlohmann::json object = {
        {"line", line.number}, {"command", line.command}, {"error", message}};
    std::printf("%s\n", jsonLine(object).c_str());
    return;
  }
  std::fflush(stdout);
  std::fprintf(stderr, "tapclient: line %d (%s): %s\n", line.number, line.text.c_str(),
               message.c_str());
}

}  // namespace

void configureSession(CLI::App& command, CommandLine& line) {
  command.add_option("FILE", line.operand, "The script (default: standard input).")
      ->type_name("");
  command.add_flag("--open", line.open,
                   "Open the cable and a device session first (commands 4\nand 33).");
  command.add_flag("--json", line.json, "Print each line's outcome as one JSON object.");
  command.add_flag("--keep-going", line.keepGoing,
                   "Go on after a line fails (the exit status still says\nso).");
}

int runSession(const CommandLine& commandLine, const SessionOptions& options) {
  const bool json = commandLine.json;
  std::vector<ScriptLine> script;
  if (commandLine.operand.empty() || commandLine.operand == "-") {
    script = readScript(std::cin, "standard input");
  } else {
    std::ifstream file(commandLine.operand);
    if (!file) throw ToolError("cannot read " + commandLine.operand + ": " + std::strerror(errno));
    script = readScript(file, commandLine.operand);
  }

  BrokerSession session(options);
  session.connect();
  if (commandLine.open) session.openCable();
  bool failed = false;
  for (const ScriptLine& line : script) {
    try {
      printOutcome(line, runLine(session, line), json);
    } catch (const ToolError& error) {
      printFailure(line, error.what(), json);
      failed = true;
      if (!commandLine.keepGoing) break;
    }
    std::fflush(stdout);
  }
  if (session.inStep()) session.disconnect();
  return failed ? kExitFailed : kExitOk;
}

}  // namespace tapclient
