#include "media/WriteProcess.h"

#include <QDate>
#include <QLocale>
#include <algorithm>
#include <chrono>
#include <future>
#include <thread>

#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "common/Text1252.h"
#include "common/Tick.h"
#include "store/ChipLayout.h"
#include "store/ClipStore.h"

namespace orvana {

namespace {

constexpr const char* kSafeWrite = "Safe write";
constexpr int kChipFrameBytes = 598016;  // 73 pages of 8192 bytes

ProfileFile settings() {
  return ProfileFile(paths::settingsFile(kMainIni));
}

// Where a completed chip pass keeps its journal digest until the channel's write ends.
std::string DigestKey(int chip) {
  return "Digest" + std::to_string(chip);
}

double nowMicros() {
  return std::chrono::duration<double, std::micro>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// A decimal integer as the number prompt takes it: optional sign and digits, nothing else.
bool parseDecimal(const std::string& text, int& value) {
  std::size_t p = 0;
  bool negative = false;
  if (p < text.size() && (text[p] == '+' || text[p] == '-')) negative = text[p++] == '-';
  if (p == text.size()) return false;
  long long v = 0;
  for (; p < text.size(); ++p) {
    if (text[p] < '0' || text[p] > '9') return false;
    v = v * 10 + (text[p] - '0');
    if (v > 0x80000000LL) return false;
  }
  if (negative) v = -v;
  if (v > 0x7FFFFFFFLL || v < -0x80000000LL) return false;
  value = static_cast<int>(v);
  return true;
}

}  // namespace

std::string WriteSpeedText(const std::string& savedStatus, std::uint32_t elapsedMs,
                           int framesLeft) {
  const std::uint32_t e = elapsedMs == 0 ? 1 : elapsedMs;
  float speed = static_cast<float>(kChipFrameBytes) / (static_cast<float>(e) * 1000.0f);
  const float remaining =
      static_cast<float>(framesLeft) * static_cast<float>(kChipFrameBytes) / 1048576.0f;
  const float divisor = speed == 0.0f ? 0.001f : speed;
  const long long seconds = static_cast<long long>(remaining / divisor);
  const std::string figure =
      seconds > 60 ? std::to_string(seconds / 60) + " min" : std::to_string(seconds) + " sec";
  QLocale locale = QLocale::system();
  locale.setNumberOptions(QLocale::OmitGroupSeparator);
  const std::string speedText = locale.toString(static_cast<double>(speed), 'f', 2).toStdString();
  return savedStatus + ", writing clip, speed-" + speedText + " MB/Sec, " + "remaining time - " +
         figure;
}

bool ChipTakesComment(int chip) {
  return chip == 0 || chip == 2 || chip == 4 || chip == 8;
}

WriteProcess::WriteProcess(ClipStore& store, SourceSelection& selection, MediaSources& sources,
                           Operator& op)
    : store_(store), selection_(selection), sources_(sources), op_(op) {
  store_.hooks.IsFrameOnFlash = [this](int channel, int chip, int i) {
    return finishing_ || resume_.IsFrameOnFlash(channel, chip, i);
  };
  store_.hooks.NoteFrameOnFlash = [this](int channel, int chip, int i) {
    resume_.NoteFrameOnFlash(channel, chip, i);
  };
  store_.hooks.LoopChecked = [this] { return selection_.LoopChecked; };
  store_.hooks.PageSent = [this](const std::uint8_t* payload) { digest_.AddPayload(payload); };
}

WriteProcess::~WriteProcess() {
  store_.hooks = WriteHooks{};
}

std::string WriteProcess::TodayText() const {
  if (Today) return Today();
  return QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat).toStdString();
}

void WriteProcess::SetStatus0(const std::string& text) {
  store_.SetStatusText(text);
}

void WriteProcess::WriteButtonClick() {
  int choice = 0;
  if (settings().readInt(kSafeWrite, "Active", 0) != 0) {
    const int picked = op_.choose("Continue or new write", {"Write new", "Continue write process"});
    choice = picked == 1 ? 1 : 0;
  }
  if (choice == 0) {
    WriteChannel();
    return;
  }
  selection_.Channel = settings().readInt(kSafeWrite, "WhatMedia", 0);
  store_.Channel = selection_.Channel;
  selection_.SelectStoredChannel();
  store_.ConnectChannel();
  store_.ResumeMode = 1;
  WriteChannel();
  store_.ResumeMode = 0;
}

// Every chip of the channel must have its source open before the first page is written: a pass
// that found its slot empty would store black pictures under a valid clip.
bool WriteProcess::SourcesPresent() {
  if (selection_.FramesToWrite <= 0) return true;  // the pass says "Invalid clip."
  if (MakeFrameSource) return true;                // a copy reads no file
  for (int chip : ChannelChips(store_.Channel)) {
    std::string slot;
    if (!WriteFrameSource::SourceOpen(sources_, chip, slot)) {
      op_.message("No " + slot + " file is open for chip " + std::to_string(chip) +
                  ". Open it before writing.");
      return false;
    }
  }
  return true;
}

// A source may be up to 2^31 frames long; refused here, before a question is asked or a page
// written, it also keeps the frame arithmetic of the pass far from overflowing.
bool WriteProcess::FitsOnChip(int kind) {
  const bool hold = (kind == 0 && !selection_.LoopChecked) || kind == 1;
  const std::int64_t frames = selection_.FramesToWrite;
  const std::int64_t total = frames + (hold ? kHoldFrames : 0);
  if (total <= kChipFrames) return true;
  op_.message("The clip is too long: " + std::to_string(frames) + " frames" +
              (hold ? " and " + std::to_string(kHoldFrames) + " hold frames" : std::string()) +
              ", but a chip holds at most " + std::to_string(kChipFrames) + " frames.");
  return false;
}

void WriteProcess::WriteChannel() {
  Completed = false;
  store_.Channel = selection_.Channel;
  store_.DisableControls();
  const auto chips = ChannelChips(store_.Channel);
  const int kind = ChannelKind(store_.Channel);
  if (!FitsOnChip(kind) || !SourcesPresent()) {
    store_.EnableControls();
    return;
  }
  journal_ = JournalEntry{};
  journal_.Device = store_.DeviceName;
  journal_.Operation = !JournalOperation.empty() ? JournalOperation
                       : store_.ResumeMode != 0  ? "continue"
                                                 : "write";
  journal_.Channel = ChannelName(store_.Channel);
  const auto t0 = std::chrono::steady_clock::now();
  bool allRan = true;
  ahead_.Begin(std::vector<int>(chips.begin(), chips.end()), AheadBudgetBytes);
  for (std::size_t c = 0; c < chips.size(); ++c) {
    store_.SelectChip(chips[c]);
    store_.DisableControls();
    // Writing over a chip whose directory did not load would take cells of stored clips.
    const bool ok = store_.Connected() && WriteChip(kind, c == 0 ? -1 : store_.ClipNumber);
    if (!ok && c + 1 < chips.size()) {
      allRan = false;
      break;
    }
    if (c + 1 == chips.size()) Completed = ok;
  }
  ahead_.Clear();
  // Only a write that reached the flash changed the device.
  if (!journal_.Chips.empty() && !journal_.Device.empty()) {
    journal_.Clip = store_.ClipNumber + 1;
    journal_.Frames = selection_.FramesToWrite;
    journal_.Result = Completed ? "completed" : store_.Running ? "failed" : "cancelled";
    journal_.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (!AppendJournal(journal_)) op_.message("Cannot write the journal.");
  }
  if (allRan) store_.SelectChip(chips.front());
  store_.EnableControls();
}

bool WriteProcess::WriteChip(int k, int n) {
  selection_.TrackBarPosition = 0;
  selection_.TrackBar1Change();
  // The window stays alive while the sources settle.
  const auto settleEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(SettleMs);
  while (std::chrono::steady_clock::now() < settleEnd) {
    op_.processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }

  finishing_ = false;
  const ProfileFile ini = settings();
  store_.ClipNumber = ini.readInt(kSafeWrite, "ClipNum", 0);
  const std::string savedComment = ini.readString(kSafeWrite, "Comment", "No comment");
  const int savedChip = ini.readInt(kSafeWrite, "Chip", 0);
  const bool resume = store_.ResumeMode != 0;
  if (resume && store_.CurrentChip < savedChip) {
    // Done before the stop: the journal gets the digest that pass kept.
    const std::string digest = ini.readString(kSafeWrite, DigestKey(store_.CurrentChip), "");
    if (!digest.empty()) journal_.Digests[store_.CurrentChip] = digest;
    return true;
  }

  const int chip = store_.CurrentChip;
  const bool firstChip = ChipTakesComment(chip);
  std::string operatorText;
  if (!resume) {
    resume_.DeleteResumeFile();
    const int free = store_.FirstFreeClipNumber();
    std::string number = std::to_string(free + 1);
    if (firstChip && !op_.prompt("Enter media number (1.. 100)", number)) return false;
    int value = 1;
    if (!parseDecimal(number, value)) value = 1;
    store_.ClipNumber = value - 1;
    operatorText = "No comment";
    if (firstChip && CopyRecords.empty() && !op_.prompt("Enter comment:", operatorText))
      return false;
    if (n != -1) store_.ClipNumber = n;
  }

  const int framesToWrite = selection_.FramesToWrite;
  if (framesToWrite <= 0) {
    op_.message("Invalid clip.");
    return false;
  }
  if (!FitsOnChip(k)) return false;
  // A continued pass of the interrupted chip keeps the comment it began with; the passes after
  // it store what an uninterrupted write would have stored there.
  std::string comment;
  if (resume && chip == savedChip)
    comment = savedComment;
  else
    comment = TodayText() + " - " + (resume ? std::string("No comment") : operatorText);
  if (store_.ClipNumber < 0 || store_.ClipNumber > 99) {
    op_.message("Invalid clip number.");
    return false;
  }
  const bool hold = (k == 0 && !selection_.LoopChecked) || k == 1;
  const int total = framesToWrite + (hold ? kHoldFrames : 0);
  const int wrap = hold ? 0 : 1;
  // A continued chip that already lists this very clip was stopped while its pass was being
  // completed: every frame is on flash, only the completion is left to do.
  std::uint32_t listedStart = 0;
  std::string recordComment = utf8ToCp1252(comment);
  const auto copied = CopyRecords.find(chip);
  const ClipRecord* copyOf = copied != CopyRecords.end() ? &copied->second : nullptr;
  if (copyOf != nullptr) {
    // A copy stores the comment it was given, date and all.
    recordComment = copyOf->commentText();
    comment = cp1252ToUtf8(recordComment);
  }
  finishing_ = false;
  if (store_.IsClipValid(store_.ClipNumber)) {
    // Told apart from another clip under the same number by its kind, its length and, once the
    // frames are placed again, its first page.
    const ClipRecord& r = store_.ClipDirectory[store_.ClipNumber];
    finishing_ = resume && chip == savedChip && r.Kind == k && r.FrameCount == framesToWrite;
    if (!finishing_) {
      op_.message("Clip #" + std::to_string(store_.ClipNumber + 1) + " already exists. Try other.");
      return false;
    }
    listedStart = r.StartPage;
    recordComment = r.commentText();  // the chip keeps what its pass stored
    // Placed again as the pass placed them, the frames must find their cells free.
    for (int c = kSystemCells; c < kCellCount; ++c) {
      CellState& cell = store_.CellMap[c];
      if (!(cell & (kCellUnusable | kCellSystem)) && (cell & kCellAllocated) &&
          CellClip(cell) == store_.ClipNumber)
        ClearCell(cell);
    }
  }
  if (store_.CountFreeCells() < 2 * total) {
    op_.message("Not enough space to write.");
    return false;
  }

  op_.setProgressMax(framesToWrite - 1);
  op_.setCursor(Operator::Cursor::Wait);
  auto builder = MakeFrameSource ? MakeFrameSource() : WriteFrameSource::Create(sources_, &ahead_);
  std::uint32_t frameStart = tickCount();
  const std::string savedStatus = store_.StatusText();
  store_.ClearPendingMap();

  ProfileFile out = settings();
  out.writeInt(kSafeWrite, "ClipNum", store_.ClipNumber);
  out.writeString(kSafeWrite, "Comment", comment);
  out.writeInt(kSafeWrite, "Active", 1);
  out.writeInt(kSafeWrite, "WhatMedia", store_.Channel);
  out.writeInt(kSafeWrite, "Chip", chip);
  const int resumeFrame = finishing_ ? total : resume ? out.readInt(kSafeWrite, "Frame", 0) : 0;

  FlashPort& flash = store_.flash();
  flash.BeginFlashAccess();
  store_.BeginRunning();
  digest_.Reset();
  journal_.Chips.push_back(chip);
  journal_.ChainFrames = total;
  if (journal_.Comment.empty()) journal_.Comment = cp1252ToUtf8(recordComment);

  WritePassFrames pass;
  pass.FramesToWrite = framesToWrite;
  pass.Wrap = wrap;
  pass.Timecode = Timecode;
  pass.ClipSourceWidth = selection_.ClipSourceWidth;
  pass.ClipSourceHeight = selection_.ClipSourceHeight;
  pass.ThumbnailSlot =
      store_.Thumbnails.data() + static_cast<std::size_t>(store_.ClipNumber) * kThumbSlotBytes;

  // Frames below the resume frame are only placed again when the resume file confirms them;
  // any other frame is decoded and written, never programmed from a stale buffer. Nothing is
  // written before the first unconfirmed frame, so the file read once here answers for all.
  int confirmedBelow = finishing_ ? total : 0;
  while (confirmedBelow < resumeFrame &&
         resume_.IsFrameOnFlash(store_.Channel, chip, confirmedBelow))
    ++confirmedBelow;
  auto needsBuild = [&](int i) {
    return i >= resumeFrame || i == framesToWrite / 2 || i >= confirmedBelow;
  };
  // The hold frames behind the clip are silent: the held last frame's sound would repeat.
  auto buildInto = [&, b = builder.get()](int slot, int i) {
    b->Build(slot, chip, i, pass, i >= framesToWrite, Timings);
  };

  std::future<void> next;
  if (Overlap && total > 0 && needsBuild(0)) next = std::async(std::launch::async, buildInto, 0, 0);

  auto finish = [&]() {
    if (next.valid()) next.wait();
    op_.setCursor(Operator::Cursor::Arrow);
  };

  for (int i = 0; i < total; ++i) {
    const int slot = Overlap ? i % 2 : 0;
    if (needsBuild(i)) {
      frameStart = tickCount();
      if (Overlap) {
        const double w0 = nowMicros();
        // A slow frame (a loaded machine, a costly codec) must not freeze the window meanwhile.
        while (next.wait_for(std::chrono::milliseconds(2)) != std::future_status::ready)
          op_.processEvents();
        next.get();
        Timings.StallMicros += nowMicros() - w0;
      } else {
        buildInto(slot, i);
      }
    }
    if (Overlap && i + 1 < total && needsBuild(i + 1))
      next = std::async(std::launch::async, buildInto, (i + 1) % 2, i + 1);

    if (builder->Failed()) {
      finish();
      flash.EndFlashAccess();
      op_.message("Cannot read the source clip. You can continue later.");
      return false;
    }
    op_.setProgress(i);
    const double p0 = nowMicros();
    const int r = store_.WriteFrame(builder->Buffer(slot), store_.ClipNumber, k, total, i);
    Timings.PlaceMicros += nowMicros() - p0;
    ++Timings.FramesPlaced;

    if (!store_.Running) {
      finish();
      flash.EndFlashAccess();
      flash.SelectClip(chip, 0);
      op_.message("Process canceled. You can continue later.");
      return false;
    }
    if (r == -1) {
      finish();
      flash.EndFlashAccess();
      op_.message("Not enough memory.");
      return false;
    }
    if (r == -2) {
      finish();
      store_.DropConnection();
      return false;
    }
    if (r == -3) {
      finish();
      store_.DropConnection();
      op_.message("Flash erase error. If it is permanent error, you may be need format flash.");
      return false;
    }
    if (i < resumeFrame) {
      SetStatus0("Calculate point of break, please wait...");
    } else {
      SetStatus0(WriteSpeedText(savedStatus, tickCount() - frameStart, total - i));
      if (i % 2 == 1) settings().writeInt(kSafeWrite, "Frame", i);
    }
    op_.setTitle("Writing... " + std::to_string((i + 1) * 100 / framesToWrite) + "%");
    op_.processEvents();
  }
  finish();

  SetStatus0(savedStatus);
  selection_.TrackBarPosition = 0;
  selection_.TrackBar1Change();
  builder.reset();

  if (finishing_ && static_cast<std::uint32_t>(store_.ClipStartPage) != listedStart) {
    // Placed elsewhere than the listed clip: not this write's clip after all.
    finishing_ = false;
    flash.EndFlashAccess();
    op_.message("Clip #" + std::to_string(store_.ClipNumber + 1) + " already exists. Try other.");
    return false;
  }
  finishing_ = false;
  const MediaController* clip = sources_.ClipSource.get();
  const int hasAudio = copyOf != nullptr ? copyOf->HasAudio : clip != nullptr ? clip->HasAudio : 0;
  store_.SetClipRecord(store_.ClipNumber, 1920, 1080, k, hasAudio, recordComment,
                       selection_.ClipSourceFrames, framesToWrite, store_.ClipNumber,
                       static_cast<std::uint32_t>(store_.ClipStartPage));
  if (!store_.SaveDirectory()) {
    // The clip is not in the directory: not a completed pass. "Active" and the resume file stay,
    // so the write can be continued once the device answers again.
    store_.DropConnection();
    return false;
  }
  flash.EndFlashAccess();
  // A continued pass sent only part of the chain: the rest is read back for the digest.
  journal_.Digests[chip] = digest_.Pages() == static_cast<std::uint64_t>(total) * kFramePages
                               ? digest_.Hex()
                               : store_.ReadClipDigest(store_.ClipNumber, total);
  flash.SelectClip(chip, store_.ClipNumber);
  // The write is the channel's, not this chip's: until its last chip is done it stays
  // continuable, from the next chip on, with what that chip's pass would store.
  // Each key is written on its own, so the order makes every state a kill can leave
  // continuable: "Chip" moves on last, after what the next pass will read.
  ProfileFile done = settings();
  done.writeString(kSafeWrite, DigestKey(chip), journal_.Digests[chip]);
  done.writeInt(kSafeWrite, "Frame", 0);
  const auto chips = ChannelChips(store_.Channel);
  const auto at = std::find(chips.begin(), chips.end(), chip);
  if (at != chips.end() && at + 1 != chips.end()) {
    done.writeString(kSafeWrite, "Comment", TodayText() + " - No comment");
    resume_.DeleteResumeFile();
    done.writeInt(kSafeWrite, "Chip", *(at + 1));
  } else {
    done.writeInt(kSafeWrite, "Active", 0);
    resume_.DeleteResumeFile();
  }
  return true;
}

}  // namespace orvana
