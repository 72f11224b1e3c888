// What the end-to-end tests share: the programs of the build's binary directory, a real
// tapbroker.exe started for a test and stopped by pid, the broker processes on this
// machine, and a Client with the cable and a device session open.
#ifndef TESTS_E2E_E2E_SUPPORT_H
#define TESTS_E2E_E2E_SUPPORT_H

#include <gtest/gtest.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tapbroker_client.h"
#include "tests/support/processes.h"

namespace e2e {

// The directory this test program runs from: the build's bin/, beside tapbroker.exe and
// tapclient.
std::string binaryDirectory();

// Waits up to `seconds` for no tapbroker.exe to run anywhere (other programs' tests start
// them too; the library starts none while one runs). True when none runs.
bool waitForNoBroker(int seconds);
// Whether something accepts connections on 127.0.0.1:4001.
bool portAnswers();
// The tapbroker.exe from `directory` that listens on 127.0.0.1:4001; 0 when none does.
pid_t listeningBroker(const std::string& directory);

// A tapbroker.exe from the binary directory listening on the fixed port: one already
// running there is used as it is (every connection gets a simulated cable of its own, and
// the demo leaves one running for a few minutes); otherwise one is started, and stopped by
// its pid when the object goes.
class BrokerProcess {
 public:
  // Retries for a while when the port is busy; pid() is 0 when none came up.
  BrokerProcess();
  ~BrokerProcess();
  BrokerProcess(const BrokerProcess&) = delete;
  BrokerProcess& operator=(const BrokerProcess&) = delete;
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = 0;
  bool started_ = false;
};

// Runs `program` from the binary directory with `arguments`; returns its exit status
// (-1 when it could not be run or died of a signal) and what it wrote to stdout.
int runProgram(const std::string& program, const std::vector<std::string>& arguments,
               std::string& output);

// Connects `client` and opens the cable and a device session: the two flags granted.
::testing::AssertionResult connectAndOpen(Client& client);
::testing::AssertionResult openCable(Client& client);

// Sends the request token and returns the integer answer (or the library's code).
int readInt(Client& client);
std::string readText(Client& client);
std::vector<std::string> readList(Client& client);
// The read-back of the last shift, `bytes` long (what GetTDO does not fill stays 0).
std::vector<std::uint8_t> readBack(Client& client, std::size_t bytes);

// The reflected CRC-32 that command 24 reports.
std::uint32_t crc32(const std::vector<std::uint8_t>& bytes);
// `count` bytes of a fixed pseudo-random pattern, never 0xFF.
std::vector<std::uint8_t> pattern(std::size_t count, std::uint32_t seed = 1);

// Devices of the broker's built-in chain, nearest TDO first.
constexpr std::uint32_t kFpgaIdcode = 0x1A2B3C4D;
constexpr std::uint32_t kCpldIdcode = 0x2C0FFEE1;
constexpr int kFlashSize = 256 * 1024;

}  // namespace e2e

#endif  // TESTS_E2E_E2E_SUPPORT_H
