#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace orvana {

// One directory entry, 72 bytes on flash (little-endian, packed field by field):
//   0 u32 StartPage   4 u16 Width   6 u16 Height   8 u16 FrameCount (hold frames not counted)
//  10 u8 Kind        11 u8 HasAudio 12 u16 ClipNumber 14 u16 SourceFrames
//  16 6 reserved     22 50 Comment (at most 49 chars, zero-terminated, zero-padded)
// The clip file header has the same layout with the clip number as i32 in the first 4 bytes.
struct ClipRecord {
  static constexpr std::size_t kSize = 72;
  static constexpr std::size_t kCommentSize = 50;
  static constexpr std::size_t kCommentMax = 49;

  std::uint32_t StartPage = 0;
  std::uint16_t Width = 0;
  std::uint16_t Height = 0;
  std::uint16_t FrameCount = 0;
  std::uint8_t Kind = 0;
  std::uint8_t HasAudio = 0;
  std::uint16_t ClipNumber = 0;
  std::uint16_t SourceFrames = 0;
  std::array<std::uint8_t, 6> Reserved{};
  std::array<std::uint8_t, kCommentSize> Comment{};

  void pack(std::uint8_t* out) const;
  static ClipRecord unpack(const std::uint8_t* in);

  // StartPage on the chip (1..0xFFFFF), the one picture size the device plays and no more frames
  // than a chip holds: a record claiming more is damaged, and following it would read the chain
  // round and round.
  bool isValid() const;
  // The comment up to its first zero byte and never beyond 49 bytes (8-bit text as stored).
  std::string commentText() const;
  // Copies `text` up to its first zero byte, cut to 49 bytes; the rest of Comment is zero.
  void setComment(const std::string& text);

  bool operator==(const ClipRecord&) const = default;
};

}  // namespace orvana
