// tapbroker.exe: the reference broker with its simulated cable.
#include <QCoreApplication>
#include <csignal>
#include <cstdio>

#include "broker/options.h"
#include "broker/server.h"
#include "broker/trace.h"
#include "broker/version.h"

namespace {

broker::Server* runningServer = nullptr;

extern "C" void onStopSignal(int) {
  if (runningServer) runningServer->stop();
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  QCoreApplication::setApplicationName(broker::kProgramName);
  QCoreApplication::setApplicationVersion(broker::kBrokerVersion);

  const broker::ParsedOptions parsed = broker::parseOptions(QCoreApplication::arguments());
  if (!parsed.run) {
    std::fprintf(parsed.exitCode == 0 ? stdout : stderr, "%s\n", parsed.message.c_str());
    return parsed.exitCode;
  }

  // A client that vanishes must cost its connection, not the broker.
  std::signal(SIGPIPE, SIG_IGN);

  const broker::Trace trace(parsed.options.trace);
  broker::Server server(parsed.options.server, trace);
  std::string error;
  if (!server.listen(error)) {
    std::fprintf(stderr, "%s: %s\n", broker::kProgramName, error.c_str());
    return 1;
  }
  runningServer = &server;
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  server.run();
  runningServer = nullptr;
  return 0;
}
