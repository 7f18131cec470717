// Delete and format: the ClipStore operations that empty directory slots and whole chips.
#include <algorithm>

#include "store/ClipStore.h"

namespace orvana {

void ClipStore::DeleteFromChannel(int n) {
  if (!op_.confirm("Are you shure to delete clip?")) return;
  op_.processEvents();
  if (n < 0 || n >= kClipSlots) return;

  // Every chip of the group that holds the chip shown loses the clip, whichever of them is shown.
  const int shown = CurrentChip;
  const std::span<const int> group = GroupOfChip(shown);
  if (group.empty()) return;
  DeleteClipOnChip(n);
  for (int chip : group) {
    if (chip == shown) continue;
    SelectChip(chip);
    // A chip whose directory did not load must not be written from whatever is in memory.
    if (connected_) DeleteClipOnChip(n);
  }
  SelectChip(group.front());
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
  for (std::size_t i = 0; i < group.size(); ++i) {
    SelectChip(group[i]);
    DisableControls();
    // A chip that did not load counts as failed: its map in memory is not its own.
    const bool ok = connected_ && FormatChip(quick);
    if (!ok) {
      DropConnection();
      if (i + 1 < group.size()) {
        EnableControls();
        return;
      }
    }
  }
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
