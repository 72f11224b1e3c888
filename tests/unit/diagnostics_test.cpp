// Reporting: where a report goes, how a catalogue text is expanded, and the log file's life.
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>

#include "diagnostics/call_context.h"
#include "diagnostics/expansion.h"
#include "tapbroker_client.h"
#include "tests/support/scratch.h"

using namespace tapbroker::results;

namespace {

std::string expand(const char* text, ...) {
  va_list args;
  va_start(args, text);
  std::string line = "left over";
  tapbroker::diagnostics::expandCatalogueText(text, args, line);
  va_end(args);
  return line;
}

TEST(DiagExpansion, PlaceholdersNumbersAndStrayDollars) {
  EXPECT_EQ(expand("$$s: $$d bytes", "abc", 42), "abc: 42 bytes");
  EXPECT_EQ(expand("$$s: $$d bytes", "abc", -7), "abc: -7 bytes");
  EXPECT_EQ(expand("[$$d|$$d|$$d]", 0, INT_MIN, INT_MAX), "[0|-2147483648|2147483647]");
  EXPECT_EQ(expand("no placeholders", "ignored", 5), "no placeholders");
  EXPECT_EQ(expand("$$x $d $$ cost $5 $$", "unused"), "$$x $d $$ cost $5 $$");
  EXPECT_EQ(expand("$$$s", "v"), "$v");
  EXPECT_EQ(expand("$$s$$s|$$s", "a", "", static_cast<const char*>(nullptr)), "a|");
  EXPECT_EQ(expand(""), "");
}

// The two switches, and where one report goes with each setting.
struct Route {
  bool debug;
  bool log;
};

class DiagRouting : public testing::TestWithParam<Route> {
 protected:
  CatalogueOverride catalogue_;
  TempDir scratch_;
  const std::string log_ = scratch_ / "run.log";
};

TEST_P(DiagRouting, ClientPostsAndLogsByItsSwitches) {
  Client client(const_cast<char*>("probe"));
  if (GetParam().log) {
    ASSERT_EQ(client.Set_Log_File(log_.c_str()), 0);
  }
  if (GetParam().debug) client.Set_Debug_On();  // logs "1100" before the switch changes
  testing::internal::CaptureStderr();
  client.PrintMessage("7001", "abc", 42);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            GetParam().debug ? "tapbrokerclient[7001]: abc: 42 bytes\n" : "");
  Lines logged =
      GetParam().debug ? Lines{"1100 probe", "abc: 42 bytes"} : Lines{"abc: 42 bytes"};
  EXPECT_EQ(readLines(log_), GetParam().log ? logged : Lines{});
}

TEST_P(DiagRouting, ContextPostsOrLogsNeverBoth) {
  std::ofstream(log_).flush();
  FILE* loggingOn = GetParam().log ? stdin : nullptr;  // a mark only, never written to
  CallContext context(GetParam().debug ? 1 : 0, loggingOn, "probe", log_);
  testing::internal::CaptureStderr();
  context.PrintMessage("7001", "abc", -7);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            GetParam().debug ? "tapbrokerclient[7001]: abc: -7 bytes\n" : "");
  bool logged = GetParam().log && !GetParam().debug;
  EXPECT_EQ(readLines(log_), logged ? Lines{"abc: -7 bytes"} : Lines{});
}

INSTANTIATE_TEST_SUITE_P(DiagSwitches, DiagRouting,
                         testing::Values(Route{false, false}, Route{true, false},
                                         Route{false, true}, Route{true, true}));

class DiagLogFile : public testing::Test {
 protected:
  CatalogueOverride catalogue_;
  TempDir scratch_;
  Client client_{const_cast<char*>("probe")};
};

TEST_F(DiagLogFile, SetLogFileEmptiesTheFileAndAnEmptyPathKeepsIt) {
  const std::string log = scratch_ / "run.log";
  std::ofstream(log) << "old content\n";
  EXPECT_EQ(client_.Set_Log_File(log.c_str()), 0);
  EXPECT_EQ(readLines(log), Lines{});
  client_.PrintMessage("6999", "no entry");  // a missing text still gives its line
  EXPECT_EQ(client_.Set_Log_File(""), kNoLogPath);
  EXPECT_EQ(client_.GetClientStatus(), kNoLogPath);
  client_.PrintMessage("7002", "ignored", 1);
  EXPECT_EQ(readLines(log), (Lines{"", "1099 probe", "1029 probe", "plain text"}));
}

TEST_F(DiagLogFile, FailedOpeningTurnsLoggingOffUntilTheNextSetLogFile) {
  const std::string directory = scratch_ / "logs";
  const std::string log = directory + "/run.log";
  EXPECT_EQ(client_.Set_Log_File(log.c_str()), -1);  // no such directory yet
  EXPECT_EQ(client_.GetClientStatus(), 0);
  std::filesystem::create_directory(directory);
  client_.PrintMessage("7002");
  EXPECT_FALSE(std::filesystem::exists(log));

  ASSERT_EQ(client_.Set_Log_File(log.c_str()), 0);
  std::filesystem::remove_all(directory);
  client_.PrintMessage("7002");  // the appending opening fails
  std::filesystem::create_directory(directory);
  client_.PrintMessage("7002");
  EXPECT_FALSE(std::filesystem::exists(log));
}

TEST_F(DiagLogFile, GetLogFileNamesWhatIsMissing) {
  EXPECT_EQ(client_.Get_Log_file(), kNoLogPath);
  EXPECT_EQ(client_.GetClientStatus(), kNoLogPath);
  const std::string log = scratch_ / "run.log";
  ASSERT_EQ(client_.Set_Log_File(log.c_str()), 0);
  EXPECT_EQ(client_.Get_Log_file(), kNoSecondLogPath);
  EXPECT_EQ(client_.GetClientStatus(), kNoSecondLogPath);
  EXPECT_EQ(readLines(log), Lines{"1033 probe"});
}

TEST_F(DiagLogFile, DebugSwitchReportsFollowTheSettingInForce) {
  const std::string log = scratch_ / "run.log";
  ASSERT_EQ(client_.Set_Log_File(log.c_str()), 0);
  testing::internal::CaptureStderr();
  for (bool on : {false, true, true, false}) {
    EXPECT_EQ(on ? client_.Set_Debug_On() : client_.Set_Debug_Off(), 0);
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "tapbrokerclient[1100]: 1100 probe\ntapbrokerclient[1035]: 1035 probe\n"
            "tapbrokerclient[1101]: 1101 probe\n");
  EXPECT_EQ(readLines(log), (Lines{"1101 probe", "1036 probe", "1100 probe", "1100 probe",
                                   "1035 probe", "1101 probe"}));
}

}  // namespace
