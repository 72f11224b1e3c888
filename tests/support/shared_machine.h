// What a test may find taken on a machine it shares with other programs: port 4001, and
// the name tapbroker.exe, which Connect looks for among all processes. scripts/test.sh runs
// the suites in a network and process namespace of their own, where nothing else holds
// either; run elsewhere beside such a program, a test that needs one skips, saying why.
#ifndef TESTS_SUPPORT_SHARED_MACHINE_H
#define TESTS_SUPPORT_SHARED_MACHINE_H

#include <gtest/gtest.h>

#include <string>

#include "tests/support/loopback.h"
#include "tests/support/processes.h"

namespace shared_machine {

// Why port 4001 cannot be ours for this test; empty when it can.
inline std::string portTaken() {
  int probe = loopback::listenOn(4001, 0);
  const bool free = probe >= 0;
  loopback::closeSocket(probe);
  return free ? "" : "port 4001 is held by another program";
}

// The same, for a test that also needs Connect to find no broker running.
inline std::string brokerOrPortTaken() {
  if (!processes::brokers().empty()) return "a tapbroker.exe runs on this machine";
  return portTaken();
}

}  // namespace shared_machine

// Skips the calling test when `why` (one of the texts above) is not empty.
#define SKIP_IF_TAKEN(why)                                                              \
  do {                                                                                  \
    if (const std::string reason = (why); !reason.empty())                              \
      GTEST_SKIP() << reason << " (scripts/test.sh runs the tests where no other program is)"; \
  } while (false)

#endif  // TESTS_SUPPORT_SHARED_MACHINE_H
