// I2C and SSPI shifts (commands 46 to 52), pump data (42) and the shared applications (41).
#include "tests/unit/wire_test.h"

using namespace tapbroker::results;

namespace {

using SerialShift = WireTest;
using PumpData = WireTest;

TEST_F(SerialShift, TheSecondPassOfCommand47GoesOnAfterTheFirstFailed) {
  const std::string d = bytes({0x01, 0x80});
  command(47);
  broker.expectToken("7").answer("-");  // the reading pass fails at once
  header(-1, {"7", "128", "16", "9"});   // the writing and reading pass goes on
  broker.expect(bytes({0x80, 0x01})).answer(bytes({0x42, 0x43}));
  finalRead(3);
  start();
  EXPECT_EQ(3, client.Send(47, 7, 0x01, 16, data(d), 9));
  char out[2] = {};
  EXPECT_EQ(0, client.GetTDO(out, 16));
  EXPECT_EQ(bytes({0x42, 0x43}), std::string(out, 2));
  finish();
}

TEST_F(SerialShift, OnlyI2cMirrorsAndShortSingleBlockReadsAreZeroFilled) {
  std::string d = bytes({0x01, 0x80});
  std::pair<int, const char*> headerBytes[] = {{0x01, "128"}, {0xA0, "5"}, {0x1FF, "255"}};
  for (auto [slot, onWire] : headerBytes) {
    header(46, {"7", onWire, "16", "9"});
    broker.expect(bytes({0x80, 0x01})).ack();  // no read: one closing acknowledgement
    finalRead(0);
  }
  header(50, {"7", "16", "9"});
  broker.expect(d).ack();
  finalRead(0);
  header(42, {"16", "0", "1"});
  broker.expect(d).answer(bytes({0x09}));
  finalRead(0);
  start();
  for (auto [slot, onWire] : headerBytes)
    EXPECT_EQ(0, client.Send(46, 7, slot, 16, data(d), 9));
  EXPECT_EQ(0, client.Send(50, 7, 16, data(d), 9));
  EXPECT_EQ(0, client.Send(42, data(d), 16, 0, 1));
  char out[2] = {1, 1};
  EXPECT_EQ(0, client.GetTDO(out, 16));
  EXPECT_EQ(bytes({0x09, 0}), std::string(out, 2));
  EXPECT_EQ(kArgumentRefused, client.Send(46, 7, 1, 16, kNone, 9));  // refused: nothing sent
  EXPECT_EQ(kArgumentRefused, client.Send(42, data(d), -15, 0, 1));
  finish();
}

TEST_F(SerialShift, MultiBlockReadBlocksMustBeginWithPlusForI2cAndPumpOnly) {
  std::string zeros(1025, '\0'), first = "+" + pattern(1023, 5);
  struct Case {
    int number;
    std::vector<std::string> tokens;
    bool checked;
  } cases[] = {{48, {"7", "128", "8193", "9"}, true},
               {52, {"7", "8193", "9"}, false},
               {42, {"8193", "0", "1"}, true}};
  for (const Case& c : cases) {
    header(c.number, c.tokens);
    broker.expect(zeros.substr(0, 1024)).ack().expect(zeros.substr(1024)).ack();
    broker.answer(first).expect(kAck).answer("x1");
    if (!c.checked) broker.expect(kAck).request("0");
  }
  start();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.number);
    int result = c.number == 48   ? client.Send(48, 7, 0x01, 8193, data(zeros), 9)
                 : c.number == 52 ? client.Send(52, 7, 8193, data(zeros), 9)
                                  : client.Send(42, data(zeros), 8193, 0, 1);
    EXPECT_EQ(c.checked ? kReceiveFailed : 0, result);
    std::string out(1026, '\0');
    EXPECT_EQ(0, client.GetTDO(out.data(), 8 * 1026));
    EXPECT_EQ(first + (c.checked ? std::string(2, '\0') : "x1"), out);
  }
  finish();
}

TEST_F(PumpData, SharedApplicationsArePackedIntoOneBlockThatMustFit) {
  std::string hundred(100, 'h'), longer(150, 'l'), tail13(13, 't'), tail14(14, 't'), packed;
  for (int i = 0; i < 10; ++i) packed += hundred + ";";
  command(41);
  broker.expect(padded("alpha;" + longer.substr(0, 100) + ";;")).answer("x");  // any answer
  finalRead(0);
  command(41);
  broker.expect(padded("")).ack();
  finalRead(0);
  command(41);
  broker.expect(packed + tail13 + ";").ack();  // exactly 1024 bytes of text
  finalRead(0);
  start();
  EXPECT_EQ(0, client.Send(41, 3, "alpha", longer.c_str(), ""));
  EXPECT_EQ(0, client.Send(41, 0));
  const char* h = hundred.c_str();
  EXPECT_EQ(0, client.Send(41, 11, h, h, h, h, h, h, h, h, h, h, tail13.c_str()));
  auto ids = reported([&] {
    EXPECT_EQ(kArgumentRefused, client.Send(41, 11, h, h, h, h, h, h, h, h, h, h, tail14.c_str()));
  });
  EXPECT_EQ(Lines{"1003"}, ids);
  finish();  // nothing of the refused command reached the broker
}

}  // namespace
