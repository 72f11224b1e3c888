#include "tests/e2e/e2e_support.h"

#include <chrono>
#include <cstdlib>
#include <thread>

#include "tests/support/loopback.h"

namespace e2e {
namespace {

// Whether something accepts connections on 127.0.0.1:4001.
bool portAnswers() { return loopback::Connection(4001).connected(); }

}  // namespace

pid_t startBroker(const processes::Launch& launch) {
  const pid_t pid = processes::spawn(brokerPath(), launch);
  for (int wait = 0; wait < 250 && !portAnswers(); ++wait)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return pid;
}

void BrokerTest::SetUp() {
  SKIP_IF_TAKEN(shared_machine::brokerOrPortTaken());
  // scripts/test-windows.sh compares the Windows broker's trace with the Linux one's.
  if (const char* trace = std::getenv("TAPBROKER_E2E_TRACE")) {
    launch_.arguments.push_back("--trace");
    launch_.errorFile = trace;
  }
  pid_ = startBroker(launch_);
  ASSERT_TRUE(portAnswers()) << "tapbroker.exe did not come up";
}

::testing::AssertionResult connectAndOpen(Client& client, bool connect) {
  if (connect && client.Connect(nullptr, nullptr, nullptr) != 0)
    return ::testing::AssertionFailure() << "Connect gave " << client.GetClientStatus();
  const int cable = client.Send(4, "sim-usb", "port0", 0);
  const int session = client.Send(33);
  if (cable != 0 || session != 0)
    return ::testing::AssertionFailure() << "Send(4) gave " << cable << ", Send(33) " << session;
  return ::testing::AssertionSuccess();
}

std::vector<std::string> readList(Client& client) {
  std::vector<std::string> items;
  if (client.Read(items) != 0) items = {"<read failed>"};
  return items;
}

std::string readBack(Client& client, std::size_t bytes) {
  std::string data(bytes, '\0');
  EXPECT_EQ(client.GetTDO(data.data(), static_cast<int>(bytes * 8)), 0) << "GetTDO";
  return data;
}

}  // namespace e2e
