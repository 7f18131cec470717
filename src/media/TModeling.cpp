#include "media/TModeling.h"

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
// reconstruction.
inline int CodeOne(int sample, int& prev) {
  const int entry = kStepOf[std::size_t(sample - prev + 255)];
  prev = (prev + entry) & 0xFF;
  return entry >> 8;
}

template <int N>
void CodeSideBySide(const std::uint8_t* samples, int count, std::uint8_t start,
                    std::uint8_t* codes) {
  int prev[N];
  for (int r = 0; r < N; ++r) prev[r] = start;
  for (int i = 0; i < count; i += 2) {
    for (int r = 0; r < N; ++r) {
      const std::uint8_t* s = samples + r * count + i;
      const int lo = CodeOne(s[0], prev[r]);
      const int hi = CodeOne(s[1], prev[r]);
      codes[r * (count / 2) + i / 2] = std::uint8_t(lo | (hi << 4));
    }
  }
}

}  // namespace

void TModeling::Code(std::uint8_t* samples, int count, std::uint8_t start, std::uint8_t* codes) {
  int prev = start;
  for (int j = 0; j < count / 2; ++j) {
    const int lo = CodeOne(samples[2 * j], prev);
    samples[2 * j] = std::uint8_t(prev);
    const int hi = CodeOne(samples[2 * j + 1], prev);
    samples[2 * j + 1] = std::uint8_t(prev);
    codes[j] = std::uint8_t(lo | (hi << 4));
  }
}

void TModeling::CodeRuns(const std::uint8_t* samples, int runs, int count, std::uint8_t start,
                         std::uint8_t* codes) {
  int r = 0;
  for (; r + 4 <= runs; r += 4) {
    CodeSideBySide<4>(samples + r * count, count, start, codes + r * (count / 2));
  }
  for (; r < runs; ++r) {
    CodeSideBySide<1>(samples + r * count, count, start, codes + r * (count / 2));
  }
}

TModeling::TModeling(std::uint8_t* samples, int count, int lineType)
    : codes_(std::size_t(count > 0 ? count / 2 : 0), 0) {
  if (count > 0) Code(samples, count, StartFor(lineType), codes_.data());
}

}  // namespace orvana
