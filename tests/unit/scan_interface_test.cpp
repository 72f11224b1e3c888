// Command 44: every JTAG interface function code against the arguments it carries.
#include <functional>
#include <map>
#include <sstream>

#include "tests/unit/scan_conversation.h"

namespace {

// The broker's function list by argument shape: - nothing, s one string, S two strings,
// 1 2 3 5 that many ints, m int-string-int, p n then 2n strings, j the JTAG shift,
// b a "%f" block, f a "%f" token, ? no function.
const std::map<char, const char*> kCodesByShape = {
    {'-',
     "3 4 7 8 9 10 14 15 16 27 29 37 38 39 40 41 42 43 44 47 48 50 52 54 56 58 59 61 62 "
     "65 66 67 73 74 75 79 80 82 85 87 88 94 99 100 101 103 105 107 108 109 111 113 118 "
     "119 121 123 125 126 127 128 129 131 135 136 137 138 139"},
    {'s', "1 51 53 55 60 78 84 86 102 112 114 115 122"},
    {'S', "83 116 124"},
    {'1',
     "2 11 13 17 18 19 20 21 22 23 24 25 26 28 34 35 45 46 49 57 63 64 68 71 77 81 92 95 "
     "104 106 110 117 132 134 141 142 143"},
    {'2', "5 6 76 91 96 140"},
    {'3', "93"},
    {'5', "89 90"},
    {'m', "30 31 32 33"},
    {'p', "120"},
    {'j', "12"},
    {'b', "36"},
    {'f', "69 70"},
    {'?', "72 97 98 130 133 0 -1 144"},
};

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
  std::map<int, char> shapeOf;
  for (const auto& [shape, codes] : kCodesByShape) {
    std::istringstream in(codes);
    for (int code; in >> code;) EXPECT_TRUE(shapeOf.emplace(code, shape).second) << code;
  }
  ASSERT_EQ(146u, shapeOf.size());  // 1 to 143, and three codes outside the list

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
