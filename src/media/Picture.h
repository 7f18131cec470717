#pragma once

#include <cstdint>
#include <vector>

namespace orvana {

// A 32-bit picture: each pixel the word 0x00RRGGBB (bytes blue, green, red, 0 in memory), rows
// of Width pixels without padding, row 0 at the top.
struct Picture {
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  std::vector<std::uint32_t> Pixels;

  void resize(std::int32_t w, std::int32_t h) {
    Width = w;
    Height = h;
    Pixels.assign(std::size_t(w) * std::size_t(h), 0u);
  }
  bool empty() const { return Width <= 0 || Height <= 0; }
  std::uint32_t* row(int y) { return Pixels.data() + std::size_t(y) * std::size_t(Width); }
  const std::uint32_t* row(int y) const {
    return Pixels.data() + std::size_t(y) * std::size_t(Width);
  }
};

}  // namespace orvana
