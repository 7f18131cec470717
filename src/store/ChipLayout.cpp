#include "store/ChipLayout.h"

#include <cstring>

namespace orvana {

namespace {
constexpr std::array<int, 2> kClip1{0, 1};
constexpr std::array<int, 2> kClip2{2, 3};
constexpr std::array<int, 4> kWipe{4, 5, 6, 7};
constexpr std::array<int, 3> kLogo{8, 9, 10};
constexpr std::array<int, kChipCount> kAlone{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
}  // namespace

void SetPageLink(std::uint8_t* page, std::uint32_t nextPage, std::uint8_t lastFrameMark,
                 std::uint8_t frameEnd) {
  PutU32(page + kPageLinkOffset, nextPage);
  page[kPageLinkOffset + 4] = frameEnd;
  page[kPageLinkOffset + 5] = lastFrameMark;
}

std::uint32_t GetPageLink(const std::uint8_t* page) {
  return GetU32(page + kPageLinkOffset);
}

std::span<const int> ChannelChips(int channel) {
  switch (channel) {
    case 0:
      return kClip1;
    case 1:
      return kClip2;
    case 2:
      return kWipe;
    case 3:
      return kLogo;
    default:
      return {};
  }
}

std::span<const int> GroupOfChip(int chip) {
  for (int ch = 0; ch < kChannelCount; ++ch)
    for (int c : ChannelChips(ch))
      if (c == chip) return ChannelChips(ch);
  if (chip >= 0 && chip < kChipCount) return std::span<const int>(kAlone).subspan(chip, 1);
  return {};
}

int ChannelKind(int channel) {
  return channel == 2 ? 1 : channel == 3 ? 2 : 0;
}

namespace {
constexpr const char* kChannelNames[] = {"clip1", "clip2", "wipe", "logo"};
}

int ChannelFromName(const char* name) {
  for (int i = 0; i < kChannelCount; ++i)
    if (std::strcmp(name, kChannelNames[i]) == 0) return i;
  return -1;
}

std::string ChannelName(int channel) {
  return channel >= 0 && channel < kChannelCount ? kChannelNames[channel] : "";
}

}  // namespace orvana
