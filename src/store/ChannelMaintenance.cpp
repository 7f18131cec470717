// Delete and format: the ClipStore operations that empty directory slots and whole chips.
#include <algorithm>
#include <chrono>

#include "common/Text1252.h"
#include "store/ClipStore.h"
#include "store/Journal.h"

namespace orvana {

namespace {

// One journal line for a delete or format of a device's channel, written once.
struct JournalWork {
  JournalWork(const ClipStore& store, const char* operation, std::span<const int> chips)
      : device(store.DeviceName), t0(std::chrono::steady_clock::now()) {
    entry.Device = store.DeviceName;
    entry.Operation = operation;
    entry.Channel = ChannelName(store.Channel);
    entry.Chips.assign(chips.begin(), chips.end());
  }
  void Finish(bool ok) {
    // Chips in memory only (no device name) have nobody to account to.
    if (done || device.empty()) return;
    done = true;
    entry.Result = ok ? "completed" : "failed";
    entry.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    AppendJournal(entry);
  }
  std::string device;
  std::chrono::steady_clock::time_point t0;
  JournalEntry entry;
  bool done = false;
};

}  // namespace

void ClipStore::DeleteFromChannel(int n) {
  if (!op_.confirm("Are you shure to delete clip?")) return;
  op_.processEvents();
  if (n < 0 || n >= kClipSlots) return;
  // Without a loaded directory, memory is not the shown chip's: saving it would overwrite that
  // chip's directory with another's.
  if (!connected_) return;

  // Every chip of the group that holds the chip shown loses the clip, whichever of them is shown.
  const int shown = CurrentChip;
  const std::span<const int> group = GroupOfChip(shown);
  if (group.empty()) return;
  JournalWork journal(*this, "delete", group);
  const bool listed = IsClipValid(n);
  journal.entry.Clip = n + 1;
  journal.entry.Frames = ClipDirectory[n].FrameCount;
  journal.entry.Comment = cp1252ToUtf8(ClipDirectory[n].commentText());
  DeleteClipOnChip(n);
  bool ok = connected_;
  for (int chip : group) {
    if (chip == shown) continue;
    SelectChip(chip);
    // A chip whose directory did not load must not be written from whatever is in memory.
    if (connected_) DeleteClipOnChip(n);
    ok = ok && connected_;
  }
  SelectChip(group.front());
  if (listed) journal.Finish(ok);
}

void ClipStore::DeleteClipOnChip(int n) {
  if (n < 0 || n >= kClipSlots) return;
  DisableControls();
  if (!DeleteClip(n)) DropConnection();
  EnableControls();
  SelectedClip[CurrentChip] = -1;
  flash_.SelectClip(CurrentChip, 0);
}

bool ClipStore::DeleteClip(int n) {
  if (!IsClipValid(n)) return true;
  op_.setCursor(Operator::Cursor::Wait);
  op_.processEvents();
  flash_.BeginFlashAccess();
  for (int c = kSystemCells; c < kCellCount; ++c) {
    for (CellState* s : {&CellMap[c], &PendingMap[c]})
      if (!(*s & kCellUnusable) && CellClip(*s) == n) ClearCell(*s);
  }
  ClipDirectory[n] = ClipRecord{};
  std::fill_n(Thumbnails.begin() + static_cast<std::ptrdiff_t>(n * kThumbSlotBytes),
              kThumbSlotBytes, 0);
  if (!SaveDirectory()) {
    op_.setCursor(Operator::Cursor::Arrow);
    return false;
  }
  flash_.EndFlashAccess();
  op_.setCursor(Operator::Cursor::Arrow);
  return true;
}

void ClipStore::FormatChannel(bool quick) {
  if (!op_.confirm("Are you shure to format channel?")) return;
  DisableControls();
  const std::span<const int> group = ChannelChips(Channel);
  if (group.empty()) {
    EnableControls();
    return;
  }
  JournalWork journal(*this, quick ? "quick format" : "format", group);
  for (std::size_t i = 0; i < group.size(); ++i) {
    SelectChip(group[i]);
    DisableControls();
    // A chip that did not load counts as failed: its map in memory is not its own.
    const bool ok = connected_ && FormatChip(quick);
    if (!ok) {
      DropConnection();
      journal.Finish(false);
      if (i + 1 < group.size()) {
        EnableControls();
        return;
      }
    }
  }
  journal.Finish(true);
  SelectChip(group.front());
  EnableControls();
}

bool ClipStore::FormatChip(bool quick) {
  op_.setCursor(Operator::Cursor::Wait);
  op_.processEvents();
  flash_.BeginFlashAccess();
  op_.setProgressMax(kCellCount);
  const std::string before = status_;
  SetStatusText(before + ", formatting... ");

  if (quick) {
    for (int c = kSystemCells; c < kCellCount; ++c)
      if (!(CellMap[c] & kCellUnusable)) ClearCell(CellMap[c]);
  } else {
    ClearMaps();
    for (int c = kSystemCells; c < kCellCount; ++c) {
      if (!ReleaseCell(c)) CellMap[c] |= kCellUnusable;
      op_.setProgress(c);
    }
    for (int c = kSystemCells; c < kCellCount; c += kCellsPerBlock) {
      if (CellMap[c] & kCellUnusable)
        for (int k = 1; k < kCellsPerBlock; ++k) CellMap[c + k] |= kCellUnusable;
    }
  }
  ClearDirectory();
  std::fill(Thumbnails.begin(), Thumbnails.end(), 0);
  if (!SaveDirectory()) {
    op_.setCursor(Operator::Cursor::Arrow);
    return false;
  }
  flash_.EndFlashAccess();
  SetStatusText(before);
  op_.setCursor(Operator::Cursor::Arrow);
  return true;
}

}  // namespace orvana
