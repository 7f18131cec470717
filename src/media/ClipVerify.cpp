#include "media/ClipVerify.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <set>
#include <vector>

#include "common/Text1252.h"
#include "media/WriteProcess.h"
#include "store/ChipLayout.h"
#include "store/ClipStore.h"

namespace orvana {

namespace {

std::string rowText(std::uint32_t row) {
  return "row " + std::to_string(row);
}

// What differs between a stored page and the page the write would have programmed.
std::string pageDifference(const std::uint8_t* got, const std::uint8_t* want) {
  std::size_t at = 0;
  while (at < kPayloadSize && got[at] == want[at]) ++at;
  if (at >= kPageLinkOffset && at < kPageLinkOffset + 6)
    return "page link " + std::to_string(GetPageLink(got)) + ", expected " +
           std::to_string(GetPageLink(want));
  char text[96];
  std::snprintf(text, sizeof text, "payload byte %zu is 0x%02X, expected 0x%02X", at, got[at],
                want[at]);
  return text;
}

// The comment as stored is "<date> - <operator's text>", cut to the record's length.
bool commentMatches(const std::string& stored, const std::string& operatorText) {
  const std::size_t dash = stored.find(" - ");
  if (dash == std::string::npos) return false;
  const std::string rest = stored.substr(dash + 3);
  const std::string want = utf8ToCp1252(operatorText);
  if (rest == want) return true;
  return stored.size() == ClipRecord::kCommentMax && want.compare(0, rest.size(), rest) == 0;
}

}  // namespace

ClipVerifier::ClipVerifier(ClipStore& store, SourceSelection& selection, MediaSources& sources,
                           Operator& op)
    : store_(store), selection_(selection), sources_(sources), op_(op) {}

VerifyResult ClipVerifier::Run(const VerifyRequest& request) {
  VerifyResult result;
  const int channel = selection_.Channel;
  const int slot = request.Slot;
  const int kind = ChannelKind(channel);
  const bool hold = (kind == 0 && !selection_.LoopChecked) || kind == 1;
  const int framesToWrite = selection_.FramesToWrite;
  if (slot < 0 || slot >= kClipSlots) {
    result.What = "Invalid clip number.";
    return result;
  }
  if (framesToWrite <= 0) {
    result.What = "Invalid clip.";
    return result;
  }
  const int total = framesToWrite + (hold ? kHoldFrames : 0);
  if (total > kChipFrames) {
    result.What = "The clip is too long for a chip.";
    return result;
  }
  const auto chips = ChannelChips(channel);
  for (const int chip : chips) {
    std::string name;
    if (!WriteFrameSource::SourceOpen(sources_, chip, name)) {
      result.What = "No " + name + " file is open for chip " + std::to_string(chip) + ".";
      return result;
    }
  }
  const MediaController* clip = sources_.ClipSource.get();
  const int hasAudio = clip != nullptr ? clip->HasAudio : 0;
  const int loopIndex = hold ? total - kHoldFrames : 0;

  auto builder = WriteFrameSource::Create(sources_);
  std::vector<std::uint8_t> thumbnail(kThumbSlotBytes, 0);
  WritePassFrames pass;
  pass.FramesToWrite = framesToWrite;
  pass.Wrap = hold ? 0 : 1;
  pass.Timecode = request.Timecode;
  pass.ClipSourceWidth = selection_.ClipSourceWidth;
  pass.ClipSourceHeight = selection_.ClipSourceHeight;
  pass.ThumbnailSlot = thumbnail.data();
  WriteTimings timings;

  std::vector<std::uint8_t> page(kPageSize, 0);
  op_.setProgressMax(total * static_cast<int>(chips.size()) - 1);
  op_.setCursor(Operator::Cursor::Wait);
  FlashPort& flash = store_.flash();
  int progress = 0;

  for (const int chip : chips) {
    result.Chip = chip;
    result.Frame = -1;
    result.Page = -1;
    std::fill(thumbnail.begin(), thumbnail.end(), 0);
    store_.SelectChip(chip);
    if (!store_.Connected()) {
      result.What = "Chip " + std::to_string(chip) + " is not connected.";
      op_.setCursor(Operator::Cursor::Arrow);
      return result;
    }
    auto differs = [&](std::string what) {
      result.Result = VerifyResult::Outcome::Different;
      result.What = std::move(what);
      op_.setCursor(Operator::Cursor::Arrow);
      return result;
    };
    if (!store_.IsClipValid(slot))
      return differs("clip " + std::to_string(slot + 1) + " is not on the chip");

    // The record as the write's pass sets it; the date in the comment is the day of the write.
    const ClipRecord r = store_.ClipDirectory[static_cast<std::size_t>(slot)];
    struct Field {
      const char* name;
      long got, want;
    };
    const Field fields[] = {
        {"Width", r.Width, 1920},
        {"Height", r.Height, 1080},
        {"FrameCount", r.FrameCount, framesToWrite},
        {"Kind", r.Kind, kind},
        {"HasAudio", r.HasAudio, hasAudio},
        {"ClipNumber", r.ClipNumber, slot},
        {"SourceFrames", r.SourceFrames, static_cast<std::uint16_t>(selection_.ClipSourceFrames)},
    };
    for (const Field& f : fields)
      if (f.got != f.want)
        return differs("record: " + std::string(f.name) + " " + std::to_string(f.got) +
                       ", expected " + std::to_string(f.want));
    if (request.Comment) {
      const std::string want = ChipTakesComment(chip) ? *request.Comment : "No comment";
      if (!commentMatches(r.commentText(), want))
        return differs("record: comment \"" + cp1252ToUtf8(r.commentText()) +
                       "\", expected \"<date> - " + want + "\"");
    }

    flash.BeginFlashAccess();
    store_.BeginRunning();
    auto buildInto = [&, b = builder.get()](int s, int i) {
      b->Build(s, chip, i, pass, i >= framesToWrite, timings);
    };
    std::future<void> next;
    if (request.Overlap) next = std::async(std::launch::async, buildInto, 0, 0);
    auto endChip = [&] {
      if (next.valid()) next.wait();
      flash.EndFlashAccess();
      op_.setCursor(Operator::Cursor::Arrow);
      return result;
    };

    std::vector<std::uint32_t> leads;
    std::set<int> cells;
    std::uint32_t lead = r.StartPage;
    for (int i = 0; i < total; ++i) {
      const int s = request.Overlap ? i % 2 : 0;
      if (request.Overlap) {
        while (next.wait_for(std::chrono::milliseconds(2)) != std::future_status::ready)
          op_.processEvents();
        next.get();
        if (i + 1 < total) next = std::async(std::launch::async, buildInto, (i + 1) % 2, i + 1);
      } else {
        buildInto(s, i);
      }
      result.Frame = i;
      result.Page = 0;
      result.Row = lead;

      // The frame must start a pair of free-standing cells of this clip that no earlier frame of
      // the chain used: anything else is a damaged link (or record, for the first frame).
      const int cell = static_cast<int>(lead / kPagesPerCell);
      bool placed =
          lead >= kFirstDataPage && lead % kPagesPerCell == 0 && cell + kFrameCells <= kCellCount;
      for (int u = cell; placed && u < cell + kFrameCells; ++u) {
        const CellState c = store_.CellMap[static_cast<std::size_t>(u)];
        placed = cells.insert(u).second && (c & kCellAllocated) &&
                 !(c & (kCellUnusable | kCellSystem)) && CellClip(c) == slot;
      }
      if (!placed) {
        std::string what = (i == 0 ? "record: StartPage " : "page link of the previous frame: ") +
                           rowText(lead) + " is not a frame of this clip";
        if (i > 0) {
          result.Frame = i - 1;
          result.Page = kPicturePages;
          result.Row = leads.back() + kPicturePages;
        }
        endChip();
        return differs(std::move(what));
      }
      leads.push_back(lead);

      std::uint8_t* want = builder->Buffer(s);
      std::uint32_t nextLead = 0;
      for (int m = 0; m <= kPicturePages; ++m) {
        const std::uint32_t row = lead + static_cast<std::uint32_t>(m);
        result.Page = m;
        result.Row = row;
        if (!flash.ReadFlashPage(page.data(), row, 1)) {
          result.What = "Read error at " + rowText(row) + ".";
          endChip();
          store_.DropConnection();
          return result;
        }
        std::uint8_t* expected = want + static_cast<std::size_t>(m) * kPageSize;
        if (m < kPicturePages) {
          SetPageLink(expected, row + 1, 0, 0);
        } else {
          nextLead = GetPageLink(page.data());
          const bool last = i == total - 1;
          const bool lastOfWipe = kind == 1 && last;
          SetPageLink(expected, last ? leads[static_cast<std::size_t>(loopIndex)] : nextLead,
                      lastOfWipe ? kLastFrameMarkValue : 0, kFrameEndMark);
        }
        if (std::memcmp(page.data(), expected, kPayloadSize) != 0) {
          std::string what = pageDifference(page.data(), expected);
          endChip();
          return differs(std::move(what));
        }
      }
      if (!store_.Running) {
        endChip();
        result.What = "Process canceled.";
        op_.message(result.What);
        return result;
      }
      ++result.FramesCompared;
      op_.setProgress(progress++);
      op_.setTitle("Verifying... " + std::to_string(progress * 100 / (total * int(chips.size()))) +
                   "%");
      op_.processEvents();
      lead = nextLead;
    }
    endChip();
    result.Frame = -1;
    result.Page = -1;
    result.Row = 0;

    // No cell may be held for the clip beyond its chain, and the thumbnail is the write's.
    int held = 0;
    for (int c = kSystemCells; c < kCellCount; ++c) {
      const CellState s = store_.CellMap[static_cast<std::size_t>(c)];
      if ((s & kCellAllocated) && !(s & (kCellUnusable | kCellSystem)) && CellClip(s) == slot)
        ++held;
    }
    if (held != static_cast<int>(cells.size()))
      return differs("cell map: " + std::to_string(held) + " cells held by the clip, expected " +
                     std::to_string(cells.size()));
    const std::uint8_t* stored =
        store_.Thumbnails.data() + static_cast<std::size_t>(slot) * kThumbSlotBytes;
    if (std::memcmp(stored, thumbnail.data(), kThumbSlotBytes) != 0)
      return differs("thumbnail differs");
    ++result.ChipsCompared;
  }
  store_.SelectChip(chips.front());
  result.Chip = -1;
  result.Result = VerifyResult::Outcome::Identical;
  result.What.clear();
  op_.setCursor(Operator::Cursor::Arrow);
  return result;
}

}  // namespace orvana
