// A Client's lifetime: its fresh state, copies and assignment, and the one catalogue handle
// that copies share and the last of them finishes.
#include <gtest/gtest.h>

#include <memory>

#include "diagnostics/call_context.h"
#include "msgcore/msgManager.h"
#include "tapbroker_client.h"
#include "tests/support/scratch.h"

namespace {

// Handles alive and finished since the start of a test.
struct HandleCount {
  long live() const { return tapbroker::msgcore::liveHandles() - live0; }
  long finished() const { return tapbroker::msgcore::finishedHandles() - finished0; }
  long live0 = tapbroker::msgcore::liveHandles();
  long finished0 = tapbroker::msgcore::finishedHandles();
};

TEST(ClientState, FreshStatusSocketAndValidity) {
  CatalogueOverride catalogue;
  TempDir scratch;
  for (const char* name : {"", "cable-7"}) {
    Client client(const_cast<char*>(name));
    EXPECT_EQ(client.GetClientSocket(), -1);
    EXPECT_EQ(client.GetClientStatus(), 0);
    const std::string log = scratch / std::string("v") + name;
    ASSERT_EQ(client.Set_Log_File(log.c_str()), 0);
    EXPECT_EQ(client.ValidClient(), *name != '\0');
    EXPECT_EQ(readLines(log), Lines{*name ? "1088 cable-7" : "1087 "});
  }
}

TEST(ClientHandle, SharedByCopiesAndFinishedOnceByTheLastOwner) {
  HandleCount count;
  {
    Client source(const_cast<char*>("s"));
    auto copy = std::make_unique<Client>(source);
    Client target(const_cast<char*>("t"));
    EXPECT_EQ(count.live(), 2);
    target = *copy;  // target's own handle had no other owner
    EXPECT_EQ(count.live(), 1);
    EXPECT_EQ(count.finished(), 1);
    Client& alias = target;
    target = alias;
    target = source;  // already shared: nothing changes
    copy.reset();
    EXPECT_EQ(count.live(), 1);

    Client other(const_cast<char*>("o"));
    Client otherCopy(other);
    target = other;  // the handle it left keeps its other owner
    other = source;
    EXPECT_EQ(count.live(), 2);
    EXPECT_EQ(count.finished(), 1);
  }
  EXPECT_EQ(count.live(), 0);
  EXPECT_EQ(count.finished(), 3);
}

TEST(ClientHandle, AssignmentCarriesSettingsAndSelfAssignmentKeepsThem) {
  CatalogueOverride catalogue;
  TempDir scratch;
  const std::string log = scratch / "shared.log";
  Client source(const_cast<char*>("src"));
  ASSERT_EQ(source.Set_Log_File(log.c_str()), 0);
  source.SetClientStatus(3);
  Client& alias = source;
  source = alias;
  Client copy(source);
  Client assigned(const_cast<char*>("dst"));
  assigned = source;
  for (Client* client : {&source, &copy, &assigned}) {
    EXPECT_EQ(client->GetClientStatus(), 3);
    EXPECT_TRUE(client->ValidClient());
  }
  EXPECT_EQ(readLines(log), (Lines{"1088 src", "1088 src", "1088 src"}));
}

TEST(ClientHandle, MissingHandleIsNeverUsedNorFinished) {
  CatalogueOverride catalogue;
  TempDir scratch;
  HandleCount count;
  {
    tapbroker::msgcore::failNextAllocations(1);
    Client without(const_cast<char*>("n"));
    Client copy(without);
    Client with(const_cast<char*>("w"));
    with = without;
    EXPECT_EQ(count.live(), 0);
    EXPECT_EQ(count.finished(), 1);

    const std::string log = scratch / "run.log";
    ASSERT_EQ(copy.Set_Log_File(log.c_str()), 0);
    copy.Set_Debug_On();
    testing::internal::CaptureStderr();
    copy.PrintMessage("7001", "abc", 42);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(readLines(log), (Lines{"", ""}));  // "1100" and the report: no texts
  }
  EXPECT_EQ(count.finished(), 1);
}

TEST(ClientHandle, ContextHandleLivesUntilItsLastCopy) {
  HandleCount count;
  {
    CallContext context(1, stdin, "c", "x.log");
    CallContext copy(context);
    CallContext assigned(0, nullptr, "d", "");
    EXPECT_EQ(count.live(), 1);  // a context that reports nowhere needs no handle
    assigned = copy;
    context.release();
    copy.release();
    EXPECT_EQ(count.live(), 1);
  }
  EXPECT_EQ(count.live(), 0);
  EXPECT_EQ(count.finished(), 0);  // only a Client's handle is finished
}

}  // namespace
