// Command 44: one interface function of each shape in the library's table carries the
// arguments of its shape (the end-to-end walk sends every code to the broker).
#include <map>
#include <utility>

#include "protocol/shapes.h"
#include "tests/unit/wire_test.h"

using namespace tapbroker::results;

namespace {

using InterfaceShape = tapbroker::protocol::shapes::Function;

class JtagInterface : public WireTest {};

TEST_F(JtagInterface, OneFunctionOfEachShapeCarriesItsArguments) {
  // The first code of each shape and count (the first gap in the numbering among them),
  // and two codes outside the table.
  std::map<std::pair<InterfaceShape, int>, int> firstOfShape = {
      {{InterfaceShape::Unknown, -1}, -1}, {{InterfaceShape::Unknown, 144}, 144}};
  for (int code = 143; code >= 1; --code) {
    const tapbroker::protocol::shapes::InterfaceFunction function =
        tapbroker::protocol::shapes::interfaceFunction(code);
    firstOfShape[{function.shape, function.count}] = code;
  }
  const std::string shiftByte = bytes({0x3C});
  std::vector<std::pair<int, std::function<int()>>> calls;
  for (const auto& [shape, code] : firstOfShape) {
    command(44);
    broker.token(std::to_string(code));
    std::function<int()> call = [&, code = code] { return client.Send(44, code, 11, 12, 13, 14, 15); };
    switch (shape.first) {
      case InterfaceShape::Strings:
        for (int i = 1; i <= shape.second; ++i) broker.token("s" + std::to_string(i));
        call = [&, code = code] { return client.Send(44, code, "s1", "s2", "s3"); };
        break;
      case InterfaceShape::Ints:
        for (int i = 0; i < shape.second; ++i) broker.token(std::to_string(11 + i));
        break;
      case InterfaceShape::IntStringInt:
        broker.token("3").token("mid").token("4");
        call = [&, code = code] { return client.Send(44, code, 3, "mid", 4); };
        break;
      case InterfaceShape::CountedStringPairs:
        broker.token("2").token("a").token("b").token("c").token("d");
        call = [&, code = code] { return client.Send(44, code, 2, "a", "b", "c", "d", "e"); };
        break;
      case InterfaceShape::JtagShift:
        broker.token("0").token("8").token("0").token("0");
        broker.expect(shiftByte + '\0').answer("ok").expect(kAck).answer(padded("0"));
        call = [&, code = code] { return client.Send(44, code, 0, 8, 0, 0, data(shiftByte)); };
        break;
      case InterfaceShape::FloatBlock:
        broker.expect(padded("11.000000")).ack();
        break;
      case InterfaceShape::FloatToken:  // in single precision
        broker.token("16777216.000000");
        call = [&, code = code] { return client.Send(44, code, 16777217); };
        break;
      default:
        break;
    }
    finalRead(1000 + code);
    calls.emplace_back(code, call);
  }
  start();
  for (const auto& [code, call] : calls) ASSERT_EQ(1000 + code, call()) << "code " << code;
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
  const std::string longest(1023, 'x'), tooLong(1024, 'x');
  command(44);
  broker.token("1").token(longest);
  finalRead(8);
  start();
  EXPECT_EQ(5, client.Send(44, 30, 3, "mid", 4));
  EXPECT_EQ(6, client.Send(44, 120, 0, "unused"));
  EXPECT_EQ(Lines({"1061", "1063", "2000"}),
            reported([&] { EXPECT_EQ(7, client.Send(44, 72, 1)); }, {"1061", "1063", "2000"}));
  EXPECT_EQ(8, client.Send(44, 1, longest.c_str()));
  EXPECT_EQ(kArgumentRefused, client.Send(44, 31, 1, tooLong.c_str(), 2));
  EXPECT_EQ(kArgumentRefused, client.Send(44, 120, 1, "a", tooLong.c_str()));
  finish();  // the refused commands sent nothing
}

}  // namespace
