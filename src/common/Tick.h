#pragma once

#include <cstdint>

namespace orvana {

// Monotonic millisecond counter kept as 32-bit unsigned; differences are taken modulo 2^32 so
// they stay right across the wrap.
std::uint32_t tickCount();
inline std::uint32_t ticksSince(std::uint32_t start) { return tickCount() - start; }

}  // namespace orvana
