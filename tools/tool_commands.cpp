// The subcommands for scripting and for poking at a broker by hand: send, read, scan and
// program. Each invocation is a conversation of its own, from Connect to Disconnect.
#include <QFile>
#include <QStringList>
#include <cstdio>
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

enum class ReadKind { Int, Text, List };

ReadKind readKind(const QString& word) {
  if (word == "int") return ReadKind::Int;
  if (word == "text") return ReadKind::Text;
  if (word == "list") return ReadKind::List;
  throw UsageError("\"" + word.toStdString() + "\" is not a kind of answer: int, text or list");
}

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

std::string text(const QString& value) { return value.toStdString(); }

}  // namespace

long long numberArgument(const QString& value, const char* what, long long low,
                         long long high) {
  bool ok = false;
  const long long number = value.toLongLong(&ok, 0);
  if (!ok || number < low || number > high) {
    throw UsageError(std::string(what) + " takes a number from " + std::to_string(low) +
                     " to " + std::to_string(high) + ", not \"" + text(value) + "\"");
  }
  return number;
}

void configureSend(QCommandLineParser& parser) {
  parser.addPositionalArgument("N", "The command number.");
  parser.addPositionalArgument(
      "ARGS",
      "Its arguments: i:NUMBER (decimal or 0x hex; a bare number also does) or "
      "s:TEXT. Put -- before a negative bare number.",
      "[ARGS...]");
  parser.addOption({"open",
                    "Open the cable and a device session first (commands 4 and 33): the "
                    "commands 2, 5 to 28 and 0 and below are withheld until both are open."});
  parser.addOption({"read",
                    "After the command, read its answer again as <kind>: int, text or list. "
                    "May be given more than once; the reads happen in order.",
                    "kind"});
}

int runSend(const QCommandLineParser& parser, const QStringList& words,
            const SessionOptions& options) {
  if (words.isEmpty()) throw UsageError("send needs a command number");
  const int command = static_cast<int>(
      numberArgument(words.first(), "the command number", INT32_MIN, INT32_MAX));
  std::vector<TypedArgument> arguments;
  for (qsizetype i = 1; i < words.size(); ++i)
    arguments.push_back(parseTypedArgument(text(words[i])));
  std::vector<ReadKind> reads;
  for (const QString& kind : parser.values("read")) reads.push_back(readKind(kind));
  // Arguments that do not fit are refused before connecting at all.
  checkTypedArguments(command, arguments);

  BrokerSession session(options);
  session.connect();
  const bool open = parser.isSet("open");
  if (open) session.openCable();
  const int result = session.checked("command " + std::to_string(command),
                                     sendTyped(session.client(), command, arguments));
  std::printf("%d\n", result);
  if (!open && result == 1 && withheldUntilOpen(command)) {
    std::fprintf(stderr,
                 "tapclient: command %d is withheld until the cable and a device session are "
                 "open: the library sent 8888 in its place and returned 1 (try --open)\n",
                 command);
  }
  for (ReadKind kind : reads) readAndPrint(session, kind);
  session.disconnect();
  return kExitOk;
}

void configureRead(QCommandLineParser& parser) {
  parser.addPositionalArgument("KIND", "int, text or list.");
}

int runRead(const QCommandLineParser&, const QStringList& words,
            const SessionOptions& options) {
  if (words.size() != 1) throw UsageError("read takes one kind of answer: int, text or list");
  const ReadKind kind = readKind(words.first());
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

void configureScan(QCommandLineParser&) {}

int runScan(const QCommandLineParser&, const QStringList&, const SessionOptions& options) {
  BrokerSession session(options);
  session.connect();
  session.openCable();
  printChain(scanChain(session));
  session.disconnect();
  return kExitOk;
}

void configureProgram(QCommandLineParser& parser) {
  parser.addPositionalArgument("FILE", "The image to program.");
  parser.addOption({"address", "Flash address to program from (default 0).", "address", "0"});
}

int runProgram(const QCommandLineParser& parser, const QStringList& words,
               const SessionOptions& options) {
  if (words.size() != 1) throw UsageError("program takes one image file");
  const long long address = numberArgument(parser.value("address"), "--address", 0, INT32_MAX);
  QFile file(words.first());
  if (!file.open(QIODevice::ReadOnly)) {
    throw ToolError("cannot read " + text(words.first()) + ": " + text(file.errorString()));
  }
  const QByteArray bytes = file.readAll();
  if (bytes.isEmpty()) throw ToolError(text(words.first()) + " is empty: nothing to program");
  const std::vector<std::uint8_t> image(bytes.begin(), bytes.end());

  BrokerSession session(options);
  session.connect();
  session.openCable();
  FlashProgrammer flash(session);
  const std::size_t flashSize = flash.flashSize();
  const auto start = static_cast<std::size_t>(address);
  if (start > flashSize || image.size() > flashSize - start) {
    throw ToolError(text(words.first()) + " (" + std::to_string(image.size()) +
                    " bytes) does not fit the " + std::to_string(flashSize) +
                    "-byte flash from address " + std::to_string(start));
  }
  std::printf("Programming %s (%s) at 0x%05zX\n", text(words.first()).c_str(),
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
