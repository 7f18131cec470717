#pragma once

// The per-frame recipe: what each chip of a channel stores of a frame, and the building of one
// chip's 73 pages from the sources.

#include <array>
#include <cstdint>

#include "media/FrameEncoder.h"
#include "media/FrameFormat.h"
#include "media/MediaController.h"
#include "media/Picture.h"

namespace orvana {

enum class SourceSlot { Clip, Alpha, Wipe, None };

// What a chip carries: its source, line type and which sound channel goes to its lead page.
struct ChipRole {
  SourceSlot Source = SourceSlot::None;
  int LineType = -1;
  int SoundChannel = -1;  // 0 left, 1 right, -1 none
};

// The roles of chips 0 to 11 (chip 11 belongs to no channel and carries nothing).
ChipRole ChipRoleOf(int chip);
// Channel of a chip's group (0 "Clip 1", 1 "Clip 2", 2 "Super wipe ", 3 "Logo "), -1 for none.
int ChannelOfChip(int chip);
ClipKind KindOfChannel(int channel);
LineCoding CodingOfChannel(int channel);

// What a pass tells every frame it builds.
struct FramePass {
  int FramesToWrite = 0;
  int Wrap = 0;
  bool Timecode = false;
  int ClipSourceWidth = 0;
  int ClipSourceHeight = 0;
  // Thumbnail slot (16384 bytes) filled at frame FramesToWrite / 2; none when null.
  std::uint8_t* ThumbnailSlot = nullptr;
};

// Builds frames chip by chip. Owns the three 1920 x 1080 frame pictures and the sound block,
// allocated once and reused for every frame.
class FrameBuilder {
 public:
  explicit FrameBuilder(MediaSources& sources);

  // Seeks the chip's source to frame i, grabs picture and sound, and fills pages 0 to 72 of
  // the buffer (payload up to the page link). False for a chip that carries nothing.
  bool BuildFrame(FrameBuffer& buffer, int chip, std::int64_t i, const FramePass& pass);

  // The part after decoding: fit, timecode, line coding, sound and thumbnail from a decoded
  // picture and the frame's 7680-byte sound block (null: silence).
  bool EncodeChipFrame(FrameBuffer& buffer, int chip, std::int64_t i, const FramePass& pass,
                       const Picture& decoded, const std::uint8_t* sound);

  const Picture& ClipPicture() const { return clip_; }
  const Picture& AlphaPicture() const { return alpha_; }
  const Picture& WipePicture() const { return wipe_; }

 private:
  MediaController* SlotOf(SourceSlot s) const;

  MediaSources& sources_;
  Picture clip_, alpha_, wipe_;
  const Picture black_;  // what a slot without an open file shows
  std::array<std::uint8_t, kFrameAudioBytes> sound_{};
};

}  // namespace orvana
