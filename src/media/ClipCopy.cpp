#include "media/ClipCopy.h"

#include <array>
#include <cstring>
#include <vector>

#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "store/ChipLayout.h"
#include "store/ClipStore.h"

namespace orvana {

namespace {

class DeviceFrameSource : public WriteFrameSource {
 public:
  DeviceFrameSource(ClipStore& from, const CopyPlan& plan) : from_(from), plan_(plan) {
    for (auto& b : buffers_) b.assign(static_cast<std::size_t>(kFramePages) * kPageSize, 0);
  }
  ~DeviceFrameSource() override {
    if (chip_ >= 0) from_.flash().EndFlashAccess();
  }
  DeviceFrameSource(const DeviceFrameSource&) = delete;
  DeviceFrameSource& operator=(const DeviceFrameSource&) = delete;

  void Build(int slot, int chip, int i, const WritePassFrames& pass, bool /*silent*/,
             WriteTimings& t) override {
    std::uint8_t* frame = buffers_[static_cast<std::size_t>(slot)].data();
    if (failed_ || !Position(chip, i)) {
      failed_ = true;
      return;
    }
    for (int m = 0; m < kFramePages; ++m) {
      std::uint8_t* page = frame + static_cast<std::size_t>(m) * kPageSize;
      if (!ReadPage(page, lead_ + static_cast<std::uint32_t>(m))) return;
      std::memset(page + kPayloadSize, 0, kPageSize - kPayloadSize);
    }
    lead_ = GetPageLink(frame + static_cast<std::size_t>(kPicturePages) * kPageSize);
    next_ = i + 1;
    if (i == pass.FramesToWrite / 2 && pass.ThumbnailSlot != nullptr)
      std::memcpy(pass.ThumbnailSlot,
                  from_.Thumbnails.data() + static_cast<std::size_t>(plan_.Slot) * kThumbSlotBytes,
                  kThumbSlotBytes);
    ++t.FramesBuilt;
  }

  std::uint8_t* Buffer(int slot) override {
    return buffers_[static_cast<std::size_t>(slot)].data();
  }
  bool Failed() const override { return failed_; }

 private:
  bool ReadPage(std::uint8_t* page, std::uint32_t row) {
    if (row < kFirstDataPage || row >= kPageLimit || !from_.flash().ReadFlashPage(page, row, 1))
      failed_ = true;
    return !failed_;
  }

  // Puts the cursor on frame i of `chip`'s chain: from the start after a chip change or a step
  // back, skipping frames by their last page's link.
  bool Position(int chip, int i) {
    if (chip != chip_ || i < next_) {
      if (chip != chip_) {
        if (chip_ >= 0) from_.flash().EndFlashAccess();
        chip_ = -1;
        from_.SelectChip(chip);
        const auto r = plan_.Records.find(chip);
        if (!from_.Connected() || r == plan_.Records.end() || !from_.IsClipValid(plan_.Slot) ||
            !(from_.ClipDirectory[static_cast<std::size_t>(plan_.Slot)] == r->second))
          return false;
        chip_ = chip;
        from_.flash().BeginFlashAccess();
      }
      lead_ = plan_.Records.at(chip).StartPage;
      next_ = 0;
    }
    std::vector<std::uint8_t> page(kPageSize);
    for (; next_ < i; ++next_) {
      if (!ReadPage(page.data(), lead_ + kPicturePages)) return false;
      lead_ = GetPageLink(page.data());
    }
    return true;
  }

  ClipStore& from_;
  CopyPlan plan_;
  std::array<std::vector<std::uint8_t>, 2> buffers_;
  int chip_ = -1;
  int next_ = 0;
  std::uint32_t lead_ = 0;
  bool failed_ = false;
};

}  // namespace

bool PlanCopy(ClipStore& from, int channel, int slot, CopyPlan& plan, std::string& why) {
  plan = CopyPlan{};
  plan.Slot = slot;
  const auto chips = ChannelChips(channel);
  for (const int chip : chips) {
    from.SelectChip(chip);
    if (!from.Connected()) {
      why = "chip " + std::to_string(chip) + " of the source could not be read";
      return false;
    }
    if (!from.IsClipValid(slot)) {
      why = "clip " + std::to_string(slot + 1) + " is not on chip " + std::to_string(chip) +
            " of the source";
      return false;
    }
    const ClipRecord& r = from.ClipDirectory[static_cast<std::size_t>(slot)];
    if (r.Kind != ChannelKind(channel)) {
      why = "clip " + std::to_string(slot + 1) + " on chip " + std::to_string(chip) +
            " is not of this channel's kind";
      return false;
    }
    if (!plan.Records.empty() &&
        (r.FrameCount != plan.FrameCount || r.SourceFrames != plan.SourceFrames)) {
      why = "the chips of the source list clip " + std::to_string(slot + 1) + " differently";
      return false;
    }
    plan.FrameCount = r.FrameCount;
    plan.SourceFrames = r.SourceFrames;
    plan.Records[chip] = r;
  }
  // A clip with hold frames goes on past its last frame; a looping one links back to its first.
  const int first = chips.front();
  from.SelectChip(first);
  const ClipRecord& r = plan.Records.at(first);
  std::vector<std::uint8_t> page(kPageSize);
  std::uint32_t lead = r.StartPage;
  from.flash().BeginFlashAccess();
  for (int f = 0; f < plan.FrameCount; ++f) {
    const std::uint32_t row = lead + kPicturePages;
    if (lead < kFirstDataPage || row >= kPageLimit ||
        !from.flash().ReadFlashPage(page.data(), row, 1)) {
      from.flash().EndFlashAccess();
      why = "the chain of clip " + std::to_string(slot + 1) + " on chip " + std::to_string(first) +
            " could not be read";
      return false;
    }
    lead = GetPageLink(page.data());
  }
  from.flash().EndFlashAccess();
  plan.Loop = ChannelKind(channel) == 2 || (ChannelKind(channel) == 0 && lead == r.StartPage);
  return true;
}

std::unique_ptr<WriteFrameSource> MakeDeviceFrameSource(ClipStore& from, const CopyPlan& plan) {
  return std::make_unique<DeviceFrameSource>(from, plan);
}

bool CopyClip(ClipStore& from, const CopyPlan& plan, int channel, int asSlot, WriteProcess& writer,
              SourceSelection& selection, ClipStore& to, Operator& op) {
  const ProfileFile ini(paths::settingsFile(kMainIni));
  const bool active = ini.readInt("Safe write", "Active", 0) != 0;
  const bool resume = active && ini.readInt("Safe write", "WhatMedia", -1) == channel &&
                      ini.readInt("Safe write", "ClipNum", -1) == asSlot;
  if (active && !resume &&
      !op.confirm("An interrupted write of another clip can no longer be continued after this "
                  "copy. Copy anyway?"))
    return false;

  writer.SettleMs = 0;
  writer.Overlap = false;  // both devices are driven from this thread
  writer.MakeFrameSource = [&from, &plan] { return MakeDeviceFrameSource(from, plan); };
  writer.CopyRecords = plan.Records;
  writer.JournalOperation = "copy";
  selection.Channel = channel;
  selection.LoopChecked = plan.Loop;
  selection.FramesToWrite = plan.FrameCount;
  selection.ClipSourceFrames = plan.SourceFrames;
  to.Channel = channel;
  to.ConnectChannel();
  if (to.Connected()) {
    to.ResumeMode = resume ? 1 : 0;
    writer.WriteChannel();
    to.ResumeMode = 0;
  }
  writer.MakeFrameSource = {};
  writer.CopyRecords.clear();
  writer.JournalOperation.clear();
  return to.Connected() && writer.Completed;
}

}  // namespace orvana
