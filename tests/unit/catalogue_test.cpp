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

// Every message the library reports, with its arguments in order: s a string, d an int.
const std::map<std::string, std::string> kReportedArguments = {
    {"1000", "sds"},  {"1001", "s"},  {"1002", "s"},  {"1003", "ss"}, {"1004", "ss"},
    {"1006", "ss"},   {"1007", "ss"}, {"1008", "ss"}, {"1009", "ss"}, {"1010", "ss"},
    {"1012", "sd"},   {"1013", "s"},  {"1014", "ss"}, {"1015", "ss"}, {"1016", "ss"},
    {"1017", "ss"},   {"1018", "ss"}, {"1019", "ss"}, {"1020", "ss"}, {"1021", "ss"},
    {"1022", "ss"},   {"1023", "ss"}, {"1024", "ss"}, {"1025", "ss"}, {"1026", "ss"},
    {"1027", "s"},    {"1028", "s"},  {"1029", "s"},  {"1032", "s"},  {"1033", "s"},
    {"1034", "ssss"}, {"1035", "s"},  {"1036", "s"},  {"1037", "ss"}, {"1038", "ss"},
    {"1039", "ss"},   {"1040", "ss"}, {"1041", "ss"}, {"1042", "ss"}, {"1043", "ss"},
    {"1044", "ss"},   {"1045", "ss"}, {"1046", "ss"}, {"1047", "ss"}, {"1048", "ss"},
    {"1049", "ss"},   {"1050", "ss"}, {"1051", "ss"}, {"1052", "ss"}, {"1053", "ss"},
    {"1054", "ss"},   {"1055", "ss"}, {"1056", "ss"}, {"1057", "ss"}, {"1058", "ss"},
    {"1059", "ss"},   {"1060", "ss"}, {"1061", "ss"}, {"1062", "ss"}, {"1063", "ss"},
    {"1064", "ss"},   {"1065", "ss"}, {"1066", "ss"}, {"1067", "ss"}, {"1068", "ss"},
    {"1069", "ss"},   {"1070", "ss"}, {"1071", "ss"}, {"1072", "s"},  {"1073", "ss"},
    {"1074", "s"},    {"1075", "sd"}, {"1076", "s"},  {"1077", "s"},  {"1078", "s"},
    {"1079", "s"},    {"1080", "s"},  {"1081", "s"},  {"1082", "s"},  {"1083", "s"},
    {"1084", "s"},    {"1085", "s"},  {"1086", "s"},  {"1087", "s"},  {"1088", "s"},
    {"1089", "s"},    {"1090", "s"},  {"1091", "s"},  {"1092", "s"},  {"1093", "sd"},
    {"1094", "s"},    {"1095", "s"},  {"1096", "s"},  {"1097", "s"},  {"1098", "s"},
    {"1099", "s"},    {"1100", "s"},  {"1101", "s"},  {"1102", "s"},  {"1103", "s"},
    {"1104", "s"},    {"1105", "s"},  {"1106", "s"},  {"1107", "s"},  {"1110", "ss"},
    {"1111", "ss"},   {"1112", "s"},  {"1113", "s"},  {"1114", "s"},  {"1115", "s"},
    {"1116", "ss"},   {"2000", ""},
};

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

TEST(Catalogue, HandleServesTheBuiltinTextsWithoutAnOverride) {
  const char* saved = std::getenv("MSGCORE_PATH");
  std::string restore = saved != nullptr ? saved : "";
  unsetenv("MSGCORE_PATH");
  msgcore::reloadCatalogues();
  {
    msgManager handle(msgcore::kBuiltinCatalogueTag);
    for (const auto& [id, shape] : kReportedArguments) {
      std::string key = id;
      std::string text;
      handle.queryMsgString(key, text);
      EXPECT_FALSE(text.empty()) << id;
      EXPECT_EQ(placeholderShape(text), shape) << id;
    }
    std::string unknown = "1005";
    std::string text = "stale";
    handle.queryMsgString(unknown, text);
    EXPECT_EQ(text, "");
  }
  if (saved != nullptr) setenv("MSGCORE_PATH", restore.c_str(), 1);
  msgcore::reloadCatalogues();
}

}  // namespace
