#include "broker/serving/session.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>

#include "broker/cable/bits.h"
#include "common/printable.h"

namespace broker {
namespace {

// Command 120 may announce any number of strings; the broker reads them all but keeps
// only this many.
constexpr std::size_t kMaxKeptStrings = 128;

std::string commandName(int number, const CommandRow* row) {
  return "command " + std::to_string(number) + " (" + (row ? row->name : "unlisted") + ")";
}

// What the token between commands is.
std::string betweenCommands(std::string_view token) {
  int number = 0;
  if (token == "+") return "request";
  return parseInt(token, number) ? commandName(number, findCommand(number)) : "garbage";
}

// The data, the read-back, and the extra buffers, each as long as the transfer.
std::size_t shareFor(int byteCount, int extraBuffers) {
  return static_cast<std::size_t>(2 + extraBuffers) * static_cast<std::size_t>(byteCount);
}

// Makes `data` `size` bytes long on its way to `total`: its capacity at most doubles at a
// time and never passes `total`, so it holds no more than the data that has arrived asks.
void growTo(std::vector<std::uint8_t>& data, std::size_t size, std::size_t total) {
  if (data.capacity() < size)
    data.reserve(std::min(total, std::max(size, 2 * data.capacity())));
  data.resize(size);
}

}  // namespace

bool parseReal(std::string_view text, double& value) {
  // Not strtod: the client writes "%f" with a point, whatever the broker's locale says.
  if (text.empty() || text.front() == '+') return false;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  return error == std::errc() && stop == end;
}

bool parseInt(std::string_view text, int& value) {
  if (text.empty() || text.front() == '+') return false;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  return error == std::errc() && stop == end;
}

Session::Session(Link& link, SimulatedCable& cable, const FaultPlan& faults,
                 MemoryBudget& budget)
    : link_(link), cable_(cable), faults_(faults), budget_(budget) {}

Session::~Session() { budget_.settle(share_, 0); }

asio::awaitable<void> Session::run() {
  const Trace& trace = link_.trace();
  try {
    const std::string name = co_await link_.readToken("introduction: the client's name", true);
    trace.note(link_.id(), "client " + describeBytes(name.data(), name.size()) + " connected");
    co_await link_.acknowledge("introduction answered");
    for (;;) {
      current_ = "the pause between commands";
      const std::string token = co_await link_.readToken(betweenCommands, true);
      if (token == "+") {
        co_await answerRequest();
        continue;
      }
      int number = 0;
      if (!parseInt(token, number)) {
        throw LinkClosed("not a command: " + describeBytes(token.data(), token.size()));
      }
      current_ = commandName(number, findCommand(number));
      co_await runCommand(number);
      endCommand();
    }
  } catch (const LinkClosed& closed) {
    if (closed.orderly) {
      trace.note(link_.id(), "the client left");
    } else {
      trace.problem(link_.id(), "connection closed in " + current_ + ": " + closed.reason);
    }
  }
}

void Session::setOutcome(Outcome outcome) {
  pending_ = std::move(outcome);
  pendingFrom_ = current_;
  answered_ = 0;
}

void Session::armFaults(int command, int function) {
  if (faults_.empty()) return;
  const int started = ++starts_[{command, function}];
  for (const Fault* fault : faults_.matching(command, function, started)) {
    // A fault on command 44 fires inside the function that follows: "its" start would
    // read as the function's.
    const bool commandInFunction = command == kInterfaceCommand && function < 0;
    armed_.push_back({fault, (commandInFunction ? "the command's " : "its ") +
                                 printable::ordinal(started) + " start"});
  }
}

const Fault* Session::fire(FaultKind kind) {
  for (auto it = armed_.begin(); it != armed_.end(); ++it) {
    if (it->fault->kind != kind) continue;
    const Fault* fault = it->fault;
    link_.trace().problem(
        link_.id(), "fault fires in " + current_ + ", " + it->start + ": " + fault->action);
    armed_.erase(it);
    return fault;
  }
  return nullptr;
}

asio::awaitable<void> Session::answerRequest() {
  // The first request after a command takes its integer, later ones its text or list.
  const bool first = answered_ == 0;
  const bool detail = !first && pending_.hasDetail;
  // The answer belongs to its command: a fault or a drop here is that command's.
  current_ = pendingFrom_;
  ++answered_;
  if (detail) {
    co_await link_.sendText(pending_.detail, "answer: text of " + pendingFrom_);
    co_return;
  }
  int result = pending_.result;
  if (first && !armed_.empty()) {
    if (const Fault* delay = fire(FaultKind::Delay)) {
      co_await link_.pause(std::chrono::milliseconds(delay->value));
    }
    if (fire(FaultKind::CloseBefore)) throw LinkClosed("the fault plan closes it");
    if (const Fault* answer = fire(FaultKind::Answer)) result = answer->value;
  }
  co_await link_.sendText(std::to_string(result), "answer: result of " + pendingFrom_);
  if (first && fire(FaultKind::CloseAfter)) {
    throw LinkClosed("the fault plan closes it after the answer");
  }
  if (first) armed_.clear();
}

asio::awaitable<bool> Session::refuse(std::string_view reason) {
  co_await link_.refuse("refused");
  link_.trace().problem(link_.id(), "refused in " + current_ + ": " + std::string(reason));
  co_return false;
}

asio::awaitable<bool> Session::readInt(int& value, std::string_view meaning) {
  const std::string token = co_await link_.readToken(meaning);
  if (fire(FaultKind::Refuse)) co_return co_await refuse("the fault plan refuses the token");
  if (parseInt(token, value)) co_return true;
  co_return co_await refuse("not an integer: " + describeBytes(token.data(), token.size()));
}

asio::awaitable<bool> Session::takeInt(int& value, std::string_view meaning) {
  const bool taken = co_await readInt(value, meaning);
  if (!taken) co_return false;
  co_await link_.acknowledge("acknowledged");
  co_return true;
}

asio::awaitable<bool> Session::takeInts(int count, Arguments& args, std::string_view meaning) {
  for (int i = 0; i < count; ++i) {
    int value = 0;
    if (!co_await takeInt(value, meaning)) co_return false;
    args.ints.push_back(value);
  }
  co_return true;
}

asio::awaitable<std::string> Session::takeString(std::string_view meaning, bool loose) {
  std::string text = co_await link_.readToken(meaning);
  co_await link_.acknowledge(loose ? "reply" : "acknowledged");
  co_return text;
}

asio::awaitable<bool> Session::takeLength(int& bitCount, int& byteCount,
                                          std::string_view meaning, int extraBuffers) {
  const bool taken = co_await readInt(bitCount, meaning);
  if (!taken) co_return false;
  byteCount = bytesForBits(bitCount);
  if (byteCount < 0) {
    co_return co_await refuse("a length of " + std::to_string(bitCount) + " bits is negative");
  }
  if (!claim(byteCount, extraBuffers))
    co_return co_await refuse(budgetSpent(byteCount, extraBuffers));
  co_await link_.acknowledge("acknowledged");
  co_return true;
}

bool Session::claim(int byteCount, int extraBuffers) {
  return budget_.grow(share_, shareFor(byteCount, extraBuffers));
}

std::string Session::budgetSpent(int byteCount, int extraBuffers) const {
  const std::string budget = "the memory budget of all conversations (" +
                             std::to_string(budget_.limit() / (1024 * 1024)) + " MiB)";
  if (shareFor(byteCount, extraBuffers) > budget_.limit()) {
    return "a transfer of " + std::to_string(byteCount) + " bytes does not fit " + budget;
  }
  return budget + " cannot hold the transfer now";
}

void Session::endCommand() {
  // Small buffers stay for the next command; large ones go, so that a client that rests
  // between commands holds nothing that the budget would have to count.
  for (std::vector<std::uint8_t>* buffer : {&data_, &back_}) {
    if (buffer->capacity() > kKeptBufferBytes) std::vector<std::uint8_t>().swap(*buffer);
  }
  budget_.settle(share_, 0);
}

void Session::giveUpShare() { budget_.settle(share_, 0); }

std::string Session::blockMeaning(std::string_view meaning, std::size_t k,
                                  std::size_t blocks) const {
  if (!link_.trace().tracing()) return {};
  return std::string(meaning) + ", block " + std::to_string(k + 1) + "/" +
         std::to_string(blocks);
}

asio::awaitable<void> Session::receiveData(std::vector<std::uint8_t>& data, std::size_t length,
                                           bool asBuffer, std::string_view meaning) {
  data.clear();
  if (length <= static_cast<std::size_t>(kBlockSize)) {
    data.resize(length);
    if (!asBuffer) {
      co_await link_.readExact(data.data(), length, meaning);
      co_return;
    }
    std::array<std::uint8_t, kBlockSize + 1> block;
    co_await link_.readExact(block.data(), length + 1, meaning);
    std::copy_n(block.begin(), length, data.begin());
    co_await link_.acknowledge("reply");
    co_return;
  }
  std::array<std::uint8_t, kBlockSize> block;
  const std::size_t blocks = (length + kBlockSize - 1) / kBlockSize;
  for (std::size_t k = 0; k < blocks; ++k) {
    const std::size_t offset = k * kBlockSize;
    const std::size_t size = std::min<std::size_t>(kBlockSize, length - offset);
    growTo(data, offset + size, length);
    // Blocks land in place; a padded last block's padding goes to the stack.
    std::uint8_t* into = asBuffer && size < kBlockSize ? block.data() : data.data() + offset;
    co_await link_.readExact(into, asBuffer ? kBlockSize : size,
                             blockMeaning(meaning, k, blocks));
    if (into == block.data()) std::copy_n(block.begin(), size, data.begin() + offset);
    co_await link_.acknowledge("acknowledged");
  }
}

asio::awaitable<void> Session::sendReadBack(std::vector<std::uint8_t>& data, bool marked,
                                            std::string_view meaning) {
  if (const Fault* flip = fire(FaultKind::Flip)) {
    const auto bit = static_cast<std::size_t>(flip->value);
    if (bit < 8 * data.size()) data[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
  }
  if (data.size() <= static_cast<std::size_t>(kBlockSize)) {
    if (data.empty()) data.push_back(0);
    co_await link_.send(data.data(), data.size(), meaning);
    co_return;
  }
  const std::size_t blocks = (data.size() + kBlockSize - 1) / kBlockSize;
  for (std::size_t k = 0; k < blocks; ++k) {
    const std::size_t offset = k * kBlockSize;
    const std::size_t length = std::min<std::size_t>(kBlockSize, data.size() - offset);
    if (marked) data[offset] = '+';
    co_await link_.send(data.data() + offset, length, blockMeaning(meaning, k, blocks));
    co_await link_.readRequest("request for the next block");
  }
}

asio::awaitable<void> Session::runCommand(int number) {
  const CommandRow* row = findCommand(number);
  armed_.clear();
  armFaults(number, -1);
  co_await link_.acknowledge("reply to the command");
  if (!row) {
    setOutcome(Outcome::of(-1));
    co_return;
  }
  if (co_await runExchange(*row)) co_return;
  Arguments args;
  const bool taken = co_await takeArguments(*row, args);
  setOutcome(taken ? cable_.command(number, args) : Outcome::of(-1));
}

asio::awaitable<bool> Session::runExchange(const CommandRow& row) {
  switch (row.shape) {
    case Shape::CableOpen:
      co_await cableOpen();
      co_return true;
    case Shape::SessionFlag:
      // The client's flag request follows at once and takes "1" or "0".
      setOutcome(Outcome::of(cable_.openSession() ? 1 : 0));
      co_return true;
    case Shape::GenericShift:
      setOutcome(Outcome::of(co_await genericShift()));
      co_return true;
    case Shape::SharedApps:
      co_await sharedApplications();
      co_return true;
    case Shape::PumpData:
      setOutcome(Outcome::of(co_await pumpData()));
      co_return true;
    case Shape::Interface:
      co_await interfaceFunction();
      co_return true;
    case Shape::I2c:
    case Shape::Sspi:
      setOutcome(Outcome::of(co_await busTransfers(row)));
      co_return true;
    case Shape::Withheld:
      // Nothing of the command reached the broker, so nothing changes.
      co_return true;
    default:
      co_return false;
  }
}

asio::awaitable<bool> Session::takeArguments(const CommandRow& row, Arguments& args) {
  switch (row.shape) {
    case Shape::LooseStrings:
      for (int i = 0; i < row.count; ++i) {
        args.strings.push_back(co_await takeString("string argument", true));
      }
      co_return true;
    case Shape::Strings:
      for (int i = 0; i < row.count; ++i) {
        std::string text = co_await link_.readToken("string argument");
        if (fire(FaultKind::Refuse))
          co_return co_await refuse("the fault plan refuses the token");
        co_await link_.acknowledge("acknowledged");
        args.strings.push_back(std::move(text));
      }
      co_return true;
    case Shape::Ints:
      co_return co_await takeInts(row.count, args, "integer argument");
    case Shape::Pairs:
      for (int i = 0; i < 4; ++i) {
        if (!co_await takeInts(1, args, "integer of a pair")) co_return false;
        args.strings.push_back(co_await takeString("string of a pair", false));
      }
      co_return true;
    default:
      co_return true;
  }
}

asio::awaitable<void> Session::cableOpen() {
  const std::string cable = co_await takeString("cable name", true);
  const std::string port = co_await takeString("port name", true);
  std::array<int, 10> settings{};
  for (int& setting : settings) {
    // The client takes any reply here, so a bad value cannot be refused: it counts as 0.
    const std::string token = co_await link_.readToken("cable setting");
    if (!parseInt(token, setting)) {
      setting = 0;
      link_.trace().problem(link_.id(), "cable setting is not an integer, taken as 0");
    }
    co_await link_.acknowledge("reply");
  }
  // The client's flag request follows at once and takes "1" or "0".
  setOutcome(Outcome::of(cable_.openCable(cable, port, settings) ? 1 : 0));
}

asio::awaitable<void> Session::sharedApplications() {
  std::array<std::uint8_t, kBlockSize> block;
  co_await link_.readExact(block.data(), block.size(), "packed application list");
  std::vector<std::string> names;
  std::string name;
  for (std::uint8_t c : block) {
    if (c == 0) break;
    if (c == ';') {
      names.push_back(name);
      name.clear();
    } else {
      name += static_cast<char>(c);
    }
  }
  if (!name.empty()) names.push_back(name);
  co_await link_.acknowledge("reply");
  setOutcome(cable_.registerApplications(std::move(names)));
}

asio::awaitable<void> Session::interfaceFunction() {
  int code = 0;
  if (!co_await takeFunctionCode(code)) {
    setOutcome(Outcome::of(-1));
    co_return;
  }
  const FunctionRow* row = findFunction(code);
  if (!row) {
    link_.trace().note(link_.id(), "function " + std::to_string(code) + " carries nothing");
    setOutcome(Outcome::of(-1));
    co_return;
  }
  if (row->shape == FunctionShape::JtagShift) {
    setOutcome(Outcome::of(co_await jtagShift()));
    co_return;
  }
  Arguments args;
  const bool taken = co_await takeFunctionArguments(*row, args);
  setOutcome(taken ? cable_.interfaceFunction(code, args) : Outcome::of(-1));
}

asio::awaitable<bool> Session::takeFunctionCode(int& code) {
  const std::string token = co_await link_.readToken("interface function code");
  const bool known = parseInt(token, code);
  if (known) {
    current_ += ", function " + std::to_string(code);
    armFaults(kInterfaceCommand, code);
  }
  if (fire(FaultKind::Refuse)) co_return co_await refuse("the fault plan refuses the token");
  if (!known) {
    co_return co_await refuse("not an integer: " + describeBytes(token.data(), token.size()));
  }
  co_await link_.acknowledge("acknowledged");
  co_return true;
}

asio::awaitable<bool> Session::takeFunctionArguments(const FunctionRow& row, Arguments& args) {
  switch (row.shape) {
    case FunctionShape::Strings:
      for (int i = 0; i < row.count; ++i) {
        args.strings.push_back(co_await takeString("string", false));
      }
      co_return true;
    case FunctionShape::Ints:
      co_return co_await takeInts(row.count, args, "integer");
    case FunctionShape::IntStringInt:
      // The client sends all three even when one is refused.
      for (int i = 0; i < 2; ++i) {
        int value = 0;
        if (co_await takeInt(value, "integer")) args.ints.push_back(value);
        if (i == 0) args.strings.push_back(co_await takeString("string", false));
      }
      co_return true;
    case FunctionShape::CountedPairs:
      co_await takeCountedPairs(args);
      co_return true;
    case FunctionShape::FloatBlock:
      co_await takeValueBlock(args);
      co_return true;
    case FunctionShape::FloatToken:
      co_return co_await takeValueToken(args);
    default:
      co_return true;
  }
}

asio::awaitable<void> Session::takeCountedPairs(Arguments& args) {
  int count = 0;
  const std::string counted = co_await link_.readToken("count of string pairs");
  if (!parseInt(counted, count)) {
    link_.trace().problem(link_.id(), "count of pairs is not an integer, taken as 0");
    count = 0;
  }
  co_await link_.acknowledge("acknowledged");
  for (long long i = 0; i < 2LL * count; ++i) {
    std::string text = co_await takeString("string of a pair", false);
    if (args.strings.size() < kMaxKeptStrings) args.strings.push_back(std::move(text));
  }
  args.ints.push_back(count);
}

asio::awaitable<void> Session::takeValueBlock(Arguments& args) {
  // The client's answer here is any two bytes, so a bad value cannot be refused: it counts
  // as 0, which the function itself then turns down.
  std::array<std::uint8_t, kBlockSize> block;
  co_await link_.readExact(block.data(), kBlockSize, "value block");
  const auto* text = reinterpret_cast<const char*>(block.data());
  const auto* nul = static_cast<const char*>(std::memchr(text, 0, block.size()));
  double value = 0;
  if (!parseReal(std::string_view(text, nul ? nul - text : block.size()), value)) {
    link_.trace().problem(link_.id(), "value block holds no number, taken as 0");
  }
  args.reals.push_back(value);
  co_await link_.acknowledge("reply");
}

asio::awaitable<bool> Session::takeValueToken(Arguments& args) {
  const std::string text = co_await link_.readToken("value");
  double value = 0;
  if (!parseReal(text, value)) {
    co_return co_await refuse("not a number: " + describeBytes(text.data(), text.size()));
  }
  args.reals.push_back(value);
  co_await link_.acknowledge("acknowledged");
  co_return true;
}

}  // namespace broker
