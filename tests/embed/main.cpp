// Uses the library through its public header, beside the application's own platform layer.
#include <tapbroker_client.h>

namespace platform {
int start();
}

int main() {
  Client client;
  (void)client.ValidClient();
  return platform::start();
}
