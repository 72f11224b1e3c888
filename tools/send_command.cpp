#include "send_command.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <utility>

#include "protocol/shapes.h"
#include "tool_error.h"

namespace tapclient {
namespace {

namespace shapes = tapbroker::protocol::shapes;

enum class Shape {
  None, Strings, Ints, Pairs, CableOpen, ApplicationList, Interface,
  GenericShift, PumpData, I2CShift, SSPIShift
};
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
constexpr std::size_t kCableSettings = shapes::kCommand4Values;

// Commands by the arguments that follow the number, from the library's own table.
CommandShape commandShape(int command) {
  const shapes::Command& row = shapes::command(command);
  switch (row.transfer) {
    case shapes::Transfer::Ints:
      return {Shape::Ints, row.count};
    case shapes::Transfer::Strings:
    case shapes::Transfer::StringsAnyAck:
      return {Shape::Strings, row.count};
    case shapes::Transfer::Pairs:
      return {Shape::Pairs, 4};
    case shapes::Transfer::Command4:
      return {Shape::CableOpen, 0};
    case shapes::Transfer::SharedApps:
      return {Shape::ApplicationList, 0};
    case shapes::Transfer::InterfaceFunction:
      return {Shape::Interface, 0};
    case shapes::Transfer::GenericShift:
      return {Shape::GenericShift, 0};
    case shapes::Transfer::PumpData:
      return {Shape::PumpData, 0};
    case shapes::Transfer::I2CShift:
      return {Shape::I2CShift, 0};
    case shapes::Transfer::SSPIShift:
      return {Shape::SSPIShift, 0};
    default:
      return {Shape::None, 0};
  }
}

// Interface function codes by the arguments that follow the code, from the library's own
// table. Codes 36, 69 and 70 take their value as an int, which the library turns into the
// text the broker reads.
FunctionRow functionShape(int code) {
  const shapes::InterfaceFunction function = shapes::interfaceFunction(code);
  switch (function.shape) {
    case shapes::Function::Strings:
      return {FunctionShape::Strings, function.count};
    case shapes::Function::Ints:
      return {FunctionShape::Ints, function.count};
    case shapes::Function::FloatBlock:
    case shapes::Function::FloatToken:
      return {FunctionShape::Ints, 1};
    case shapes::Function::IntStringInt:
      return {FunctionShape::IntStringInt, 3};
    case shapes::Function::CountedStringPairs:
      return {FunctionShape::CountedPairs, 0};
    case shapes::Function::JtagShift:
      return {FunctionShape::JtagShift, 0};
    default:
      return {FunctionShape::None, 0};
  }
}

// The scan transfers by the position of their bit count, their data buffer and their
// read-back switch among the arguments (-1: none). A JTAG shift's data comes after its
// switches, and its buffers A and B follow when those are on.
struct ScanLayout {
  const char* types;
  int bitCount;
  int data;
  int readBack;
};
constexpr ScanLayout kGenericShift{"iiid", 1, 3, 2};
constexpr ScanLayout kPumpData{"diii", 1, 0, 3};
constexpr ScanLayout kI2CShift{"iiidi", 2, 3, -1};
constexpr ScanLayout kSSPIShift{"iidi", 1, 2, -1};
constexpr ScanLayout kJtagShift{"iiiiid", 2, 5, 3};

const ScanLayout* scanLayout(int command, const std::vector<TypedArgument>& arguments) {
  switch (commandShape(command).shape) {
    case Shape::GenericShift:
      return &kGenericShift;
    case Shape::PumpData:
      return &kPumpData;
    case Shape::I2CShift:
      return &kI2CShift;
    case Shape::SSPIShift:
      return &kSSPIShift;
    case Shape::Interface:
      if (!arguments.empty() && arguments[0].isInt &&
          functionShape(arguments[0].number).shape == FunctionShape::JtagShift)
        return &kJtagShift;
      return nullptr;
    default:
      return nullptr;
  }
}

int numberAt(const std::vector<TypedArgument>& arguments, int index) {
  const auto at = static_cast<std::size_t>(index);
  return index >= 0 && at < arguments.size() && arguments[at].isInt ? arguments[at].number : 0;
}

// The bytes the library reads from a buffer of the shift: (bitCount + 7) / 8.
std::size_t bufferBytes(const std::vector<TypedArgument>& arguments, const ScanLayout& layout) {
  const long long bits = numberAt(arguments, layout.bitCount);
  return bits > 0 ? static_cast<std::size_t>((bits + 7) / 8) : 0;
}

// The argument types a command expects, as 'i', 's' and 'd' (data), for an argument list
// of `given` entries (the lists whose length varies take theirs from what was given).
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
          return std::string(kJtagShift.types) + (numberAt(arguments, 3) != 0 ? "d" : "") +
                 (numberAt(arguments, 4) != 0 ? "d" : "");
      }
      return "i";
    }
    case Shape::GenericShift:
    case Shape::PumpData:
    case Shape::I2CShift:
    case Shape::SSPIShift:
      return scanLayout(command, arguments)->types;
  }
  return "";
}

std::string synopsisOf(const std::string& types, int command) {
  std::string text;
  for (char type : types) {
    if (!text.empty()) text += ' ';
    text += type == 'i' ? "i:NUMBER" : type == 's' ? "s:TEXT" : "d:DATA";
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

// The largest data file taken: the longest transfer the broker accepts, with room to spare.
constexpr std::size_t kMaxDataFile = std::size_t{64} << 20;

// "1a2B..." as bytes, or the bytes of the file after "@".
std::string dataArgument(const std::string& value) {
  if (value.rfind('@', 0) == 0) {
    const std::string path = value.substr(1);
    std::ifstream file(path, std::ios::binary);
    if (!file) throw ToolError("cannot read " + path + ": " + std::strerror(errno));
    // Piece by piece, so that memory follows the file, and a file without end (a device, a
    // pipe) stops at the limit.
    std::string bytes;
    char piece[65536];
    while (bytes.size() <= kMaxDataFile && file.read(piece, sizeof piece).gcount() > 0)
      bytes.append(piece, static_cast<std::size_t>(file.gcount()));
    if (file.bad()) throw ToolError("cannot read " + path + ": " + std::strerror(errno));
    if (bytes.size() > kMaxDataFile)
      throw UsageError(path + " is larger than " + std::to_string(kMaxDataFile) + " bytes");
    return bytes;
  }
  const auto digit = [](char c) {
    const char* digits = "0123456789abcdef";
    const char* at = std::strchr(digits, c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c);
    return at != nullptr && c != '\0' ? static_cast<int>(at - digits) : -1;
  };
  std::string bytes;
  for (std::size_t i = 0; i + 1 < value.size(); i += 2) {
    const int high = digit(value[i]), low = digit(value[i + 1]);
    if (high < 0 || low < 0) break;
    bytes.push_back(static_cast<char>(high << 4 | low));
  }
  if (bytes.size() * 2 != value.size()) {
    throw UsageError("data \"d:" + value +
                     "\" is neither pairs of hex digits nor @FILE");
  }
  return bytes;
}

}  // namespace

TypedArgument parseTypedArgument(const std::string& word) {
  TypedArgument argument;
  if (word.rfind("s:", 0) == 0) {
    argument.text = word.substr(2);
    return argument;
  }
  if (word.rfind("d:", 0) == 0) {
    argument.isData = true;
    argument.text = dataArgument(word.substr(2));
    return argument;
  }
  const std::string number = word.rfind("i:", 0) == 0 ? word.substr(2) : word;
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(number.c_str(), &end, 0);
  if (number.empty() || *end != '\0' || errno == ERANGE || value < INT_MIN ||
      value > static_cast<long long>(UINT_MAX)) {
    throw UsageError("argument \"" + word +
                     "\" is none of i:NUMBER (a 32-bit integer), s:TEXT and d:DATA (hex "
                     "digits or @FILE)");
  }
  argument.isInt = true;
  // 0x80000000 to 0xFFFFFFFF are taken as the 32-bit patterns they spell.
  argument.number = static_cast<int>(static_cast<std::uint32_t>(value));
  return argument;
}

bool withheldUntilOpen(int command) {
  return shapes::command(command).withheld;
}

std::string unknownToTheProtocol(int command, const std::vector<TypedArgument>& arguments) {
  if (shapes::command(command).transfer ==
      shapes::Transfer::Unlisted)
    return "command " + std::to_string(command);
  if (commandShape(command).shape == Shape::Interface && !arguments.empty() &&
      shapes::interfaceFunction(arguments[0].number).shape ==
          shapes::Function::Unknown)
    return "interface function " + std::to_string(arguments[0].number);
  return {};
}

void checkTypedArguments(int command, const std::vector<TypedArgument>& arguments) {
  const std::string expected = expectedTypes(command, arguments);
  std::string given;
  for (const TypedArgument& argument : arguments)
    given += argument.isInt ? 'i' : argument.isData ? 'd' : 's';
  if (given == expected) {
    // The library reads a whole buffer's worth from every data argument.
    if (const ScanLayout* layout = scanLayout(command, arguments)) {
      const std::size_t needed = bufferBytes(arguments, *layout);
      for (std::size_t i = static_cast<std::size_t>(layout->data); i < arguments.size(); ++i) {
        if (arguments[i].isData && arguments[i].text.size() < needed) {
          throw UsageError("command " + std::to_string(command) + " shifts " +
                           std::to_string(numberAt(arguments, layout->bitCount)) +
                           " bits: each data argument needs " + std::to_string(needed) +
                           " bytes, argument " + std::to_string(i + 1) + " has " +
                           std::to_string(arguments[i].text.size()));
        }
      }
    }
    return;
  }
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
  auto data = [&](std::size_t i) {
    return i < a.size() ? reinterpret_cast<const unsigned char*>(a[i].text.data()) : nullptr;
  };
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
        case FunctionShape::JtagShift:
          // Buffers A and B are passed only when their switch is on; a null in their place
          // is never read.
          return client.Send(44, code, number(1), number(2), number(3), number(4), data(5),
                             data(6), data(7));
        default:
          return client.Send(44, code, number(1), number(2), number(3), number(4), number(5));
      }
    }
    case Shape::GenericShift:
      return client.Send(19, number(0), number(1), number(2), data(3));
    case Shape::PumpData:
      return client.Send(42, data(0), number(1), number(2), number(3));
    case Shape::I2CShift:
      return client.Send(command, number(0), number(1), number(2), data(3), number(4));
    case Shape::SSPIShift:
      return client.Send(command, number(0), number(1), data(2), number(3));
  }
  return 0;  // not reached: every shape has its case
}

std::string takeReadBack(Client& client, int command, const std::vector<TypedArgument>& arguments) {
  const ScanLayout* layout = scanLayout(command, arguments);
  if (layout == nullptr || (layout->readBack >= 0 && numberAt(arguments, layout->readBack) == 0))
    return {};
  const int bits = numberAt(arguments, layout->bitCount);
  if (bits <= 0) return {};
  std::vector<unsigned char> back(static_cast<std::size_t>((bits + 7LL) / 8));
  // Nothing held (-1022): the command left no read-back.
  if (client.GetTDO(reinterpret_cast<char*>(back.data()), bits) != 0) return {};
  static const char digits[] = "0123456789abcdef";
  std::string text;
  text.reserve(back.size() * 2);
  for (unsigned char byte : back) {
    text += digits[byte >> 4];
    text += digits[byte & 15];
  }
  return text;
}

}  // namespace tapclient
