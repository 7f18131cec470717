#pragma once

// The write of a clip into every chip of a channel, with "Safe write": how far it came is kept in
// the settings and in the resume file, so a write stopped by a cancel, a failure or the end of
// the program can be continued and ends with the same flash as one that never stopped.
// Headless: the main window, the command line and the tests drive the same object.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/Operator.h"
#include "media/MediaController.h"
#include "media/ResumeFile.h"
#include "media/SourceSelection.h"
#include "store/ClipRecord.h"
#include "store/Journal.h"

namespace orvana {

class ClipStore;

// Where the time of the frames built and written in a pass went, in microseconds.
struct WriteTimings {
  int FramesBuilt = 0;
  int FramesPlaced = 0;
  double DecodeMicros = 0;  // seek, grab picture and sound
  double EncodeMicros = 0;  // fit, line coding, sound, thumbnail
  double PlaceMicros = 0;   // WriteFrame: allocation, erase, ECC and transfer of the pages
  double StallMicros = 0;   // waiting for a frame the worker had not finished (overlapped only)
  int FramesReused = 0;     // copied from what an earlier chip's pass built ahead
};

// What every frame of a pass is built with.
struct WritePassFrames {
  int FramesToWrite = 0;
  int Wrap = 0;
  bool Timecode = false;
  int ClipSourceWidth = 0;
  int ClipSourceHeight = 0;
  std::uint8_t* ThumbnailSlot = nullptr;  // filled at frame FramesToWrite / 2
};

// Chip frames built ahead for the later chips of a channel. The chips of a clip take their
// pictures from the same source frames, so the pass that has just decoded a frame also builds
// the later chips' frames from it, and their passes copy those instead of decoding the source
// again. Bounded by a memory budget; a frame that did not fit is built by its own pass. Used by
// one pass at a time (the pass's worker included), never concurrently.
class FramesAhead {
 public:
  void Begin(std::vector<int> chips, std::size_t budgetBytes);
  void Clear();
  // The channel's chips after `chip`, in the order the write takes them.
  std::vector<int> LaterChips(int chip) const;
  bool HasRoom() const;
  // Pages 0 to 72 of a built frame; a frame of the thumbnail is never kept (each chip's pass
  // fills its own chip's thumbnail while building it).
  void Put(int chip, int i, const WritePassFrames& pass, const std::uint8_t* pages);
  // Copies a kept frame into `pages` and forgets it; false when none was kept for this pass.
  bool Take(int chip, int i, const WritePassFrames& pass, std::uint8_t* pages);

 private:
  struct Kept {
    WritePassFrames pass;
    std::vector<std::uint8_t> pages;
  };
  std::vector<int> chips_;
  std::size_t budget_ = 0;
  std::size_t used_ = 0;
  std::map<std::pair<int, int>, Kept> frames_;
};

// Decodes and encodes one chip's frames into two frame buffers: the sequential pass uses one,
// the overlapped pass builds the next frame into the other on a worker thread. Kept apart from
// the store side because the media and store layers each define the page constants.
class WriteFrameSource {
 public:
  // With `ahead`, frames are taken from and built ahead into it (see FramesAhead).
  static std::unique_ptr<WriteFrameSource> Create(MediaSources& sources,
                                                  FramesAhead* ahead = nullptr);
  virtual ~WriteFrameSource() = default;
  // silent: the frame's sound is silence whatever the source holds.
  virtual void Build(int slot, int chip, int i, const WritePassFrames& pass, bool silent,
                     WriteTimings& timings) = 0;
  virtual std::uint8_t* Buffer(int slot) = 0;
  // Set when a frame could not be had (a copy whose source device stopped answering); the
  // write stops there, continuable.
  virtual bool Failed() const { return false; }
  // The source a chip takes its pictures from ("clip", "alpha", "wipe"), and whether it is open.
  static bool SourceOpen(const MediaSources& sources, int chip, std::string& slotName);
};

class WriteProcess {
 public:
  WriteProcess(ClipStore& store, SourceSelection& selection, MediaSources& sources, Operator& op);
  ~WriteProcess();
  WriteProcess(const WriteProcess&) = delete;
  WriteProcess& operator=(const WriteProcess&) = delete;

  void WriteButtonClick();
  void WriteChannel();
  // k: 0 clip, 1 super wipe, 2 logo; n: the clip number of the first pass, -1 on the first.
  bool WriteChip(int k, int n);

  ResumeFile& resumeFile() { return resume_; }

  // True when the last WriteChannel completed every chip of the channel.
  bool Completed = false;
  // Wait after the trackbar moves to frame 0, as the sources settle (ms).
  int SettleMs = 500;
  // Timecode burnt into clip pictures.
  bool Timecode = false;
  // Build frame i + 1 on a worker thread while frame i is placed. Device traffic and every
  // operator call stay on the calling thread; the flash is the same as without it.
  bool Overlap = false;
  // The date part of the comment; default: today in the system locale's short format.
  std::function<std::string()> Today;
  WriteTimings Timings;

  // A copy: the frames come from this source instead of the open files (no file needs to be
  // open), and each chip's record takes its sound flag and comment from that chip's record in
  // CopyRecords. The journal names the operation JournalOperation ("copy"); empty: "write" or
  // "continue".
  std::function<std::unique_ptr<WriteFrameSource>()> MakeFrameSource;
  std::map<int, ClipRecord> CopyRecords;
  std::string JournalOperation;
  // Memory the frames built ahead for later chips may take (0: every pass decodes its own).
  std::size_t AheadBudgetBytes = std::size_t{192} << 20;

 private:
  bool SourcesPresent();
  // False, once the operator has been told, when the pass would not fit into an empty chip.
  bool FitsOnChip(int kind);
  std::string TodayText() const;
  void SetStatus0(const std::string& text);

  ClipStore& store_;
  SourceSelection& selection_;
  MediaSources& sources_;
  Operator& op_;
  ResumeFile resume_;
  // The continued chip already lists the clip: its frames are all on flash, none is written.
  bool finishing_ = false;
  // What the journal is told of the channel's write, and the digest of the chip being written.
  JournalEntry journal_;
  PageDigest digest_;
  FramesAhead ahead_;
};

// The first chip of each channel's group is the one the write asks the number and comment for;
// the other chips store "No comment" after the date.
bool ChipTakesComment(int chip);

// "Connected, writing clip, speed-1.20 MB/Sec, remaining time - 5 min" for a frame that took
// `elapsedMs` with `framesLeft` frames (the current one included) still to go.
std::string WriteSpeedText(const std::string& savedStatus, std::uint32_t elapsedMs, int framesLeft);

}  // namespace orvana
