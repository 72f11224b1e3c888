// I2C and SSPI shifts (commands 46 to 52), pump data (42) and the shared applications (41).
#include <algorithm>
#include <cstring>

#include "tests/unit/scan_conversation.h"

namespace {

const std::string kRequest("+\0", 2);

class SerialShift : public ScanConversation {
 protected:
  void header(int number, const std::vector<std::string>& tokens) {
    command(number);
    for (const std::string& t : tokens) broker.token(t);
  }
};
class PumpData : public ScanConversation {};

TEST_F(SerialShift, I2cMirrorsHeaderByteAndDataSspiSendsThemAsTheyAre) {
  std::string d = bytes({0x01, 0x80});
  struct Case {
    int slot;
    const char* onWire;
  } cases[] = {{0x01, "128"}, {0xA0, "5"}, {0x1FF, "255"}};
  for (const Case& c : cases) {
    header(46, {"7", c.onWire, "16", "9"});
    broker.expect(bytes({0x80, 0x01})).ack();  // no read: one closing acknowledgement
    finalRead(0);
  }
  header(50, {"7", "16", "9"});
  broker.expect(d).ack();
  finalRead(0);
  start();
  for (const Case& c : cases)
    EXPECT_EQ(0, client.Send(46, 7, c.slot, 16, data(d), 9)) << c.slot;
  EXPECT_EQ(0, client.Send(50, 7, 16, data(d), 9));
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
    broker.answer(first).expect(kRequest).answer("x1");
    if (!c.checked) broker.expect(kRequest).request("0");
  }
  start();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.number);
    int result = c.number == 48   ? client.Send(48, 7, 0x01, 8193, data(zeros), 9)
                 : c.number == 52 ? client.Send(52, 7, 8193, data(zeros), 9)
                                  : client.Send(42, data(zeros), 8193, 0, 1);
    EXPECT_EQ(c.checked ? -1002 : 0, result);
    std::string out(1026, '\0');
    EXPECT_EQ(0, client.GetTDO(out.data(), 8 * 1026));
    EXPECT_EQ(first + (c.checked ? std::string(2, '\0') : "x1"), out);
  }
  finish();
}

TEST_F(SerialShift, Command47RunsAReadThenAWriteAndReadOnTheSameArguments) {
  std::string d = bytes({0x01, 0x80});
  header(47, {"7", "128", "16", "9"});
  broker.answer(bytes({0x01}));  // short: the rest of byteCount comes out as zeros
  for (const char* t : {"7", "128", "16", "9"}) broker.token(t);
  broker.expect(bytes({0x80, 0x01})).answer(bytes({0xAA, 0xBB, 0xCC}));
  finalRead(0);
  start();
  auto ids = reportsOf([&] { EXPECT_EQ(0, client.Send(47, 7, 0x01, 16, data(d), 9)); });
  EXPECT_EQ(2, std::count(ids.begin(), ids.end(), "1114"));
  char out[2] = {};
  EXPECT_EQ(0, client.GetTDO(out, 16));
  EXPECT_EQ(bytes({0xAA, 0xBB}), std::string(out, 2));  // the second read only
  finish();
}

TEST_F(PumpData, SingleBlockAlwaysEmptiesMultiBlockWithoutReadBackKeeps) {
  std::string three = bytes({0x61, 0x62, 0x63}), full = pattern(1024, 6),
              over = pattern(1025, 7);
  auto fill = [&] {
    command(42);
    for (const char* t : {"24", "0", "1"}) broker.token(t);
    broker.expect(three).answer(bytes({0x09}));  // short reply: zeros make up byteCount
    finalRead(0);
  };
  fill();
  command(42);
  for (const char* t : {"8193", "3", "0"}) broker.token(t);
  broker.expect(over.substr(0, 1024)).ack().expect(over.substr(1024)).ack().ack();
  finalRead(0);
  fill();
  command(42);
  for (const char* t : {"8192", "0", "0"}) broker.token(t);
  broker.expect(full).answer("-");  // the reply is not examined
  finalRead(0);
  start();
  ASSERT_EQ(0, client.Send(42, data(three), 24, 0, 1));
  EXPECT_EQ(0, client.Send(42, data(over), 8193, 3, 0));
  char out[3] = {1, 1, 1};
  EXPECT_EQ(0, client.GetTDO(out, 24));
  EXPECT_EQ(bytes({0x09, 0, 0}), std::string(out, 3));
  ASSERT_EQ(0, client.Send(42, data(three), 24, 0, 1));
  EXPECT_EQ(0, client.Send(42, data(full), 8192, 0, 0));
  EXPECT_EQ(-1022, client.GetTDO(out, 24));
  finish();
}

class ScanSharedApps : public ScanConversation {};

TEST_F(ScanSharedApps, NamesArePackedIntoOneBlockThatMustFit) {
  std::string hundred(100, 'h'), longer(150, 'l'), tail13(13, 't'), tail14(14, 't');
  auto block = [](const std::string& text) {
    return text + std::string(1024 - text.size(), '\0');
  };
  command(41);
  broker.expect(block("alpha;" + longer.substr(0, 100) + ";;")).answer("x");  // any answer
  finalRead(0);
  command(41);
  broker.expect(block("")).ack();
  finalRead(0);
  std::string packed;
  for (int i = 0; i < 10; ++i) packed += hundred + ";";
  command(41);
  broker.expect(packed + tail13 + ";").ack();  // exactly 1024 bytes of text
  finalRead(0);
  start();
  EXPECT_EQ(0, client.Send(41, 3, "alpha", longer.c_str(), ""));
  EXPECT_EQ(0, client.Send(41, 0));
  const char* h = hundred.c_str();
  EXPECT_EQ(0, client.Send(41, 11, h, h, h, h, h, h, h, h, h, h, tail13.c_str()));
  auto ids = reportsOf([&] {
    EXPECT_EQ(-1025, client.Send(41, 11, h, h, h, h, h, h, h, h, h, h, tail14.c_str()));
  });
  EXPECT_EQ(std::vector<std::string>{"1003"}, ids);
  EXPECT_EQ(-1025, client.GetClientStatus());
  finish();  // nothing of the refused command reached the broker
}

}  // namespace
