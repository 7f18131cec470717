#pragma once

// Process-wide protocol timing and the short pauses the device needs between exchanges.

#include <cstdint>

namespace orvana {

class ITF_ZT;

struct TimingTableData {
  std::uint32_t ReceiveWait = 300;  // ms
  std::uint32_t PollWindow = 1000;  // ms
  std::int32_t WriteAttempts = 4;   // sends
  std::uint32_t ReadWindow = 1000;  // ms
  ITF_ZT* link = nullptr;           // the one device link of this run
  // Set once the first four entries have been halved, so that a process that builds several
  // links (tests, benchmarks) does not halve them again.
  bool halved = false;
};

// The table itself. The first link constructor halves the first four entries, so links work with
// 150/500/2/500.
TimingTableData& TimingTable();

// Puts the first four entries and the link back to their stored values (tests that change them
// use this).
void ResetTimingTable();

// Pauses measured on the monotonic clock, so that neither the load of the machine nor its clock
// rate changes them. Neither ever returns early.
// About 0.1 ms: long enough for a chip to load a page or move on in a status poll.
void DelayTick();
// About n ms; the bulk is slept.
void DelayMs(int n);

}  // namespace orvana
