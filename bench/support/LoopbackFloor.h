#pragma once

// The floor for device-link benchmarks: the cost of a bare request/reply on loopback between two
// sockets that both spin, so no thread ever sleeps. Anything built on the link is compared to it.

#include <array>
#include <cstdint>

namespace orvana::bench {

// The four exchanges the link makes in bulk.
enum class Shape { BigWrite, BigRead, SmallWrite, SmallRead };
inline constexpr std::array<Shape, 4> kShapes = {Shape::BigWrite, Shape::BigRead, Shape::SmallWrite,
                                                 Shape::SmallRead};

struct ShapeSpec {
  const char* name;
  int requestBytes;
  int replyBytes;
};
// BigWrite: 1036-byte write, 4-byte ack; BigRead: 4-byte request, 1043-byte reply;
// SmallWrite: 16-byte write, 4-byte ack; SmallRead: 4-byte request, 20-byte reply.
ShapeSpec shapeSpec(Shape s);

struct Figures {
  int exchanges = 0;
  double wallMicros = 0;  // whole run
  double cpuMicros = 0;   // calling thread only
  double microsPerExchange() const { return exchanges ? wallMicros / exchanges : 0; }
  double exchangesPerSecond() const { return wallMicros > 0 ? exchanges * 1e6 / wallMicros : 0; }
  double cpuMicrosPerExchange() const { return exchanges ? cpuMicros / exchanges : 0; }
  // Share of one processor the calling thread used.
  double cpuShare() const { return wallMicros > 0 ? cpuMicros / wallMicros : 0; }
};

// Measures `exchanges` round trips of every shape; a lost datagram (which loopback should never
// show) ends that shape early, so the figures cover what completed.
std::array<Figures, 4> measureLoopbackFloor(int exchanges);

// CPU time of the calling thread in microseconds (user + system).
double threadCpuMicros();
// Monotonic wall time in microseconds.
double wallMicros();

}  // namespace orvana::bench
