#pragma once

// The floor for device-link benchmarks: the cost of a bare request/reply on loopback between two
// sockets that both spin, so no thread ever sleeps. Anything built on the link is compared to it.

#include <array>
#include <cstdint>
#include <vector>

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

// Measures `exchanges` round trips of one shape. The responder thread exists only during the
// call, so it takes no processor from whatever is measured next. A lost datagram (which loopback
// should never show) ends the run early; the figures cover what completed.
Figures measureLoopbackFloor(Shape shape, int exchanges);
// All four shapes, indexed by Shape.
std::array<Figures, 4> measureLoopbackFloor(int exchanges);

// Microseconds per exchange of each shape (in kShapes order), best of `rounds` runs: the number
// other benchmarks divide by.
std::array<double, 4> floorMicrosPerExchange(int exchanges, int rounds);

// Times `exchanges` calls of `exchange` (after a short warm-up), stopping at the first failure.
template <class F>
Figures timeExchanges(int exchanges, F&& exchange);

// Figures of several rounds of one configuration. Other processes on a shared machine slow some
// rounds down; interleaving the configurations round by round and taking each one's best round
// compares them under the same conditions.
struct Rounds {
  std::vector<Figures> rounds;
  void add(const Figures& f) { rounds.push_back(f); }
  // The round with the highest exchange rate.
  Figures best() const;
  // All rounds together (for the processor share over the whole run).
  Figures total() const;
};

// CPU time of the calling thread in microseconds (user + system).
double threadCpuMicros();
// Monotonic wall time in microseconds.
double wallMicros();

template <class F>
Figures timeExchanges(int exchanges, F&& exchange) {
  for (int i = 0; i < 50; ++i) exchange();
  Figures f;
  const double cpu0 = threadCpuMicros();
  const double t0 = wallMicros();
  for (int i = 0; i < exchanges; ++i) {
    if (!exchange()) break;
    ++f.exchanges;
  }
  f.wallMicros = wallMicros() - t0;
  f.cpuMicros = threadCpuMicros() - cpu0;
  return f;
}

}  // namespace orvana::bench
