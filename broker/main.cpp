// tapbroker.exe: the reference broker with its simulated cable.
#include <cerrno>
#include <csignal>
#include <cstdio>

#include "broker/options.h"
#include "broker/port_holder.h"
#include "broker/server.h"
#include "broker/trace.h"
#include "broker/version.h"

int main(int argc, char** argv) {
  const broker::ParsedOptions parsed = broker::parseOptions(argc, argv);
  if (!parsed.run) {
    if (parsed.exitCode == 0) {
      std::printf("%s\n", parsed.message.c_str());
    } else {
      std::fprintf(stderr, "%s: %s\nRun \"%s --help\" for the options.\n",
                   broker::kProgramName, parsed.message.c_str(), broker::kProgramName);
    }
    return parsed.exitCode;
  }

#if defined(SIGPIPE)
  // A client that vanishes must cost its connection, not the broker.
  std::signal(SIGPIPE, SIG_IGN);
#endif

  const broker::Trace trace(parsed.options.trace);
  broker::Server server(parsed.options.server, trace);
  std::string error;
  if (!server.listen(error)) {
    std::fprintf(stderr, "%s: %s\n", broker::kProgramName, error.c_str());
    if (errno == EADDRINUSE) {
      std::fprintf(stderr, "%s\n", broker::describePortHolder(parsed.options.server.port).c_str());
    }
    return 1;
  }
  server.stopOnSignals();
  server.run();
  return 0;
}
