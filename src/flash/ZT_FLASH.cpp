#include "flash/ZT_FLASH.h"

#include "link/ITF_ZT.h"
#include "link/TimingTable.h"

namespace orvana {

ZT_FLASH::ZT_FLASH(ITF_ZT& link) : link_(link), cycle_(link, control_) {}

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

bool ZT_FLASH::ReadPage(std::uint8_t* page, std::uint32_t row, int ecc) {
  if (row > kLastRow) return false;
  cycle_.Reset(7);
  cycle_.Add(CycleKind::Command, 0x00);
  cycle_.Add(CycleKind::Address, 0x00);
  cycle_.Add(CycleKind::Address, 0x00);
  addRow(row);
  cycle_.Add(CycleKind::Command, 0x30);
  if (!cycle_.Send(false)) return false;
  DelayTick();  // the chip loads the page meanwhile
  for (int piece = 0; piece < kPieces; ++piece) {
    if (!link_.ReadCommand(kFlashDataCommand, page + kPieceBytes * piece, kPieceBytes)) {
      return false;
    }
  }
  if (ecc == 1) Corrections += code_.DecodePage(page);
  return true;
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
