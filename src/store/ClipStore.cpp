#include "store/ClipStore.h"

#include <algorithm>
#include <cstring>

namespace orvana {

ClipStore::ClipStore(FlashPort& flash, Operator& op)
    : CellMap(kCellCount, 0),
      PendingMap(kCellCount, 0),
      Thumbnails(kClipSlots * kThumbSlotBytes, 0),
      flash_(flash),
      op_(op) {
  SelectedClip.fill(-1);
}

// ---------------------------------------------------------------- layout and allocation

bool ClipStore::IsClipValid(int n) const {
  return n >= 0 && n < kClipSlots && ClipDirectory[n].isValid();
}

bool ClipStore::ReleaseCell(int cell) {
  ClearCell(CellMap[cell]);
  if (cell % kCellsPerBlock != 0) return true;
  return flash_.EraseFlashBlock(static_cast<std::uint32_t>(cell) * kPagesPerCell);
}

int ClipStore::CountFreeCells() const {
  int free = 0;
  for (int b = 0; b < kBlockCount; ++b) {
    const CellState* w = &CellMap[b * kCellsPerBlock];
    if (IsCellEmpty(w[0]) && IsCellEmpty(w[1]) && IsCellEmpty(w[2]) && IsCellEmpty(w[3]))
      free += kCellsPerBlock;
  }
  return free;
}

bool ClipStore::BlockHeldByOtherClip(int cell, int clip) const {
  const int first = cell / kCellsPerBlock * kCellsPerBlock;
  for (int c = first; c < first + kCellsPerBlock; ++c) {
    for (const CellState s : {CellMap[c], PendingMap[c]})
      if ((s & kCellAllocated) && CellClip(s) != clip) return true;
  }
  return false;
}

int ClipStore::FindFreeCells(int length, int clip) const {
  for (int i = kSystemCells; i + length <= kCellCount; ++i) {
    bool empty = true;
    for (int u = i; u < i + length && empty; ++u)
      empty = IsCellEmpty(CellMap[u]) && IsCellEmpty(PendingMap[u]);
    if (empty && !BlockHeldByOtherClip(i, clip)) return i;
  }
  return -1;
}

void ClipStore::SetClipRecord(int slot, int width, int height, int kind, int hasAudio,
                              const std::string& comment, int sourceFrames, int frameCount,
                              int recordClipNumber, std::uint32_t startPage) {
  if (slot < 0 || slot >= kClipSlots) return;
  ClipRecord r;
  r.StartPage = startPage;
  r.Width = static_cast<std::uint16_t>(width);
  r.Height = static_cast<std::uint16_t>(height);
  r.FrameCount = static_cast<std::uint16_t>(frameCount);
  r.Kind = static_cast<std::uint8_t>(kind);
  r.HasAudio = static_cast<std::uint8_t>(hasAudio);
  r.ClipNumber = static_cast<std::uint16_t>(recordClipNumber);
  r.SourceFrames = static_cast<std::uint16_t>(sourceFrames);
  r.setComment(comment);
  ClipDirectory[slot] = r;
}

int ClipStore::FirstFreeClipNumber() const {
  for (int n = 0; n < kClipSlots; ++n)
    if (!IsClipValid(n)) return n;
  return -1;
}

int ClipStore::WriteFrame(std::uint8_t* frame, int clip, int kind, int totalFrames, int index) {
  const int c = FindFreeCells(kFrameCells, clip);
  if (c < 0) return -1;
  const std::uint32_t p = static_cast<std::uint32_t>(c) * kPagesPerCell;
  if (index == 0) {
    ClipStartPage = static_cast<int>(p);
    LoopTargetPage = static_cast<int>(p);
  }
  const bool loop = hooks.LoopChecked ? hooks.LoopChecked() : false;
  if (((kind == 0 && !loop) || kind == 1) && index == totalFrames - kHoldFrames)
    LoopTargetPage = static_cast<int>(p);

  FrameOnFlash = hooks.IsFrameOnFlash ? hooks.IsFrameOnFlash(Channel, CurrentChip, index) : false;
  const bool write = MayWritePages();

  for (int u = c; u < c + kFrameCells; ++u) {
    if (write && !ReleaseCell(u)) return -3;
    PendingMap[u] = static_cast<CellState>(WithCellClip(PendingMap[u], clip) | kCellAllocated);
  }

  const int next = FindFreeCells(kFrameCells, clip);
  std::uint32_t q = 0;
  if (index == totalFrames - 1) {
    q = static_cast<std::uint32_t>(LoopTargetPage);
  } else {
    if (next < 0) return -1;
    q = static_cast<std::uint32_t>(next) * kPagesPerCell;
  }

  // The programmed pages leave the buffer in the ECC's stored layout; a checked write keeps
  // what each page was meant to hold.
  if (write && VerifyPrograms) sent_.resize(static_cast<std::size_t>(kFramePages) * kPayloadSize);
  for (int m = 0; m <= kPicturePages; ++m) {
    std::uint8_t* page = frame + static_cast<std::size_t>(m) * kPageSize;
    if (m < kPicturePages) {
      SetPageLink(page, p + static_cast<std::uint32_t>(m) + 1, 0, 0);
    } else {
      const bool lastOfWipe = kind == 1 && index == totalFrames - 1;
      SetPageLink(page, q, lastOfWipe ? kLastFrameMarkValue : 0, kFrameEndMark);
    }
    if (write && VerifyPrograms)
      std::memcpy(&sent_[static_cast<std::size_t>(m) * kPayloadSize], page, kPayloadSize);
    if (write && hooks.PageSent) hooks.PageSent(page);
    if (write && !flash_.WriteFlashPage(page, p + static_cast<std::uint32_t>(m), 1)) return -2;
  }
  if (write && VerifyPrograms && !CheckFramePages(p)) return -2;

  if (ResumeMode == 0 || !FrameOnFlash) {
    if (hooks.NoteFrameOnFlash) hooks.NoteFrameOnFlash(Channel, CurrentChip, index);
  }
  return 0;
}

bool ClipStore::CheckFramePages(std::uint32_t lead) {
  std::vector<std::uint8_t> page(kPageSize, 0);
  for (int m = 0; m < kFramePages; ++m) {
    const std::uint32_t row = lead + static_cast<std::uint32_t>(m);
    if (!flash_.ReadFlashPage(page.data(), row, 1)) return false;
    const std::uint8_t* want = &sent_[static_cast<std::size_t>(m) * kPayloadSize];
    if (std::memcmp(page.data(), want, kPayloadSize) != 0) {
      ++VerifyMismatches;
      op_.message("Verify error: row " + std::to_string(row) +
                  " reads back different from what was written. You can continue later.");
      return false;
    }
  }
  return true;
}

void ClipStore::CommitCellMap() {
  for (int c = 0; c < kCellCount; ++c)
    if (!IsCellEmpty(PendingMap[c])) CellMap[c] = PendingMap[c];
  std::fill(PendingMap.begin(), PendingMap.end(), 0);
}

std::vector<std::uint8_t> ClipStore::BuildSystemArea() {
  for (int c = 0; c < kSystemCells; ++c) {
    ClearCell(CellMap[c]);
    CellMap[c] |= kCellSystem;
  }
  CommitCellMap();
  std::vector<std::uint8_t> image(static_cast<std::size_t>(kSystemAreaPages) * kPageSize, 0);
  auto page = [&image](int i) { return &image[static_cast<std::size_t>(i) * kPageSize]; };
  for (int n = 0; n < kClipSlots; ++n) {
    ClipDirectory[n].pack(page(n));
    if (IsClipValid(n)) SetPageLink(page(n), ClipDirectory[n].StartPage, 0, kFrameEndMark);
  }
  for (int k = 0; k < kMapPages; ++k) {
    for (std::size_t w = 0; w < kMapBytesPerPage / 2; ++w)
      PutU16(page(kClipSlots + k) + 2 * w,
             CellMap[static_cast<std::size_t>(k) * (kMapBytesPerPage / 2) + w]);
  }
  std::memcpy(page(kClipSlots + kMapPages), Thumbnails.data(),
              static_cast<std::size_t>(2 * kClipSlots) * kPageSize);
  return image;
}

bool ClipStore::ProgramSystemArea(const std::vector<std::uint8_t>& image) {
  for (int c = 0; c < kSystemCells; c += kCellsPerBlock)
    if (!flash_.EraseFlashBlock(static_cast<std::uint32_t>(c) * kPagesPerCell)) return false;
  // Records and map pages go through the page ECC, thumbnails as they are; the page access
  // leaves an ECC page encoded, so each goes out from a copy.
  std::vector<std::uint8_t> page(kPageSize);
  for (int i = 0; i < kSystemAreaPages; ++i) {
    std::memcpy(page.data(), &image[static_cast<std::size_t>(i) * kPageSize], kPageSize);
    std::uint32_t row = 0;
    int ecc = 1;
    if (i < kClipSlots) {
      row = static_cast<std::uint32_t>(i);
    } else if (i < kClipSlots + kMapPages) {
      row = static_cast<std::uint32_t>(kMapFirstPage + i - kClipSlots);
    } else {
      row = static_cast<std::uint32_t>(kThumbFirstPage + i - kClipSlots - kMapPages);
      ecc = 0;
    }
    if (!flash_.WriteFlashPage(page.data(), row, ecc)) return false;
  }
  return true;
}

bool ClipStore::SaveDirectory() {
  return RestoreSystemArea(BuildSystemArea());
}

bool ClipStore::RestoreSystemArea(const std::vector<std::uint8_t>& image) {
  if (image.size() != static_cast<std::size_t>(kSystemAreaPages) * kPageSize) return false;
  // Between the erase and the last page the chip has no directory: the copy lets an interrupted
  // save be completed later instead of losing every clip on the chip.
  const std::filesystem::path pending = PendingSystemAreaPath(CurrentChip);
  const bool kept = !pending.empty() && WriteSystemAreaFile(pending, CurrentChip, image);
  if (!ProgramSystemArea(image) || !LoadDirectory()) return false;
  if (kept) RemovePendingSystemArea(CurrentChip);
  return true;
}

void ClipStore::ClearMaps() {
  std::fill(CellMap.begin(), CellMap.end(), 0);
  std::fill(PendingMap.begin(), PendingMap.end(), 0);
}

void ClipStore::ClearPendingMap() {
  std::fill(PendingMap.begin(), PendingMap.end(), 0);
}

void ClipStore::ClearDirectory() {
  ClipDirectory.fill(ClipRecord{});
}

// ---------------------------------------------------------------- connection and load

void ClipStore::SetStatusText(const std::string& text) {
  status_ = text;
  op_.setStatus(0, text);
}

void ClipStore::ConnectChannel() {
  switch (Channel) {
    case 1:
      SelectChip(2);
      break;
    case 2:
      SelectChip(SuperWipeMask ? 6 : 4);
      break;
    case 3:
      SelectChip(8);
      break;
    default:
      SelectChip(0);
      break;
  }
}

void ClipStore::SelectChip(int chip) {
  DisableControls();
  ShowDisconnected();
  CurrentChip = std::clamp(chip, 0, kChipCount - 1);
  flash_.SetChipSelect(CurrentChip);
  ShowConnected();
  op_.setCursor(Operator::Cursor::Arrow);
  if (listener_ != nullptr) listener_->ChipShown(CurrentChip);
  EnableControls();
}

void ClipStore::ShowConnected() {
  connected_ = true;
  flash_.BeginFlashAccess();
  // A rewrite of this chip's system area that was cut short is completed from its copy first;
  // what the chip holds now may lack its directory.
  const bool complete =
      HasPendingSystemArea(CurrentChip) &&
      op_.confirm("The directory of chip " + std::to_string(CurrentChip) +
                  " was being rewritten when the program stopped. Complete it now?");
  if (complete ? CompletePendingSystemArea() : LoadDirectory()) {
    flash_.EndFlashAccess();
    flash_.SelectClip(CurrentChip, 0);
    SetStatusText("Connected");
  } else {
    // A load cut short leaves records and map partly from the chip shown before; nothing may
    // take them for this chip's.
    ClearDirectory();
    ClearMaps();
    DropConnection();
  }
}

void ClipStore::ShowDisconnected() {
  CurrentChip = 0;
  connected_ = false;
  SetStatusText("Disconnected");
  if (listener_ != nullptr) listener_->ChannelCleared();
  op_.setProgress(0);
}

void ClipStore::DropConnection() {
  ShowDisconnected();
  EnableControls();
}

void ClipStore::DisableControls() {
  op_.setControlsEnabled(false);
}

void ClipStore::EnableControls() {
  if (listener_ != nullptr) listener_->CancelOffered(false);
  op_.setControlsEnabled(true);
  op_.setTitle("Vennor");
}

bool ClipStore::LoadDirectory() {
  if (!ReadClipRecords() || !ReadCellMap() || !ReadThumbnails()) return false;
  if (listener_ != nullptr) listener_->DirectoryLoaded();
  return true;
}

bool ClipStore::ReadClipRecords() {
  std::vector<std::uint8_t> page(kPageSize);
  for (int n = 0; n < kClipSlots; ++n) {
    if (!flash_.ReadFlashPage(page.data(), static_cast<std::uint32_t>(n), 1)) return false;
    ClipDirectory[n] = ClipRecord::unpack(page.data());
    if (!ClipDirectory[n].isValid()) ClipDirectory[n] = ClipRecord{};
  }
  return true;
}

bool ClipStore::ReadCellMap() {
  std::vector<std::uint8_t> page(kPageSize);
  for (int k = 0; k < kMapPages; ++k) {
    if (!flash_.ReadFlashPage(page.data(), static_cast<std::uint32_t>(kMapFirstPage + k), 1))
      return false;
    for (std::size_t w = 0; w < kMapBytesPerPage / 2; ++w)
      CellMap[static_cast<std::size_t>(k) * (kMapBytesPerPage / 2) + w] = GetU16(&page[2 * w]);
  }
  return true;
}

std::string ClipStore::FreeSpaceHint() const {
  const int f = CountFreeCells();
  return std::to_string(f * 100 / kCellCount) + "% (" + std::to_string(f / 2) + " frames free)";
}

bool ClipStore::ReadThumbnails() {
  for (int j = 0; j < 2 * kClipSlots; ++j) {
    if (!flash_.ReadFlashPage(&Thumbnails[static_cast<std::size_t>(j) * kPageSize],
                              static_cast<std::uint32_t>(kThumbFirstPage + j), 0))
      return false;
  }
  return true;
}

QImage ClipStore::ThumbnailImage(int n) const {
  QImage img(kThumbWidth, kThumbHeight, QImage::Format_RGB16);
  const std::uint8_t* slot = &Thumbnails[static_cast<std::size_t>(n) * kThumbSlotBytes];
  for (int r = 0; r < kThumbHeight; ++r) {
    auto* line = reinterpret_cast<std::uint16_t*>(img.scanLine(r));
    for (int x = 0; x < kThumbWidth; ++x) line[x] = GetU16(slot + kThumbRowBytes * r + 2 * x);
  }
  return img;
}

void ClipStore::BeginRunning() {
  Running = true;
  if (listener_ != nullptr) listener_->CancelOffered(true);
}

void ClipStore::ConfirmCancel() {
  if (!op_.confirm("Are you shure to cancel?")) return;
  Running = false;
  if (listener_ != nullptr) listener_->CancelOffered(false);
}

}  // namespace orvana
