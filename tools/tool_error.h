// How tapclient reports a failure: one exception type that carries a sentence for the user
// and, when the library gave one, its result code. main() prints it and sets the exit
// status; nothing below main() prints errors itself.
#ifndef TOOLS_TOOL_ERROR_H
#define TOOLS_TOOL_ERROR_H

#include <stdexcept>
#include <string>

#include "tapbroker_client.h"

namespace tapclient {

// Exit statuses of the program.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

class ToolError : public std::runtime_error {
 public:
  explicit ToolError(const std::string& message, int exitStatus = kExitFailed)
      : std::runtime_error(message), exitStatus_(exitStatus) {}
  int exitStatus() const { return exitStatus_; }

 private:
  int exitStatus_;
};

// A command line that cannot be carried out as written.
class UsageError : public ToolError {
 public:
  explicit UsageError(const std::string& message) : ToolError(message, kExitUsage) {}
};

// What a library result code means, in the words of the public header; empty for a code
// the library does not define (a broker's own number, for instance).
std::string describeLibraryCode(int code);
// True for the codes the library itself produces (as opposed to the broker's answers).
inline bool isLibraryFailure(int code) { return code <= tapbroker::results::kSendFailed && code >= tapbroker::results::kArgumentRefused; }

}  // namespace tapclient

#endif  // TOOLS_TOOL_ERROR_H
