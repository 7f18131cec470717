#include "flash/ZT_FLASH.h"

#include <cstring>
#include <vector>

#include "common/Tick.h"
#include "link/ITF_ZT.h"
#include "link/TimingTable.h"

namespace orvana {

ZT_FLASH::ZT_FLASH(ITF_ZT& link)
    : link_(link),
      cycle_(link, control_),
      resendsSeen_(link.ReadResends),
      lastResendAt_(tickCount() - kQuietMs) {}

void ZT_FLASH::addRow(std::uint32_t row) {
  cycle_.Add(CycleKind::Address, static_cast<std::uint8_t>(row & 0xFF));
  cycle_.Add(CycleKind::Address, static_cast<std::uint8_t>((row >> 8) & 0xFF));
  cycle_.Add(CycleKind::Address, static_cast<std::uint8_t>((row >> 16) & 0xFF));
}

bool ZT_FLASH::sendControl() {
  const auto head = control_.bytes();
  return link_.WriteCommand(kFlashListCommand, nullptr, head.data(), static_cast<int>(head.size()));
}

bool ZT_FLASH::SetChipSelect(int chip) {
  if (chip < 0 || chip >= kChips) return false;
  control_.ChipSelect = static_cast<std::uint8_t>(chip + 1);
  return sendControl();
}

bool ZT_FLASH::SetHostAccess(bool on) {
  control_.HostAccess = on;
  return sendControl();
}

std::uint8_t ZT_FLASH::ReadStatus() {
  cycle_.Reset(1);
  cycle_.Add(CycleKind::Command, 0x70);
  if (!cycle_.Send(false)) return 0;
  std::uint8_t status = 0;
  if (!link_.ReadCommand(kFlashDataCommand, &status, 1)) return 0;
  return status;
}

bool ZT_FLASH::pollReady(int limit) {
  // A failed status read reads as 0, i.e. not ready, and the polling goes on.
  for (int i = 0; i < limit; ++i) {
    if (IsReady(ReadStatus())) return true;
    DelayTick();
  }
  return false;
}

bool ZT_FLASH::transferPage(std::uint8_t* page, std::uint32_t row, bool settle) {
  cycle_.Reset(7);
  cycle_.Add(CycleKind::Command, 0x00);
  cycle_.Add(CycleKind::Address, 0x00);
  cycle_.Add(CycleKind::Address, 0x00);
  addRow(row);
  cycle_.Add(CycleKind::Command, 0x30);
  if (!cycle_.Send(false)) return false;
  DelayTick();  // the chip loads the page meanwhile
  for (int piece = 0; piece < kPieces; ++piece) {
    // A repeated reply leaves the device just after the one taken; a short pause lets it arrive
    // before the next request, which then forgets it instead of taking it.
    if (settle) DelayMs(kSettleMs);
    if (!link_.ReadCommand(kFlashDataCommand, page + kPieceBytes * piece, kPieceBytes)) {
      return false;
    }
  }
  return true;
}

bool ZT_FLASH::readRawPage(std::uint8_t* page, std::uint32_t row) {
  // No code tells a stray reply standing in for a piece of a raw page (a thumbnail). A resent
  // data read makes the chip hand out its next piece, and the late first reply then arrives
  // while a later piece is awaited: the page comes out shifted, and the same way each time the
  // late reply falls on the same piece, so two equal transfers prove nothing. A transfer counts
  // only when it started after the late replies of earlier resends had time to arrive and no
  // request of its own was resent.
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    if (link_.ReadResends != resendsSeen_) {
      resendsSeen_ = link_.ReadResends;
      lastResendAt_ = tickCount();
    }
    // Two receive waits cover a reply that missed one; waiting longer would only slow thumbnails
    // on a lossy link.
    const std::uint32_t needed = 2 * TimingTable().ReceiveWait;
    const std::uint32_t quiet = tickCount() - lastResendAt_;
    if (quiet < needed) DelayMs(static_cast<int>(needed - quiet));
    const std::int32_t before = link_.ReadResends;
    if (!transferPage(page, row, attempt > 0)) break;
    resendsSeen_ = link_.ReadResends;
    if (resendsSeen_ == before) return true;
    lastResendAt_ = tickCount();
    ++RejectedReads;
  }
  std::memset(page, 0, kPageBytes);
  return false;
}

bool ZT_FLASH::ReadPage(std::uint8_t* page, std::uint32_t row, int ecc) {
  if (row > kLastRow) return false;
  if (ecc != 1) return readRawPage(page, row);
  // A reply of the right length and code is taken whatever it carries, so a late or repeated
  // reply can stand in for a piece of this page. Mostly the code tells: such a page decodes with
  // far more corrections than a real page has, or with groups no single bit explains. The page
  // is then read again from its 00h/30h list on, which restarts the chip's transfer, paced.
  // A piece of another page in the same place decodes cleanly but for the group spanning its
  // edge, and a transfer whose requests were resent can come out wrong the same way every time
  // (the late reply falls on the same piece), so equal transfers alone prove nothing. A transfer
  // counts only when no request of its own was resent and it started after the late replies of
  // earlier resends had time to arrive; once anything was amiss, it must also give the same
  // payload as another such transfer.
  // Every plausible payload seen so far: two equal ones confirm each other, whatever came
  // between them, so one garbled transfer in the middle costs one more transfer, not the read.
  std::vector<PageBuffer> seen;
  bool amiss = false;
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    if (link_.ReadResends != resendsSeen_) {
      resendsSeen_ = link_.ReadResends;
      lastResendAt_ = tickCount();
    }
    const std::uint32_t needed = 2 * TimingTable().ReceiveWait;
    const std::uint32_t quiet = tickCount() - lastResendAt_;
    if (quiet < needed) {
      amiss = true;
      DelayMs(static_cast<int>(needed - quiet));
    }
    const std::int32_t before = link_.ReadResends;
    if (!transferPage(page, row, attempt > 0)) break;
    resendsSeen_ = link_.ReadResends;
    if (resendsSeen_ != before) {
      lastResendAt_ = tickCount();
      amiss = true;
      ++RejectedReads;
      continue;
    }
    const HammingCode::PageReport report = code_.DecodePageReport(page);
    if (HammingCode::IsPlausible(report)) {
      bool agrees = false;
      for (const PageBuffer& earlier : seen)
        agrees = agrees || std::memcmp(earlier.data(), page, kPayloadBytes) == 0;
      if (!amiss || agrees) {
        Corrections += report.corrected;
        return true;
      }
      seen.emplace_back();
      std::memcpy(seen.back().data(), page, kPayloadBytes);
    } else {
      amiss = true;
    }
    ++RejectedReads;
  }
  // Nothing of a page that was not accepted is handed on.
  std::memset(page, 0, kPageBytes);
  return false;
}

bool ZT_FLASH::ProgramPage(std::uint8_t* page, std::uint32_t row, int ecc) {
  // Encoded in place before anything else, so the caller sees the stored form either way.
  if (ecc == 1) code_.EncodePage(page);
  if (row > kLastRow) return false;
  cycle_.Reset(6);
  cycle_.Add(CycleKind::Command, 0x80);
  cycle_.Add(CycleKind::Address, 0x00);
  cycle_.Add(CycleKind::Address, 0x00);
  addRow(row);
  if (!cycle_.Send(false)) return false;
  for (int piece = 0; piece < kPieces; ++piece) {
    if (!link_.WriteCommand(kFlashDataCommand, nullptr, page + kPieceBytes * piece, kPieceBytes)) {
      return false;
    }
  }
  cycle_.Reset(1);
  cycle_.Add(CycleKind::Command, 0x10);
  if (!cycle_.Send(true)) return false;
  return pollReady(kProgramPolls);
}

bool ZT_FLASH::EraseBlock(std::uint32_t row) {
  if (row > kLastRow) return false;
  cycle_.Reset(5);
  cycle_.Add(CycleKind::Command, 0x60);
  addRow(row);
  cycle_.Add(CycleKind::Command, 0xD0);
  if (!cycle_.Send(true)) return false;
  return pollReady(kErasePolls);
}

}  // namespace orvana
