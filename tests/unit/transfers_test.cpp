// The generic transfers, called directly on a connected socket: what they leave of the
// caller's argument position. The flag query's answers are Send's (send_test.cpp).
#include "protocol/transfers.h"

#include <cstdarg>
#include <string>

#include "diagnostics/call_context.h"
#include "tests/unit/wire_fixture.h"

namespace {

class TransferTest : public WireTest {
 protected:
  std::uint64_t socket() {
    return socket_handles::current(static_cast<std::uint32_t>(client.GetClientSocket()));
  }
  CallContext context{0, nullptr, "tester", ""};
};

// Runs sendIntargs twice on one argument position.
int intsTwice(CallContext& context, std::uint64_t socket, int count, ...) {
  va_list args;
  va_start(args, count);
  int first = sendIntargs(context, socket, count, args);
  int second = first == 0 ? sendIntargs(context, socket, count, args) : first;
  va_end(args);
  return second;
}

TEST_F(TransferTest, ATransferNeverMovesTheCallersPosition) {
  broker.token("-1").token("0").token("-1").token("0");
  start();

  EXPECT_EQ(intsTwice(context, socket(), 2, -1, 0), 0);
  EXPECT_EQ(broker.finish(), "");
}

}  // namespace
