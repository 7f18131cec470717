#include "devsim/FaultPlan.h"

#include <array>
#include <charconv>

#include "devsim/PageStore.h"

namespace orvana::devsim {

namespace {

// Splits "a:b:..." into exactly N unsigned decimal fields, each below its limit.
template <std::size_t N>
bool parseFields(std::string_view text, const std::array<std::uint64_t, N>& limits,
                 std::array<std::uint64_t, N>& out) {
  for (std::size_t i = 0; i < N; ++i) {
    const std::size_t colon = i + 1 < N ? text.find(':') : text.size();
    if (colon == std::string_view::npos || colon == 0) return false;
    const std::string_view field = text.substr(0, colon);
    auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), out[i]);
    if (ec != std::errc{} || end != field.data() + field.size() || out[i] >= limits[i])
      return false;
    text.remove_prefix(colon == text.size() ? colon : colon + 1);
    if (i + 1 < N && text.empty()) return false;
  }
  return text.empty();
}

}  // namespace

bool parseBlockRef(std::string_view text, BlockRef& out) {
  std::array<std::uint64_t, 2> v{};
  if (!parseFields<2>(text, {kChipCount, kBlocksPerChip}, v)) return false;
  out = {static_cast<std::uint8_t>(v[0]), static_cast<std::uint32_t>(v[1])};
  return true;
}

bool parseBitFlip(std::string_view text, BitFlip& out) {
  std::array<std::uint64_t, 4> v{};
  if (!parseFields<4>(text, {kChipCount, kRowsPerChip, kPageSize, 8}, v)) return false;
  out = {static_cast<std::uint8_t>(v[0]), static_cast<std::uint32_t>(v[1]),
         static_cast<std::uint16_t>(v[2]), static_cast<std::uint8_t>(v[3])};
  return true;
}

}  // namespace orvana::devsim
