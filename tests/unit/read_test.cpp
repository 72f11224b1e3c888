// The Read overloads against a scripted broker: one request token, one answer, handed
// over as a number, a text or a list.
#include <cstring>
#include <string>
#include <vector>

#include "tests/unit/wire_fixture.h"

namespace {

using Items = std::vector<std::string>;
using ReadTest = WireTest;

TEST_F(ReadTest, NumbersAreReadAsAtoiReadsThem) {
  const struct {
    const char* answer;
    int value;
  } cases[] = {{"42", 42}, {"-1", -1}, {"abc", 0}, {"12;34", 12}, {"  +7x", 7}};
  for (const auto& c : cases) broker.request(c.answer);
  start();

  client.SetClientStatus(-5);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer);
    int value = 99;
    EXPECT_EQ(client.Read(value), 0);
    EXPECT_EQ(value, c.value);
  }
  EXPECT_EQ(client.GetClientStatus(), -5);  // a read that succeeds leaves it alone
  EXPECT_EQ(broker.finish(), "");
}

TEST_F(ReadTest, ListsAreCutAtEverySeparatorAndAppended) {
  const struct {
    const char* answer;
    Items added;
  } cases[] = {
      {"a;b", {"a", "b"}}, {"a;b;", {"a", "b"}},
      {";a", {"", "a"}},   {"a;;b", {"a", "", "b"}},
      {";", {""}},         {"", {}},
      {"x", {"x"}},
  };
  for (const auto& c : cases) broker.request(c.answer);
  start();

  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer);
    Items items = {"kept", "too"};
    EXPECT_EQ(client.Read(items), 0);
    Items expected = {"kept", "too"};
    expected.insert(expected.end(), c.added.begin(), c.added.end());
    EXPECT_EQ(items, expected);
  }
  EXPECT_EQ(broker.finish(), "");
}

TEST_F(ReadTest, TextsStayWithTheClientAndAFullBufferIsCutAtItsEnd) {
  const std::string full(1024, 'z');
  broker.request("hello").request("world");
  broker.expect(std::string("+\0", 2)).answer(full);  // no NUL of its own
  start();

  char* text = nullptr;
  EXPECT_EQ(client.Read(text), 0);
  EXPECT_STREQ(text, "hello");
  EXPECT_STREQ(client.Read(), "world");
  EXPECT_EQ(client.Read(text), 0);
  EXPECT_EQ(std::string(text), full);
  EXPECT_EQ(broker.finish(), "");
}

TEST_F(ReadTest, AClosedConnectionFailsEveryOverloadAndTouchesNothing) {
  start();  // the broker ends its side once the introduction is answered

  int value = 5;
  char kept[] = "kept";
  char* text = kept;
  Items items = {"a"};
  Ids ids = reported([&] {
    EXPECT_EQ(client.Read(value), -1002);
    EXPECT_EQ(client.Read(text), -1002);
    EXPECT_EQ(client.Read(items), -1002);
    EXPECT_STREQ(client.Read(), "");
  });
  EXPECT_EQ(client.GetClientStatus(), -1002);
  EXPECT_EQ(value, 5);
  EXPECT_EQ(text, kept);
  EXPECT_EQ(items, Items{"a"});
  EXPECT_EQ(ids, (Ids{"1096", "1019", "1020", "1094", "1015", "1016", "1097", "1023", "1024",
                      "1095", "1015", "1016"}));
  broker.finish();
  EXPECT_EQ(broker.extra(), std::string("+\0+\0+\0+\0", 8));  // one request each
}

}  // namespace
