// A site's own catalogue (MSGCORE_PATH) replaces the library's texts. A text there that asks
// for other arguments than the report passes, a number where a text comes, or more of them,
// would have the expansion take values that were never passed: such an entry is refused
// with a word on standard error, and the library's own text stays in its place.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tapbroker_client.h"
#include "tests/support/scratch.h"

namespace {

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
