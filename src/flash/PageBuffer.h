#pragma once

#include <array>
#include <cstdint>

namespace orvana {

// One NAND page as moved over the link.
inline constexpr int kPageBytes = 8192;
// What the page ECC protects: 910 groups of 8 bytes, each stored with its check byte.
inline constexpr int kPayloadBytes = 7280;
// Highest row (page number) of a chip: 16,384 cells of 64 pages.
inline constexpr std::uint32_t kLastRow = 1048575;

using PageBuffer = std::array<std::uint8_t, kPageBytes>;

}  // namespace orvana
