// tapclient as a user runs it: the demo from start to end, and a command with its answers
// read in the same conversation.
#include <gtest/gtest.h>

#include "e2e_support.h"

namespace e2e {
namespace {

class TapclientE2E : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(broker_.pid(), 0) << "tapbroker.exe did not come up"; }
  BrokerProcess broker_;
};

TEST_F(TapclientE2E, DemoScansProgramsAndVerifies) {
  std::string output;
  ASSERT_EQ(runProgram("tapclient", {"demo"}, output), 0) << output;
  for (const char* expected :
       {"JTAG chain: 2 devices", "sim-fpga  0x1A2B3C4D", "sim-cpld  0x2C0FFEE1", "IR bits",
        "192.0 KiB", "verified", "read back identical", "5A 40 10", "All checks passed"}) {
    EXPECT_NE(output.find(expected), std::string::npos) << expected << "\n" << output;
  }
  // Without a terminal the progress bars print a few lines, not a redraw per chunk.
  EXPECT_EQ(output.find('\r'), std::string::npos);
}

TEST_F(TapclientE2E, SendReadsTheAnswersInTheSameConversation) {
  std::string output;
  EXPECT_EQ(runProgram("tapclient", {"send", "8", "--open", "--read", "list"}, output), 0);
  EXPECT_EQ(output, "2\n0x1A2B3C4D\n0x2C0FFEE1\n");
  output.clear();
  EXPECT_EQ(runProgram("tapclient", {"send", "9", "i:1", "--open", "--read", "text"}, output),
            0);
  EXPECT_EQ(output, "739245793\n0x2C0FFEE1\n");
  // Arguments that do not fit the command are refused before anything is sent.
  output.clear();
  EXPECT_EQ(runProgram("tapclient", {"send", "5", "s:fast"}, output), 2);
  EXPECT_EQ(output, "");
}

}  // namespace
}  // namespace e2e
