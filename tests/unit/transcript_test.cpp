// The transcript format: every byte comes back from what the writer wrote, the reader takes
// what a person may write, and refuses nonsense at the line that holds it; a conversation
// longer than a recording holds in memory reaches the file whole.
#include "transcript/transcript.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/scratch.h"
#include "transcript/record_file.h"

namespace {

using tapbroker::transcript::Direction;

std::string zeros(std::size_t n) { return std::string(n, '\0'); }

std::string write(const std::string& client, const std::vector<std::string>& exchanges) {
  std::string text;
  tapbroker::transcript::appendHeader(text, client);
  Direction direction = Direction::ToBroker;
  for (const std::string& bytes : exchanges) {
    tapbroker::transcript::appendLine(text, direction, bytes.data(), bytes.size());
    direction = direction == Direction::ToBroker ? Direction::ToClient : Direction::ToBroker;
  }
  return text;
}

TEST(Transcript, EveryByteComesBackFromWhatTheWriterWrote) {
  std::string everyByte;
  for (int b = 0; b < 256; ++b) everyByte += static_cast<char>(b);
  // clang-format off
  const std::vector<std::string> exchanges = {
      "name" + zeros(1), "", zeros(1), "0" + zeros(1023), zeros(1024), "a\"b\\c" + zeros(5),
      std::string("+\0+\0", 4), "no NUL", "\x81" + zeros(1), everyByte, "\t\n" + zeros(1),
      zeros(3000)};
  // clang-format on
  const std::string text = write("a \"name\" \\ \x7f\xe9", exchanges) + "\n" + write("b", {});

  std::vector<tapbroker::transcript::Conversation> conversations;
  std::string error;
  ASSERT_TRUE(tapbroker::transcript::parse(text, conversations, error)) << error << "\n"
                                                                        << text;
  ASSERT_EQ(conversations.size(), 2u);
  EXPECT_EQ(conversations[0].client, "a \"name\" \\ \x7f\xe9");
  EXPECT_EQ(conversations[1].client, "b");
  EXPECT_EQ(conversations[1].line, static_cast<int>(exchanges.size()) + 3);
  ASSERT_EQ(conversations[0].lines.size(), exchanges.size());
  for (std::size_t i = 0; i < exchanges.size(); ++i) {
    EXPECT_EQ(conversations[0].lines[i].bytes, exchanges[i]) << "exchange " << i;
    EXPECT_EQ(conversations[0].lines[i].number, static_cast<int>(i) + 2);
    EXPECT_EQ(conversations[0].lines[i].direction,
              i % 2 ? Direction::ToClient : Direction::ToBroker);
  }
  // The forms people see: tokens as text, long zero padding counted, the rest as hex.
  EXPECT_EQ(write("c", {"5" + zeros(1), "", "0" + zeros(1023), "\xff" + zeros(1)}),
            "client \"c\"\n> \"5\\0\"\n< \"\"\n> \"0\\0\" + 1022 zero bytes\n< hex ff00\n");
}

TEST(Transcript, ALongConversationReachesTheFileWholeThroughItsSpill) {
  // Some 3 MiB of text, and one line longer than what a recording holds at a time.
  std::vector<std::string> exchanges;
  for (int i = 0; i < 1500; ++i) exchanges.push_back(std::string(1024, static_cast<char>(i)));
  exchanges.push_back(std::string(600000, '\x80'));
  exchanges.push_back("+" + zeros(1));
  TempDir directory;
  const std::string path = directory / "transcript.txt";
  std::ofstream(path) << "# before\n";

  tapbroker::transcript::PendingBlock block(path, "long");
  Direction direction = Direction::ToBroker;
  for (const std::string& bytes : exchanges) {
    block.exchange(direction, bytes.data(), bytes.size());
    direction = direction == Direction::ToBroker ? Direction::ToClient : Direction::ToBroker;
  }
  tapbroker::transcript::RecordFile file;
  std::string error;
  ASSERT_TRUE(file.open(path, error)) << error;
  ASSERT_TRUE(file.append(block, error)) << error;
  std::stringstream written;
  written << std::ifstream(path).rdbuf();
  EXPECT_TRUE(written.str() == "# before\n" + write("long", exchanges) + "\n");
}

TEST(Transcript, TheReaderTakesWhatAPersonMayWrite) {
  const std::string text =
      "# edited by hand\r\n"
      "\n"
      "  client   \"x\"  \r\n"
      ">\t\"a\\x41\\x7e\"\n"
      "< hex 0aFF\n"
      "< \"\" + 3 zero bytes";
  std::vector<tapbroker::transcript::Conversation> conversations;
  std::string error;
  ASSERT_TRUE(tapbroker::transcript::parse(text, conversations, error)) << error;
  ASSERT_EQ(conversations.size(), 1u);
  ASSERT_EQ(conversations[0].lines.size(), 3u);
  EXPECT_EQ(conversations[0].lines[0].bytes, "aA~");
  EXPECT_EQ(conversations[0].lines[1].bytes, "\n\xff");
  EXPECT_EQ(conversations[0].lines[2].bytes, zeros(3));
}

TEST(Transcript, TheReaderRefusesNonsenseAtItsLine) {
  struct Case {
    std::string text;
    int line;
    std::string says;
  } cases[] = {
      {"> \"a\\0\"\n", 1, "before the first"},
      {"client \"x\"\n\n> \"a\n", 3, "no closing quote"},
      {"client \"x\"\n> \"a\\q\"\n", 2, "unknown escape"},
      {"client \"x\"\n> \"\\x4\"\n", 2, "two hex digits"},
      {"client \"x\"\n> \"caf\xc3\xa9\"\n", 2, "\\xHH"},
      {"client \"x\"\n> \"a\" b\n", 2, "zero bytes"},
      {"client \"x\"\n> \"a\" + 0 zero bytes\n", 2, "zero bytes"},
      {"client \"x\"\n> \"a\" + 1025 zero bytes\n", 2, "zero bytes"},
      {"client \"x\"\n> hex 0g\n", 2, "\"g\" is not a hex digit"},
      {"client \"x\"\n> hex 012\n", 2, "odd number"},
      {"client \"x\"\n> hex\n", 2, "without digits"},
      {"client \"x\"\n> HEX 00\n", 2, "quoted text or"},
      {"client \"x\"\n>\"a\"\n", 2, "begins with"},
      {"client \"x\"\n= \"a\"\n", 2, "begins with"},
      {"client x\n", 1, "quoted text"},
      {"client \"x\\0y\"\n", 1, "NUL"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<tapbroker::transcript::Conversation> conversations;
    std::string error;
    EXPECT_FALSE(tapbroker::transcript::parse(c.text, conversations, error));
    EXPECT_EQ(error.substr(0, error.find(':')), "line " + std::to_string(c.line)) << error;
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
  }
}

}  // namespace
