#include "tests/e2e/e2e_support.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <chrono>
#include <thread>

#include "tests/support/loopback.h"

namespace e2e {
namespace {

// Whether something accepts connections on 127.0.0.1:4001.
bool portAnswers() {
  int fd = loopback::connectTo(4001);
  const bool answered = fd >= 0;
  loopback::closeSocket(fd);
  return answered;
}

}  // namespace

#ifdef _WIN32
std::string binaryDirectory() {
  char path[MAX_PATH] = {};
  const std::string own(path, ::GetModuleFileNameA(nullptr, path, MAX_PATH));
  return own.substr(0, own.find_last_of('\\'));
}
#endif

void BrokerTest::SetUp() {
  SKIP_IF_TAKEN(shared_machine::brokerOrPortTaken());
  pid_ = processes::spawn(brokerPath(), launch_);
  for (int wait = 0; wait < 250 && !portAnswers(); ++wait)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
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

std::string readText(Client& client) {
  char* text = nullptr;
  return client.Read(text) == 0 ? std::string(text) : std::string("<read failed>");
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
