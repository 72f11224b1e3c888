#include "fast_broker.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr int kBlock = 1024;

// What the broker sends back: acknowledgements, the padded JTAG result, read-back blocks
// (their first byte "+", as multi-block read-backs require) and the list answer.
struct Answers {
  char ack[2] = {'+', '\0'};
  char zero[2] = {'0', '\0'};
  char grant[2] = {'1', '\0'};
  char paddedResult[kBlock] = {'0'};
  unsigned char readBack[kBlock];
  char list[FastBroker::kListAnswerBytes];

  Answers() {
    for (int i = 0; i < kBlock; ++i) readBack[i] = static_cast<unsigned char>(i * 7 + 1);
    readBack[0] = '+';
    char* out = list;
    for (int item = 0; item < FastBroker::kListItems; ++item) {
      std::memcpy(out, "item", 4);
      for (int digit = 3, value = item; digit >= 0; --digit, value /= 10) {
        out[4 + digit] = static_cast<char>('0' + value % 10);
      }
      out[8] = ';';
      out += 9;
    }
    *out = '\0';
  }
};
const Answers answers;
static_assert(FastBroker::kListItems * 9 + 1 == FastBroker::kListAnswerBytes);

// Number of int tokens that follow the command token, for the commands whose arguments
// are ints only; the other commands the suite sends have handlers of their own.
int intArguments(int command) {
  switch (command) {
    case 5:
    case 7:
    case 9:
    case 15:
    case 16:
    case 17:
    case 18:
    case 23:
    case 37:
    case 39:
    case 45:
    case 49:
    case 53:
    case 54:
    case 55:
      return 1;
    case 20:
    case 36:
    case 40:
      return 2;
    default:
      return 0;
  }
}

// One connection's byte stream. The client may send two tokens without waiting (the
// request token that ends a multi-block read-back, then the final read's), so tokens are
// cut out of a buffer rather than taken one receive each.
class Stream {
 public:
  // The buffer is filled once here, so that the process's resident memory does not grow
  // later as the broker's buffers are first touched.
  explicit Stream(int fd) : fd_(fd), buffer_(16 * 1024, '\0') {}
  ~Stream() { ::close(fd_); }
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  int fd() const { return fd_; }
  // Bytes received and not yet consumed: the start of the next command.
  bool buffered() const { return begin_ != end_; }

  // The next NUL-terminated token, its NUL included in the buffer so that it can be read
  // as a C string; valid until the next call.
  bool token(const char*& text) {
    for (;;) {
      const void* nul = std::memchr(buffer_.data() + begin_, '\0', end_ - begin_);
      if (nul != nullptr) {
        text = buffer_.data() + begin_;
        begin_ = static_cast<const char*>(nul) - buffer_.data() + 1;
        return true;
      }
      if (!fill()) return false;
    }
  }

  bool request() {
    const char* text;
    return token(text) && text[0] == '+';
  }

  bool intToken(int& value) {
    const char* text;
    if (!token(text)) return false;
    value = std::atoi(text);
    return true;
  }

  // An int token, strictly acknowledged.
  bool intArgument(int& value) { return intToken(value) && ack(); }

  // Consumes `count` raw bytes of data.
  bool skip(long count) {
    while (count > 0) {
      if (begin_ == end_ && !fill()) return false;
      long taken = std::min<long>(count, static_cast<long>(end_ - begin_));
      begin_ += taken;
      count -= taken;
    }
    return true;
  }

  // One send of the whole answer; the loopback takes these sizes at once.
  bool answer(const void* data, long length) {
    const char* at = static_cast<const char*>(data);
    while (length > 0) {
      ssize_t sent = ::send(fd_, at, static_cast<size_t>(length), MSG_NOSIGNAL);
      if (sent < 0 && errno == EINTR) continue;
      if (sent <= 0) return false;
      at += sent;
      length -= sent;
    }
    return true;
  }
  bool ack() { return answer(answers.ack, 2); }

 private:
  bool fill() {
    if (begin_ == end_) {
      begin_ = end_ = 0;
    } else if (begin_ > 0) {
      std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
      end_ -= begin_;
      begin_ = 0;
    }
    if (end_ == buffer_.size()) return false;  // a token longer than any the protocol has
    ssize_t got;
    do {
      got = ::recv(fd_, buffer_.data() + end_, buffer_.size() - end_, 0);
    } while (got < 0 && errno == EINTR);
    if (got <= 0) return false;
    end_ += static_cast<size_t>(got);
    return true;
  }

  int fd_;
  std::vector<char> buffer_;
  size_t begin_ = 0;
  size_t end_ = 0;
};

// Read-back of a multi-block transfer: one block per request token of the client.
bool sendBlocks(Stream& stream, long bytes) {
  for (long offset = 0; offset < bytes; offset += kBlock) {
    if (!stream.answer(answers.readBack, std::min<long>(kBlock, bytes - offset))) return false;
    if (!stream.request()) return false;
  }
  return true;
}

// Data blocks, each strictly acknowledged. `wholeBlocks`: the client pads the last block
// to the full 1024 bytes (the JTAG shift does, the generic shift and the pump do not).
bool takeBlocks(Stream& stream, long bytes, bool wholeBlocks) {
  for (long offset = 0; offset < bytes; offset += kBlock) {
    long size = wholeBlocks ? kBlock : std::min<long>(kBlock, bytes - offset);
    if (!stream.skip(size) || !stream.ack()) return false;
  }
  return true;
}

// Single-block read-back: the bytes of the shift, at least one so that the receive
// returns.
bool sendSingle(Stream& stream, long bytes) {
  return stream.answer(answers.readBack, std::max<long>(1, bytes));
}

bool genericShift(Stream& stream) {
  int tokens[4];
  for (int& value : tokens) {
    if (!stream.intArgument(value)) return false;
  }
  long bytes = tokens[2];
  bool readBack = tokens[3] != 0;
  if (bytes <= kBlock) return stream.skip(bytes) && sendSingle(stream, bytes);
  if (!takeBlocks(stream, bytes, false)) return false;
  return readBack ? sendBlocks(stream, bytes) : stream.ack();
}

bool pumpData(Stream& stream) {
  int bitCount, middle, readBack;
  if (!stream.intArgument(bitCount) || !stream.intArgument(middle) ||
      !stream.intArgument(readBack)) {
    return false;
  }
  long bytes = (static_cast<long>(bitCount) + 7) / 8;
  if (bytes <= kBlock) return stream.skip(bytes) && sendSingle(stream, bytes);
  if (!takeBlocks(stream, bytes, false)) return false;
  return readBack != 0 ? sendBlocks(stream, bytes) : stream.ack();
}

bool jtagShift(Stream& stream) {
  int shiftControl, bitCount, switchA, switchB;
  if (!stream.intArgument(shiftControl) || !stream.intArgument(bitCount) ||
      !stream.intArgument(switchA) || !stream.intArgument(switchB)) {
    return false;
  }
  long bytes = (static_cast<long>(bitCount) + 7) / 8;
  int buffers = 1 + (switchA != 0) + (switchB != 0);
  for (int i = 0; i < buffers; ++i) {
    bool sent = bytes <= kBlock ? stream.skip(bytes + 1) && stream.ack()
                                : takeBlocks(stream, bytes, true);
    if (!sent) return false;
  }
  // The result fills the client's whole answer buffer, so that the read-back that follows
  // at once cannot end up in the same receive.
  if (!stream.request() || !stream.answer(answers.paddedResult, kBlock)) return false;
  if ((switchA & 1) == 0 || (shiftControl & 2) != 0) return true;
  return bytes <= kBlock ? sendSingle(stream, bytes) : sendBlocks(stream, bytes);
}

bool interfaceFunction(Stream& stream) {
  int code;
  if (!stream.intArgument(code)) return false;
  return code == 12 ? jtagShift(stream) : true;
}

// Command 4: two strings and ten ints, each with a loose reply, then the flag query.
bool grantFirstFlag(Stream& stream) {
  for (int i = 0; i < 12; ++i) {
    const char* text;
    if (!stream.token(text) || !stream.ack()) return false;
  }
  return stream.request() && stream.answer(answers.grant, 2);
}

// One whole command, or one Read: everything from the command token to the final answer.
// False when the client went away or broke the sequence.
bool serveCommand(Stream& stream) {
  const char* text;
  if (!stream.token(text)) return false;
  if (text[0] == '+') {  // a Read on its own
    return stream.answer(answers.list, FastBroker::kListAnswerBytes);
  }
  int command = std::atoi(text);
  if (!stream.ack()) return false;
  switch (command) {
    case 4:
      return grantFirstFlag(stream);
    case 33:
      return stream.request() && stream.answer(answers.grant, 2);
    case 19:
      if (!genericShift(stream)) return false;
      break;
    case 42:
      if (!pumpData(stream)) return false;
      break;
    case 44:
      if (!interfaceFunction(stream)) return false;
      break;
    default:
      for (int i = intArguments(command), value; i > 0; --i) {
        if (!stream.intArgument(value)) return false;
      }
      break;
  }
  return stream.request() && stream.answer(answers.zero, 2);  // the final read
}

}  // namespace

std::string FastBroker::listen(std::chrono::milliseconds patience) {
  int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener < 0) return std::string("socket: ") + std::strerror(errno);
  int on = 1;
  ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(kPort);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  auto deadline = std::chrono::steady_clock::now() + patience;
  portTaken_ = false;
  // Other programs' tests listen on the same fixed port for a few seconds at a time.
  while (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (errno != EADDRINUSE || std::chrono::steady_clock::now() >= deadline) {
      portTaken_ = errno == EADDRINUSE;
      std::string why = std::string("bind 127.0.0.1:4001: ") + std::strerror(errno);
      ::close(listener);
      return why;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (::listen(listener, 64) != 0) {
    std::string why = std::string("listen: ") + std::strerror(errno);
    ::close(listener);
    return why;
  }
  listener_ = listener;
  return {};
}

std::string FastBroker::start(std::chrono::milliseconds patience) {
  stopping_ = false;
  std::string why = listen(patience);
  if (why.empty()) thread_ = std::thread(&FastBroker::serve, this);
  return why;
}

void FastBroker::stop() {
  if (!thread_.joinable()) return;
  stopping_ = true;
  thread_.join();
  releasePort();
}

void FastBroker::releasePort() {
  // The serving thread looks at the listener afresh on every round. Its current poll
  // keeps a closed descriptor's socket alive, so the port is given up by shutdown.
  const int listener = listener_.exchange(-1);
  if (listener < 0) return;
  ::shutdown(listener, SHUT_RDWR);
  ::close(listener);
}

std::string FastBroker::retakePort(std::chrono::milliseconds patience) {
  return listener_ >= 0 ? std::string() : listen(patience);
}

// One thread serves every connection: the library's and the baseline's conversations
// then meet the same broker thread, on whatever CPU it runs, and neither side gains from
// where the scheduler puts a thread of its own. The benchmark alternates whole operations,
// so a command is served from its first token to its final answer before the next.
void FastBroker::serve() {
  std::vector<std::unique_ptr<Stream>> streams;
  std::vector<pollfd> polled;
  while (!stopping_) {
    polled.clear();
    const int listener = listener_;
    polled.push_back(pollfd{listener, POLLIN, 0});
    for (const auto& stream : streams) polled.push_back(pollfd{stream->fd(), POLLIN, 0});
    // A short timeout, so that stop() is seen while every client is idle.
    int ready = ::poll(polled.data(), polled.size(), 50);
    if (ready < 0 && errno != EINTR) return;
    if (ready <= 0) continue;
    for (size_t i = polled.size(); i-- > 1;) {
      if (polled[i].revents == 0) continue;
      Stream& stream = *streams[i - 1];
      bool alive = serveCommand(stream);
      while (alive && stream.buffered()) alive = serveCommand(stream);
      if (!alive) streams.erase(streams.begin() + static_cast<long>(i - 1));
    }
    if ((polled[0].revents & POLLIN) != 0) {
      int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      int on = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      // A client that stops half-way through a command must not stall the broker forever.
      timeval patience{10, 0};
      ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
      auto stream = std::make_unique<Stream>(fd);
      const char* introduction;
      if (stream->token(introduction) && stream->ack()) streams.push_back(std::move(stream));
    }
  }
}

int FastBroker::serveAsProcess() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGUSR1);
  sigaddset(&signals, SIGTERM);
  // Blocked before the serving thread starts, so that only sigwait sees them.
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  FastBroker broker;
  if (!broker.start(std::chrono::seconds(10)).empty()) return 1;
  for (int signal = 0; sigwait(&signals, &signal) == 0 && signal != SIGTERM;) {
    broker.releasePort();
  }
  return 0;
}
