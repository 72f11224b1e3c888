// What the tests of Connect share, whether the broker is scripted in memory or found and
// started on real sockets: a client that logs to a scratch file with a catalogue whose
// texts begin with their identifiers, the identifiers read back from that log, and a
// connection closed without a word.
#ifndef TESTS_SUPPORT_CONNECT_FIXTURE_H
#define TESTS_SUPPORT_CONNECT_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/socket_handles.h"
#include "platform/sockets.h"
#include "tapbroker_client.h"
#include "tests/support/scratch.h"

// The identifiers of the reports logged, in order.
inline Lines reports(const std::string& log) {
  Lines ids;
  for (const std::string& line : readLines(log)) ids.push_back(line.substr(0, 4));
  return ids;
}

// Closes what a successful Connect opened, without a closing conversation.
inline void hangUp(Client& client) {
  tapbroker::platform::close(tapbroker::platform::handles::current(
      static_cast<std::uint32_t>(client.GetClientSocket())));
}

class ConnectFixture : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(client.Set_Log_File(log.c_str()), 0); }
  CatalogueOverride catalogue;
  TempDir scratch;
  std::string log = scratch / "client.log";
  char name[6] = "probe";
  Client client{name};
};

#endif  // TESTS_SUPPORT_CONNECT_FIXTURE_H
