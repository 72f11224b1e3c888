// The transcript of conversations with the broker: text that a person can read, diff and
// edit, and that gives back every byte. The client library writes it when recording; the
// broker reads it to replay and writes it to record from its side. Pure functions on
// strings: where the text comes from or goes to is the caller's business.
//
//   client "tapclient"
//   > "tapclient\0"
//   < "+\0"
//   > "44\0"
//   > hex 2b0001fe
//   < ""
//
// A `client` line opens a conversation and names the client (its introduction's text).
// Each following line is one exchange, one send or one receive call: `>` what the client
// sent, `<` what it received; the bytes as escaped text (\0, \\, \" and \xHH) when they
// read as a token, else as `hex` and two digits a byte. `""` is a call that moved no byte
// (a failed send, a receive that found the connection closed). Blank lines and lines
// starting with `#` are for people.
#ifndef TRANSCRIPT_TRANSCRIPT_H
#define TRANSCRIPT_TRANSCRIPT_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tapbroker::transcript {

enum class Direction : char { ToBroker = '>', ToClient = '<' };

// One line of a conversation: the bytes that went one way.
struct Line {
  Direction direction = Direction::ToBroker;
  std::string bytes;
  int number = 0;  // where the reader found it, so that a replay can point at it
};

struct Conversation {
  std::string client;
  int line = 0;  // of the client line
  std::vector<Line> lines;
};

// Append one line, with its newline, to `out`.
void appendHeader(std::string& out, std::string_view client);
void appendLine(std::string& out, Direction direction, const void* data, std::size_t length);
// The same lines written at `out`, which has room for the most such a line takes (below);
// each returns the end of what it wrote.
char* writeHeader(char* out, std::string_view client);
char* writeLine(char* out, Direction direction, const void* data, std::size_t length);
// Escapes take at most four characters a byte in a name (\xHH), two in an exchange (\0, \\,
// \" or two hex digits: a byte that needs \xHH makes the line hex), and a few words more.
constexpr std::size_t mostHeaderLength(std::size_t nameLength) { return 4 * nameLength + 16; }
constexpr std::size_t mostLineLength(std::size_t length) { return 2 * length + 32; }

// Every conversation of `text` in order; false with `error` as "line N: what is wrong",
// and `conversations` as far as it got.
bool parse(std::string_view text, std::vector<Conversation>& conversations, std::string& error);

}  // namespace tapbroker::transcript

#endif  // TRANSCRIPT_TRANSCRIPT_H
