// Command 44: every JTAG interface function code against the arguments it carries.
#include <functional>
#include <map>

#include "tests/support/interface_codes.h"
#include "tests/unit/scan_conversation.h"

namespace {

// What follows the code on the wire for each shape, and a call that supplies it.
struct ShapeOnWire {
  std::vector<std::string> tokens;
  std::function<int(Client&, int)> send;
};
const std::string kShiftByte = bytes({0x3C});
const std::map<char, ShapeOnWire> kWire = {
    {'s', {{"s1"}, [](Client& c, int code) { return c.Send(44, code, "s1", "s2", "s3"); }}},
    {'S',
     {{"s1", "s2"}, [](Client& c, int code) { return c.Send(44, code, "s1", "s2", "s3"); }}},
    {'m',
     {{"3", "mid", "4"}, [](Client& c, int code) { return c.Send(44, code, 3, "mid", 4); }}},
    {'p',
     {{"2", "a", "b", "c", "d"},
      [](Client& c, int code) { return c.Send(44, code, 2, "a", "b", "c", "d", "e"); }}},
    {'j',
     {{"0", "8", "0", "0"},
      [](Client& c, int code) { return c.Send(44, code, 0, 8, 0, 0, data(kShiftByte)); }}},
    {'b', {{}, [](Client& c, int code) { return c.Send(44, code, 3); }}},
    {'f',
     {{"16777216.000000"}, [](Client& c, int code) { return c.Send(44, code, 16777217); }}},
};
int sendInts(Client& c, int code) { return c.Send(44, code, 11, 12, 13, 14, 15, 16); }

class JtagInterface : public ScanConversation {};

TEST_F(JtagInterface, EveryCodeCarriesTheArgumentsOfItsShape) {
  const std::map<int, char> shapeOf = interfaceShapes();
  for (const auto& [code, shape] : shapeOf) {
    command(44);
    broker.token(std::to_string(code));
    if (kWire.count(shape)) {
      for (const std::string& t : kWire.at(shape).tokens) broker.token(t);
    } else if (shape != '-' && shape != '?') {
      for (int i = 0; i < shape - '0'; ++i) broker.token(std::to_string(11 + i));
    }
    if (shape == 'j')
      broker.expect(kShiftByte + '\0').answer("ok").expect(kRequest).answer(padded("0"));
    if (shape == 'b') broker.expect(padded("3.000000")).ack();
    finalRead(1000 + code);
  }
  start();
  for (const auto& [code, shape] : shapeOf) {
    int result =
        kWire.count(shape) ? kWire.at(shape).send(client, code) : sendInts(client, code);
    ASSERT_EQ(1000 + code, result) << "code " << code << " shape " << shape;
  }
  finish();
}

TEST_F(JtagInterface, PartsGoOnAfterAFailureAndLongStringsAreRefused) {
  command(44);
  broker.token("30").expectToken("3").answer("-").token("mid").token("4");
  finalRead(5);
  command(44);
  broker.token("120").token("0");  // no pairs: no strings
  finalRead(6);
  command(44);
  broker.token("72");
  finalRead(7);
  std::string longest(1023, 'x'), tooLong(1024, 'x');
  command(44);
  broker.token("1").token(longest);
  finalRead(8);
  start();
  EXPECT_EQ(5, client.Send(44, 30, 3, "mid", 4));
  EXPECT_EQ(6, client.Send(44, 120, 0, "unused"));
  auto ids = reportsOf([&] { EXPECT_EQ(7, client.Send(44, 72, 1)); });
  EXPECT_EQ(ids_t({"1061", "1063", "2000"}), only(ids, {"1061", "1063", "2000"}));
  EXPECT_EQ(8, client.Send(44, 1, longest.c_str()));
  EXPECT_EQ(-1025, client.Send(44, 31, 1, tooLong.c_str(), 2));
  EXPECT_EQ(-1025, client.Send(44, 120, 1, "a", tooLong.c_str()));
  finish();  // the refused commands sent nothing
}

}  // namespace
