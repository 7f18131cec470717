#include "MiniDevice.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

#include "LoopbackFloor.h"

namespace orvana::bench {

MiniDevice::MiniDevice(std::uint16_t hostPort, int replyDelayMicros)
    : hostPort_(hostPort), delayMicros_(replyDelayMicros) {
  fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
  thread_ = std::thread([this] { run(); });
}

MiniDevice::~MiniDevice() {
  stop_ = true;
  thread_.join();
  ::close(fd_);
}

void MiniDevice::run() {
  sockaddr_in host{};
  host.sin_family = AF_INET;
  host.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  host.sin_port = htons(hostPort_);
  std::uint8_t q[2048];
  std::vector<std::uint8_t> reply(2048, 0);
  std::uint8_t last = 0;
  double lastTraffic = 0;
  while (!stop_.load(std::memory_order_relaxed)) {
    // Spins while traffic flows, sleeps when idle so that it takes no processor from the
    // measurements made between its own.
    if (wallMicros() - lastTraffic > 500) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
    }
    auto n = ::recv(fd_, q, sizeof q, 0);
    if (n < 4) continue;
    lastTraffic = wallMicros();
    std::size_t len = 0;
    if (n == 4 && q[0] == 0xFF) {
      reply[0] = 0xFF;
      reply[4] = last;
      len = 5;
    } else if (q[1] & 0x80) {
      last = q[1] & 0x0F;
      reply[0] = q[0];
      len = 4;
    } else {
      len = static_cast<std::size_t>(q[2] | (q[3] << 8));
      if (len > reply.size()) continue;
      reply[0] = q[0];
    }
    if (delayMicros_ > 0) {
      const double until = wallMicros() + delayMicros_;
      while (wallMicros() < until) {
      }
    }
    ::sendto(fd_, reply.data(), len, 0, reinterpret_cast<sockaddr*>(&host), sizeof host);
  }
}

}  // namespace orvana::bench
