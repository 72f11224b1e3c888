// The subcommands for scripting and for poking at a broker by hand: send, read, scan and
// program. Each invocation is a conversation of its own, from Connect to Disconnect.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "chain_scan.h"
#include "commands.h"
#include "flash_programmer.h"
#include "send_command.h"
#include "terminal.h"
#include "tool_error.h"

namespace tapclient {
namespace {

// The largest image file read: well beyond any flash this tool programs, so that the
// size check below speaks, rather than a read without end.
constexpr std::size_t kMaxImageFile = std::size_t{16} << 20;

// Prints one answer: an integer or a text on its line, a list one item a line.
void readAndPrint(BrokerSession& session, ReadKind kind) {
  switch (kind) {
    case ReadKind::Int:
      std::printf("%d\n", session.readInt("reading an integer answer"));
      break;
    case ReadKind::Text:
      std::printf("%s\n", session.readText("reading a text answer").c_str());
      break;
    case ReadKind::List:
      for (const std::string& item : session.readList("reading a list answer"))
        std::printf("%s\n", item.c_str());
      break;
  }
}

// The image file's bytes; throws ToolError when it cannot be read or holds none.
std::vector<std::uint8_t> readImage(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw ToolError("cannot read " + path + ": " + std::strerror(errno));
  std::vector<std::uint8_t> image(kMaxImageFile + 1);
  file.read(reinterpret_cast<char*>(image.data()), static_cast<std::streamsize>(image.size()));
  if (file.bad()) throw ToolError("cannot read " + path + ": " + std::strerror(errno));
  image.resize(static_cast<std::size_t>(file.gcount()));
  if (image.empty()) throw ToolError(path + " is empty: nothing to program");
  return image;
}

}  // namespace

ReadKind readKind(const std::string& word) {
  if (word == "int") return ReadKind::Int;
  if (word == "text") return ReadKind::Text;
  if (word == "list") return ReadKind::List;
  throw UsageError("\"" + word + "\" is not a kind of answer: int, text or list");
}

long long numberArgument(const std::string& value, const char* what, long long low,
                         long long high) {
  errno = 0;
  char* end = nullptr;
  const long long number = std::strtoll(value.c_str(), &end, 0);  // base 0: decimal or 0x
  if (value.empty() || *end != '\0' || errno == ERANGE || number < low || number > high) {
    throw UsageError(std::string(what) + " takes a number from " + std::to_string(low) +
                     " to " + std::to_string(high) + ", not \"" + value + "\"");
  }
  return number;
}

void configureSend(CLI::App& command, CommandLine& line) {
  command.add_option("N", line.operand, "The command number.")->required()->type_name("");
  command
      .add_option("ARGS", line.rest,
                  "Its arguments: i:NUMBER (decimal or 0x hex; a bare number\n"
                  "also does), s:TEXT, or for the scan commands' data d:HEX\n"
                  "or d:@FILE.")
      ->type_name("");
  command.add_flag("--open", line.open,
                   "Open the cable and a device session first (commands 4\nand 33): the "
                   "commands 2, 5 to 28 and 0 and below are\nwithheld until both are open.");
  command
      .add_option("--read", line.reads,
                  "After the command, read its answer again as KIND: int,\ntext or list. "
                  "May be given more than once; the reads\nhappen in order.")
      ->option_text("KIND")
      ->allow_extra_args(false);
}

int runSend(const CommandLine& line, const SessionOptions& options) {
  const int command = static_cast<int>(
      numberArgument(line.operand, "the command number", INT32_MIN, INT32_MAX));
  std::vector<TypedArgument> arguments;
  for (const std::string& word : line.rest) arguments.push_back(parseTypedArgument(word));
  std::vector<ReadKind> reads;
  for (const std::string& kind : line.reads) reads.push_back(readKind(kind));
  // Arguments that do not fit are refused before connecting at all.
  checkTypedArguments(command, arguments);

  BrokerSession session(options);
  session.connect();
  const bool open = line.open;
  if (open) session.openCable();
  const int result = session.checked("command " + std::to_string(command),
                                     sendTyped(session.client(), command, arguments));
  std::printf("%d\n", result);
  if (const std::string back = takeReadBack(session.client(), command, arguments); !back.empty())
    std::printf("tdo %s\n", back.c_str());
  if (!open && result == 1 && withheldUntilOpen(command)) {
    std::fprintf(stderr,
                 "tapclient: command %d is withheld until the cable and a device session are "
                 "open: the library sent 8888 in its place and returned 1 (try --open)\n",
                 command);
  }
  if (const std::string unknown = unknownToTheProtocol(command, arguments);
      result == -1 && !unknown.empty()) {
    std::fprintf(stderr,
                 "tapclient: the broker does not know %s: -1 is its answer to a number that "
                 "is not one\n",
                 unknown.c_str());
  }
  for (ReadKind kind : reads) readAndPrint(session, kind);
  session.disconnect();
  return kExitOk;
}

void configureRead(CLI::App& command, CommandLine& line) {
  command.add_option("KIND", line.operand, "int, text or list.")->required()->type_name("");
}

int runRead(const CommandLine& line, const SessionOptions& options) {
  const ReadKind kind = readKind(line.operand);
  BrokerSession session(options);
  session.connect();
  readAndPrint(session, kind);
  session.disconnect();
  // A conversation of its own has nothing pending but the introduction's answer, whatever
  // kind it is read as: say what was printed, and where a command's answers are read.
  std::fprintf(stderr,
               "tapclient: that is the answer to this conversation's introduction, the only "
               "answer a fresh conversation holds; a command's answers are read in the same "
               "call, e.g. tapclient send 1 --read text, or tapclient send --open 8 --read "
               "list\n");
  return kExitOk;
}

void configureScan(CLI::App&, CommandLine&) {}

int runScan(const CommandLine&, const SessionOptions& options) {
  BrokerSession session(options);
  session.connect();
  session.openCable();
  printChain(scanChain(session));
  session.disconnect();
  return kExitOk;
}

void configureProgram(CLI::App& command, CommandLine& line) {
  command.add_option("FILE", line.operand, "The image to program.")->required()->type_name("");
  command.add_option("--address", line.address, "Flash address to program from (default 0).")
      ->option_text("ADDRESS");
}

int runProgram(const CommandLine& line, const SessionOptions& options) {
  const long long address = numberArgument(line.address, "--address", 0, INT32_MAX);
  const std::string& path = line.operand;
  const std::vector<std::uint8_t> image = readImage(path);

  BrokerSession session(options);
  session.connect();
  session.openCable();
  FlashProgrammer flash(session);
  const std::size_t flashSize = flash.flashSize();
  const auto start = static_cast<std::size_t>(address);
  if (start > flashSize || image.size() > flashSize - start) {
    throw ToolError(path + " (" + std::to_string(image.size()) +
                    " bytes) does not fit the " + std::to_string(flashSize) +
                    "-byte flash from address " + std::to_string(start));
  }
  std::printf("Programming %s (%s) at 0x%05zX\n", path.c_str(),
              formatBytes(static_cast<double>(image.size())).c_str(), start);
  flash.eraseSectors(start, image.size());
  std::printf("  %-10s %zu sectors of 4 KiB erased\n", "Erase",
              (start + image.size() - 1) / FlashProgrammer::kSectorSize -
                  start / FlashProgrammer::kSectorSize + 1);
  ProgressBar programBar("Program", image.size());
  flash.program(start, image, [&](std::size_t done) { programBar.update(done); });
  programBar.finish();
  ProgressBar verifyBar("Verify", image.size());
  flash.verify(start, image, [&](std::size_t done) { verifyBar.update(done); });
  verifyBar.finish();
  std::printf("Image verified: every byte read back as programmed.\n");
  session.disconnect();
  return kExitOk;
}

}  // namespace tapclient
