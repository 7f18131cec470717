#include "link/TimingTable.h"

#include <chrono>
#include <thread>

namespace orvana {
namespace {

using Clock = std::chrono::steady_clock;

TimingTableData gTable;

// A sleep may overrun by the scheduler's slack but never ends early; what is left after it is
// spun out on the clock, so a short pause stays short and a long one costs no processor.
void waitUntil(Clock::time_point deadline) {
  constexpr auto kSpinPart = std::chrono::microseconds(200);
  const auto now = Clock::now();
  if (deadline - now > kSpinPart) std::this_thread::sleep_for(deadline - now - kSpinPart);
  while (Clock::now() < deadline) {
  }
}

}  // namespace

TimingTableData& TimingTable() {
  return gTable;
}

void ResetTimingTable() {
  gTable = TimingTableData{};
}

void DelayTick() {
  waitUntil(Clock::now() + std::chrono::microseconds(100));
}

void DelayMs(int n) {
  if (n <= 0) return;
  waitUntil(Clock::now() + std::chrono::milliseconds(n));
}

}  // namespace orvana
