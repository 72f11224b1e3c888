// No client takes more than its share of the broker: a newcomer is served beside a client
// that never pauses, slow clients cannot hold every place at the limit or a command open
// for ever, and what headers promise is bounded by a memory budget before anything of
// the transfer is taken.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <thread>

#include "tests/broker/broker_harness.h"
#include "tests/support/sanitizers.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

const std::string kRefused("-\0", 2);

TEST(FairShare, ANewcomerIsAnsweredWhileABusyClientGoesOn) {
  RunningBroker broker;
  std::atomic<int> served{0};
  std::atomic<bool> newcomerIn{false};
  std::atomic<bool> busyStopped{false};
  std::thread busy([&] {
    WireClient client(broker.port());
    const auto until = steady_clock::now() + std::chrono::seconds(3);
    if (client.introduce() == kAck) {
      while (!newcomerIn && steady_clock::now() < until && client.command(30) == kAck &&
             client.answer() == "1") {
        ++served;
      }
    }
    busyStopped = true;
  });
  while (served < 50 && !busyStopped) std::this_thread::yield();
  WireClient newcomer(broker.port());
  EXPECT_EQ(newcomer.introduce(), kAck);
  // An ordering, not a timing: the busy client had not stopped when the newcomer got in.
  EXPECT_FALSE(busyStopped) << "the newcomer was served only once the busy client stopped";
  newcomerIn = true;
  busy.join();
}

TEST(FairShare, ATricklingCommandHasADeadlineOfItsOwn) {
  broker::ServerConfig config = RunningBroker::defaults();
  config.timeouts.transferMs = 60000;
  config.timeouts.commandMs = 300;
  RunningBroker broker(config);
  WireClient trickler(broker.port());
  ASSERT_EQ(trickler.introduce(), kAck);
  ASSERT_EQ(trickler.command(29), kAck);
  // A byte now and then, never the NUL: the gap between bytes never runs out.
  std::atomic<bool> done{false};
  std::thread trickle([&] {
    for (int i = 0; i < 40 && !done; ++i) {
      trickler.send("x");
      std::this_thread::sleep_for(milliseconds(50));
    }
  });
  EXPECT_TRUE(trickler.closedByPeer());
  done = true;
  trickle.join();
}

TEST(FairShare, SlowClientsAtTheLimitDoNotLockANewcomerOut) {
  broker::ServerConfig config = RunningBroker::defaults();
  config.maxConnections = 5;
  config.timeouts.transferMs = 60000;
  config.timeouts.progressMs = 100;
  RunningBroker broker(config);
  std::vector<std::unique_ptr<WireClient>> slow;
  for (int i = 0; i < 5; ++i) {
    slow.push_back(std::make_unique<WireClient>(broker.port()));
    ASSERT_EQ(slow.back()->introduce(), kAck);
    ASSERT_EQ(slow.back()->command(29), kAck);
    slow.back()->send("x");  // the string argument begun, never ended
  }
  std::this_thread::sleep_for(milliseconds(300));  // longer than the progress timeout
  WireClient newcomer(broker.port());
  ASSERT_EQ(newcomer.introduce(), kAck);
  EXPECT_TRUE(slow.front()->closedByPeer()) << "the longest without progress makes room";
  EXPECT_EQ(newcomer.command(30), kAck);
  EXPECT_EQ(newcomer.answer(), "1");
}

// Opens a generic shift of `bytes` bytes up to its bit count: what the broker answers that.
std::string shiftHeader(WireClient& client, int bytes) {
  if (client.command(19) != kAck || client.strict(0) != kAck) return "no shift";
  return client.strict(8 * bytes);
}

TEST(FairShare, TransfersBeyondTheMemoryBudgetAreRefusedAtTheirHeader) {
  broker::ServerConfig config = RunningBroker::defaults();
  config.memoryBudgetMiB = 1;
  RunningBroker broker(config);
  WireClient first(broker.port());
  WireClient second(broker.port());
  ASSERT_EQ(first.introduce(), kAck);
  ASSERT_EQ(second.introduce(), kAck);
  // Data and read-back: 512 KiB of the budget for the first, 768 KiB would pass it.
  ASSERT_EQ(shiftHeader(first, 256 * 1024), kAck);
  EXPECT_EQ(shiftHeader(second, 384 * 1024), kRefused);
  // The refusal ends the command and nothing else: a small shift still goes.
  ASSERT_EQ(shiftHeader(second, 1), kAck);
  EXPECT_EQ(second.strict(1), kAck);  // byte count
  EXPECT_EQ(second.strict(1), kAck);  // read-back
  second.send(bytes({0x5A}));
  EXPECT_EQ(second.receive(1).size(), 1u);
  // A client that leaves gives its share back.
  first.close();
  for (int i = 0; i < 500 && broker.openConnections() > 1; ++i)
    std::this_thread::sleep_for(milliseconds(10));
  EXPECT_EQ(shiftHeader(second, 384 * 1024), kAck);
}

// A pump of `bytes` bytes of zeros from the flash's address on, without read-back: the
// broker's answer to it.
int pump(WireClient& client, int bytes) {
  if (client.command(42) != kAck || client.strict(8 * bytes) != kAck ||
      client.strict(0) != kAck || client.strict(0) != kAck) {
    return -100;
  }
  for (int sent = 0; sent < bytes; sent += 1024) {
    client.send(std::string(static_cast<std::size_t>(std::min(1024, bytes - sent)), '\0'));
    if (client.receive(2) != kAck) return -101;
  }
  return client.receive(2) == kAck ? client.answerInt() : -102;
}

// Between commands a conversation holds no share of the budget, whatever it moved before;
// clients that send a header and stall give theirs up to a newcomer, and a transfer larger
// than the whole budget never goes.
TEST(FairShare, IdleAndStalledClientsDoNotKeepTheBudgetFromANewcomer) {
  broker::ServerConfig config = RunningBroker::defaults();
  config.memoryBudgetMiB = 2;
  config.timeouts.transferMs = 60000;
  config.timeouts.progressMs = 100;
  RunningBroker broker(config);
  std::vector<std::unique_ptr<WireClient>> idle;
  for (int i = 0; i < 3; ++i) {
    idle.push_back(std::make_unique<WireClient>(broker.port()));
    ASSERT_EQ(idle.back()->introduce(), kAck);
    ASSERT_EQ(pump(*idle.back(), 1024 * 1024), 0);  // its buffers: 2 MiB, the whole budget
  }
  WireClient newcomer(broker.port());
  ASSERT_EQ(newcomer.introduce(), kAck);
  EXPECT_EQ(pump(newcomer, 1024 * 1024), 0);  // 2 MiB: the whole budget

  // Two headers of 512 KiB, then nothing: 1 MiB each, the budget full.
  WireClient first(broker.port()), second(broker.port());
  for (WireClient* stalled : {&first, &second}) {
    ASSERT_EQ(stalled->introduce(), kAck);
    ASSERT_EQ(shiftHeader(*stalled, 512 * 1024), kAck);
  }
  std::this_thread::sleep_for(milliseconds(300));  // longer than the progress timeout
  EXPECT_EQ(shiftHeader(newcomer, 256 * 1024), kAck);
  EXPECT_TRUE(first.closedByPeer()) << "the longest without progress gives up its share";
  EXPECT_FALSE(second.closedByPeer(100)) << "only as many as the newcomer needs";

  WireClient large(broker.port());
  ASSERT_EQ(large.introduce(), kAck);
  // Its data and read-back would be more than the whole budget: nobody is closed for it.
  EXPECT_EQ(shiftHeader(large, 1024 * 1024 + 1), kRefused);
  EXPECT_FALSE(second.closedByPeer(100));
}

// A line of /proc/self/status in MiB ("VmRSS", "VmHWM").
double statusMiB(const std::string& field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field + ":", 0) == 0) return std::stod(line.substr(field.size() + 1)) / 1024;
  }
  return -1;
}

std::uint8_t pattern(std::size_t at) {
  return static_cast<std::uint8_t>((at * 2654435761u) >> 13);
}

// Pumps `bytes` of the pattern with read-back into a broker whose pump-data flash is
// `flash` bytes: what the read-back differs in, and the peak RSS it grew by in MiB.
void pumpAndReadBack(std::size_t bytes, std::size_t flash, std::size_t& differing,
                     double& grown) {
  broker::ServerConfig config = RunningBroker::defaults();
  config.flash.nor = flash;
  config.memoryBudgetMiB = static_cast<int>(2 * bytes >> 20);  // its data and read-back
  RunningBroker broker(config);
  std::ofstream("/proc/self/clear_refs") << "5";  // the peak starts again from here
  const double before = statusMiB("VmRSS");
  WireClient client(broker.port());
  ASSERT_EQ(client.introduce(), kAck);
  ASSERT_EQ(client.command(42), kAck);
  ASSERT_EQ(client.strict(std::to_string(8 * bytes)), kAck);
  ASSERT_EQ(client.strict(0), kAck);  // program
  ASSERT_EQ(client.strict(1), kAck);  // with read-back
  std::string block(1024, '\0');
  for (std::size_t offset = 0; offset < bytes; offset += block.size()) {
    for (std::size_t i = 0; i < block.size(); ++i)
      block[i] = static_cast<char>(pattern(offset + i));
    client.send(block);
    ASSERT_EQ(client.receive(2), kAck) << "block at " << offset;
  }
  differing = 0;
  for (std::size_t offset = 0; offset < bytes; offset += block.size()) {
    const std::string back = client.receive(block.size());
    ASSERT_EQ(back.size(), block.size()) << "read-back at " << offset;
    EXPECT_EQ(back[0], '+');  // the block's marker stands for its first byte
    for (std::size_t i = 1; i < back.size(); ++i)
      differing += static_cast<std::uint8_t>(back[i]) != pattern(offset + i);
    client.token("+");
  }
  EXPECT_EQ(client.answerInt(), 0);  // every byte programmed
  grown = statusMiB("VmHWM") - before;
}

// The transfer limit is the budget's: a 64 MiB pump programs the flash and reads it back
// whole, and costs the budget's share and the flash's written blocks, however large the
// flash. The client makes and checks its data a block at a time, so the process's growth
// is the broker's.
TEST(FairShare, APumpAsLargeAsTheBudgetAllowsCostsItsShareAndTheBlocksWritten) {
  constexpr std::size_t kMiB = std::size_t{1} << 20;
  for (const std::size_t flash : {64 * kMiB, 256 * kMiB}) {
    std::size_t differing = 1;
    double grown = 0;
    pumpAndReadBack(64 * kMiB, flash, differing, grown);
    EXPECT_EQ(differing, 0u);
    // (Under AddressSanitizer the buffers outgrown on the way stay in its quarantine.)
    if (!kUnderAddressSanitizer) {
      EXPECT_LE(grown, 128 + 64 + 16) << "a flash of " << (flash / kMiB) << " MiB";
    }
    std::printf("64 MiB pump into a %zu MiB flash: peak RSS grew by %.1f MiB (budget 128)\n",
                flash / kMiB, grown);
  }
}

}  // namespace
