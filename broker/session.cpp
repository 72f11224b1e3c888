#include "broker/session.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <exception>

#include "broker/bits.h"

namespace broker {
namespace {

// Command 120 may announce any number of strings; the broker reads them all but keeps
// only this many.
constexpr std::size_t kMaxKeptStrings = 128;

std::string commandName(int number, const CommandRow* row) {
  return "command " + std::to_string(number) + " (" + (row ? row->name : "unlisted") + ")";
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

Session::Session(Link& link, SimulatedCable& cable) : link_(link), cable_(cable) {}

void Session::run() {
  const Trace& trace = link_.trace();
  try {
    const std::string name = link_.readToken("introduction: the client's name");
    trace.note(link_.id(), "client " + describeBytes(name.data(), name.size()) + " connected");
    link_.acknowledge("introduction answered");
    for (;;) {
      current_ = "the pause between commands";
      const std::string token = link_.readToken({}, true);
      const std::string bytes = token + '\0';
      if (token == "+") {
        trace.exchange(link_.id(), Trace::Direction::Received, bytes.data(), bytes.size(),
                       "request");
        answerRequest();
        continue;
      }
      int number = 0;
      if (!parseInt(token, number)) {
        trace.exchange(link_.id(), Trace::Direction::Received, bytes.data(), bytes.size(),
                       "garbage");
        throw LinkClosed{"not a command: " + describeBytes(token.data(), token.size()), false};
      }
      current_ = commandName(number, findCommand(number));
      trace.exchange(link_.id(), Trace::Direction::Received, bytes.data(), bytes.size(),
                     current_);
      runCommand(number);
    }
  } catch (const LinkClosed& closed) {
    if (closed.orderly) {
      trace.note(link_.id(), "the client left");
    } else {
      trace.problem(link_.id(), "connection closed in " + current_ + ": " + closed.reason);
    }
  } catch (const std::exception& error) {
    trace.problem(link_.id(), "connection closed in " + current_ + ": " + error.what());
  }
}

void Session::setOutcome(Outcome outcome) {
  pending_ = std::move(outcome);
  pendingFrom_ = current_;
  answered_ = 0;
}

void Session::answerRequest() {
  // The first request after a command takes its integer, later ones its text or list.
  const bool detail = answered_ > 0 && pending_.hasDetail;
  ++answered_;
  if (detail) {
    link_.sendText(pending_.detail, "answer: text of " + pendingFrom_);
  } else {
    link_.sendText(std::to_string(pending_.result), "answer: result of " + pendingFrom_);
  }
}

bool Session::refuse(std::string_view reason) {
  link_.refuse("refused");
  link_.trace().problem(link_.id(), "refused in " + current_ + ": " + std::string(reason));
  return false;
}

bool Session::readInt(int& value, std::string_view meaning) {
  const std::string token = link_.readToken(meaning);
  if (parseInt(token, value)) return true;
  return refuse("not an integer: " + describeBytes(token.data(), token.size()));
}

bool Session::takeInt(int& value, std::string_view meaning) {
  if (!readInt(value, meaning)) return false;
  link_.acknowledge("acknowledged");
  return true;
}

std::string Session::takeString(std::string_view meaning, bool loose) {
  std::string text = link_.readToken(meaning);
  link_.acknowledge(loose ? "reply" : "acknowledged");
  return text;
}

bool Session::takeLength(int& bitCount, int& byteCount, std::string_view meaning) {
  if (!readInt(bitCount, meaning)) return false;
  byteCount = bytesForBits(bitCount);
  if (byteCount < 0 || byteCount > SimulatedCable::kMaxTransferBytes) {
    return refuse("a length of " + std::to_string(bitCount) + " bits is outside 0 to " +
                  std::to_string(8 * SimulatedCable::kMaxTransferBytes));
  }
  link_.acknowledge("acknowledged");
  return true;
}

void Session::receiveBlocks(std::vector<std::uint8_t>& data, bool padded,
                            std::string_view meaning) {
  std::vector<std::uint8_t> block(kBlockSize);
  const std::size_t blocks = (data.size() + kBlockSize - 1) / kBlockSize;
  for (std::size_t k = 0; k < blocks; ++k) {
    const std::size_t offset = k * kBlockSize;
    const std::size_t length = std::min<std::size_t>(kBlockSize, data.size() - offset);
    const std::string what = std::string(meaning) + ", block " + std::to_string(k + 1) + "/" +
                             std::to_string(blocks);
    link_.readExact(block.data(), padded ? kBlockSize : length, what);
    std::copy_n(block.begin(), length, data.begin() + static_cast<std::ptrdiff_t>(offset));
    link_.acknowledge("acknowledged");
  }
}

void Session::sendBlocks(std::vector<std::uint8_t> data, bool marked,
                         std::string_view meaning) {
  const std::size_t blocks = (data.size() + kBlockSize - 1) / kBlockSize;
  for (std::size_t k = 0; k < blocks; ++k) {
    const std::size_t offset = k * kBlockSize;
    const std::size_t length = std::min<std::size_t>(kBlockSize, data.size() - offset);
    if (marked) data[offset] = '+';
    link_.send(data.data() + offset, length,
               std::string(meaning) + ", block " + std::to_string(k + 1) + "/" +
                   std::to_string(blocks));
    link_.readRequest("request for the next block");
  }
}

void Session::sendReadBack(const std::vector<std::uint8_t>& data, std::string_view meaning) {
  static const std::uint8_t kNothing = 0;
  if (data.empty()) {
    link_.send(&kNothing, 1, meaning);
  } else {
    link_.send(data.data(), data.size(), meaning);
  }
}

void Session::runCommand(int number) {
  const CommandRow* row = findCommand(number);
  link_.acknowledge("reply to the command");
  if (!row) {
    setOutcome(Outcome::of(-1));
    return;
  }
  Arguments args;
  switch (row->shape) {
    case Shape::None:
      break;
    case Shape::LooseStrings:
    case Shape::Strings:
      for (int i = 0; i < row->count; ++i) {
        args.strings.push_back(
            takeString("string argument", row->shape == Shape::LooseStrings));
      }
      break;
    case Shape::Ints:
      for (int i = 0; i < row->count; ++i) {
        int value = 0;
        if (!takeInt(value, "integer argument")) return setOutcome(Outcome::of(-1));
        args.ints.push_back(value);
      }
      break;
    case Shape::Pairs:
      for (int i = 0; i < 4; ++i) {
        int value = 0;
        if (!takeInt(value, "integer of a pair")) return setOutcome(Outcome::of(-1));
        args.ints.push_back(value);
        args.strings.push_back(takeString("string of a pair", false));
      }
      break;
    case Shape::CableOpen:
      return cableOpen();
    case Shape::SessionFlag:
      // The client's flag request follows at once and takes "1" or "0".
      return setOutcome(Outcome::of(cable_.openSession() ? 1 : 0));
    case Shape::GenericShift:
      return genericShift();
    case Shape::SharedApps:
      return sharedApplications();
    case Shape::PumpData:
      return pumpData();
    case Shape::Interface:
      return interfaceFunction();
    case Shape::I2c:
    case Shape::Sspi:
      return busTransfers(*row);
    case Shape::Withheld:
      // Nothing of the command reached the broker, so nothing changes.
      return;
  }
  setOutcome(cable_.command(number, args));
}

void Session::cableOpen() {
  const std::string cable = takeString("cable name", true);
  const std::string port = takeString("port name", true);
  std::array<int, 10> settings{};
  for (int& setting : settings) {
    // The client takes any reply here, so a bad value cannot be refused: it counts as 0.
    const std::string token = link_.readToken("cable setting");
    if (!parseInt(token, setting)) {
      setting = 0;
      link_.trace().problem(link_.id(), "cable setting is not an integer, taken as 0");
    }
    link_.acknowledge("reply");
  }
  // The client's flag request follows at once and takes "1" or "0".
  setOutcome(Outcome::of(cable_.openCable(cable, port, settings) ? 1 : 0));
}

void Session::sharedApplications() {
  std::vector<std::uint8_t> block(kBlockSize);
  link_.readExact(block.data(), block.size(), "packed application list");
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
  link_.acknowledge("reply");
  setOutcome(cable_.registerApplications(std::move(names)));
}

void Session::interfaceFunction() {
  int code = 0;
  if (!takeInt(code, "interface function code")) return setOutcome(Outcome::of(-1));
  const FunctionRow* row = findFunction(code);
  current_ += ", function " + std::to_string(code);
  if (!row) {
    link_.trace().note(link_.id(), "function " + std::to_string(code) + " carries nothing");
    return setOutcome(Outcome::of(-1));
  }
  Arguments args;
  switch (row->shape) {
    case FunctionShape::None:
      break;
    case FunctionShape::Strings:
      for (int i = 0; i < row->count; ++i) args.strings.push_back(takeString("string", false));
      break;
    case FunctionShape::Ints:
      for (int i = 0; i < row->count; ++i) {
        int value = 0;
        if (!takeInt(value, "integer")) return setOutcome(Outcome::of(-1));
        args.ints.push_back(value);
      }
      break;
    case FunctionShape::IntStringInt: {
      // The client sends all three even when one is refused.
      int value = 0;
      if (takeInt(value, "integer")) args.ints.push_back(value);
      args.strings.push_back(takeString("string", false));
      if (takeInt(value, "integer")) args.ints.push_back(value);
      break;
    }
    case FunctionShape::CountedPairs: {
      int count = 0;
      const std::string token = link_.readToken("count of string pairs");
      if (!parseInt(token, count)) {
        link_.trace().problem(link_.id(), "count of pairs is not an integer, taken as 0");
        count = 0;
      }
      link_.acknowledge("acknowledged");
      for (long long i = 0; i < 2LL * count; ++i) {
        std::string text = takeString("string of a pair", false);
        if (args.strings.size() < kMaxKeptStrings) args.strings.push_back(std::move(text));
      }
      args.ints.push_back(count);
      break;
    }
    case FunctionShape::JtagShift:
      return jtagShift();
    case FunctionShape::FloatBlock: {
      // The client's answer here is any two bytes, so a bad value cannot be refused: it
      // counts as 0, which the function itself then turns down.
      std::vector<std::uint8_t> block(kBlockSize);
      link_.readExact(block.data(), kBlockSize, "value block");
      const auto* text = reinterpret_cast<const char*>(block.data());
      const auto* nul = static_cast<const char*>(std::memchr(text, 0, block.size()));
      double value = 0;
      if (!parseReal(std::string_view(text, nul ? nul - text : block.size()), value)) {
        link_.trace().problem(link_.id(), "value block holds no number, taken as 0");
      }
      args.reals.push_back(value);
      link_.acknowledge("reply");
      break;
    }
    case FunctionShape::FloatToken: {
      const std::string token = link_.readToken("value");
      double value = 0;
      if (!parseReal(token, value)) {
        refuse("not a number: " + describeBytes(token.data(), token.size()));
        return setOutcome(Outcome::of(-1));
      }
      args.reals.push_back(value);
      link_.acknowledge("acknowledged");
      break;
    }
  }
  setOutcome(cable_.interfaceFunction(code, args));
}

}  // namespace broker
