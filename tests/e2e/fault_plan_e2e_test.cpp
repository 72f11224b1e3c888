// Faults on demand, seen through the library: a broker that Connect starts itself finds
// its fault plan in the environment, and every kind of fault reaches the Client as the
// error the library documents for it (the code, the status, the report).
#include <fstream>
#include <functional>
#include <string>

#include "e2e_support.h"
#include "tests/support/scratch.h"

using namespace tapbroker::results;

namespace e2e {
namespace {

// One fault per command, each on the first time the command runs in a conversation; for
// command 4, whose first run opens the cable for every case, the second and third.
constexpr const char* kPlan =
    "5   1  refuse\n"
    "9   1  answer  -7\n"
    "19  1  flip    3\n"
    "42  1  close-before\n"
    "1   1  close-after\n"
    "30  1  delay   200\n"
    "47  1  refuse\n"
    "51  1  refuse\n"
    "4   2  answer  0\n"
    "4   3  close-before\n";

const unsigned char kData[8] = {1, 2, 3, 4, 5, 6, 7, 8};

int openCable(Client& c) { return c.Send(4, "sim-usb", "port0", 0); }

struct FaultCase {
  const char* fault;
  std::function<int(Client&)> run;
  int result;
  int status;
  const char* report;  // a catalogue identifier the client posts, or empty
};

TEST(FaultPlanE2E, EachFaultReachesTheClientAsItsDocumentedError) {
  SKIP_IF_TAKEN(shared_machine::brokerOrPortTaken());
  TempDir directory;
  const std::string plan = directory / "faults.txt";
  std::ofstream(plan) << kPlan;
  ScopedEnv faults("TAPBROKER_FAULTS", plan);
  // It goes by itself should the test stop early; not within the five seconds that Connect
  // waits for a broker it has started before it connects.
  ScopedEnv idle("TAPBROKER_IDLE_EXIT", "15");

  const FaultCase cases[] = {
      {"refuse: a strict token answered \"-\"", [](Client& c) { return c.Send(5, 7); }, kReceiveFailed,
       kReceiveFailed, "1062"},
      {"answer: the integer replaced", [](Client& c) { return c.Send(9, 0); }, -7, 0, ""},
      {"flip: read-back bit 3, the chain's first IDCODE byte 0x4D",
       [](Client& c) {
         const int sent = c.Send(19, 0, 64, 1, kData);
         return sent != 0 ? sent : static_cast<unsigned char>(readBack(c, 8).front());
       },
       0x4D ^ 0x08, 0, ""},
      {"close-before: no answer to the pump",
       [](Client& c) { return c.Send(42, kData, 64, 0, 0); }, kReceiveFailed, kReceiveFailed, "1020"},
      {"close-after: answered, then gone",
       [](Client& c) {
         const int identified = c.Send(1);
         return identified != 0 ? identified : c.Send(30);
       },
       kReceiveFailed, kReceiveFailed, "1010"},
      {"delay: answered late, answered right", [](Client& c) { return c.Send(30); }, 1, 0, ""},
      // Commands 47 and 51 run two transfers and take the second one's result alone.
      {"refuse: the first of two I2C transfers",
       [](Client& c) { return c.Send(47, 0x40, 0xA0, 32, kData, 0); }, 0, 0, ""},
      {"refuse: the first of two SPI transfers",
       [](Client& c) { return c.Send(51, 0, 32, kData, 0); }, 0, 0, ""},
      {"answer: the cable's flag refused", openCable, -1, -1, "1076"},
      {"close-before: no flag for the cable",
       [](Client& c) {
         const int refused = openCable(c);
         return refused != -1 ? refused : openCable(c);
       },
       kReceiveFailed, kReceiveFailed, "1074"},
  };
  for (const FaultCase& fault : cases) {
    SCOPED_TRACE(fault.fault);
    char name[] = "e2e-faults";
    Client client(name);
    ASSERT_TRUE(connectAndOpen(client));  // the first one starts the broker with the plan
    client.Set_Debug_On();
    ::testing::internal::CaptureStderr();
    const int result = fault.run(client);
    const std::string reports = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, fault.result);
    EXPECT_EQ(client.GetClientStatus(), fault.status);
    if (*fault.report) {
      EXPECT_NE(reports.find(std::string("[") + fault.report + "]"), std::string::npos) << reports;
    }
  }
  for (pid_t pid : processes::brokers(binaryDirectory())) EXPECT_TRUE(processes::stop(pid));
}

// The docs' plan that works as a whole: the cable opens, and each fault says where it fired.
class WholePlanE2E : public BrokerTest {
 protected:
  WholePlanE2E() {
    std::ofstream(plan_) << "8      1      answer 0       # the first chain scan finds no device\n"
                            "30     every  delay  200     # the revision always comes late\n"
                            "19     1      flip   3\n"
                            "42     2      close-before\n";
    launch_.arguments.insert(launch_.arguments.end(), {"--faults", plan_});
    launch_.errorFile = complaints_;
  }
  TempDir directory_;
  std::string plan_ = directory_ / "plan.txt";
  std::string complaints_ = directory_ / "stderr.txt";
};

TEST_F(WholePlanE2E, OpensTheCableAndNamesWhereEachFaultFires) {
  char name[] = "e2e-whole-plan";
  Client client(name);
  ASSERT_TRUE(connectAndOpen(client));
  EXPECT_EQ(client.Send(30), 1);
  EXPECT_EQ(client.Send(30), 1);
  ASSERT_EQ(client.Send(19, 0, 64, 1, kData), 0);
  EXPECT_EQ(static_cast<unsigned char>(readBack(client, 8).front()), 0x4D ^ 0x08);
  EXPECT_EQ(client.Disconnect(), 0);
  processes::stop(pid_);
  const std::vector<std::string> lines = readLines(complaints_);
  const std::vector<std::string> expected = {
      "fault fires in command 30 (protocol revision), its 1st start: delay 200",
      "fault fires in command 30 (protocol revision), its 2nd start: delay 200",
      "fault fires in command 19 (generic shift), its 1st start: flip 3"};
  std::vector<std::string> fired;
  // After "tapbroker #N ": the port's probes before the client were connections too.
  for (const std::string& line : lines) {
    const std::size_t at = line.find(" fault fires ");
    if (at != std::string::npos) fired.push_back(line.substr(at + 1));
  }
  EXPECT_EQ(fired, expected);
}

// A broker that stalls on an answer, met by a client with a deadline: the wait ends with the
// usual receive failure and a report that it timed out, and the conversation stays ended, so
// that no later call reads the answer that belonged to the stalled one.
class DeadlineE2E : public BrokerTest {
 protected:
  DeadlineE2E() {
    std::ofstream(plan_) << "30  1  delay  4000\n";
    launch_.arguments.insert(launch_.arguments.end(), {"--faults", plan_});
  }
  TempDir directory_;
  std::string plan_ = directory_ / "plan.txt";
};

TEST_F(DeadlineE2E, AStalledAnswerEndsTheConversation) {
  char name[] = "e2e-deadline";
  Client client(name);
  {
    ScopedEnv deadline("TAPBROKER_CLIENT_TIMEOUT", "1");
    ASSERT_TRUE(connectAndOpen(client));
  }
  client.Set_Debug_On();
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(client.Send(30), kReceiveFailed);
  EXPECT_EQ(client.Send(30), kReceiveFailed);  // the late answer is not taken for this one's
  int value = 0;
  EXPECT_EQ(client.Read(value), kReceiveFailed);
  const std::string reports = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(reports.find("[1117]"), reports.rfind("[1117]")) << reports;  // said once
  EXPECT_NE(reports.find("[1117]"), std::string::npos) << reports;
  EXPECT_EQ(client.Disconnect(), 0);
}

}  // namespace
}  // namespace e2e
