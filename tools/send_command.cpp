#include "send_command.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <utility>

#include "protocol/shapes.h"
#include "tool_error.h"

namespace tapclient {
namespace {

enum class Shape { None, Strings, Ints, Pairs, CableOpen, ApplicationList, Interface, Scan };
enum class FunctionShape { None, Strings, Ints, IntStringInt, CountedPairs, JtagShift };

struct CommandShape {
  Shape shape;
  int count;
};
struct FunctionRow {
  FunctionShape shape;
  int count;
};

// The longest lists tapclient passes: the string tails of commands 41 and 44/120.
constexpr std::size_t kMaxTailStrings = 64;
constexpr std::size_t kCableSettings = tapbroker::shapes::kCommand4Values;

// Commands by the arguments that follow the number, from the library's own table.
CommandShape commandShape(int command) {
  const tapbroker::shapes::Command& row = tapbroker::shapes::command(command);
  switch (row.transfer) {
    case tapbroker::shapes::Transfer::Ints:
      return {Shape::Ints, row.count};
    case tapbroker::shapes::Transfer::Strings:
    case tapbroker::shapes::Transfer::StringsAnyAck:
      return {Shape::Strings, row.count};
    case tapbroker::shapes::Transfer::Pairs:
      return {Shape::Pairs, 4};
    case tapbroker::shapes::Transfer::Command4:
      return {Shape::CableOpen, 0};
    case tapbroker::shapes::Transfer::SharedApps:
      return {Shape::ApplicationList, 0};
    case tapbroker::shapes::Transfer::InterfaceFunction:
      return {Shape::Interface, 0};
    case tapbroker::shapes::Transfer::GenericShift:
    case tapbroker::shapes::Transfer::PumpData:
    case tapbroker::shapes::Transfer::I2CShift:
    case tapbroker::shapes::Transfer::SSPIShift:
      return {Shape::Scan, 0};
    default:
      return {Shape::None, 0};
  }
}

// Interface function codes by the arguments that follow the code, from the library's own
// table. Codes 36, 69 and 70 take their value as an int, which the library turns into the
// text the broker reads.
FunctionRow functionShape(int code) {
  const tapbroker::shapes::InterfaceFunction function =
      tapbroker::shapes::interfaceFunction(code);
  switch (function.shape) {
    case tapbroker::shapes::Function::Strings:
      return {FunctionShape::Strings, function.count};
    case tapbroker::shapes::Function::Ints:
      return {FunctionShape::Ints, function.count};
    case tapbroker::shapes::Function::FloatBlock:
    case tapbroker::shapes::Function::FloatToken:
      return {FunctionShape::Ints, 1};
    case tapbroker::shapes::Function::IntStringInt:
      return {FunctionShape::IntStringInt, 3};
    case tapbroker::shapes::Function::CountedStringPairs:
      return {FunctionShape::CountedPairs, 0};
    case tapbroker::shapes::Function::JtagShift:
      return {FunctionShape::JtagShift, 0};
    default:
      return {FunctionShape::None, 0};
  }
}

// The argument types a command expects, as 'i' and 's', for an argument list of `given`
// entries (the lists whose length varies take theirs from what was given).
std::string expectedTypes(int command, const std::vector<TypedArgument>& arguments) {
  const CommandShape shape = commandShape(command);
  const std::size_t given = arguments.size();
  switch (shape.shape) {
    case Shape::None:
      return "";
    case Shape::Strings:
      return std::string(static_cast<std::size_t>(shape.count), 's');
    case Shape::Ints:
      return std::string(static_cast<std::size_t>(shape.count), 'i');
    case Shape::Pairs:
      return "isisisis";
    case Shape::CableOpen:
      return "ss" + std::string(std::clamp<std::size_t>(given, 2, 2 + kCableSettings) - 2, 'i');
    case Shape::ApplicationList:
      return std::string(std::clamp<std::size_t>(given, 1, kMaxTailStrings), 's');
    case Shape::Interface: {
      if (given == 0 || !arguments[0].isInt) return "i";
      const FunctionRow row = functionShape(arguments[0].number);
      switch (row.shape) {
        case FunctionShape::None:
          return "i";
        case FunctionShape::Strings:
          return "i" + std::string(static_cast<std::size_t>(row.count), 's');
        case FunctionShape::Ints:
          return "i" + std::string(static_cast<std::size_t>(row.count), 'i');
        case FunctionShape::IntStringInt:
          return "iisi";
        case FunctionShape::CountedPairs: {
          // The pair count is taken from the strings given.
          std::size_t strings = given > 1 ? given - 1 : 0;
          strings = std::min(strings + strings % 2, kMaxTailStrings);
          return "i" + std::string(strings, 's');
        }
        case FunctionShape::JtagShift:
          throw UsageError(
              "interface function 12 is the JTAG shift, which carries data buffers: "
              "tapclient scan runs one");
      }
      return "i";
    }
    case Shape::Scan:
      throw UsageError("command " + std::to_string(command) +
                       " carries scan data, which cannot be typed on a command line: "
                       "tapclient program, scan and demo run those transfers");
  }
  return "";
}

std::string synopsisOf(const std::string& types, int command) {
  std::string text;
  for (char type : types) {
    if (!text.empty()) text += ' ';
    text += type == 'i' ? "i:NUMBER" : "s:TEXT";
  }
  const Shape shape = commandShape(command).shape;
  if (shape == Shape::CableOpen) text = "s:CABLE s:PORT [i:SETTING]... (at most ten)";
  if (shape == Shape::ApplicationList) text = "s:NAME... (one or more application names)";
  if (shape == Shape::Interface) text.replace(0, 8, "i:CODE");  // the function code first
  return text.empty() ? "no arguments" : text;
}

const char* textOf(const TypedArgument& argument) { return argument.text.c_str(); }

// Passes an int prefix and a tail of strings; the tail is padded with null pointers that
// the library never reads, since the counts before the tail say how many it takes.
template <typename... Prefix, std::size_t... K>
int sendWithTail(Client& client, int command,
                 const std::array<const char*, kMaxTailStrings>& tail,
                 std::index_sequence<K...>, Prefix... prefix) {
  return client.Send(command, prefix..., tail[K]...);
}

std::array<const char*, kMaxTailStrings> tailOf(const std::vector<TypedArgument>& arguments,
                                                std::size_t from) {
  std::array<const char*, kMaxTailStrings> tail{};
  for (std::size_t i = from, k = 0; i < arguments.size() && k < tail.size(); ++i, ++k)
    tail[k] = textOf(arguments[i]);
  return tail;
}

}  // namespace

TypedArgument parseTypedArgument(const std::string& word) {
  TypedArgument argument;
  if (word.rfind("s:", 0) == 0) {
    argument.text = word.substr(2);
    return argument;
  }
  const std::string number = word.rfind("i:", 0) == 0 ? word.substr(2) : word;
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(number.c_str(), &end, 0);
  if (number.empty() || *end != '\0' || errno == ERANGE || value < INT_MIN ||
      value > static_cast<long long>(UINT_MAX)) {
    throw UsageError("argument \"" + word +
                     "\" is neither i:NUMBER (a 32-bit integer) nor s:TEXT");
  }
  argument.isInt = true;
  // 0x80000000 to 0xFFFFFFFF are taken as the 32-bit patterns they spell.
  argument.number = static_cast<int>(static_cast<std::uint32_t>(value));
  return argument;
}

bool withheldUntilOpen(int command) { return tapbroker::shapes::command(command).withheld; }

std::string unknownToTheProtocol(int command, const std::vector<TypedArgument>& arguments) {
  if (tapbroker::shapes::command(command).transfer == tapbroker::shapes::Transfer::Unlisted)
    return "command " + std::to_string(command);
  if (commandShape(command).shape == Shape::Interface && !arguments.empty() &&
      tapbroker::shapes::interfaceFunction(arguments[0].number).shape ==
          tapbroker::shapes::Function::Unknown)
    return "interface function " + std::to_string(arguments[0].number);
  return {};
}

void checkTypedArguments(int command, const std::vector<TypedArgument>& arguments) {
  const std::string expected = expectedTypes(command, arguments);
  std::string given;
  for (const TypedArgument& argument : arguments) given += argument.isInt ? 'i' : 's';
  if (given == expected) return;
  std::string which = "command " + std::to_string(command);
  if (commandShape(command).shape == Shape::Interface && !arguments.empty() &&
      arguments[0].isInt) {
    which += " function " + std::to_string(arguments[0].number);
  }
  throw UsageError(which + " takes " + synopsisOf(expected, command));
}

int sendTyped(Client& client, int command, const std::vector<TypedArgument>& arguments) {
  checkTypedArguments(command, arguments);
  const auto& a = arguments;
  auto number = [&](std::size_t i) { return i < a.size() && a[i].isInt ? a[i].number : 0; };
  auto text = [&](std::size_t i) { return i < a.size() ? textOf(a[i]) : ""; };
  const auto everyTail = std::make_index_sequence<kMaxTailStrings>();

  switch (commandShape(command).shape) {
    case Shape::None:
    case Shape::Ints:
      // Unread trailing arguments are harmless: the command reads as many as it takes.
      return client.Send(command, number(0), number(1));
    case Shape::Strings:
      return client.Send(command, text(0), text(1));
    case Shape::Pairs:
      return client.Send(command, number(0), text(1), number(2), text(3), number(4), text(5),
                         number(6), text(7));
    case Shape::CableOpen: {
      std::array<int, kCableSettings> settings{0, 0, 0, 1, 0, 0, 0, 1, 0, 0};
      const int count = static_cast<int>(a.size()) - 2;
      for (int i = 0; i < count; ++i) settings[static_cast<std::size_t>(i)] = number(2 + i);
      return client.Send(4, text(0), text(1), count, settings[0], settings[1], settings[2],
                         settings[3], settings[4], settings[5], settings[6], settings[7],
                         settings[8], settings[9]);
    }
    case Shape::ApplicationList:
      return sendWithTail(client, 41, tailOf(a, 0), everyTail, static_cast<int>(a.size()));
    case Shape::Interface: {
      const int code = number(0);
      switch (functionShape(code).shape) {
        case FunctionShape::Strings:
          return client.Send(44, code, text(1), text(2));
        case FunctionShape::IntStringInt:
          return client.Send(44, code, number(1), text(2), number(3));
        case FunctionShape::CountedPairs:
          return sendWithTail(client, 44, tailOf(a, 1), everyTail, code,
                              static_cast<int>((a.size() - 1) / 2));
        default:
          return client.Send(44, code, number(1), number(2), number(3), number(4), number(5));
      }
    }
    case Shape::Scan:
      break;
  }
  return 0;  // not reached: scan commands were refused above
}

}  // namespace tapclient
