// A small Windows program that the connection tests install as tapbroker.exe.
//
// Without arguments, as Connect starts it, it is a broker: it listens on 127.0.0.1:4001,
// takes one connection, writes what arrives before its first answer to the file
// "introduction" beside itself, answers "+" to everything, and exits when the client
// closes the connection. With any argument it is a broker process that does not listen:
// it writes the file "running" beside itself and idles. Either way it ends within 20 s.
#include <windows.h>

#include <fstream>
#include <string>

#include "tests/support/loopback.h"

namespace {

constexpr int kLifetimeMs = 20000;

std::string besideMe(const char* name) {
  char path[MAX_PATH] = {};
  std::string own(path, ::GetModuleFileNameA(nullptr, path, MAX_PATH));
  return own.substr(0, own.find_last_of('\\') + 1) + name;
}

}  // namespace

int main(int argc, char**) {
  if (argc > 1) {
    std::ofstream(besideMe("running")) << "running";
    ::Sleep(kLifetimeMs);
    return 0;
  }
  int listener = loopback::listenOn(4001);
  int connection = loopback::acceptWithin(listener, kLifetimeMs);
  std::string received = loopback::receiveSome(connection, kLifetimeMs);
  std::ofstream(besideMe("introduction"), std::ios::binary) << received;
  for (; !received.empty(); received = loopback::receiveSome(connection, kLifetimeMs))
    loopback::sendAll(connection, std::string("+", 2));
  loopback::closeSocket(connection);
  loopback::closeSocket(listener);
  return 0;
}
