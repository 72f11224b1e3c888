// The Read overloads against a scripted broker: one request token, one answer, handed
// over as a number, a text or a list. How each overload fails is the fault table's
// business (tests/fault).
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

}  // namespace
