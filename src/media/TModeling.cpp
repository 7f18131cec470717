#include "media/TModeling.h"

namespace orvana {

namespace {

// Step index for every |difference|: the largest k with Steps[k] <= |d|.
constexpr std::array<std::uint8_t, 256> MakeIndexTable() {
  std::array<std::uint8_t, 256> t{};
  for (int d = 0; d < 256; ++d) {
    std::uint8_t k = 0;
    for (std::uint8_t s = 0; s < 8; ++s) {
      if (TModeling::Steps[s] <= d) k = s;
    }
    t[std::size_t(d)] = k;
  }
  return t;
}
constexpr std::array<std::uint8_t, 256> kIndexOf = MakeIndexTable();

// Codes one sample against `prev`, returns the 4-bit code and updates prev to the reconstruction.
inline std::uint8_t CodeOne(std::uint8_t sample, std::uint8_t& prev) {
  const int d = int(sample) - int(prev);
  const bool up = d >= 0;
  const std::uint8_t k = kIndexOf[std::size_t(up ? d : -d)];
  const int step = TModeling::Steps[k];
  // The reconstruction wraps around instead of clamping, as the reader does.
  prev = std::uint8_t(up ? prev + step : prev - step);
  return std::uint8_t((k << 1) | (up ? 1 : 0));
}

}  // namespace

void TModeling::Code(std::uint8_t* samples, int count, std::uint8_t start, std::uint8_t* codes) {
  std::uint8_t prev = start;
  for (int j = 0; j < count / 2; ++j) {
    const std::uint8_t lo = CodeOne(samples[2 * j], prev);
    samples[2 * j] = prev;
    const std::uint8_t hi = CodeOne(samples[2 * j + 1], prev);
    samples[2 * j + 1] = prev;
    codes[j] = std::uint8_t(lo | (hi << 4));
  }
}

TModeling::TModeling(std::uint8_t* samples, int count, int lineType)
    : codes_(std::size_t(count > 0 ? count / 2 : 0), 0) {
  if (count > 0) Code(samples, count, StartFor(lineType), codes_.data());
}

}  // namespace orvana
