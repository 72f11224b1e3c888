// Send, Read and Disconnect against a scripted broker: the bytes of each command shape, the
// flags that hold the withheld group back, command 4, refusals, reconnection, and the Read
// overloads' answers. How each step fails is the fault table's business (tests/fault).
#include <string>
#include <vector>

#include "tests/unit/wire_test.h"

using namespace tapbroker::results;

namespace {

struct Token {
  std::string text;
  bool strict;  // answered "+"; otherwise by a reply that is not looked at
};

// How a command's arguments are passed, and the tokens the broker sees for them.
struct Shape {
  int (*send)(Client&, int command);
  std::vector<Token> tokens;
};

const Shape kNone{[](Client& c, int n) { return c.Send(n); }, {}};
const Shape kOneInt{[](Client& c, int n) { return c.Send(n, -5); }, {{"-5", true}}};
const Shape kTwoInts{[](Client& c, int n) { return c.Send(n, 0, 123); },
                     {{"0", true}, {"123", true}}};
const Shape kOneText{[](Client& c, int n) { return c.Send(n, "txt"); }, {{"txt", false}}};
const Shape kTwoTexts{[](Client& c, int n) { return c.Send(n, "ab", nullptr); },
                      {{"ab", false}, {"", false}}};
const Shape kTwoStrictTexts{[](Client& c, int n) { return c.Send(n, nullptr, ""); },
                            {{"", true}, {"", true}}};
// clang-format off
const Shape kPairs{[](Client& c, int n) { return c.Send(n, 1, "a", -2, "", 3, nullptr, 4, "d"); },
                   {{"1", true}, {"a", true}, {"-2", true}, {"", true},
                    {"3", true}, {"", true}, {"4", true}, {"d", true}}};
// clang-format on

struct CommandCase {
  int command;
  const Shape& shape;
  bool withheld;
};

// One command of each shape, withheld or not, and numbers outside the list.
const CommandCase kCommands[] = {
    {1, kNone, false},     {2, kOneText, true},   {3, kTwoTexts, false}, {5, kOneInt, true},
    {12, kTwoStrictTexts, true}, {20, kTwoInts, true},  {21, kPairs, true},
    {29, kOneText, false}, {36, kTwoInts, false}, {45, kOneInt, false},  {0, kNone, true},
    {-7, kNone, true},     {57, kNone, false},    {10000, kNone, false},
};

// The broker's side of one command that goes out; its final answer is 3 * command + 1.
void script(ScriptedBroker& broker, const CommandCase& c) {
  broker.expectToken(std::to_string(c.command)).answer("reply");
  for (const Token& token : c.shape.tokens)
    broker.expectToken(token.text).answer(token.strict ? std::string("+\0", 2) : "no");
  broker.request(std::to_string(3 * c.command + 1));
}

using SendTest = WireTest;

TEST_F(SendTest, EveryCommandShapeWithAndWithoutTheFlags) {
  for (const CommandCase& c : kCommands) {
    if (c.withheld)
      broker.expectToken("8888").answer("?");
    else
      script(broker, c);
  }
  scriptGrant();
  for (const CommandCase& c : kCommands) script(broker, c);
  start();

  for (const CommandCase& c : kCommands) {
    SCOPED_TRACE(c.command);
    EXPECT_EQ(c.shape.send(client, c.command), c.withheld ? 1 : 3 * c.command + 1);
    EXPECT_EQ(client.GetClientStatus(), c.withheld ? 1 : 0);
  }
  grant();
  for (const CommandCase& c : kCommands) {
    SCOPED_TRACE(c.command);
    EXPECT_EQ(c.shape.send(client, c.command), 3 * c.command + 1);
    EXPECT_EQ(client.GetClientStatus(), 0);
  }
  finish();
}

TEST_F(SendTest, FlagsFollowTheBrokersGrantsAndClears) {
  // Command 5 goes out (answered 50) only while both flags stand, else 8888 alone (1); the
  // others are answered `answer`, which for 4 and 33 grants their flag when it is 1.
  const struct {
    int command;
    const char* answer;
    int result;
  } steps[] = {{33, "1", 0},  {5, "", 1},     {4, "1", 0},  {5, "", 50},   {34, "0", 0},
               {5, "", 1},    {33, "1", 0},   {35, "0", 0}, {5, "", 1},    {4, "7", 7},
               {5, "", 1},    {4, "1", 0},    {5, "", 50},  {9999, "0", 0}, {5, "", 1},
               {33, "0", -1}};
  for (const auto& step : steps) {
    if (step.command == 5 && step.result == 1) broker.expect(tokens({"8888"})).answer("r");
    if (step.command == 5 && step.result == 50)
      broker.expectToken("5").answer("r").token("7").request("50");
    if (step.command == 4) scriptCommand4(step.answer);
    if (step.command != 4 && step.command != 5)
      broker.expectToken(std::to_string(step.command)).answer("r").request(step.answer);
  }
  start();

  for (const auto& step : steps) {
    SCOPED_TRACE(step.command);
    const int result = step.command == 5   ? client.Send(5, 7)
                       : step.command == 4 ? client.Send(4, "u", "p", 0)
                                           : client.Send(step.command);
    EXPECT_EQ(result, step.result);
    EXPECT_EQ(client.GetClientStatus(), step.result == 50 ? 0 : step.result);
  }
  finish();
}

TEST_F(SendTest, Command4SendsItsTenValuesAndEndsWithTheGrant) {
  scriptCommand4("0");
  scriptCommand4("x");  // not a number: refused as "0" is
  scriptCommand4("1", {"9", "8", "0", "1", "0", "0", "0", "1", "0", "0"});
  broker.expectToken("4").answer("r").expectToken("").answer("r").expectToken("").answer("r");
  for (int value = -1; value > -11; --value)
    broker.expectToken(std::to_string(value)).answer("r");
  broker.request("1");
  start();

  EXPECT_EQ(client.Send(4, "u", "p", 0), -1);
  EXPECT_EQ(client.Send(4, "u", "p", 0), -1);
  EXPECT_EQ(client.Send(4, "u", "p", 2, 9, 8), 0);
  EXPECT_EQ(client.Send(4, nullptr, "", 10, -1, -2, -3, -4, -5, -6, -7, -8, -9, -10), 0);
  finish();  // no final read after any of them
}

TEST_F(SendTest, RefusesArgumentsBeyondTheLimitsBeforeAnythingGoesOut) {
  const std::string tooLong(1024, 'x');
  const std::string longest(1023, 'y');
  const char* big = tooLong.c_str();
  const unsigned char shift[1] = {0x5A};
  // Whether the command is withheld: before the grant it sends 8888 alone, whatever its
  // arguments.
  const std::vector<std::pair<bool, std::function<int()>>> refused = {
      {false, [&] { return client.Send(3, "a", big); }},
      {true, [&] { return client.Send(12, big, "b"); }},
      {true, [&] { return client.Send(21, 1, "a", 2, "b", 3, "c", 4, big); }},
      {false, [&] { return client.Send(4, big, "p", 0); }},
      {false, [&] { return client.Send(4, "u", "p", 11, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11); }},
      {false, [&] { return client.Send(44, 12, 0, -15, 0, 0, shift); }},  // a byte count of -1
      {true, [&] { return client.Send(19, 0, -100, 0, nullptr); }},
  };
  for (const auto& [withheld, send] : refused)
    if (withheld) broker.expectToken("8888").answer("r");
  scriptGrant();
  broker.expectToken("29").answer("r").expectToken(longest).answer("r").request("2");
  for (const char* bits : {"-1", "0"}) {  // a byte count of 0: an empty shift goes out
    command(44);
    for (const char* token : {"12", "0", bits, "0", "0"}) broker.token(token);
    broker.expect(std::string(1, '\0')).answer("ok").expect(kAck).answer(padded("0"));
    finalRead(0);
  }
  start();
  for (const auto& [withheld, send] : refused) {
    if (withheld) {
      EXPECT_EQ(send(), 1);
      EXPECT_EQ(client.GetClientStatus(), 1);
    }
  }
  grant();
  for (std::size_t i = 0; i < refused.size(); ++i) {
    SCOPED_TRACE(i);
    Lines ids = reported([&] { EXPECT_EQ(refused[i].second(), kArgumentRefused); });
    EXPECT_EQ(ids, Lines{"1003"});
    EXPECT_EQ(client.GetClientStatus(), kArgumentRefused);
  }
  EXPECT_EQ(client.Send(29, longest.c_str()), 2);
  EXPECT_EQ(client.Send(44, 12, 0, -1, 0, 0, shift), 0);
  EXPECT_EQ(client.Send(44, 12, 0, 0, 0, 0, shift), 0);
  finish();  // nothing of the refused commands reached the broker
}

TEST_F(SendTest, AnAcknowledgementWithoutPlusEndsTheCommand) {
  broker.expectToken("36").answer("r").expectToken("7").answer("+");  // "+" alone will do
  broker.expectToken("8").answer(tokens({"-"}));
  start();

  EXPECT_EQ(client.Send(36, 7, 8, 9), kReceiveFailed);  // nothing more goes out, no final read
  EXPECT_EQ(client.GetClientStatus(), kReceiveFailed);
  finish();
}

// Connecting again, by Connect or by a failed command 1 or 4, closes the connection it
// replaces: a copy of the client that held it is refused, not kept talking on it.
TEST_F(SendTest, OnlyCommands1And4ConnectAgainWhenTheirTokenFails) {
  broker.accept();
  introduce();
  for (int connection = 0; connection < 2; ++connection) {
    broker.close().accept();
    introduce();
  }
  broker.close();
  start();
  Client copy(client);
  start();
  EXPECT_EQ(copy.Send(30), kSendFailed);

  for (int command : {1, 4, 3}) {
    SCOPED_TRACE(command);
    long before = client.GetClientSocket();
    int result = command == 4   ? client.Send(4, "u", "p", 0)
                 : command == 3 ? client.Send(3, "a", "b")
                                : client.Send(1);
    EXPECT_TRUE(result == kSendFailed || result == kReceiveFailed) << result;
    EXPECT_EQ(client.GetClientStatus(), result);  // not what the new Connect left there
    EXPECT_EQ(client.GetClientSocket() != before, command != 3);
  }
  EXPECT_EQ(memory_sockets::openSockets(), 1);  // the client's current connection alone
  finish();
}

TEST_F(SendTest, DisconnectClosesWhateverTheBrokerAnswers) {
  broker.expectToken("9999").answer("r").request("0").accept();
  introduce();
  broker.expectToken("9999").answer("r").request("-1");
  start();

  EXPECT_EQ(client.Disconnect(), 0);

  ASSERT_EQ(client.Connect(nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(client.Disconnect(), kCloseRefused);
  EXPECT_EQ(client.GetClientStatus(), kCloseRefused);
  finish();

  // Never connected: the closing command cannot go out, and there is nothing to shut down.
  char other[] = "other";
  Client unconnected(other);
  EXPECT_EQ(unconnected.Disconnect(), kShutdownFailed);
  EXPECT_EQ(unconnected.GetClientStatus(), kShutdownFailed);
}

TEST_F(SendTest, ReadsHandOverNumbersTextsAndLists) {
  const char* numbers[][2] = {{"42", "42"}, {"abc", "0"}, {"12;34", "12"}, {"  +7x", "7"}};
  const std::vector<std::pair<const char*, Lines>> lists = {
      {"a;b;", {"a", "b"}}, {";a", {"", "a"}}, {"a;;b", {"a", "", "b"}}, {";", {""}}, {"", {}}};
  const std::string full(1024, 'z');  // no NUL of its own: cut at the buffer's end
  for (const auto& number : numbers) broker.request(number[0]);
  for (const auto& [answer, items] : lists) broker.request(answer);
  broker.request("hello").request("world").expect(kAck).answer(full);
  start();

  client.SetClientStatus(-5);
  for (const auto& number : numbers) {
    int value = 99;
    EXPECT_EQ(client.Read(value), 0);
    EXPECT_EQ(std::to_string(value), number[1]) << number[0];
  }
  EXPECT_EQ(client.GetClientStatus(), -5);  // a read that succeeds leaves it alone
  for (const auto& [answer, items] : lists) {
    Lines read = {"kept"}, expected = {"kept"};
    expected.insert(expected.end(), items.begin(), items.end());
    EXPECT_EQ(client.Read(read), 0);
    EXPECT_EQ(read, expected) << answer;
  }
  char* text = nullptr;
  EXPECT_EQ(client.Read(text), 0);
  EXPECT_STREQ(text, "hello");
  EXPECT_STREQ(client.Read(), "world");
  EXPECT_EQ(client.Read(text), 0);
  EXPECT_EQ(std::string(text), full);
  finish();
}

}  // namespace
