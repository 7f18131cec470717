#include "devsim/RawUdpClient.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace orvana::test {

RawUdpClient::RawUdpClient(std::uint16_t devicePort, const LoopbackSocket& reply)
    : devicePort_(devicePort) {
  send_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (reply.fd() >= 0) receive_ = ::fcntl(reply.fd(), F_DUPFD_CLOEXEC, 0);
  // Left over from an earlier client of the same socket.
  if (receive_ >= 0) {
    std::uint8_t scratch[1];
    for (int i = 0; i < 100000; ++i)
      if (::recv(receive_, scratch, sizeof scratch, MSG_DONTWAIT | MSG_TRUNC) < 0) break;
  }
}

RawUdpClient::~RawUdpClient() {
  if (send_ >= 0) ::close(send_);
  if (receive_ >= 0) ::close(receive_);
}

void RawUdpClient::send(const Bytes& packet) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(devicePort_);
  ::sendto(send_, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

std::optional<Bytes> RawUdpClient::receive(int timeoutMs) {
  pollfd fd{receive_, POLLIN, 0};
  if (::poll(&fd, 1, timeoutMs) <= 0) return std::nullopt;
  Bytes buffer(2048);
  const ssize_t n = ::recv(receive_, buffer.data(), buffer.size(), 0);
  if (n < 0) return std::nullopt;
  buffer.resize(static_cast<std::size_t>(n));
  return buffer;
}

std::optional<Bytes> RawUdpClient::exchange(const Bytes& packet, int timeoutMs) {
  send(packet);
  return receive(timeoutMs);
}

int RawUdpClient::pendingOnSendSocket() {
  int pending = 0;
  ::ioctl(send_, FIONREAD, &pending);
  return pending;
}

void RawUdpClient::drain() {
  for (int i = 0; i < 1000 && receive(20); ++i) {
  }
}

Bytes writePacket(std::uint8_t code, std::uint8_t sequence, const Bytes& payload,
                  std::uint8_t accessKind, std::uint16_t offset) {
  const std::size_t length = payload.size() + 12;
  Bytes p = {code,
             static_cast<std::uint8_t>(0x80 | sequence),
             static_cast<std::uint8_t>(length & 0xFF),
             static_cast<std::uint8_t>(length >> 8),
             accessKind,
             static_cast<std::uint8_t>(offset & 0xFF),
             static_cast<std::uint8_t>(offset >> 8),
             0,
             0xFE,
             0x01,
             0,
             0};
  // Sized first and copied: GCC 12 warns wrongly about inserting into the 12-byte vector.
  p.resize(length);
  std::copy(payload.begin(), payload.end(), p.begin() + 12);
  return p;
}

Bytes readRequest(std::uint8_t code, std::uint8_t sequence, std::uint16_t replyLength) {
  return {code, sequence, static_cast<std::uint8_t>(replyLength & 0xFF),
          static_cast<std::uint8_t>(replyLength >> 8)};
}

Bytes pollPacket() {
  return {0xFF, 0x00, 0x05, 0x00};
}

Bytes cycleList(std::uint8_t sequence, int chip, const std::vector<std::pair<int, int>>& cycles,
                std::uint8_t flags) {
  Bytes payload = {static_cast<std::uint8_t>(chip + 1), 0, flags, 0};
  for (auto [kind, value] : cycles) {
    payload.push_back(static_cast<std::uint8_t>(kind));
    payload.push_back(static_cast<std::uint8_t>(value));
  }
  return writePacket(135, sequence, payload);
}

}  // namespace orvana::test
