// Command 41: the list of applications that share the cable, as one packed block.
#include <cstring>

#include "protocol/argument_cursor.h"
#include "protocol/wire.h"
#include "results/codes.h"
#include "scan/scan_runs.h"

namespace tapbroker::scan {
namespace {

constexpr std::size_t kMaxApplicationName = 100;

}  // namespace

bool packApplicationList(protocol::ArgumentCursor& args, char (&block)[protocol::kBufferSize]) {
  std::memset(block, 0, sizeof block);
  const int count = args.nextInt();
  std::size_t used = 0;
  for (int i = 0; i < count; ++i) {
    const char* name = args.nextString();
    std::size_t length = name ? strnlen(name, kMaxApplicationName) : 0;
    if (used + length + 1 > sizeof block) return false;
    std::memcpy(block + used, name ? name : "", length);
    used += length;
    block[used++] = ';';
  }
  return true;
}

int runSharedApps(protocol::CommandInProgress& x, const protocol::shapes::Command&,
                  protocol::ArgumentCursor& args) {
  x.report("1115", x.name());
  char block[protocol::kBufferSize];
  // Send refuses a list that does not fit; never send a list cut short.
  if (!packApplicationList(args, block)) return results::kArgumentRefused;
  if (x.reporting())
    x.report("1116", x.name(), protocol::BoundedText(block, sizeof block).c_str());
  if (!protocol::sendBytes(x.socket(), block, sizeof block)) {
    x.report("1052", x.name(), x.name());
    return results::kSendFailed;
  }
  // Any answer of one or two bytes will do.
  std::memset(block, 0, sizeof block);
  if (protocol::receive(x.socket(), block, 2) == 0) {
    x.report("1053", x.name(), x.name());
    return results::kReceiveFailed;
  }
  return 0;
}

}  // namespace tapbroker::scan
