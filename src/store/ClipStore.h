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
#include "store/TScrollBase.h"

namespace orvana {

// The write process fills these; the store calls them around every frame it places so that an
// interrupted write can be continued. Empty hooks mean "not on flash" and "nothing to note".
struct WriteHooks {
  std::function<bool(int channel, int chip, int frame)> IsFrameOnFlash;
  std::function<void(int channel, int chip, int frame)> NoteFrameOnFlash;
  // The loop check box as it is at the moment a frame is placed.
  std::function<bool()> LoopChecked;
};

enum class MouseButton { Left, Right, Middle };

// The channel state of one connected chip and every operation on it: directory and maps,
// allocation and frame placement, load, map and timeline, delete, format and read-back. The main
// window owns one and shows it; the command line and the tests drive it directly.
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
  bool SaveDirectory();
  void CommitCellMap();
  void ClearMaps();
  void ClearPendingMap();
  void ClearDirectory();

  // ---- connection, load, map, timeline ----
  void Connect1ButtonClick();
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
  void FillTimeline();
  void AddTimelineEntry(int n);
  void DrawChannelMap();
  void Image3MouseDown(MouseButton button, int x, int y);
  void PaintBox1MouseDown(MouseButton button, int x, int y);
  void BeginRunning();
  void CancelButtonClick();
  // Thumbnail slot n as a 90 x 72 picture of 16 bits per pixel.
  QImage ThumbnailImage(int n) const;
  // The hint text of the map for the current CellMap ("99% (8186 frames free)").
  std::string FreeSpaceHint() const;

  // ---- delete and format ----
  void Deleteclip0Click();
  void DeleteClipOnChip(int n);
  bool DeleteClip(int n);
  void Format0Click(bool quick);
  bool FormatChip(bool quick);
  // The hidden "Defragment" item: nothing to do.
  void Defragment0Click() {}

  // ---- read-back ----
  // Work-folder path of clip n of `chip`: "<n>.<chip>".
  static std::filesystem::path ClipFilePath(int n, int chip);
  // Reads clip n of CurrentChip into `target` (default: ClipFilePath). false after a failed
  // read, a cancel, an empty record or a file that could not be written; no file then.
  bool ReadClipBack(int n, const std::filesystem::path& target = {});

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
  TScrollBase Timeline{1118, 113, 110};

  // What the window shows of this state.
  bool Connected = false;  // format menu items, popups and WriteButton enabled
  bool CancelShown = false;
  std::string StatusPanel0;
  std::string MapHint;
  std::string ChannelCaption;
  QImage MapImage{1024, 128, QImage::Format_RGB32};
  std::function<void()> onMapChanged;

  FlashPort& flash() { return flash_; }
  Operator& op() { return op_; }

 private:
  void setStatus0(const std::string& text);
  bool writeMapPages();

  FlashPort& flash_;
  Operator& op_;
};

}  // namespace orvana
