// The media side of the write process: decoding the sources and encoding one chip's frame.
#include <array>
#include <chrono>
#include <cstring>

#include "media/FrameBuilder.h"
#include "media/WriteProcess.h"

namespace orvana {

namespace {

double nowMicros() {
  return std::chrono::duration<double, std::micro>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

MediaController* slotSource(const MediaSources& s, SourceSlot slot) {
  switch (slot) {
    case SourceSlot::Clip:
      return s.ClipSource.get();
    case SourceSlot::Alpha:
      return s.AlphaSource.get();
    case SourceSlot::Wipe:
      return s.WipeSource.get();
    default:
      return nullptr;
  }
}

class FrameSource : public WriteFrameSource {
 public:
  explicit FrameSource(MediaSources& s) : sources_(s), frames_(s) {}

  void Build(int slot, int chip, int i, const WritePassFrames& p, bool silent,
             WriteTimings& t) override {
    FrameBuffer& buffer = buffers_[slot];
    // The ECC leaves its stored layout in the buffer; clearing the page tails keeps the bytes
    // behind the page link from depending on the frame written before.
    for (int m = 0; m < kFramePages; ++m)
      std::memset(buffer.page(m) + kPageLinkOffset, 0, kPageSize - kPageLinkOffset);
    FramePass pass;
    pass.FramesToWrite = p.FramesToWrite;
    pass.Wrap = p.Wrap;
    pass.Timecode = p.Timecode;
    pass.ClipSourceWidth = p.ClipSourceWidth;
    pass.ClipSourceHeight = p.ClipSourceHeight;
    pass.ThumbnailSlot = p.ThumbnailSlot;

    const double t0 = nowMicros();
    const ChipRole role = ChipRoleOf(chip);
    MediaController* source = slotSource(sources_, role.Source);
    const std::uint8_t* soundBlock = nullptr;
    if (source != nullptr && source->IsOpen()) {
      // A hold frame shows the clip's last frame. Seeking there rather than past the end
      // keeps that true when a continued pass starts among the hold frames, where the frame
      // held from the last seek would be another one.
      const bool holdFrame = pass.Wrap == 0 && i >= pass.FramesToWrite;
      source->Seek(holdFrame ? pass.FramesToWrite - 1 : i, pass.Wrap);
      if (!source->GrabFrame(decoded_)) decoded_ = Picture{};
      if (role.SoundChannel >= 0 && !silent) {
        sound_.fill(0);
        if (source->HasAudio == 1) source->GrabAudio(sound_.data(), kFrameAudioBytes);
        soundBlock = sound_.data();
      }
    } else {
      decoded_ = Picture{};
    }
    const double t1 = nowMicros();
    frames_.EncodeChipFrame(buffer, chip, i, pass, decoded_, soundBlock);
    const double t2 = nowMicros();
    t.DecodeMicros += t1 - t0;
    t.EncodeMicros += t2 - t1;
    ++t.FramesBuilt;
  }

  std::uint8_t* Buffer(int slot) override { return buffers_[slot].data(); }

 private:
  MediaSources& sources_;
  FrameBuilder frames_;
  Picture decoded_;
  std::array<std::uint8_t, kFrameAudioBytes> sound_{};
  std::array<FrameBuffer, 2> buffers_;
};

const char* slotName(SourceSlot slot) {
  switch (slot) {
    case SourceSlot::Alpha:
      return "alpha";
    case SourceSlot::Wipe:
      return "wipe";
    default:
      return "clip";
  }
}

}  // namespace

std::unique_ptr<WriteFrameSource> WriteFrameSource::Create(MediaSources& sources) {
  return std::make_unique<FrameSource>(sources);
}

bool WriteFrameSource::SourceOpen(const MediaSources& sources, int chip, std::string& name) {
  const SourceSlot slot = ChipRoleOf(chip).Source;
  name = slotName(slot);
  const MediaController* source = slotSource(sources, slot);
  return source != nullptr && source->IsOpen();
}

}  // namespace orvana
