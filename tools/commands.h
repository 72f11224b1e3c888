// The subcommands of tapclient. Each adds its own options and arguments to the parser it
// is given (the global ones are already there) and runs from what was parsed.
#ifndef TOOLS_COMMANDS_H
#define TOOLS_COMMANDS_H

#include <QCommandLineParser>

#include "broker_session.h"

namespace tapclient {

struct Subcommand {
  const char* name;
  const char* synopsis;  // the arguments, for the usage line
  const char* summary;   // one line for the overall help
  const char* description;
  void (*configure)(QCommandLineParser& parser);
  // Returns the exit status; failures are thrown as ToolError. `arguments` are the
  // positional arguments after the subcommand's name.
  int (*run)(const QCommandLineParser& parser, const QStringList& arguments,
             const SessionOptions& session);
};

void configureDemo(QCommandLineParser& parser);
int runDemo(const QCommandLineParser& parser, const QStringList& arguments,
            const SessionOptions& session);
void configureSend(QCommandLineParser& parser);
int runSend(const QCommandLineParser& parser, const QStringList& arguments,
            const SessionOptions& session);
void configureRead(QCommandLineParser& parser);
int runRead(const QCommandLineParser& parser, const QStringList& arguments,
            const SessionOptions& session);
void configureScan(QCommandLineParser& parser);
int runScan(const QCommandLineParser& parser, const QStringList& arguments,
            const SessionOptions& session);
void configureProgram(QCommandLineParser& parser);
int runProgram(const QCommandLineParser& parser, const QStringList& arguments,
               const SessionOptions& session);

// Parses an option's or argument's number (decimal or 0x hex) within [low, high].
long long numberArgument(const QString& text, const char* what, long long low, long long high);

}  // namespace tapclient

#endif  // TOOLS_COMMANDS_H
