// Exchange rate and host CPU of the device link, against a floor measured in the same run.

#include <cstdio>
#include <cstdlib>

#include "LoopbackFloor.h"

using namespace orvana::bench;

namespace {

void printRow(const char* what, const char* shape, const Figures& f) {
  std::printf("%-10s %-34s %9.0f /s %8.1f us %8.1f us CPU (%5.1f%% of a processor)\n", what, shape,
              f.exchangesPerSecond(), f.microsPerExchange(), f.cpuMicrosPerExchange(),
              100.0 * f.cpuShare());
}

}  // namespace

int main(int argc, char** argv) {
  const int exchanges = argc > 1 ? std::atoi(argv[1]) : 20000;
  std::printf(
      "(1) floor: bare loopback request/reply, both ends spinning, %d exchanges per shape\n",
      exchanges);
  const auto floor = measureLoopbackFloor(exchanges);
  for (std::size_t k = 0; k < kShapes.size(); ++k)
    printRow("floor", shapeSpec(kShapes[k]).name, floor[k]);
  return 0;
}
