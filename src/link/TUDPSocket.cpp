#include "link/TUDPSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "common/Tick.h"
#include "link/TimingTable.h"

namespace orvana {
namespace {

// A copy of a datagram socket that the parent process already bound to `port` and named in
// ORVANA_HOST_SOCKETS (descriptors separated by commas), or -1. A test rig binds port 0 and hands
// the socket down, so no other program can take the port between choosing it and binding it.
int inheritedSocket(std::uint16_t port) {
  const char* list = std::getenv("ORVANA_HOST_SOCKETS");
  if (list == nullptr || port == 0) return -1;
  for (const char* p = list; *p != '\0';) {
    char* end = nullptr;
    const long fd = std::strtol(p, &end, 10);
    const bool number = end != p && (*end == ',' || *end == '\0');
    const char* comma = std::strchr(p, ',');
    p = comma != nullptr ? comma + 1 : p + std::strlen(p);
    if (!number || fd < 0 || fd > INT_MAX) continue;
    int type = 0;
    socklen_t typeLength = sizeof type;
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    const int candidate = static_cast<int>(fd);
    if (::getsockopt(candidate, SOL_SOCKET, SO_TYPE, &type, &typeLength) != 0 ||
        type != SOCK_DGRAM ||
        ::getsockname(candidate, reinterpret_cast<sockaddr*>(&bound), &length) != 0 ||
        bound.sin_family != AF_INET || ntohs(bound.sin_port) != port)
      continue;
    return ::fcntl(candidate, F_DUPFD_CLOEXEC, 0);
  }
  return -1;
}

}  // namespace

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
  // A shutdown would reach every holder of an inherited socket, not just this copy.
  if (!inherited_) ::shutdown(handle, SHUT_RDWR);
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

template <class Attempt>
int TUDPSocket::waitFor(std::uint32_t timeoutMs, Attempt&& attempt) {
  using Clock = std::chrono::steady_clock;
  const std::uint32_t start = tickCount();
  const auto begin = Clock::now();
  const auto spinEnd = begin + std::chrono::microseconds(spinMicros());
  for (;;) {
    if (const int got = attempt(); got != 0) {
      double waited = std::chrono::duration<double, std::micro>(Clock::now() - begin).count();
      // One very late reply must not keep the average high for long.
      if (waited > 1000) waited = 1000;
      typicalWaitMicros_ += (waited - typicalWaitMicros_) / 8;
      return got;
    }
    const std::uint32_t elapsed = tickCount() - start;
    if (elapsed > timeoutMs) return 0;
    if (Clock::now() < spinEnd) continue;
    // Sleep in the kernel until something arrives or the time-out has passed.
    const std::uint32_t left = timeoutMs - elapsed + 1;
    pollfd p{handle, POLLIN, 0};
    (void)::poll(&p, 1, left > INT_MAX ? INT_MAX : static_cast<int>(left));
  }
}

int TUDPSocket::WaitForData(std::uint32_t timeoutMs) {
  if (handle < 0) return 0;
  return waitFor(timeoutMs, [this] {
    const int n = pendingBytes();
    if (n > 0) return n;
    // Readable yet nothing pending means an empty datagram (or a socket error) at the head of
    // the queue; take it away, or it would hide everything behind it.
    pollfd p{handle, POLLIN, 0};
    if (::poll(&p, 1, 0) > 0) {
      std::uint8_t scratch = 0;
      (void)::recv(handle, &scratch, 1, MSG_DONTWAIT);
    }
    return 0;
  });
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
  // A connected datagram socket keeps its route instead of looking it up on every send.
  connected_ = ::connect(handle, reinterpret_cast<const sockaddr*>(&address),
                         static_cast<socklen_t>(addressLength)) == 0;
}

int TClientUDPSocket::Send(const std::uint8_t* data, int n) {
  if (handle < 0) return 0;
  const auto size = static_cast<std::size_t>(n);
  const auto r = connected_
                     ? ::send(handle, data, size, 0)
                     : ::sendto(handle, data, size, 0, reinterpret_cast<const sockaddr*>(&address),
                                static_cast<socklen_t>(addressLength));
  return static_cast<int>(r);
}

TServerUDPSocket::TServerUDPSocket(std::uint16_t port, Operator& op) : TUDPSocket(Role::Receiving) {
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(port);
  if (handle < 0) return;
  if (const int inherited = inheritedSocket(port); inherited >= 0) {
    ::close(handle);
    handle = inherited;
    inherited_ = true;
    (void)::fcntl(handle, F_SETFL, ::fcntl(handle, F_GETFL) | O_NONBLOCK);
  } else if (::bind(handle, reinterpret_cast<const sockaddr*>(&address),
                    static_cast<socklen_t>(addressLength)) != 0) {
    op.message("Can't bind to the socket.");
    Close();
    return;
  }
  const int on = 1;
  stamped_ = ::setsockopt(handle, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) == 0;
}

int TServerUDPSocket::Receive(std::uint8_t* buffer) {
  if (handle < 0) return 0;
  // Trying to read is as cheap as asking for the pending count, so the wait reads directly.
  return waitFor(TimingTable().ReceiveWait, [this, buffer] {
    sockaddr_in from{};
    iovec io{buffer, kPacketSize};
    alignas(cmsghdr) std::uint8_t control[CMSG_SPACE(sizeof(timespec))];
    msghdr m{};
    m.msg_name = &from;
    m.msg_namelen = sizeof from;
    m.msg_iov = &io;
    m.msg_iovlen = 1;
    m.msg_control = control;
    m.msg_controllen = sizeof control;
    // MSG_TRUNC reports the datagram's true length while storing at most kPacketSize bytes.
    const auto r = ::recvmsg(handle, &m, MSG_DONTWAIT | MSG_TRUNC);
    if (r < 0) return (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? 0 : -1;
    // Dropped: longer than any reply, from another sender, or empty.
    if (r > kPacketSize || r == 0) return 0;
    if (peer_ && from.sin_addr.s_addr != peer_->s_addr) return 0;
    if (stamped_ && freshAfter_ != 0) {
      for (cmsghdr* c = CMSG_FIRSTHDR(&m); c != nullptr; c = CMSG_NXTHDR(&m, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS) continue;
        timespec arrived{};
        std::memcpy(&arrived, CMSG_DATA(c), sizeof arrived);
        if (arrived.tv_sec * 1000000000LL + arrived.tv_nsec < freshAfter_) return 0;
      }
    }
    return static_cast<int>(r);
  });
}

void TServerUDPSocket::ForgetEarlierReplies() {
  if (handle < 0) return;
  if (!stamped_) {
    Discard();
    return;
  }
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  freshAfter_ = now.tv_sec * 1000000000LL + now.tv_nsec;
}

int TServerUDPSocket::Discard() {
  if (handle < 0) return 0;
  int count = 0;
  std::uint8_t scratch[1];
  while (::recv(handle, scratch, sizeof scratch, MSG_DONTWAIT | MSG_TRUNC) >= 0) ++count;
  return count;
}

}  // namespace orvana
