#include "tests/broker/broker_harness.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

#include "broker/bits.h"
#include "broker/chain_config.h"

const std::string kAck("+\0", 2);

broker::ServerConfig RunningBroker::defaults() {
  broker::ServerConfig config;
  config.port = 0;
  config.idleExitSeconds = 0;
  config.chain = broker::defaultChain();
  config.timeouts.transferMs = 2000;
  config.timeouts.pollMs = 20;
  return config;
}

RunningBroker::RunningBroker(broker::ServerConfig config) {
  trace_ = std::make_unique<broker::Trace>(false, [this](const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(line);
  });
  server_ = std::make_unique<broker::Server>(std::move(config), *trace_);
  std::string error;
  if (!server_->listen(error)) throw std::runtime_error(error);
  thread_ = std::thread([this] { server_->run(); });
}

RunningBroker::~RunningBroker() {
  server_->stop();
  thread_.join();
}

std::vector<std::string> RunningBroker::problems() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

WireClient::WireClient(std::uint16_t port) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd_);
    fd_ = -1;
    return;
  }
  const int on = 1;
  ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

WireClient::~WireClient() { close(); }

void WireClient::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void WireClient::send(const std::string& data) {
  std::size_t done = 0;
  while (fd_ >= 0 && done < data.size()) {
    const ssize_t sent = ::send(fd_, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (sent <= 0) return;
    done += static_cast<std::size_t>(sent);
  }
}

std::string WireClient::receive(std::size_t length) {
  std::string got;
  while (fd_ >= 0 && got.size() < length) {
    pollfd want{fd_, POLLIN, 0};
    if (::poll(&want, 1, 5000) <= 0) break;
    char chunk[4096];
    const std::size_t room = std::min(sizeof chunk, length - got.size());
    const ssize_t n = ::recv(fd_, chunk, room, 0);
    if (n <= 0) break;
    got.append(chunk, static_cast<std::size_t>(n));
  }
  return got;
}

bool WireClient::closedByBroker(int ms) {
  for (;;) {
    pollfd want{fd_, POLLIN, 0};
    if (::poll(&want, 1, ms) <= 0) return false;
    char chunk[4096];
    const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n <= 0) return true;
  }
}

std::string WireClient::introduce(const std::string& name) {
  token(name);
  return receive(2);
}

std::string WireClient::command(int number) {
  token(std::to_string(number));
  return receive(2);
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

std::string bytes(std::initializer_list<int> values) {
  std::string out;
  for (int value : values) out += static_cast<char>(value);
  return out;
}

std::string pattern(std::size_t length, unsigned seed) {
  std::string out(length, '\0');
  for (std::size_t i = 0; i < length; ++i) {
    seed = seed * 1103515245u + 12345u;
    out[i] = static_cast<char>(seed >> 16);
  }
  return out;
}

std::string mirrored(const std::string& data) {
  std::string out = data;
  for (char& c : out) c = static_cast<char>(broker::mirrorByte(static_cast<std::uint8_t>(c)));
  return out;
}
