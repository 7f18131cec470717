#pragma once

// An independent build of what a chip should hold for frame i of a clip: the per-frame recipe on
// its own sources, without the write process. Kept out of the store's headers (both layers
// define the page constants).

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orvana::test {

class ExpectedFrames {
 public:
  ExpectedFrames(const std::string& clip, const std::string& alpha, const std::string& wipe);
  ~ExpectedFrames();
  // The 7220 content bytes of each of the 73 pages, lead page first.
  std::vector<std::uint8_t> Content(int chip, int i, int framesToWrite, int wrap);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace orvana::test
