#include "support/TempHome.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace orvana::test {

TempHome::TempHome() {
  std::string pattern = (std::filesystem::temp_directory_path() / "orvana-test-XXXXXX").string();
  char* dir = ::mkdtemp(pattern.data());
  path_ = dir ? std::filesystem::path(dir) : std::filesystem::temp_directory_path();
  ::setenv("ORVANA_HOME", path_.c_str(), 1);
  ::setenv("ORVANA_DEVICE", "127.0.0.1", 1);
}

TempHome::~TempHome() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
  ::unsetenv("ORVANA_HOME");
}

int openLoopbackUdp(unsigned short* port) {
  int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    ::close(fd);
    return -1;
  }
  if (port) *port = ntohs(addr.sin_port);
  return fd;
}

unsigned short freeUdpPort() {
  unsigned short port = 0;
  int fd = openLoopbackUdp(&port);
  if (fd >= 0) ::close(fd);
  return port;
}

}  // namespace orvana::test
