#pragma once

#include <array>
#include <cstdint>
#include <filesystem>

#include "store/ClipRecord.h"

namespace orvana {

// A clip file: the 72-byte ClipStreamHeader, then FrameCount frames of 73 pages x 8192 bytes
// (lead page, then the 72 picture pages in play order), each page as the ECC read returns it:
// 7280 payload bytes and 912 zero bytes.
//   0 i32 clip number (slot)  4 u16 Width  6 u16 Height  8 u16 FrameCount  10 u8 Kind
//  11 u8 HasAudio  12 u16 ClipNumber  14 u16 SourceFrames  16 6 zero  22 50 Comment
struct ClipStreamHeader {
  static constexpr std::size_t kSize = 72;
  static constexpr std::uint64_t kFrameBytes = 73ull * 8192ull;  // 598,016

  std::int32_t Slot = 0;
  ClipRecord Record;  // StartPage and the reserved bytes are not part of the file

  std::array<std::uint8_t, kSize> pack() const;
  static ClipStreamHeader unpack(const std::uint8_t* in);
  std::uint64_t fileSize() const { return kSize + Record.FrameCount * kFrameBytes; }
};

}  // namespace orvana
