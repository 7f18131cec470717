#include "link/TimingTable.h"

#include "common/Tick.h"

namespace orvana {
namespace {

TimingTableData gTable;

void runUnits(std::int64_t units) {
  for (std::int64_t i = 0; i < units; ++i) DelayUnit();
}

}  // namespace

TimingTableData& TimingTable() {
  return gTable;
}

void ResetTimingTable(bool keepCalibration) {
  std::int32_t units = gTable.UnitsPerMs;
  gTable = TimingTableData{};
  if (keepCalibration) gTable.UnitsPerMs = units;
}

// Not inlined, so that calibration and the delays run the very same code.
__attribute__((noinline)) void DelayUnit() {
  // volatile keeps every iteration a real memory access.
  volatile std::int32_t counter = 0;
  while (counter < 5000) counter = counter + 1;
}

void CalibrateDelay() {
  // Counted locally so that a second calibration measures afresh instead of adding to the first.
  std::int64_t units = 0;
  std::uint32_t t0 = tickCount();
  while (tickCount() - t0 < 500u) {
    DelayUnit();
    ++units;
  }
  gTable.UnitsPerMs = static_cast<std::int32_t>(units / 500 + 50);
}

void DelayTick() {
  runUnits(gTable.UnitsPerMs / 10);
}

void DelayMs(int n) {
  for (int i = 0; i < n; ++i) runUnits(gTable.UnitsPerMs);
}

}  // namespace orvana
