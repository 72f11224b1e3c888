// The broker's side of the wire where the end-to-end tests cannot look: refusals that the
// library never provokes, and byte counts that a client reading in one receive could get
// away with by luck (the flag's two bytes, the JTAG result filling the answer buffer before
// its read-back). What each command and device answers is checked end to end, through the
// library, in tests/e2e.
#include <gtest/gtest.h>

#include "tests/broker/broker_harness.h"

namespace {

const std::string kRefused("-\0", 2);

class Conversation : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(client.connected());
    ASSERT_EQ(client.introduce(), kAck);
  }
  // The command and its tokens: each but the last acknowledged, the last answered `last`.
  void sendCommand(int command, const std::vector<std::string>& tokens,
                   const std::string& last) {
    ASSERT_EQ(client.command(command), kAck);
    for (std::size_t i = 0; i < tokens.size(); ++i)
      ASSERT_EQ(client.strict(tokens[i]), i + 1 < tokens.size() ? kAck : last) << tokens[i];
  }

  RunningBroker broker;
  WireClient client{broker.port()};
};

TEST_F(Conversation, RefusedTokensEndTheCommandAndTheConversationGoesOn) {
  const struct {
    int command;
    std::vector<std::string> tokens;
  } cases[] = {
      {36, {"3300", "on"}},    // not an integer
      {19, {"0", "16", "3"}},  // a byte count that disagrees with the bits
      {42, {"88"}},            // a pump past the end of the flash (set just below)
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    if (c.command == 42) {
      sendCommand(15, {std::to_string(1024 * 1024 - 10)}, kAck);
      EXPECT_EQ(client.answerInt(), 0);
    }
    sendCommand(c.command, c.tokens, kRefused);
    sendCommand(30, {}, kAck);
    EXPECT_EQ(client.answerInt(), 1);
  }
}

TEST_F(Conversation, FlagsAnswerInTwoBytesAndTheJtagResultFillsTheBuffer) {
  auto flag = [this] {
    client.token("+");
    return client.receive(2);
  };
  sendCommand(33, {}, kAck);
  EXPECT_EQ(flag(), std::string("0\0", 2)) << "no session without an open cable";
  sendCommand(4, {"SIM-USB", "USB0", "0", "0", "0", "1", "0", "0", "0", "1", "0", "0"}, kAck);
  EXPECT_EQ(flag(), std::string("1\0", 2));

  // Data and switch-A buffer, each with its trailing zero; then the result, then TDO.
  sendCommand(6, {}, kAck);
  EXPECT_EQ(client.answerInt(), 0);
  sendCommand(44, {"12", "0", "64", "1", "0"}, kAck);
  client.send(std::string(8, '\xFF') + '\0');
  EXPECT_EQ(client.receive(2), kAck);
  client.send(std::string(9, '\0'));
  EXPECT_EQ(client.receive(2), kAck);
  client.token("+");
  std::string result = "0";
  result.resize(1024, '\0');
  EXPECT_EQ(client.receive(1024), result);
  EXPECT_EQ(client.receive(8), bytes({0x4D, 0x3C, 0x2B, 0x1A, 0xE1, 0xFE, 0x0F, 0x2C}));
  EXPECT_EQ(client.answerInt(), 0);
}

}  // namespace
