#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace orvana {

// The 4-bit line coder. Each sample is coded as a sign bit and an index into Steps, taken from
// the difference to the previously reconstructed sample; the coder tracks the reconstruction
// itself (closed loop), so a reader stepping from Start gets exactly the reconstructed values.
class TModeling {
 public:
  static constexpr std::array<std::int8_t, 8> Steps{0, 1, 4, 12, 24, 48, 88, 127};

  // Codes `count` samples (even); the samples are overwritten with their reconstruction.
  TModeling(std::uint8_t* samples, int count, int lineType);

  const std::vector<std::uint8_t>& Codes() const { return codes_; }

  // Value that precedes the first sample of a line of the given type.
  static std::uint8_t StartFor(int lineType) {
    return lineType == 0 ? 16 : lineType == 1 ? 128 : 0;
  }
  // The coder without the object: count / 2 code bytes into `codes`.
  static void Code(std::uint8_t* samples, int count, std::uint8_t start, std::uint8_t* codes);

  // Codes `runs` independent runs of `count` samples side by side, all from `start`: run r reads
  // samples[r * count ...] and writes count / 2 bytes to codes[r * count / 2 ...]. The same codes
  // as Code, without the reconstruction. Each run is a chain of dependent steps; coding several
  // at once lets the processor overlap the chains, which is where a frame's time goes.
  static void CodeRuns(const std::uint8_t* samples, int runs, int count, std::uint8_t start,
                       std::uint8_t* codes);

 private:
  std::vector<std::uint8_t> codes_;
};

}  // namespace orvana
