#include "tests/broker/broker_harness.h"

#include <stdexcept>

#include "broker/program/chain_config.h"
#include "tests/support/loopback.h"

broker::ServerConfig RunningBroker::defaults() {
  broker::ServerConfig config;
  config.port = 0;
  config.idleExitSeconds = 0;
  config.chain = broker::defaultChain();
  config.timeouts.transferMs = 2000;
  return config;
}

RunningBroker::RunningBroker(broker::ServerConfig config, broker::Trace::Sink sink) {
  // Most tests look at what goes over the wire, not at the broker's problem lines.
  const bool tracing = static_cast<bool>(sink);
  if (!tracing) sink = [](const std::string&) {};
  trace_ = std::make_unique<broker::Trace>(tracing, std::move(sink));
  server_ = std::make_unique<broker::Server>(std::move(config), *trace_);
  std::string error;
  if (!server_->listen(error)) throw std::runtime_error(error);
  thread_ = std::thread([this] { server_->run(); });
}

RunningBroker::~RunningBroker() {
  server_->stop();
  thread_.join();
}

std::string WireClient::strict(const std::string& text) {
  token(text);
  return receive(2);
}

std::string WireClient::answer() {
  token("+");
  std::string text;
  while (text.size() < 1024) {
    const std::string byte = receive(1);
    if (byte.empty() || byte[0] == '\0') break;
    text += byte;
  }
  return text;
}
