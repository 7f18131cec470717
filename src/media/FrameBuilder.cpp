#include "media/FrameBuilder.h"

#include <cstring>

namespace orvana {

ChipRole ChipRoleOf(int chip) {
  switch (chip) {
    case 0:
    case 2:
    case 4:
      return {SourceSlot::Clip, kLineLuma, 0};
    case 1:
    case 3:
    case 5:
      return {SourceSlot::Clip, kLineChroma, 1};
    case 8:
      return {SourceSlot::Clip, kLineLuma, -1};
    case 9:
      return {SourceSlot::Clip, kLineChroma, -1};
    case 6:
    case 10:
      return {SourceSlot::Alpha, kLineAlpha, -1};
    case 7:
      return {SourceSlot::Wipe, kLineWipe, -1};
    default:
      return {};
  }
}

int ChannelOfChip(int chip) {
  if (chip < 0 || chip > 10) return -1;
  if (chip <= 1) return 0;
  if (chip <= 3) return 1;
  if (chip <= 7) return 2;
  return 3;
}

ClipKind KindOfChannel(int channel) {
  return channel == 2 ? ClipKind::SuperWipe : channel == 3 ? ClipKind::Logo : ClipKind::Clip;
}

LineCoding CodingOfChannel(int channel) {
  return channel == 3 ? LineCoding::Raw : LineCoding::FourBit;
}

FrameBuilder::FrameBuilder(MediaSources& sources) : sources_(sources) {
  clip_.resize(kFrameWidth, kFrameHeight);
  alpha_.resize(kFrameWidth, kFrameHeight);
  wipe_.resize(kFrameWidth, kFrameHeight);
}

MediaController* FrameBuilder::SlotOf(SourceSlot s) const {
  switch (s) {
    case SourceSlot::Clip:
      return sources_.ClipSource.get();
    case SourceSlot::Alpha:
      return sources_.AlphaSource.get();
    case SourceSlot::Wipe:
      return sources_.WipeSource.get();
    default:
      return nullptr;
  }
}

bool FrameBuilder::BuildFrame(FrameBuffer& buffer, int chip, std::int64_t i,
                              const FramePass& pass) {
  const ChipRole role = ChipRoleOf(chip);
  if (role.Source == SourceSlot::None) return false;
  MediaController* source = SlotOf(role.Source);
  // A slot without an opened file gives a black picture and silence rather than stale data.
  if (source == nullptr || !source->IsOpen()) {
    return EncodeChipFrame(buffer, chip, i, pass, black_, nullptr);
  }
  source->Seek(i, pass.Wrap);  // a failed seek leaves the held frame, as the hold frames need
  const Picture* held = source->HeldPicture();
  const std::uint8_t* sound = nullptr;
  if (role.SoundChannel >= 0) {
    sound_.fill(0);
    if (source->HasAudio == 1) source->GrabAudio(sound_.data(), kFrameAudioBytes);
    sound = sound_.data();
  }
  return EncodeChipFrame(buffer, chip, i, pass, held != nullptr ? *held : black_, sound);
}

bool FrameBuilder::EncodeChipFrame(FrameBuffer& buffer, int chip, std::int64_t i,
                                   const FramePass& pass, const Picture& decoded,
                                   const std::uint8_t* sound) {
  const ChipRole role = ChipRoleOf(chip);
  const int channel = ChannelOfChip(chip);
  if (role.Source == SourceSlot::None || channel < 0) return false;
  const ClipKind kind = KindOfChannel(channel);
  Picture& frame = role.Source == SourceSlot::Clip    ? clip_
                   : role.Source == SourceSlot::Alpha ? alpha_
                                                      : wipe_;
  FitFrame(frame, decoded, kind);
  if (role.Source == SourceSlot::Clip && pass.Timecode) DrawTimecode(frame, i);
  EncodePicture(buffer, frame, role.LineType, CodingOfChannel(channel));

  if (role.SoundChannel >= 0) {
    // A super wipe's last frame and its hold frames are silent.
    const bool silent =
        sound == nullptr || (channel == 2 && i >= std::int64_t(pass.FramesToWrite) - 1);
    if (silent) {
      sound_.fill(0);
      PutSound(buffer, sound_.data(), role.SoundChannel);
    } else {
      PutSound(buffer, sound, role.SoundChannel);
    }
  } else {
    std::memset(buffer.page(0), 0, kFrameContentSize);
  }

  const bool thumbnailFrame = i == std::int64_t(pass.FramesToWrite / 2);
  if (thumbnailFrame && pass.ThumbnailSlot != nullptr && role.Source != SourceSlot::Wipe) {
    MakeThumbnail(frame, pass.ThumbnailSlot, kind, pass.ClipSourceWidth, pass.ClipSourceHeight);
  }
  return true;
}

}  // namespace orvana
