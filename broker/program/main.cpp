// tapbroker.exe: the reference broker with its simulated cable.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string>

#include "broker/common/version.h"
#include "broker/program/options.h"
#include "broker/program/port_holder.h"
#include "broker/program/startup_error.h"
#include "broker/serving/recording.h"
#include "broker/serving/server.h"
#include "broker/serving/trace.h"
#include "common/error_file.h"

namespace {

// A replay says how it went in its exit status; one that ran out of time before every
// recorded conversation came says which were missing.
int replayStatus(const broker::Replay& replay) {
  if (!replay.complete()) {
    std::fprintf(stderr, "%s: %zu of the %zu recorded conversations were not served\n",
                 broker::kProgramName, replay.size() - replay.finishedCount(), replay.size());
  }
  return replay.asRecorded() ? 0 : 3;
}

}  // namespace

int main(int argc, char** argv) {
  const broker::ParsedOptions parsed = broker::parseOptions(argc, argv);
  if (!parsed.run) {
    if (parsed.exitCode == 0) {
      std::printf("%s\n", parsed.message.c_str());
      return 0;
    }
    std::fprintf(stderr, "%s: %s\n", broker::kProgramName, parsed.message.c_str());
    std::string error;
    if (!parsed.environmentFile) {
      std::fprintf(stderr, "Run \"%s --help\" for the options.\n", broker::kProgramName);
    } else if (broker::leaveStartupError(parsed.message, error)) {
      std::fprintf(stderr, "(also written to %s)\n", error_file::path().c_str());
    } else {
      std::fprintf(stderr, "(not written to the error file: %s)\n", error.c_str());
    }
    return parsed.exitCode;
  }

#if defined(SIGPIPE)
  // A client that vanishes must cost its connection, not the broker.
  std::signal(SIGPIPE, SIG_IGN);
#endif

  broker::Trace trace(parsed.options.trace);
  broker::Recording recording;
  if (!parsed.options.recordFile.empty()) {
    std::string error;
    if (!recording.open(parsed.options.recordFile, trace, error)) {
      std::fprintf(stderr, "%s: cannot record into %s\n", broker::kProgramName, error.c_str());
      return 2;
    }
    trace.recordInto(&recording);
  }
  broker::Server server(parsed.options.server, trace);
  std::string error;
  if (!server.listen(error)) {
    std::fprintf(stderr, "%s: %s\n", broker::kProgramName, error.c_str());
    if (errno == EADDRINUSE) {
      std::fprintf(stderr, "%s\n",
                   broker::describePortHolder(parsed.options.server.port).c_str());
    }
    return 1;
  }
  server.stopOnSignals();
  server.run();
  if (server.failed()) return 1;
  const auto& replay = parsed.options.server.replay;
  const int status = replay ? replayStatus(*replay) : 0;
  // A conversation that could not be recorded is lost to the transcript: said in the trace
  // when it happened, and in the exit status.
  return recording.finish() || status != 0 ? status : 4;
}
