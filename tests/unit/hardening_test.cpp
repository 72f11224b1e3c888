// What a careless application or a hostile broker must not get through: a closed
// connection stays closed (send_test: reconnecting leaves nothing open behind).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "tapbroker_client.h"
#include "tests/support/memory_sockets.h"
#include "tests/support/scratch.h"
#include "tests/support/scripted_broker.h"
#include "tests/unit/wire_test.h"

using namespace tapbroker::results;

namespace {

TEST(Hardening, AClosedConnectionsHandleNeverReachesTheNextOne) {
  ScriptedBroker broker;
  broker.expectToken("a").answer("+").expectToken("9999").answer("r").request("0");
  broker.accept().expectToken("b").answer("+");
  char nameA[] = "a", nameB[] = "b";
  Client a(nameA), b(nameB);
  ASSERT_EQ(a.Connect(nullptr, nullptr, nullptr), 0);
  Client copy(a);
  ASSERT_EQ(a.Disconnect(), 0);
  ASSERT_EQ(b.Connect(nullptr, nullptr, nullptr), 0);
  // The system gave b the number a had: only the handle tells the two apart.
  ASSERT_EQ(b.GetClientSocket(), a.GetClientSocket());

  EXPECT_EQ(a.Send(29, "x"), kSendFailed);
  EXPECT_EQ(copy.Send(29, "y"), kSendFailed);
  EXPECT_EQ(a.Send(35), kSendFailed);
  char* text = nullptr;
  EXPECT_EQ(copy.Read(text), kSendFailed);
  EXPECT_EQ(broker.finish(), "");  // nothing reached b's connection
  hangUp(b);
}

TEST(Hardening, AReportIsOneLineInTheLogAndOnTheConsole) {
  TempDir scratch;
  const std::string log = scratch / "run.log";
  // C0 controls, then C1 controls as UTF-8 and as a lone byte, the line separator and
  // a cut-short sequence, around ordinary UTF-8 text that stays as it is.
  char name[] =
      "a\nClient \"x\" is ready to use\x1b[2J\t\x7f\r"
      "|\xc2\x9b"
      "2J\x9b"
      "2J\xc2\x85\xe2\x80\xa8|caf\xc3\xa9 \xe2\x9c\x93|\xe2\x80";
  Client client(name);
  ASSERT_EQ(client.Set_Log_File(log.c_str()), 0);
  client.Set_Debug_On();  // logged, not posted: debugging was off when it was called
  testing::internal::CaptureStderr();
  EXPECT_TRUE(client.ValidClient());
  const std::string escaped = R"(Client "a\nClient "x" is ready to use\x1B[2J\t\x7F\r)"
                              R"(|\xC2\x9B2J\x9B2J\xC2\x85\xE2\x80\xA8|caf)"
                              "\xc3\xa9 \xe2\x9c\x93"
                              R"(|\xE2\x80" is ready to use)";
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "tapbrokerclient[1088]: " + escaped + "\n");
  const std::vector<std::string> lines = readLines(log);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], escaped);
}

TEST_F(WireTest, GetTdoRefusesItsOwnPlaceholderAsADestination) {
  command(42);
  broker.token("8").token("0").token("1").expect("\x5a").answer("\xa5");
  finalRead(0);
  start();
  unsigned char* kept = nullptr;
  EXPECT_EQ(client.GetTDO(kept, 8), kNothingHeld);  // points `kept` at the placeholder
  const unsigned char data[1] = {0x5a};
  ASSERT_EQ(client.Send(42, data, 8, 0, 1), 0);
  EXPECT_EQ(client.GetTDO(kept, 8), kNoDestination);
  EXPECT_EQ(client.GetTDO(reinterpret_cast<char*>(kept), 8), kNoDestination);
  unsigned char readBack = 0;
  unsigned char* into = &readBack;
  EXPECT_EQ(client.GetTDO(into, 8), 0);  // the data was kept
  EXPECT_EQ(readBack, 0xa5);
  finish();
}

// What the other end of a FIFO does while the application logs to it.
enum class FifoReader { kNone, kHoldsItAndNeverReads, kOpensAndClosesInALoop };

// Runs the reader of `fifo` as told for as long as it lives.
class ReaderOf {
 public:
  ReaderOf(const std::string& fifo, FifoReader reader) : fifo_(fifo) {
    if (reader == FifoReader::kHoldsItAndNeverReads)
      held_ = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    if (reader == FifoReader::kOpensAndClosesInALoop) {
      cycling_ = std::thread([this] {
        while (!stop_) ::close(::open(fifo_.c_str(), O_RDONLY | O_NONBLOCK));
      });
    }
  }
  ~ReaderOf() {
    stop_ = true;
    if (cycling_.joinable()) cycling_.join();
    if (held_ >= 0) ::close(held_);
  }
  // Reads whatever a writer stuck on the FIFO has left, until `done`.
  void rescue(std::future<void>& done) {
    const int reader = ::open(fifo_.c_str(), O_RDONLY | O_NONBLOCK);
    char sink[4096];
    while (done.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
      while (::read(reader, sink, sizeof sink) > 0) continue;
    }
    ::close(reader);
  }

 private:
  std::string fifo_;
  int held_ = -1;
  std::atomic<bool> stop_{false};
  std::thread cycling_;
};

// A report never waits for the log's reader and never raises SIGPIPE (which would end this
// test program): a FIFO is refused at Set_Log_File whatever its reader does, and a log file
// that becomes a FIFO later turns logging off at the next report.
TEST(Hardening, LoggingNeverWaitsForNorDiesOfAFifo) {
  struct Case {
    FifoReader reader;
    bool replacesAFile;  // the FIFO takes the place of a log file already in use
  };
  const Case cases[] = {{FifoReader::kNone, false},
                        {FifoReader::kHoldsItAndNeverReads, false},
                        {FifoReader::kOpensAndClosesInALoop, false},
                        {FifoReader::kHoldsItAndNeverReads, true},
                        {FifoReader::kOpensAndClosesInALoop, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "reader " << static_cast<int>(c.reader)
                                    << (c.replacesAFile ? ", replacing a file" : ""));
    TempDir scratch;
    const std::string log = scratch / "log", fifo = scratch / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    Client client;
    if (c.replacesAFile) {
      ASSERT_EQ(client.Set_Log_File(log.c_str()), 0);
      ASSERT_EQ(::rename(fifo.c_str(), log.c_str()), 0);
    }
    ReaderOf reader(c.replacesAFile ? log : fifo, c.reader);
    std::future<void> reports = std::async(std::launch::async, [&] {
      if (!c.replacesAFile) {
        EXPECT_EQ(client.Set_Log_File(fifo.c_str()), -1);
      }
      // Well past what a pipe holds.
      for (int i = 0; i < 5000; ++i) client.ValidClient();
    });
    if (reports.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
      reader.rescue(reports);  // so that the test reports instead of hanging
      ADD_FAILURE() << "a report waited for the FIFO's reader";
    }
    reports.get();
  }
  Client client;
  EXPECT_EQ(client.Set_Log_File("/dev/null"), 0);  // a character device is taken
  EXPECT_FALSE(client.ValidClient());
}

}  // namespace
