// The conversation between commands: the introduction, command tokens and their
// arguments, the answers that request tokens fetch, the two flags and the interface
// functions' argument shapes.
#include <gtest/gtest.h>

#include "broker/version.h"
#include "tests/broker/broker_harness.h"

namespace {

class Conversation : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(client.connected());
    ASSERT_EQ(client.introduce(), kAck);
  }
  // Each token of `tokens` must be acknowledged with exactly "+" and NUL.
  void acknowledged(const std::vector<std::string>& tokens) {
    for (const std::string& token : tokens) EXPECT_EQ(client.strict(token), kAck) << token;
  }
  // The flag request: exactly two bytes, the digit and its NUL.
  std::string flag() {
    client.token("+");
    return client.receive(2);
  }

  RunningBroker broker;
  WireClient client{broker.port()};
};

TEST_F(Conversation, CommandsTakeTheirArgumentsAndAnswerIntegerThenText) {
  EXPECT_EQ(client.command(5), kAck);
  acknowledged({"2500"});
  EXPECT_EQ(client.answerInt(), 2500);

  EXPECT_EQ(client.command(21), kAck);  // integer and string, four times over
  acknowledged({"1", "TCK", "2", "TMS", "3", "TDI", "4", "TDO"});
  EXPECT_EQ(client.answerInt(), 0);

  EXPECT_EQ(client.command(1), kAck);
  EXPECT_EQ(client.answerInt(), 0);
  EXPECT_EQ(client.answer(),
            std::string("tapbroker.exe ") + broker::kBrokerVersion + ", simulated cable");

  EXPECT_EQ(client.command(27), kAck);
  EXPECT_EQ(client.answerInt(), 2);
  EXPECT_EQ(client.answer(), "sim-fpga;sim-cpld;");
  EXPECT_EQ(client.answer(), "sim-fpga;sim-cpld;");  // asked again, answered again

  EXPECT_EQ(client.command(8), kAck);  // the chain read through the TAP
  EXPECT_EQ(client.answerInt(), 2);
  EXPECT_EQ(client.answer(), "0x1A2B3C4D;0x2C0FFEE1;");

  for (int unlisted : {57, 0, -4, 10000}) {
    EXPECT_EQ(client.command(unlisted), kAck);
    EXPECT_EQ(client.answerInt(), -1) << unlisted;
  }
}

TEST_F(Conversation, CableAndSessionFlagsAreGrantedInOrder) {
  EXPECT_EQ(client.command(33), kAck);
  EXPECT_EQ(flag(), std::string("0\0", 2)) << "no session without an open cable";

  const auto openCable = [this](const std::string& name) {
    EXPECT_EQ(client.command(4), kAck);
    acknowledged({name, "USB0", "0", "0", "0", "1", "0", "0", "0", "1", "0", "0"});
    return flag();
  };
  EXPECT_EQ(openCable("none"), std::string("0\0", 2));
  EXPECT_EQ(openCable("SIM-USB"), std::string("1\0", 2));
  EXPECT_EQ(client.command(33), kAck);
  EXPECT_EQ(flag(), std::string("1\0", 2));

  EXPECT_EQ(client.command(56), kAck);
  EXPECT_EQ(client.answerInt(), 0);
  EXPECT_NE(client.answer().find("cable SIM-USB on USB0; session open"), std::string::npos);
}

TEST_F(Conversation, WithheldPlaceholderCarriesNothingAndClosingEndsTheSession) {
  EXPECT_EQ(client.command(30), kAck);
  EXPECT_EQ(client.command(8888), kAck);
  EXPECT_EQ(client.answerInt(), 1) << "the answer of the command before stays pending";

  EXPECT_EQ(client.command(9999), kAck);
  EXPECT_EQ(client.answerInt(), 0);
  client.close();
  WireClient next(broker.port());
  EXPECT_EQ(next.introduce(), kAck);
  EXPECT_TRUE(broker.problems().empty());
}

TEST_F(Conversation, BadIntegerIsRefusedAndTheConversationGoesOn) {
  EXPECT_EQ(client.command(36), kAck);
  EXPECT_EQ(client.strict("3300"), kAck);
  EXPECT_EQ(client.strict("on"), std::string("-\0", 2));
  // The client stops the command at the refusal; the next one is served as usual.
  EXPECT_EQ(client.command(30), kAck);
  EXPECT_EQ(client.answerInt(), 1);
}

TEST_F(Conversation, InterfaceFunctionsTakeTheArgumentsTheirCodeNames) {
  const struct {
    int code;
    std::vector<std::string> tokens;
    int answer;
  } cases[] = {
      {72, {}, -1},  // carries nothing, and does nothing
      {0, {}, -1},
      {144, {}, -1},
      {15, {}, 2},  // device count
      {17, {"400"}, 400},
      {83, {"a", "b"}, 0},
      {89, {"1", "2", "3", "4", "5"}, 0},
      {30, {"1", "name", "2"}, 0},
      {120, {"2", "k1", "v1", "k2", "v2"}, 0},
      {120, {"0"}, 0},
      {69, {"3.300000"}, 0},
      {70, {"9.000000"}, -1},  // beyond 5 V
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(client.command(44), kAck);
    EXPECT_EQ(client.strict(c.code), kAck);
    acknowledged(c.tokens);
    EXPECT_EQ(client.answerInt(), c.answer);
  }

  // Code 36: the value travels as a whole 1024-byte block and takes a 2-byte answer.
  EXPECT_EQ(client.command(44), kAck);
  EXPECT_EQ(client.strict(36), kAck);
  std::string block = "2500.000000";
  block.resize(1024, '\0');
  client.send(block);
  EXPECT_EQ(client.receive(2), kAck);
  EXPECT_EQ(client.answerInt(), 2500);
}

}  // namespace
