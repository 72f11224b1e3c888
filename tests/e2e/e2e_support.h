// What the end-to-end tests share: the reference broker started for a test from the build's
// bin/ (where Connect also looks for it, beside tapclient), and a Client with the cable and
// a device session open.
#ifndef TESTS_E2E_E2E_SUPPORT_H
#define TESTS_E2E_E2E_SUPPORT_H

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tapbroker_client.h"
#include "tests/support/processes.h"
#include "tests/support/scratch.h"
#include "tests/support/shared_machine.h"

namespace e2e {

using processes::brokerPath;
// Where the build put the test programs, tapbroker.exe and tapclient.
inline std::string binaryDirectory() {
  return std::filesystem::path(brokerPath()).parent_path().string();
}
// Starts tapbroker.exe as `launch` says and waits until it listens on port 4001.
pid_t startBroker(const processes::Launch& launch);

// A test whose tapbroker.exe listens on port 4001 for its whole run; it skips where the
// port belongs to another program. A fixture may add to the broker's launch before SetUp.
class BrokerTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override { processes::stop(pid_); }
  // The idle limit stops it even if the test never gets to.
  processes::Launch launch_{{"--idle-exit", "60"}};
  pid_t pid_ = 0;
};

// What a run of tapclient from the binary directory ended with (on Linux).
struct ToolRun {
  int status = -1;
  std::string output;
  std::vector<std::string> errors;  // one a line
};
inline ToolRun runTapclient(const std::vector<std::string>& arguments,
                            std::vector<std::string> environment = {}) {
  TempDir scratch;
  processes::Launch launch(arguments, scratch / "errors");
  launch.environment = std::move(environment);
  ToolRun run;
  run.status = processes::run(binaryDirectory() + "/tapclient", launch, run.output);
  run.errors = readLines(launch.errorFile);
  return run;
}

// Connects `client` (unless it is) and opens the cable and a device session: both flags.
::testing::AssertionResult connectAndOpen(Client& client, bool connect = true);
std::vector<std::string> readList(Client& client);
// The read-back of the last shift, `bytes` long.
std::string readBack(Client& client, std::size_t bytes);

}  // namespace e2e

#endif  // TESTS_E2E_E2E_SUPPORT_H
