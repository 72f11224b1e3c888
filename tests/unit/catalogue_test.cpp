// The message catalogue: the built-in texts against what every report passes (a
// placeholder that does not match its argument reads the wrong thing off the argument
// list), and a site's own catalogue, whose entries are refused where they would do that.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>

#include "tapbroker_client.h"
#include "tests/support/scratch.h"

namespace {

// Every message the library reports, by the arguments it passes: s a string, d an int.
const char* const kReports[][2] = {
    {"s",
     "1001 1002 1013 1027 1028 1029 1032 1033 1035 1036 1072 1074 1076 1077 1078 1079 "
     "1080 1081 1082 1083 1084 1085 1086 1087 1088 1089 1090 1091 1092 1094 1095 1096 "
     "1097 1098 1099 1100 1101 1102 1103 1104 1105 1106 1107 1112 1113 1114 1115"},
    {"ss",
     "1003 1004 1006 1007 1008 1009 1010 1014 1015 1016 1017 1018 1019 1020 1021 1022 "
     "1023 1024 1025 1026 1037 1038 1039 1040 1041 1042 1043 1044 1045 1046 1047 1048 "
     "1049 1050 1051 1052 1053 1054 1055 1056 1057 1058 1059 1060 1061 1062 1063 1064 "
     "1065 1066 1067 1068 1069 1070 1071 1073 1110 1111 1116 1118"},
    {"sd", "1012 1075 1093 1117"},
    {"sds", "1000"},
    {"ssss", "1034"},
    {"", "2000"},
};

std::map<std::string, std::string> reportedArguments() {
  std::map<std::string, std::string> shapes;
  for (const auto& [shape, ids] : kReports) {
    std::istringstream list(ids);
    for (std::string id; list >> id;) shapes[id] = shape;
  }
  return shapes;
}

TEST(Catalogue, BuiltinTextsMatchEveryReportAndNothingElse) {
  std::map<std::string, std::string> texts;  // each text's placeholders, in order
  std::istringstream catalogue(identifyingCatalogue());
  for (std::string line; std::getline(catalogue, line);) {
    std::string shape;
    for (std::size_t at = line.find("$$"); at != std::string::npos; at = line.find("$$", at + 3))
      shape += line[at + 2];
    EXPECT_TRUE(texts.emplace(line.substr(0, 4), shape).second) << line << " appears twice";
  }
  EXPECT_EQ(texts.size(), 114u);
  EXPECT_EQ(texts, reportedArguments());
}

TEST(SiteCatalogue, TextsAskingForArgumentsNeverPassedAreRefused) {
  TempDir scratch;
  const std::string log = scratch / "run.log";
  char name[] = "probe";

  ::testing::internal::CaptureStderr();
  CatalogueOverride catalogue(
      "1100\t$$d switches debugging on\n"          // a number where a text is passed
      "1035\tdebugging was on already\n"           // asks for less: used
      "1101\t$$s switches debugging off\n"         // asks for what is passed: used
      "1036\t$$s$$s$$s$$s$$s$$s$$s$$s$$s$$s$$s\n"  // far more than is passed
      "7001\t$$d and $$s\n");                      // no text of the library's own: kept
  Client client(name);
  ASSERT_EQ(client.Set_Log_File(log.c_str()), 0);
  client.Set_Debug_On();
  client.Set_Debug_On();
  client.Set_Debug_Off();
  client.Set_Debug_Off();
  client.PrintMessage("7001", 5, "five");
  const std::string posted = ::testing::internal::GetCapturedStderr();

  EXPECT_EQ(readLines(log), (std::vector<std::string>{
                                "probe: switching debug output on",
                                "probe: switching debug output on",
                                "debugging was on already",
                                "probe switches debugging off",
                                "probe switches debugging off",
                                "probe: debug output was already off",
                                "5 and five",
                            }));
  // Each refusal is said once, when the catalogue is read, naming the entry.
  for (const char* id : {"1100", "1036"}) {
    const std::string entry = std::string("entry ") + id;
    EXPECT_NE(posted.find(entry), std::string::npos) << posted;
    EXPECT_EQ(posted.find(entry), posted.rfind(entry)) << posted;
  }
  for (const char* id : {"1035", "1101", "7001"})
    EXPECT_EQ(posted.find(std::string("entry ") + id), std::string::npos) << posted;
}

}  // namespace
