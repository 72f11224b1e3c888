// The built-in message texts against what every report passes: a placeholder that does
// not match its argument reads the wrong thing off the argument list.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "msgcore/msgManager.h"
#include "msgcore/msgcore_internal.h"

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
     "1065 1066 1067 1068 1069 1070 1071 1073 1110 1111 1116"},
    {"sd", "1012 1075 1093"},
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

// The placeholders of `text`, read left to right as the expansion reads them.
std::string placeholderShape(const std::string& text) {
  std::string shape;
  for (std::size_t i = 0; i < text.size();) {
    if (text.compare(i, 3, "$$s") == 0 || text.compare(i, 3, "$$d") == 0) {
      shape += text[i + 2];
      i += 3;
    } else {
      ++i;
    }
  }
  return shape;
}

TEST(Catalogue, BuiltinTextsMatchEveryReportAndNothingElse) {
  const auto kReportedArguments = reportedArguments();
  ASSERT_EQ(kReportedArguments.size(), 112u);
  std::istringstream source(msgcore::kBuiltinCatalogue);
  std::set<std::string> seen;
  std::string line;
  while (std::getline(source, line)) {
    if (line.empty() || line[0] == '#') continue;
    ASSERT_GE(line.size(), 6u) << "malformed line: " << line;
    ASSERT_EQ(line[4], '\t') << "malformed line: " << line;
    const std::string id = line.substr(0, 4);
    const std::string text = line.substr(5);
    EXPECT_TRUE(seen.insert(id).second) << id << " appears twice";
    auto reported = kReportedArguments.find(id);
    if (reported == kReportedArguments.end()) {
      ADD_FAILURE() << id << " is not reported by the library";
      continue;
    }
    EXPECT_EQ(placeholderShape(text), reported->second) << id << ": " << text;
    EXPECT_EQ(text.find_first_of("\r\t"), std::string::npos) << id;
  }
  for (const auto& [id, shape] : kReportedArguments) {
    EXPECT_TRUE(seen.count(id)) << id << " has no text";
  }
}

TEST(Catalogue, HandleServesTheBuiltinTextsWhenNoFileOverridesThem) {
  const char* saved = std::getenv("MSGCORE_PATH");
  const std::string restore = saved != nullptr ? saved : "";
  unsetenv("MSGCORE_PATH");
  msgcore::reloadCatalogues();
  std::string id = "1093", text;
  msgManager(msgcore::kBuiltinCatalogueTag).queryMsgString(id, text);
  EXPECT_EQ(text, "$$s: command $$d sent and answered");
  if (saved != nullptr) setenv("MSGCORE_PATH", restore.c_str(), 1);
  msgcore::reloadCatalogues();
}

}  // namespace
