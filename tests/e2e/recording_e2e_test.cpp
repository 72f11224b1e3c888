// Recording through the library against the reference broker (the replay test compares
// its bytes with the broker's own recording): conversations of clients that record at once
// stay whole, a file that cannot be written costs nothing but the recording, and a full
// disk leaves whole blocks only, on both sides.
#include <gmock/gmock.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "e2e_support.h"
#include "tests/support/scratch.h"
#include "transcript/transcript.h"

namespace e2e {
namespace {

using ::testing::HasSubstr;

constexpr const char* kVariable = "TAPBROKER_CLIENT_RECORD";

std::vector<tapbroker::transcript::Conversation> conversationsIn(const std::string& path) {
  std::vector<tapbroker::transcript::Conversation> conversations;
  std::string error;
  EXPECT_TRUE(tapbroker::transcript::parse(readFile(path), conversations, error)) << error;
  return conversations;
}

class RecordingE2E : public BrokerTest {
 protected:
  TempDir directory_;
  std::string transcript_ = directory_ / "transcript.txt";
  ScopedEnv record_{kVariable, transcript_};
};

TEST_F(RecordingE2E, ClientsRecordingAtOnceEachGetTheirWholeConversation) {
  constexpr int kClients = 4, kCommands = 25;
  std::vector<std::thread> threads;
  for (int i = 0; i < kClients; ++i) {
    threads.emplace_back([i] {
      std::string name = "client-" + std::to_string(i);
      Client client(name.data());
      EXPECT_EQ(client.Connect(nullptr, nullptr, nullptr), 0);
      for (int n = 0; n < kCommands; ++n) EXPECT_EQ(client.Send(30), 1);
      EXPECT_EQ(client.Disconnect(), 0);
    });
  }
  for (std::thread& thread : threads) thread.join();

  const auto conversations = conversationsIn(transcript_);
  ASSERT_EQ(conversations.size(), static_cast<std::size_t>(kClients));
  for (const tapbroker::transcript::Conversation& conversation : conversations) {
    SCOPED_TRACE(conversation.client);
    std::vector<std::string> expected = {conversation.client + '\0', {"+\0", 2}};
    const auto command = [&expected](const char* number, const char* answer) {
      for (const std::string token : {number, "+", "+", answer})
        expected.push_back(token + '\0');
    };
    for (int n = 0; n < kCommands; ++n) command("30", "1");
    command("9999", "0");
    std::vector<std::string> recorded;
    for (const tapbroker::transcript::Line& line : conversation.lines)
      recorded.push_back(line.bytes);
    EXPECT_EQ(recorded, expected);
  }
}

TEST_F(RecordingE2E, AFileThatIsNotARegularOneCostsOnlyTheRecordingAndSaysSoOnce) {
  // A FIFO with a reader that takes nothing: written to, it would hold the application once
  // full, and kill it with SIGPIPE once its reader goes.
  const std::string fifo = directory_ / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  ::setenv(kVariable, fifo.c_str(), 1);
  char name[] = "unrecorded";
  Client client(name);
  ::testing::internal::CaptureStderr();
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(client.Connect(nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(client.Send(30), 1);
    EXPECT_EQ(client.Disconnect(), 0);
  }
  const std::string said = ::testing::internal::GetCapturedStderr();
  char byte;
  EXPECT_LE(::read(reader, &byte, 1), 0) << "the FIFO was written to";
  ::close(reader);
  EXPECT_THAT(said, HasSubstr("cannot record into " + fifo + ": a FIFO"));
  EXPECT_EQ(said.find("cannot record"), said.rfind("cannot record")) << said;
}

// A file system of 64 KiB, in a mount namespace of the test's own (the broker it starts
// shares it): the library and the broker record onto it.
class FullDiskRecordingE2E : public RecordingE2E {
 protected:
  FullDiskRecordingE2E() {
    mounted_ = ::mkdir(disk_.c_str(), 0700) == 0 && ::unshare(CLONE_NEWNS) == 0 &&
               ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
               ::mount("tapbroker-test", disk_.c_str(), "tmpfs", 0, "size=64k") == 0;
    ::setenv(kVariable, (disk_ + "/library.txt").c_str(), 1);
    launch_.arguments.insert(launch_.arguments.end(), {"--record", disk_ + "/broker.txt"});
    launch_.errorFile = directory_ / "broker-errors.txt";
  }
  ~FullDiskRecordingE2E() override {
    if (mounted_) ::umount2(disk_.c_str(), MNT_DETACH);
  }
  void SetUp() override {
    if (mounted_) RecordingE2E::SetUp();
  }

  std::string disk_ = directory_ / "disk";
  bool mounted_ = false;
};

TEST_F(FullDiskRecordingE2E, ABlockThatDoesNotFitIsTakenBackAndRecordingStopsSayingSoOnce) {
  if (!mounted_) GTEST_SKIP() << "no mount namespace for a small file system here";
  // Some 130 KB of text on each side: more than the whole file system.
  const std::vector<unsigned char> data(32 * 1024, 0x5a);
  ::testing::internal::CaptureStderr();
  for (std::string name : {"fits", "too-long", "after"}) {
    Client client(name.data());
    ASSERT_TRUE(connectAndOpen(client));
    if (name == "too-long") {
      EXPECT_EQ(client.Send(19, 0, static_cast<int>(8 * data.size()), 1, data.data()), 0);
    }
    EXPECT_EQ(client.Disconnect(), 0);
  }
  const std::string said = ::testing::internal::GetCapturedStderr();
  ::kill(pid_, SIGTERM);
  // Something was lost: the broker's exit status says so.
  EXPECT_EQ(processes::exitStatus(pid_, 10), 4);
  pid_ = 0;
  const std::string complaints = readFile(launch_.errorFile);
  EXPECT_THAT(complaints,
              HasSubstr("stops recording into " + disk_ + "/broker.txt: No space left"));
  EXPECT_EQ(complaints.find("stops recording"), complaints.rfind("stops recording"));
  EXPECT_THAT(said, HasSubstr("cannot record into " + disk_ + "/library.txt: No space left"));
  EXPECT_EQ(said.find("cannot record"), said.rfind("cannot record")) << said;
  // Both files hold the whole first conversation and nothing after it.
  for (const std::string file : {"/library.txt", "/broker.txt"}) {
    SCOPED_TRACE(file);
    const auto conversations = conversationsIn(disk_ + file);
    ASSERT_EQ(conversations.size(), 1u);
    EXPECT_EQ(conversations[0].client, "fits");
    EXPECT_EQ(readFile(disk_ + file).back(), '\n');
  }
}

}  // namespace
}  // namespace e2e
