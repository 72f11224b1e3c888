// A small Windows program that the connection tests install as tapbroker.exe.
//
// Without arguments, as Connect starts it, it is a broker: it listens on 127.0.0.1:4001,
// takes one connection, writes what arrives before its first answer to the file
// "introduction" beside itself, answers "+" to everything, and exits when the client
// closes the connection. With any argument it is a broker process that does not listen:
// it writes the file "running" beside itself and idles. Either way it ends after 20 s.
#include <winsock2.h>

#include <fstream>
#include <string>

namespace {

constexpr DWORD kLifetimeMs = 20000;

std::string besideMe(const char* name) {
  char path[MAX_PATH] = {};
  std::string own(path, ::GetModuleFileNameA(nullptr, path, MAX_PATH));
  return own.substr(0, own.find_last_of('\\') + 1) + name;
}

bool readable(SOCKET s) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval wait{static_cast<long>(kLifetimeMs / 1000), 0};
  return ::select(0, &set, nullptr, nullptr, &wait) == 1;
}

int serve() {
  WSADATA data;
  ::WSAStartup(0x0202, &data);
  SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = ::htons(4001);
  address.sin_addr.s_addr = ::inet_addr("127.0.0.1");
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener, 1) != 0 || !readable(listener))
    return 1;
  SOCKET connection = ::accept(listener, nullptr, nullptr);
  char chunk[1024];
  int received = readable(connection) ? ::recv(connection, chunk, sizeof chunk, 0) : 0;
  std::ofstream(besideMe("introduction"), std::ios::binary)
      .write(chunk, received > 0 ? received : 0);
  while (received > 0) {
    ::send(connection, "+", 2, 0);
    received = readable(connection) ? ::recv(connection, chunk, sizeof chunk, 0) : 0;
  }
  ::closesocket(connection);
  ::closesocket(listener);
  return 0;
}

}  // namespace

int main(int argc, char**) {
  if (argc == 1) return serve();
  std::ofstream(besideMe("running")) << "running";
  ::Sleep(kLifetimeMs);
  return 0;
}
