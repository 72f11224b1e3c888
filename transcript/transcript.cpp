#include "transcript/transcript.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <utility>

namespace tapbroker::transcript {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";
constexpr std::string_view kClientWord = "client";
constexpr std::string_view kHexWord = "hex";
constexpr std::string_view kBlanks = " \t\r";
// More NULs than kZerosWrittenOut at the end of a token (an answer padded to its block, an
// all-zero block) are counted after the quotes, as the broker's trace does:
// `"0\0" + 1022 zero bytes`.
constexpr std::size_t kZerosWrittenOut = 4;
constexpr std::string_view kPaddingWords = "zero bytes";
// At most one call's worth (no call of the conversation moves more than 1024 bytes), so
// that an edited count cannot make a reader hold more than some 50 bytes for each
// character of the transcript, about what a real one comes to.
constexpr std::size_t kMostPadding = 1024;

bool printable(unsigned char c) { return c >= 0x20 && c < 0x7F; }

// A token, perhaps padded: printable text, then NULs only. The broker's trace decides the
// same way, so the same bytes look alike in both.
bool readsAsToken(const unsigned char* bytes, std::size_t length) {
  std::size_t i = 0;
  while (i < length && printable(bytes[i])) ++i;
  while (i < length && bytes[i] == 0) ++i;
  return i == length;
}

char* putText(char* out, std::string_view text) {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

char* putQuoted(char* out, const unsigned char* bytes, std::size_t length) {
  *out++ = '"';
  for (std::size_t i = 0; i < length; ++i) {
    const unsigned char c = bytes[i];
    if (c == 0) {
      *out++ = '\\';
      *out++ = '0';
    } else if (c == '"' || c == '\\') {
      *out++ = '\\';
      *out++ = static_cast<char>(c);
    } else if (printable(c)) {
      *out++ = static_cast<char>(c);
    } else {
      *out++ = '\\';
      *out++ = 'x';
      *out++ = kHexDigits[c >> 4];
      *out++ = kHexDigits[c & 0xF];
    }
  }
  *out++ = '"';
  return out;
}

// The two digits of every byte value, side by side: one copy a byte instead of two lookups.
constexpr auto kHexPairs = [] {
  std::array<char, 512> pairs{};
  for (int value = 0; value < 256; ++value) {
    pairs[2 * value] = kHexDigits[value >> 4];
    pairs[2 * value + 1] = kHexDigits[value & 0xF];
  }
  return pairs;
}();

char* putHex(char* out, const unsigned char* bytes, std::size_t length) {
  out = putText(out, kHexWord);
  *out++ = ' ';
  for (std::size_t i = 0; i < length; ++i, out += 2) std::memcpy(out, &kHexPairs[2 * bytes[i]], 2);
  return out;
}

// Runs `write` into the end of `out`, given room for `most` characters.
template <class Write>
void appendWritten(std::string& out, std::size_t most, Write write) {
  const std::size_t at = out.size();
  out.resize(at + most);
  out.resize(static_cast<std::size_t>(write(out.data() + at) - out.data()));
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string_view trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) + 1 - first);
}

// True when `line` is `word` alone or `word`, blanks and more; `rest` is then the more.
bool afterWord(std::string_view line, std::string_view word, std::string_view& rest) {
  if (line.substr(0, word.size()) != word) return false;
  if (line.size() > word.size() && line[word.size()] != ' ' && line[word.size()] != '\t')
    return false;
  rest = trimmed(line.substr(word.size()));
  return true;
}

// What may follow the closing quote: nothing, or "+ N zero bytes".
bool padding(std::string_view text, std::string& bytes, std::string& error) {
  if (text.empty()) return true;
  std::string_view words;
  if (afterWord(text, "+", words)) {
    std::size_t count = 0;
    const char* end = words.data() + words.size();
    const auto [stop, failure] = std::from_chars(words.data(), end, count);
    const std::string_view unit =
        trimmed(std::string_view(stop, static_cast<std::size_t>(end - stop)));
    if (failure == std::errc() && count >= 1 && count <= kMostPadding &&
        unit == kPaddingWords) {
      bytes.append(count, '\0');
      return true;
    }
  }
  error = "after the closing quote only \"+ N zero bytes\" may follow, N from 1 to " +
          std::to_string(kMostPadding);
  return false;
}

// `text` is a whole quoted text: its bytes into `bytes`, else what is wrong into `error`.
bool unquote(std::string_view text, std::string& bytes, std::string& error) {
  if (text.empty() || text.front() != '"') {
    error = "the bytes must be quoted text or \"hex\" and its digits";
    return false;
  }
  std::size_t i = 1;
  for (; i < text.size() && text[i] != '"'; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (!printable(c)) {
      error = "a control or non-ASCII byte inside the quotes: write it as \\xHH";
      return false;
    }
    if (c != '\\') {
      bytes += static_cast<char>(c);
      continue;
    }
    if (++i == text.size()) break;
    switch (text[i]) {
      case '0':
        bytes += '\0';
        break;
      case '\\':
      case '"':
        bytes += text[i];
        break;
      case 'x': {
        const int high = i + 1 < text.size() ? hexValue(text[i + 1]) : -1;
        const int low = i + 2 < text.size() ? hexValue(text[i + 2]) : -1;
        if (high < 0 || low < 0) {
          error = "\\x takes two hex digits";
          return false;
        }
        bytes += static_cast<char>(high * 16 + low);
        i += 2;
        break;
      }
      default:
        error = std::string("unknown escape \\") + text[i] + " (\\0, \\\\, \\\" or \\xHH)";
        return false;
    }
  }
  if (i >= text.size()) {
    error = "the quoted text has no closing quote";
    return false;
  }
  return padding(trimmed(text.substr(i + 1)), bytes, error);
}

bool unhex(std::string_view digits, std::string& bytes, std::string& error) {
  for (char c : digits) {
    if (hexValue(c) < 0) {
      error = "\"" + std::string(1, c) + "\" is not a hex digit";
      return false;
    }
  }
  if (digits.empty() || digits.size() % 2 != 0) {
    error = digits.empty() ? "\"hex\" without digits: a call that moved no byte is written \"\""
                           : "an odd number of hex digits";
    return false;
  }
  for (std::size_t i = 0; i < digits.size(); i += 2)
    bytes += static_cast<char>(hexValue(digits[i]) * 16 + hexValue(digits[i + 1]));
  return true;
}

bool parseBytes(std::string_view text, std::string& bytes, std::string& error) {
  std::string_view digits;
  if (afterWord(text, kHexWord, digits)) return unhex(digits, bytes, error);
  return unquote(text, bytes, error);
}

// One line that is not blank nor a comment, into `conversations`.
bool parseLine(std::string_view line, int number, std::vector<Conversation>& conversations,
               std::string& error) {
  std::string_view rest;
  if (afterWord(line, kClientWord, rest)) {
    Conversation conversation;
    conversation.line = number;
    if (!unquote(rest, conversation.client, error)) return false;
    if (conversation.client.find('\0') != std::string::npos) {
      error = "a client's name ends at its NUL and holds none";
      return false;
    }
    conversations.push_back(std::move(conversation));
    return true;
  }
  const char first = line.front();
  if ((first != '>' && first != '<') || !afterWord(line, line.substr(0, 1), rest)) {
    error = "a line begins with \"client\", \">\" or \"<\" and a blank";
    return false;
  }
  if (conversations.empty()) {
    error = "an exchange before the first \"client\" line";
    return false;
  }
  Line parsed;
  parsed.direction = static_cast<Direction>(first);
  parsed.number = number;
  if (!parseBytes(rest, parsed.bytes, error)) return false;
  conversations.back().lines.push_back(std::move(parsed));
  return true;
}

}  // namespace

char* writeHeader(char* out, std::string_view client) {
  out = putText(out, kClientWord);
  *out++ = ' ';
  out = putQuoted(out, reinterpret_cast<const unsigned char*>(client.data()), client.size());
  *out++ = '\n';
  return out;
}

char* writeLine(char* out, Direction direction, const void* data, std::size_t length) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  *out++ = static_cast<char>(direction);
  *out++ = ' ';
  if (readsAsToken(bytes, length)) {
    std::size_t zeros = 0;
    while (zeros < length && bytes[length - 1 - zeros] == 0) ++zeros;
    const std::size_t padding =
        zeros > kZerosWrittenOut ? std::min(zeros - 1, kMostPadding) : 0;
    out = putQuoted(out, bytes, length - padding);
    if (padding > 0) {
      out = putText(out, " + ");
      out = std::to_chars(out, out + 20, padding).ptr;
      *out++ = ' ';
      out = putText(out, kPaddingWords);
    }
  } else {
    out = putHex(out, bytes, length);
  }
  *out++ = '\n';
  return out;
}

void appendHeader(std::string& out, std::string_view client) {
  appendWritten(out, mostHeaderLength(client.size()),
                [client](char* at) { return writeHeader(at, client); });
}

void appendLine(std::string& out, Direction direction, const void* data, std::size_t length) {
  appendWritten(out, mostLineLength(length),
                [=](char* at) { return writeLine(at, direction, data, length); });
}

bool parse(std::string_view text, std::vector<Conversation>& conversations,
           std::string& error) {
  int number = 1;
  for (std::size_t start = 0; start < text.size(); ++number) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = trimmed(text.substr(start, end - start));
    start = end + 1;
    if (line.empty() || line.front() == '#') continue;
    if (!parseLine(line, number, conversations, error)) {
      error = "line " + std::to_string(number) + ": " + error;
      return false;
    }
  }
  return true;
}

}  // namespace tapbroker::transcript
