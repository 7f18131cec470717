#pragma once

#include <QImage>
#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/Operator.h"
#include "store/ChipLayout.h"
#include "store/ClipRecord.h"
#include "store/FlashPort.h"

namespace orvana {

// The write process fills these; the store calls them around every frame it places so that an
// interrupted write can be continued. Empty hooks mean "not on flash" and "nothing to note".
struct WriteHooks {
  std::function<bool(int channel, int chip, int frame)> IsFrameOnFlash;
  std::function<void(int channel, int chip, int frame)> NoteFrameOnFlash;
  // The loop check box as it is at the moment a frame is placed.
  std::function<bool()> LoopChecked;
  // Each page payload (7280 bytes) just before it is programmed, in chain order.
  std::function<void(const std::uint8_t* payload)> PageSent;
};

// What a view of the channel is told when the store's state changes. The channel view (thumbnail
// strip and map) is one; the window shows that.
class ChannelListener {
 public:
  virtual ~ChannelListener() = default;
  // Disconnected: no directory to show, the map blank.
  virtual void ChannelCleared() = 0;
  // A chip's directory, map and thumbnails have been read.
  virtual void DirectoryLoaded() = 0;
  // The chip selection has ended on `chip` (whether its directory loaded or not).
  virtual void ChipShown(int chip) = 0;
  // The Cancel button of a running operation is offered (true) or withdrawn (false).
  virtual void CancelOffered(bool offered) = 0;
};

// Keeps `image` (a system area of BuildSystemArea's layout) for chip `chip` in `file`, whole or
// not at all.
bool WriteSystemAreaFile(const std::filesystem::path& file, int chip,
                         const std::vector<std::uint8_t>& image);

// The channel state of one connected chip and every operation on it: directory and maps,
// allocation and frame placement, load, delete, format and read-back. The window, the command
// line and the tests drive it; what a person sees of it is a ChannelListener's business.
class ClipStore {
 public:
  ClipStore(FlashPort& flash, Operator& op);
  ClipStore(const ClipStore&) = delete;
  ClipStore& operator=(const ClipStore&) = delete;

  // ---- layout, directory, allocation ----
  bool IsClipValid(int n) const;
  bool ReleaseCell(int cell);
  int CountFreeCells() const;
  int FindFreeCells(int length, int clip) const;
  bool BlockHeldByOtherClip(int cell, int clip) const;
  void SetClipRecord(int slot, int width, int height, int kind, int hasAudio,
                     const std::string& comment, int sourceFrames, int frameCount,
                     int recordClipNumber, std::uint32_t startPage);
  int FirstFreeClipNumber() const;
  bool MayWritePages() const { return ResumeMode == 0 || !FrameOnFlash; }
  // frame: 73 pages of 8192 bytes (lead page first); spent once programmed.
  // 0 done, -1 no free cells, -2 a page program failed, -3 a block erase failed.
  int WriteFrame(std::uint8_t* frame, int clip, int kind, int totalFrames, int index);
  // Read every page of a frame back after programming it and fail the frame (-2) when one
  // differs from what was sent.
  bool VerifyPrograms = false;
  int VerifyMismatches = 0;
  // Rewrites the chip's system area (directory, cell map, thumbnails) from memory and reloads it.
  bool SaveDirectory();
  // The system area as SaveDirectory programs it: the 100 record pages, the map pages and the
  // thumbnail pages, in that order (commits the pending cells to the CellMap).
  std::vector<std::uint8_t> BuildSystemArea();
  // Erases the system blocks and programs an image of BuildSystemArea's layout.
  bool ProgramSystemArea(const std::vector<std::uint8_t>& image);

  // ---- the copy kept while a system area is rewritten ----
  // Names the device in the copy's file name; empty keeps no copy (in-memory test chips).
  std::string DeviceName;
  // The file of chip `chip`'s copy, empty without a DeviceName.
  std::filesystem::path PendingSystemAreaPath(int chip) const;
  bool HasPendingSystemArea(int chip) const;
  // Programs the kept copy of CurrentChip's system area, reloads it and drops the copy.
  bool CompletePendingSystemArea();
  void RemovePendingSystemArea(int chip) const;
  // Puts an image of BuildSystemArea's layout on CurrentChip as SaveDirectory puts its own (a
  // copy kept until it is programmed and read back) and loads it.
  bool RestoreSystemArea(const std::vector<std::uint8_t>& image);
  void CommitCellMap();
  void ClearMaps();
  void ClearPendingMap();
  void ClearDirectory();

  // ---- connection and load ----
  // Selects the chip the current channel shows and loads its directory.
  void ConnectChannel();
  void SelectChip(int chip);
  void ShowConnected();
  void ShowDisconnected();
  void DropConnection();
  void DisableControls();
  void EnableControls();
  bool LoadDirectory();
  bool ReadClipRecords();
  bool ReadCellMap();
  bool ReadThumbnails();
  // Marks a cancellable operation as running and offers the Cancel button.
  void BeginRunning();
  // Asks whether to cancel; on Yes the running operation stops at its next test.
  void ConfirmCancel();
  // Thumbnail slot n as a 90 x 72 picture of 16 bits per pixel.
  QImage ThumbnailImage(int n) const;
  // The free space of the current CellMap as the map's hint shows it ("99% (8186 frames free)").
  std::string FreeSpaceHint() const;
  // True from a successful chip selection until the next disconnect.
  bool Connected() const { return connected_; }
  // Status panel 0 as the store last set it.
  const std::string& StatusText() const { return status_; }
  void SetStatusText(const std::string& text);
  // The view told of changes (null for none).
  void SetListener(ChannelListener* listener) { listener_ = listener; }

  // ---- delete and format ----
  // Deletes clip n from every chip of the group of the chip shown once the operator confirms;
  // an n outside 0..99 (nothing selected) ends after the question.
  void DeleteFromChannel(int n);
  void DeleteClipOnChip(int n);
  bool DeleteClip(int n);
  // Formats every chip of the channel once the operator confirms.
  void FormatChannel(bool quick);
  bool FormatChip(bool quick);

  // ---- read-back ----
  // Work-folder path of clip n of `chip`: "<n>.<chip>".
  static std::filesystem::path ClipFilePath(int n, int chip);
  // Reads clip n of CurrentChip into `target` (default: ClipFilePath). false after a failed
  // read, a cancel, an empty record or a file that could not be written; no file then.
  bool ReadClipBack(int n, const std::filesystem::path& target = {});
  // SHA-256 (hex) of the page payloads of clip n's chain on CurrentChip through `chainFrames`
  // frames, as the journal records a write; empty after a read failure or a damaged chain.
  std::string ReadClipDigest(int n, int chainFrames);

  // ---- channel state ----
  int CurrentChip = 0;
  std::array<ClipRecord, kClipSlots> ClipDirectory{};
  std::vector<CellState> CellMap;
  std::vector<CellState> PendingMap;
  std::vector<std::uint8_t> Thumbnails;  // 100 slots of 16,384 bytes
  std::array<int, kChipCount> SelectedClip{};
  int ClipNumber = 0;
  int ClipStartPage = 0;
  int LoopTargetPage = 0;
  int ResumeMode = 0;
  bool FrameOnFlash = false;
  bool Running = false;

  int Channel = 0;
  bool SuperWipeMask = false;
  WriteHooks hooks;

  FlashPort& flash() { return flash_; }
  Operator& op() { return op_; }

 private:
  FlashPort& flash_;
  Operator& op_;
  ChannelListener* listener_ = nullptr;
  bool connected_ = false;
  std::string status_;
  std::vector<std::uint8_t> sent_;  // the payloads of the frame being placed, when verified
  bool CheckFramePages(std::uint32_t lead);
};

}  // namespace orvana
