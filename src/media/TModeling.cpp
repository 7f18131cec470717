#include "media/TModeling.h"

#include <cstddef>

namespace orvana {

namespace {

// The whole coding step for every difference d = sample - previous (-255..255), at d + 255:
// low byte the change to the reconstruction (modulo 256, as the reader wraps), high byte the
// 4-bit code. One load per sample keeps the chain from sample to sample short.
constexpr std::array<std::uint16_t, 511> MakeStepTable() {
  std::array<std::uint16_t, 511> t{};
  for (int d = -255; d <= 255; ++d) {
    const bool up = d >= 0;
    const int magnitude = up ? d : -d;
    int k = 0;  // the largest k with Steps[k] <= |d|
    for (int s = 0; s < 8; ++s) {
      if (TModeling::Steps[std::size_t(s)] <= magnitude) k = s;
    }
    const int step = TModeling::Steps[std::size_t(k)];
    const int change = (up ? step : 256 - step) & 0xFF;
    const int code = (k << 1) | (up ? 1 : 0);
    t[std::size_t(d + 255)] = std::uint16_t(change | (code << 8));
  }
  return t;
}
constexpr std::array<std::uint16_t, 511> kStepOf = MakeStepTable();

// Codes one sample against `prev` (0..255), returns the 4-bit code and moves prev to the
// reconstruction. Pointer-sized values spare the sign extension of the table index.
inline std::intptr_t CodeOne(std::intptr_t sample, std::intptr_t& prev) {
  const std::intptr_t entry = kStepOf[std::size_t(sample - prev + 255)];
  prev = (prev + entry) & 0xFF;
  return entry >> 8;
}

// N runs of Count samples side by side. The runs are unrolled so each one's reconstruction
// stays in a register; the chains are independent and overlap in the processor.
template <int N, int Count>
void CodeSideBySide(const std::uint8_t* samples, std::uint8_t start, std::uint8_t* codes) {
  std::intptr_t prev[N];
  for (int r = 0; r < N; ++r) prev[r] = start;
  for (int i = 0; i < Count; i += 2) {
#pragma GCC unroll 8
    for (int r = 0; r < N; ++r) {
      const std::uint8_t* s = samples + r * Count + i;
      const std::intptr_t lo = CodeOne(s[0], prev[r]);
      const std::intptr_t hi = CodeOne(s[1], prev[r]);
      codes[r * (Count / 2) + i / 2] = std::uint8_t(lo | (hi << 4));
    }
  }
}

template <int N>
bool CodeSideBySide(const std::uint8_t* samples, int count, std::uint8_t start,
                    std::uint8_t* codes) {
  switch (count) {
    case 960:
      CodeSideBySide<N, 960>(samples, start, codes);
      return true;
    case 480:
      CodeSideBySide<N, 480>(samples, start, codes);
      return true;
    default:
      return false;
  }
}

}  // namespace

void TModeling::Code(std::uint8_t* samples, int count, std::uint8_t start, std::uint8_t* codes) {
  std::intptr_t prev = start;
  for (int j = 0; j < count / 2; ++j) {
    const std::intptr_t lo = CodeOne(samples[2 * j], prev);
    samples[2 * j] = std::uint8_t(prev);
    const std::intptr_t hi = CodeOne(samples[2 * j + 1], prev);
    samples[2 * j + 1] = std::uint8_t(prev);
    codes[j] = std::uint8_t(lo | (hi << 4));
  }
}

void TModeling::CodeRuns(const std::uint8_t* samples, int runs, int count, std::uint8_t start,
                         std::uint8_t* codes) {
  constexpr int kSideBySide = 4;
  int r = 0;
  for (; r + kSideBySide <= runs; r += kSideBySide) {
    if (!CodeSideBySide<kSideBySide>(samples + r * count, count, start, codes + r * (count / 2)))
      break;
  }
  for (; r < runs; ++r) {  // other lengths, and the runs left over
    const std::uint8_t* s = samples + r * count;
    std::intptr_t prev = start;
    for (int i = 0; i + 1 < count; i += 2) {
      const std::intptr_t lo = CodeOne(s[i], prev);
      const std::intptr_t hi = CodeOne(s[i + 1], prev);
      codes[r * (count / 2) + i / 2] = std::uint8_t(lo | (hi << 4));
    }
  }
}

TModeling::TModeling(std::uint8_t* samples, int count, int lineType)
    : codes_(std::size_t(count > 0 ? count / 2 : 0), 0) {
  if (count > 0) Code(samples, count, StartFor(lineType), codes_.data());
}

}  // namespace orvana
