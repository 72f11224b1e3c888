// The broker's command line. A broker that the client library starts gets none, so every
// option has a default that serves that case.
#ifndef BROKER_OPTIONS_H
#define BROKER_OPTIONS_H

#include <string>

#include "broker/serving/server.h"

namespace broker {

struct Options {
  ServerConfig server;
  bool trace = false;
  std::string recordFile;  // empty: no recording
};

// What the command line asks for: run, or stop at once with an exit code after printing
// `message` (help, version, or an error) to standard output (code 0) or error.
struct ParsedOptions {
  bool run = false;
  int exitCode = 0;
  std::string message;
  // The error is about a file that the environment named (a fault plan, a transcript or a
  // chain description):
  // the broker was most likely started by the library, with nobody to read its stderr.
  bool environmentFile = false;
  Options options;
};

ParsedOptions parseOptions(int argc, const char* const* argv);

}  // namespace broker

#endif  // BROKER_OPTIONS_H
