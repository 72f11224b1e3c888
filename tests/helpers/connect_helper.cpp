// A helper program for the connection tests.
//
// Without arguments it is a stand-in broker, as Connect starts one when it finds none:
// it listens on 127.0.0.1:4001, takes one connection, stores the introduction it receives
// in the file "introduction" beside itself, answers it, and exits once the client closes
// the connection (or after a timeout, so that it never outlives a test for long).
//
// With "installed-in BINARY INSTALL" it stands for an application whose binary directory
// is BINARY: it connects a Client with INSTALL as the installation directory and prints
// the result and the status. BINARY need not exist, which no real program can arrange.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "sysbase/BaseSystem.h"
#include "tapbroker_client.h"
#include "tests/support/loopback.h"
#include "tests/support/wire_bytes.h"

// Replaces the system library's answer in this program, so that a test chooses it.
namespace {
const char* binaryDirectory = nullptr;
}
BaseSystem::Directory BaseSystem::getBinaryPath() {
  const char* directory = binaryDirectory != nullptr ? binaryDirectory : ".";
#if defined(TAPBROKER_WITH_QT)
  return QDir(QString::fromUtf8(directory));
#else
  return Directory(directory);
#endif
}

namespace {

constexpr int kWaitMs = 20000;

std::filesystem::path ownDirectory() {
  return std::filesystem::read_symlink("/proc/self/exe").parent_path();
}

int serveOneIntroduction() {
  int listener = loopback::listenOn(4001);
  int connection = loopback::acceptWithin(listener, kWaitMs);
  loopback::closeSocket(listener);
  if (connection < 0) return 1;
  std::string introduction;
  for (std::string got = "-"; !got.empty() && introduction.find('\0') == std::string::npos;)
    introduction += got = loopback::receiveSome(connection, kWaitMs);
  std::ofstream(ownDirectory() / "introduction", std::ios::binary) << introduction;
  loopback::sendAll(connection, tokens({"welcome"}));
  while (!loopback::receiveSome(connection, kWaitMs).empty()) {
  }
  loopback::closeSocket(connection);
  return 0;
}

int connectFrom(const char* installDir) {
  char name[] = "installed";
  Client client(name);
  client.SetClientStatus(77);
  int result = client.Connect(nullptr, nullptr, installDir);
  std::printf("result %d status %d\n", result, client.GetClientStatus());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "installed-in") == 0) {
    binaryDirectory = argv[2];
    return connectFrom(argv[3]);
  }
  return serveOneIntroduction();
}
