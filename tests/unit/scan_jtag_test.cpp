// The JTAG shift (command 44, function 12), the generic shift (command 19) and GetTDO.
#include "tests/unit/wire_test.h"

using namespace tapbroker::results;

namespace {

class JtagShift : public WireTest {
 protected:
  // Command 44, function 12 and the four header tokens.
  void header(int control, int bits, int switchA, int switchB) {
    WireTest::header(44, {"12", std::to_string(control), std::to_string(bits),
                          std::to_string(switchA), std::to_string(switchB)});
  }
};
using ShiftGeneric = WireTest;

TEST_F(JtagShift, SingleBlockReadBackAndItsRetrieval) {
  std::string shift = bytes({0x12, 0x34}), a = bytes({0xFF, 0x00});
  header(0, 16, 1, 0);
  broker.expect(shift + '\0').answer("ok").expect(a + '\0').answer("ok");
  broker.expect(kAck).answer(padded("3")).answer(bytes({0xAB, 0xCD, 0xEF}));
  finalRead(7);
  start();
  auto ids =
      reported([&] { EXPECT_EQ(7, client.Send(44, 12, 0, 16, 1, 0, data(shift), data(a))); },
               {"1111", "1103", "1042", "1039", "1040"});
  EXPECT_EQ(Lines({"1111", "1103", "1042"}), ids);
  unsigned char* destination = nullptr;
  EXPECT_EQ(kNoDestination, client.GetTDO(destination, 16));  // the data stays for the next call
  unsigned char out[3] = {0x55, 0x55, 0x55};
  destination = out;
  EXPECT_EQ(0, client.GetTDO(destination, 24));  // two bytes held: the third is left alone
  EXPECT_EQ(bytes({0xAB, 0xCD, 0x55}), std::string(out, out + 3));
  ids = reported([&] { EXPECT_EQ(kNothingHeld, client.GetTDO(destination, 16)); });
  EXPECT_EQ(Lines({"1104", "1105"}), ids);
  ASSERT_NE(nullptr, destination);
  EXPECT_EQ(0, destination[0]);
  finish();
}

TEST_F(JtagShift, BlockBoundariesAndMissingBuffers) {
  std::string full = pattern(1024, 1), one = bytes({0x5A});
  header(0, 8192, 0, 0);  // one block of 1024 bytes and its trailing zero
  broker.expect(full + '\0').answer("ok").expect(kAck).answer(padded("0"));
  finalRead(1);
  header(0, 0, 0, 1);  // an empty shift still sends its zero byte; bufferB follows shiftData
  broker.expect(std::string(1, '\0')).answer("ok").expect(std::string(1, '\0')).answer("ok");
  broker.expect(kAck).answer(padded("0"));
  finalRead(3);
  command(44);
  broker.token("12");  // null shiftData is the shift's to refuse
  header(0, 1, 1, 0);
  broker.expect(one + '\0').answer("ok");  // then bufferA is null
  start();
  EXPECT_EQ(1, client.Send(44, 12, 0, 8192, 0, 0, data(full)));
  EXPECT_EQ(3, client.Send(44, 12, 0, 0, 0, 1, data(one), data(one)));
  EXPECT_EQ(kArgumentRefused, client.Send(44, 12, 0, -15, 0, 0, data(one)));  // refused: nothing sent
  EXPECT_EQ(kNoShiftData, client.Send(44, 12, 0, 1, 1, 0, kNone, kNone));  // bufferA passed too
  EXPECT_EQ(kNoBuffer, client.Send(44, 12, 0, 1, 1, 0, data(one), kNone));
  finish();
}

TEST_F(JtagShift, ReadBackOnlyWhenSwitchResultAndControlAllowIt) {
  struct Case {
    int control, switchA;
    const char* result;
    bool readBack;
  } cases[] = {{0, 1, "0", true},  {0, 2, "0", false}, {2, 1, "0", false},
               {6, 1, "0", false}, {0, 3, "5", true},  {0, 1, "-3", false}};
  std::string shift = bytes({0x01}), a = bytes({0x02});
  for (const Case& c : cases) {
    header(c.control, 8, c.switchA, 0);
    broker.expect(shift + '\0').answer("ok").expect(a + '\0').answer("ok");
    broker.expect(kAck).answer(padded(c.result));
    if (c.readBack) broker.answer(bytes({0x77}));
    if (c.result[0] != '-') finalRead(0);
  }
  start();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.control) + "/" + std::to_string(c.switchA) + "/" + c.result);
    EXPECT_EQ(c.result[0] == '-' ? -3 : 0,
              client.Send(44, 12, c.control, 8, c.switchA, 0, data(shift), data(a)));
    char out = 0;  // a single-block shift without read-back leaves nothing behind
    EXPECT_EQ(c.readBack ? 0 : kNothingHeld, client.GetTDO(&out, 8));
    EXPECT_EQ(c.readBack ? 0x77 : 0, out);
  }
  finish();
}

// 8193 bits: two whole blocks per buffer, the second padded.
TEST_F(JtagShift, MultiBlockReadBackChecksEveryBlock) {
  std::string shift(1025, '\x11'), a(1025, '\x22'), first = "+" + pattern(1023, 3);
  auto shiftBlocks = [&] {
    header(0, 8193, 1, 0);
    for (const std::string* buffer : {&shift, &a})
      broker.expect(buffer->substr(0, 1024))
          .ack()
          .expect(buffer->substr(1024) + std::string(1023, '\0'))
          .ack();
    broker.expect(kAck).answer(padded("0")).answer(first).expect(kAck);
  };
  shiftBlocks();
  broker.answer("+xy").expect(kAck);
  finalRead(9);
  shiftBlocks();
  broker.answer("-xy");  // not a read-back block
  start();
  EXPECT_EQ(9, client.Send(44, 12, 0, 8193, 1, 0, data(shift), data(a)));
  std::string out(1027, '\0');
  EXPECT_EQ(0, client.GetTDO(out.data(), 8 * 1027));
  EXPECT_EQ(first + "+xy", out);
  auto ids = reported(
      [&] { EXPECT_EQ(kReceiveFailed, client.Send(44, 12, 0, 8193, 1, 0, data(shift), data(a))); },
      {"1110", "1040"});
  EXPECT_EQ(Lines({"1110", "1110", "1040"}), ids);
  out.assign(1027, '\0');
  EXPECT_EQ(0, client.GetTDO(out.data(), 8 * 1027));
  EXPECT_EQ(first + std::string(3, '\0'), out);  // the bad block was not kept
  finish();
}

TEST_F(ShiftGeneric, ExactLengthsAndReadBack) {
  std::string two = bytes({0x0F, 0xF0}), over = pattern(1025, 4);
  broker.expectToken("8888").answer("no");  // withheld until both flags are granted
  scriptGrant();
  header(19, {"5", "12", "2", "1"});
  broker.expect(two).answer(bytes({0x11, 0x22, 0x33}));
  finalRead(0);
  header(19, {"5", "8193", "1025", "0"});  // no read-back: one more acknowledgement
  broker.expect(over.substr(0, 1024)).ack().expect(over.substr(1024)).ack().ack();
  finalRead(0);
  header(19, {"5", "0", "0", "1"});  // nothing to send: the send of 0 bytes fails
  header(19, {"5", "8193", "1025", "1"});
  broker.expect(over.substr(0, 1024)).ack().expect(over.substr(1024)).ack();
  broker.answer("AB").expect(kAck).answer("C").expect(kAck);
  finalRead(6);
  start();
  EXPECT_EQ(1, client.Send(19, 5, 12, 1, data(two)));
  grant();
  EXPECT_EQ(0, client.Send(19, 5, 12, 1, data(two)));
  EXPECT_EQ(0, client.Send(19, 5, 8193, 0, data(over)));
  char out[3] = {};
  EXPECT_EQ(0, client.GetTDO(out, 24));  // the multi-block shift left it alone
  EXPECT_EQ(bytes({0x11, 0x22, 0x00}), std::string(out, 3));
  auto ids = reported([&] { EXPECT_EQ(kSendFailed, client.Send(19, 5, 0, 1, data(two))); },
                      {"1111", "1102", "1037", "1041"});
  EXPECT_EQ(Lines({"1111", "1102", "1037"}), ids);
  EXPECT_EQ(6, client.Send(19, 5, 8193, 1, data(over)));
  EXPECT_EQ(0, client.GetTDO(out, 24));
  EXPECT_EQ("ABC", std::string(out, 3));
  finish();
}

}  // namespace
