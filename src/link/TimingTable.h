#pragma once

// Process-wide protocol timing and the calibrated busy waits.

#include <cstdint>

namespace orvana {

class ITF_ZT;

struct TimingTableData {
  std::uint32_t ReceiveWait = 300;  // ms
  std::uint32_t PollWindow = 1000;  // ms
  std::int32_t WriteAttempts = 4;   // sends
  std::uint32_t ReadWindow = 1000;  // ms
  ITF_ZT* link = nullptr;           // the one device link of this run
  std::int32_t UnitsPerMs = 0;      // delay units per millisecond, set by CalibrateDelay
  // Set once the first four entries have been halved, so that a process that builds several
  // links (tests, benchmarks) does not halve them again.
  bool halved = false;
};

// The table itself. The first link constructor halves the first four entries, so links work with
// 150/500/2/500.
TimingTableData& TimingTable();

// Puts the first four entries and the link back to their stored values (tests that change them
// use this); the calibration is kept unless asked otherwise.
void ResetTimingTable(bool keepCalibration = true);

// One unit of busy waiting: an empty loop the optimiser may not remove.
void DelayUnit();
// Counts units for 500 ms and sets UnitsPerMs to the rate plus a margin of 50.
void CalibrateDelay();
// About 0.1 ms (UnitsPerMs / 10 units).
void DelayTick();
// About n ms, busy.
void DelayMs(int n);

}  // namespace orvana
