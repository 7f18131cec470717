#include "link/TUDPSocket.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>

#include "common/Tick.h"
#include "link/TimingTable.h"

namespace orvana {

std::optional<in_addr> ParseDottedIPv4(const std::string& text) {
  in_addr a{};
  if (::inet_pton(AF_INET, text.c_str(), &a) != 1) return std::nullopt;
  return a;
}

TUDPSocket::TUDPSocket(Role role) : role_(role) {
  address.sin_family = AF_INET;
  handle = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (handle < 0) handle = -1;
}

TUDPSocket::~TUDPSocket() {
  Close();
}

void TUDPSocket::Close() {
  if (handle < 0) return;
  ::shutdown(handle, SHUT_RDWR);
  ::close(handle);
  handle = -1;
}

int TUDPSocket::pendingBytes() const {
  int n = 0;
  if (::ioctl(handle, FIONREAD, &n) != 0) return 0;
  return n;
}

int TUDPSocket::spinMicros() const {
  const double spin = 2 * typicalWaitMicros_ + kMinSpinMicros;
  return spin > kMaxSpinMicros ? kMinSpinMicros : static_cast<int>(spin);
}

int TUDPSocket::WaitForData(std::uint32_t timeoutMs) {
  if (handle < 0) return 0;
  using Clock = std::chrono::steady_clock;
  const std::uint32_t start = tickCount();
  const auto begin = Clock::now();
  const auto spinEnd = begin + std::chrono::microseconds(spinMicros());
  for (;;) {
    if (pendingBytes() > 0) {
      double waited = std::chrono::duration<double, std::micro>(Clock::now() - begin).count();
      // One very late reply must not keep the average high for long.
      if (waited > 1000) waited = 1000;
      typicalWaitMicros_ += (waited - typicalWaitMicros_) / 8;
      return pendingBytes();
    }
    const std::uint32_t elapsed = tickCount() - start;
    if (elapsed > timeoutMs) return 0;
    if (Clock::now() < spinEnd) continue;
    // Sleep in the kernel until something arrives or the time-out has passed.
    const std::uint32_t left = timeoutMs - elapsed + 1;
    pollfd p{handle, POLLIN, 0};
    int r = ::poll(&p, 1, left > INT_MAX ? INT_MAX : static_cast<int>(left));
    if (r > 0 && pendingBytes() == 0) {
      // Readable yet nothing pending: an empty datagram or a socket error. Consume it, or the
      // poll would return at once for the rest of the wait.
      std::uint8_t scratch = 0;
      (void)::recv(handle, &scratch, 1, MSG_DONTWAIT);
    }
  }
}

TClientUDPSocket::TClientUDPSocket(const std::string& deviceAddress, std::uint16_t port)
    : TUDPSocket(Role::Sending) {
  address.sin_port = htons(port);
  auto a = ParseDottedIPv4(deviceAddress);
  if (!a) {
    Close();
    return;
  }
  address.sin_addr = *a;
}

int TClientUDPSocket::Send(const std::uint8_t* data, int n) {
  if (handle < 0) return 0;
  auto r =
      ::sendto(handle, data, static_cast<std::size_t>(n), 0,
               reinterpret_cast<const sockaddr*>(&address), static_cast<socklen_t>(addressLength));
  return static_cast<int>(r);
}

TServerUDPSocket::TServerUDPSocket(std::uint16_t port, Operator& op) : TUDPSocket(Role::Receiving) {
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(port);
  if (handle < 0) return;
  if (::bind(handle, reinterpret_cast<const sockaddr*>(&address),
             static_cast<socklen_t>(addressLength)) != 0) {
    op.message("Can't bind to the socket.");
    Close();
  }
}

int TServerUDPSocket::Receive(std::uint8_t* buffer) {
  if (handle < 0) return 0;
  const std::uint32_t wait = TimingTable().ReceiveWait;
  const std::uint32_t start = tickCount();
  for (;;) {
    const std::uint32_t elapsed = tickCount() - start;
    if (elapsed > wait) return 0;
    if (WaitForData(wait - elapsed) == 0) return 0;
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    // MSG_TRUNC reports the datagram's true length while storing at most kPacketSize bytes.
    auto r = ::recvfrom(handle, buffer, kPacketSize, MSG_TRUNC, reinterpret_cast<sockaddr*>(&from),
                        &fromLength);
    if (r < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
      return -1;
    }
    if (r > kPacketSize) continue;
    if (peer_ && from.sin_addr.s_addr != peer_->s_addr) continue;
    return static_cast<int>(r);
  }
}

int TServerUDPSocket::Discard() {
  if (handle < 0) return 0;
  int count = 0;
  std::uint8_t scratch[1];
  while (::recv(handle, scratch, sizeof scratch, MSG_DONTWAIT | MSG_TRUNC) >= 0) ++count;
  return count;
}

}  // namespace orvana
