// The media side of the write process: decoding the sources and encoding one chip's frame.
#include <algorithm>
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

bool SamePass(const WritePassFrames& a, const WritePassFrames& b) {
  return a.FramesToWrite == b.FramesToWrite && a.Wrap == b.Wrap && a.Timecode == b.Timecode &&
         a.ClipSourceWidth == b.ClipSourceWidth && a.ClipSourceHeight == b.ClipSourceHeight;
}

constexpr std::size_t kKeptBytes = std::size_t{kFramePages} * kPageSize;

// The ECC leaves its stored layout in the buffer; clearing the page tails keeps the bytes
// behind the page link from depending on the frame written before.
void ClearPageTails(FrameBuffer& buffer) {
  for (int m = 0; m < kFramePages; ++m)
    std::memset(buffer.page(m) + kPageLinkOffset, 0, kPageSize - kPageLinkOffset);
}

class FrameSource : public WriteFrameSource {
 public:
  FrameSource(MediaSources& s, FramesAhead* ahead) : sources_(s), frames_(s), ahead_(ahead) {}

  void Build(int slot, int chip, int i, const WritePassFrames& p, bool silent,
             WriteTimings& t) override {
    FrameBuffer& buffer = buffers_[slot];
    if (ahead_ != nullptr && ahead_->Take(chip, i, p, buffer.data())) {
      ++t.FramesReused;
      return;
    }
    ClearPageTails(buffer);
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
    const Picture* decoded = &black_;
    bool haveSound = false;
    if (source != nullptr && source->IsOpen()) {
      // A hold frame shows the clip's last frame. Seeking there rather than past the end
      // keeps that true when a continued pass starts among the hold frames, where the frame
      // held from the last seek would be another one.
      const bool holdFrame = pass.Wrap == 0 && i >= pass.FramesToWrite;
      source->Seek(holdFrame ? pass.FramesToWrite - 1 : i, pass.Wrap);
      if (const Picture* held = source->HeldPicture()) decoded = held;
      if (!silent) {
        sound_.fill(0);
        if (source->HasAudio == 1) source->GrabAudio(sound_.data(), kFrameAudioBytes);
        haveSound = true;
      }
    }
    const auto soundFor = [&](int c) {
      return haveSound && ChipRoleOf(c).SoundChannel >= 0 ? sound_.data() : nullptr;
    };
    const double t1 = nowMicros();
    frames_.EncodeChipFrame(buffer, chip, i, pass, *decoded, soundFor(chip));
    ++t.FramesBuilt;

    // The later chips that show the same source get their frame from this very picture.
    if (ahead_ != nullptr && i != pass.FramesToWrite / 2) {
      for (const int later : ahead_->LaterChips(chip)) {
        if (!ahead_->HasRoom()) break;
        if (ChipRoleOf(later).Source != role.Source) continue;
        ClearPageTails(spare_);
        frames_.EncodeChipFrame(spare_, later, i, pass, *decoded, soundFor(later));
        ahead_->Put(later, i, p, spare_.data());
      }
    }
    const double t2 = nowMicros();
    t.DecodeMicros += t1 - t0;
    t.EncodeMicros += t2 - t1;
  }

  std::uint8_t* Buffer(int slot) override { return buffers_[slot].data(); }

 private:
  MediaSources& sources_;
  FrameBuilder frames_;
  FramesAhead* ahead_;
  const Picture black_;  // what a chip without an open source shows
  std::array<std::uint8_t, kFrameAudioBytes> sound_{};
  std::array<FrameBuffer, 2> buffers_;
  FrameBuffer spare_;
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

std::unique_ptr<WriteFrameSource> WriteFrameSource::Create(MediaSources& sources,
                                                           FramesAhead* ahead) {
  return std::make_unique<FrameSource>(sources, ahead);
}

void FramesAhead::Begin(std::vector<int> chips, std::size_t budgetBytes) {
  Clear();
  chips_ = std::move(chips);
  budget_ = budgetBytes;
}

void FramesAhead::Clear() {
  frames_.clear();
  chips_.clear();
  used_ = 0;
  budget_ = 0;
}

std::vector<int> FramesAhead::LaterChips(int chip) const {
  const auto at = std::find(chips_.begin(), chips_.end(), chip);
  if (at == chips_.end()) return {};
  return {at + 1, chips_.end()};
}

bool FramesAhead::HasRoom() const {
  return used_ + kKeptBytes <= budget_;
}

void FramesAhead::Put(int chip, int i, const WritePassFrames& pass, const std::uint8_t* pages) {
  if (!HasRoom() || i == pass.FramesToWrite / 2) return;
  Kept& k = frames_[{chip, i}];
  if (k.pages.empty()) used_ += kKeptBytes;
  k.pass = pass;
  k.pages.assign(pages, pages + kKeptBytes);
}

bool FramesAhead::Take(int chip, int i, const WritePassFrames& pass, std::uint8_t* pages) {
  const auto it = frames_.find({chip, i});
  if (it == frames_.end()) return false;
  const bool same = SamePass(it->second.pass, pass);
  if (same) std::memcpy(pages, it->second.pages.data(), kKeptBytes);
  used_ -= kKeptBytes;
  frames_.erase(it);
  return same;
}

bool WriteFrameSource::SourceOpen(const MediaSources& sources, int chip, std::string& name) {
  const SourceSlot slot = ChipRoleOf(chip).Source;
  name = slotName(slot);
  const MediaController* source = slotSource(sources, slot);
  return source != nullptr && source->IsOpen();
}

}  // namespace orvana
