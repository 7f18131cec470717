#include "HostSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace orvana::bench {

int BindHostSocket(std::uint16_t& port) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return -1;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    ::close(fd);
    return -1;
  }
  port = ntohs(a.sin_port);
  const char* listed = std::getenv("ORVANA_HOST_SOCKETS");
  std::string list = listed != nullptr && *listed != '\0' ? std::string(listed) + "," : "";
  ::setenv("ORVANA_HOST_SOCKETS", (list + std::to_string(fd)).c_str(), 1);
  return fd;
}

}  // namespace orvana::bench
