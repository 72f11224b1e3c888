// `tapclient send N [ARGS...]`: a numbered command with typed arguments from the command
// line. Send is variadic, so the arguments must reach it with the types the command reads
// (an int as int, a string as char*) and no fewer than it reads: each command's argument
// shape is known here and the arguments are checked against it before anything is sent.
#ifndef TOOLS_SEND_COMMAND_H
#define TOOLS_SEND_COMMAND_H

#include <tapbroker_client.h>

#include <string>
#include <vector>

namespace tapclient {

struct TypedArgument {
  bool isInt = false;
  bool isData = false;  // a data buffer: its bytes are in `text`
  int number = 0;
  std::string text;
};

// "i:7", "i:-3", "i:0x1F", "s:text", a bare integer, or data: "d:" and hex digits
// ("d:1a2B") or "d:@FILE" (the file's bytes). Throws UsageError otherwise (ToolError for a
// file that cannot be read).
TypedArgument parseTypedArgument(const std::string& word);

// Takes the read-back that the scan command just sent with `arguments` left for GetTDO, as
// lowercase hex; empty when it left none.
std::string takeReadBack(Client& client, int command, const std::vector<TypedArgument>& arguments);

// Checks `arguments` against the command's shape; throws UsageError, naming what the
// command takes, when they do not fit.
void checkTypedArguments(int command, const std::vector<TypedArgument>& arguments);

// Checks `arguments` as above and calls Send with them: nothing is sent when they do not
// fit.
int sendTyped(Client& client, int command, const std::vector<TypedArgument>& arguments);

// True for the commands the library withholds until the cable and a session are open.
bool withheldUntilOpen(int command);

// "command 77" or "interface function 72" when the protocol has no such command or
// function (the broker answers those -1, as it answers a refusal); empty otherwise.
std::string unknownToTheProtocol(int command, const std::vector<TypedArgument>& arguments);

}  // namespace tapclient

#endif  // TOOLS_SEND_COMMAND_H
