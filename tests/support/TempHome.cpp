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

unsigned short freeUdpPort() {
  int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(fd);
  return ntohs(addr.sin_port);
}

}  // namespace orvana::test
