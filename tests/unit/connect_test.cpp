// Connect against a scripted broker: the introduction and what the log shows of it. Finding
// and starting a broker are the platform suite's (tests/platform/broker_start_test.cpp).
#include <gtest/gtest.h>

#include "tests/support/connect_fixture.h"
#include "tests/support/scripted_broker.h"

using namespace tapbroker::results;

namespace {

using ConnectTest = ConnectFixture;

TEST_F(ConnectTest, IntroducesItselfToAListeningBroker) {
  struct Case {
    const char* logFile;
    Lines expected;
  };
  std::string newLog = scratch / "later.log";
  for (const Case& c : {Case{"", {"1089", "1090", "1091"}},
                        Case{newLog.c_str(), {"1089", "1090", "1091", "1092", "1099"}}}) {
    ASSERT_EQ(client.Set_Log_File(log.c_str()), 0);
    ScriptedBroker broker;
    broker.expect(std::string("probe\0", 6)).answer("x");
    EXPECT_EQ(client.Connect(nullptr, c.logFile, nullptr), 0);
    EXPECT_EQ(broker.finish(), "");
    EXPECT_EQ(client.GetClientStatus(), 0);
    EXPECT_GT(client.GetClientSocket(), 0);
    EXPECT_EQ(reports(log), c.expected) << "log file: \"" << c.logFile << "\"";
    hangUp(client);
  }
  EXPECT_TRUE(std::filesystem::exists(newLog));
}

// A deadline that is not a whole number of seconds from 1 to a day is said and ignored.
TEST_F(ConnectTest, MalformedDeadlineIsReportedAndIgnored) {
  for (const char* value : {"0", "-3", "1.5", "2s", "86401", "99999999999"}) {
    ASSERT_EQ(client.Set_Log_File(log.c_str()), 0);
    ScriptedBroker broker;
    broker.expect(std::string("probe\0", 6)).answer("x");
    ::setenv("TAPBROKER_CLIENT_TIMEOUT", value, 1);
    EXPECT_EQ(client.Connect(nullptr, nullptr, nullptr), 0);
    ::unsetenv("TAPBROKER_CLIENT_TIMEOUT");
    EXPECT_EQ(reports(log), (Lines{"1089", "1118", "1090", "1091"})) << value;
    hangUp(client);
  }
}

// A name that cannot travel whole is refused before any connection is made (how each step
// of the introduction fails is the fault table's).
TEST_F(ConnectTest, OversizedIntroductionIsRefused) {
  std::string longName(1024, 'n');
  Client longClient(longName.data());
  longClient.Set_Log_File(log.c_str());
  ScriptedBroker broker;
  EXPECT_EQ(longClient.Connect(nullptr, nullptr, nullptr), kArgumentRefused);
  EXPECT_EQ(longClient.GetClientStatus(), kArgumentRefused);
  EXPECT_EQ(longClient.GetClientSocket(), -1);
  EXPECT_EQ(broker.finish(), "");
  EXPECT_EQ(broker.received(), "");
  Lines logged = readLines(log);
  ASSERT_FALSE(logged.empty());
  EXPECT_NE(logged.back().find("shorter than 1024"), std::string::npos);
}

}  // namespace
