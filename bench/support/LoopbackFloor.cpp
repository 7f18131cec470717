#include "LoopbackFloor.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace orvana::bench {
namespace {

struct LoopbackSocket {
  LoopbackSocket() {
    fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
  }
  ~LoopbackSocket() { ::close(fd); }
  void aim(std::uint16_t peerPort) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(peerPort);
    ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
  int fd = -1;
  std::uint16_t port = 0;
};

// Spins on recv until a datagram arrives, the stop flag is raised, or the deadline passes.
long spinReceive(int fd, std::uint8_t* buf, std::size_t size, const std::atomic<bool>& stop,
                 double deadlineMicros) {
  for (;;) {
    auto n = ::recv(fd, buf, size, 0);
    if (n >= 0) return n;
    if (stop.load(std::memory_order_relaxed) || wallMicros() > deadlineMicros) return -1;
  }
}

}  // namespace

ShapeSpec shapeSpec(Shape s) {
  switch (s) {
    case Shape::BigWrite:
      return {"1036-byte write / 4-byte ack", 1036, 4};
    case Shape::BigRead:
      return {"4-byte request / 1043-byte reply", 4, 1043};
    case Shape::SmallWrite:
      return {"16-byte write / 4-byte ack", 16, 4};
    case Shape::SmallRead:
      return {"4-byte request / 20-byte reply", 4, 20};
  }
  return {"", 0, 0};
}

double threadCpuMicros() {
  rusage r{};
  ::getrusage(RUSAGE_THREAD, &r);
  return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1e6 +
         static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec);
}

double wallMicros() {
  using namespace std::chrono;
  return duration<double, std::micro>(steady_clock::now().time_since_epoch()).count();
}

Figures measureLoopbackFloor(Shape shape, int exchanges) {
  const ShapeSpec sizes = shapeSpec(shape);
  LoopbackSocket host, device;
  host.aim(device.port);
  device.aim(host.port);
  std::atomic<bool> stop{false};
  std::thread responder([&] {
    std::vector<std::uint8_t> in(2048), reply(static_cast<std::size_t>(sizes.replyBytes), 0x82);
    while (!stop.load(std::memory_order_relaxed)) {
      if (spinReceive(device.fd, in.data(), in.size(), stop, wallMicros() + 5e6) < 0) continue;
      ::send(device.fd, reply.data(), reply.size(), 0);
    }
  });
  std::vector<std::uint8_t> request(static_cast<std::size_t>(sizes.requestBytes), 0x88), in(2048);
  const Figures f = timeExchanges(exchanges, [&] {
    ::send(host.fd, request.data(), request.size(), 0);
    return spinReceive(host.fd, in.data(), in.size(), stop, wallMicros() + 1e6) >= 0;
  });
  stop = true;
  responder.join();
  return f;
}

std::array<double, 4> floorMicrosPerExchange(int exchanges, int rounds) {
  std::array<Rounds, 4> r;
  for (int i = 0; i < rounds; ++i)
    for (std::size_t k = 0; k < kShapes.size(); ++k)
      r[k].add(measureLoopbackFloor(kShapes[k], exchanges));
  std::array<double, 4> out{};
  for (std::size_t k = 0; k < kShapes.size(); ++k) out[k] = r[k].best().microsPerExchange();
  return out;
}

Figures Rounds::best() const {
  Figures b;
  for (const auto& f : rounds)
    if (f.exchangesPerSecond() > b.exchangesPerSecond()) b = f;
  return b;
}

Figures Rounds::total() const {
  Figures t;
  for (const auto& f : rounds) {
    t.exchanges += f.exchanges;
    t.wallMicros += f.wallMicros;
    t.cpuMicros += f.cpuMicros;
  }
  return t;
}

std::array<Figures, 4> measureLoopbackFloor(int exchanges) {
  std::array<Figures, 4> all{};
  for (Shape s : kShapes) all[static_cast<std::size_t>(s)] = measureLoopbackFloor(s, exchanges);
  return all;
}

}  // namespace orvana::bench
