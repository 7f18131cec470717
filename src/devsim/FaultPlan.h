#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace orvana::devsim {

// An erase block of one chip (block = row / 256).
struct BlockRef {
  std::uint8_t chip = 0;
  std::uint32_t block = 0;
  bool operator==(const BlockRef&) const = default;
};

// One bit that reads back inverted whenever the page is loaded for reading; the stored page is
// not changed, so the flip is seen on every read, like a weak cell.
struct BitFlip {
  std::uint8_t chip = 0;
  std::uint32_t row = 0;
  std::uint16_t byte = 0;  // 0..8191
  std::uint8_t bit = 0;    // 0..7, 0 = least significant
  bool operator==(const BitFlip&) const = default;
};

// What the simulated device does wrong. Shares are probabilities in [0, 1] drawn per reply (or
// per request) from a generator seeded with `seed`, so the same seed and the same traffic give
// the same faults.
struct FaultPlan {
  std::uint64_t seed = 1;
  double dropReplyShare = 0.0;       // reply not sent (the command was executed)
  double duplicateReplyShare = 0.0;  // reply sent twice
  double delayShare = 0.0;           // reply sent delayMicros late
  std::uint32_t delayMicros = 0;
  double dropRequestShare = 0.0;  // request ignored as if lost on the way (not executed)
  std::uint32_t busyReads = 0;    // status reads that show busy after each program or erase
  std::vector<BlockRef> failErase{};
  std::vector<BlockRef> failProgram{};
  // Programs into these blocks report success but store the first group of the page's ECC
  // layout that holds data as nine zero bytes: a valid code word of other data, so the page
  // reads back without an error and wrong.
  std::vector<BlockRef> corruptProgram{};
  std::vector<BitFlip> flips{};
  bool silent = false;  // ignore every datagram

  bool operator==(const FaultPlan&) const = default;
};

// "CHIP:BLOCK" and "CHIP:ROW:BYTE:BIT" in decimal, each field within the chip's geometry.
bool parseBlockRef(std::string_view text, BlockRef& out);
bool parseBitFlip(std::string_view text, BitFlip& out);

}  // namespace orvana::devsim
