// A helper program for the connection tests: "connect_helper BINARY INSTALL" stands for an
// application whose binary directory is BINARY. It connects a Client with INSTALL as the
// installation directory and prints the result and the status. BINARY need not exist,
// which no real program can arrange.
#include <cstdio>

#include "sysbase/BaseSystem.h"
#include "tapbroker_client.h"

// Replaces the system library's answer in this program, so that the test chooses it.
namespace {
const char* binaryDirectory = ".";
}
BaseSystem::Directory BaseSystem::getBinaryPath() {
#if defined(TAPBROKER_WITH_QT)
  return QDir(QString::fromUtf8(binaryDirectory));
#else
  return Directory(binaryDirectory);
#endif
}

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  binaryDirectory = argv[1];
  char name[] = "installed";
  Client client(name);
  client.SetClientStatus(77);
  const int result = client.Connect(nullptr, nullptr, argv[2]);
  std::printf("result %d status %d\n", result, client.GetClientStatus());
  return 0;
}
