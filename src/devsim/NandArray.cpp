#include "devsim/NandArray.h"

#include <algorithm>
#include <cstring>

namespace orvana::devsim {

namespace {

constexpr std::uint8_t kCmdRead = 0x00;
constexpr std::uint8_t kCmdReadConfirm = 0x30;
constexpr std::uint8_t kCmdProgram = 0x80;
constexpr std::uint8_t kCmdProgramConfirm = 0x10;
constexpr std::uint8_t kCmdErase = 0x60;
constexpr std::uint8_t kCmdEraseConfirm = 0xD0;
constexpr std::uint8_t kCmdStatus = 0x70;
constexpr std::uint8_t kCmdReset = 0xFF;

// Reads and programs take two column and three row cycles; an erase only the three row cycles.
constexpr std::uint8_t kPageAddressCycles = 5;
constexpr std::uint8_t kBlockAddressCycles = 3;

}  // namespace

std::uint32_t NandArray::latchedRow(const Chip& c, int firstRowCycle) const {
  const auto i = static_cast<std::size_t>(firstRowCycle);
  return static_cast<std::uint32_t>(c.addressBytes[i]) |
         (static_cast<std::uint32_t>(c.addressBytes[i + 1]) << 8) |
         (static_cast<std::uint32_t>(c.addressBytes[i + 2]) << 16);
}

bool NandArray::listed(const std::vector<BlockRef>& list, int chip, std::uint32_t row) const {
  const BlockRef ref{static_cast<std::uint8_t>(chip), row / kPagesPerBlock};
  return std::find(list.begin(), list.end(), ref) != list.end();
}

void NandArray::command(int chip, std::uint8_t value) {
  Chip& c = chips_[static_cast<std::size_t>(chip)];
  switch (value) {
    case kCmdRead:
      c.pending = Pending::Read;
      c.addressCount = 0;
      c.statusMode = false;
      break;
    case kCmdProgram:
      c.pending = Pending::Program;
      c.addressCount = 0;
      c.statusMode = false;
      // Data input starts from an all-ones register, so bytes the host never sends stay erased.
      c.pageRegister.fill(0xFF);
      break;
    case kCmdErase:
      c.pending = Pending::Erase;
      c.addressCount = 0;
      c.statusMode = false;
      break;
    case kCmdReadConfirm:
      if (c.pending == Pending::Read && c.addressCount == kPageAddressCycles) finishLoad(chip, c);
      c.pending = Pending::None;
      break;
    case kCmdProgramConfirm:
      if (c.pending == Pending::Program && c.addressCount == kPageAddressCycles)
        finishProgram(chip, c);
      c.pending = Pending::None;
      break;
    case kCmdEraseConfirm:
      if (c.pending == Pending::Erase && c.addressCount == kBlockAddressCycles)
        finishErase(chip, c);
      c.pending = Pending::None;
      break;
    case kCmdStatus:
      c.statusMode = true;
      break;
    case kCmdReset:
      c = Chip{};
      break;
    default:
      c.pending = Pending::None;
      break;
  }
}

void NandArray::address(int chip, std::uint8_t value) {
  Chip& c = chips_[static_cast<std::size_t>(chip)];
  const std::uint8_t wanted =
      c.pending == Pending::Erase ? kBlockAddressCycles : kPageAddressCycles;
  if (c.pending == Pending::None || c.addressCount >= wanted) return;
  c.addressBytes[c.addressCount++] = value;
  if (c.pending == Pending::Program && c.addressCount == kPageAddressCycles)
    c.column = static_cast<std::uint32_t>(c.addressBytes[0]) |
               (static_cast<std::uint32_t>(c.addressBytes[1]) << 8);
}

void NandArray::finishLoad(int chip, Chip& c) {
  const std::uint32_t row = latchedRow(c, 2);
  c.column = static_cast<std::uint32_t>(c.addressBytes[0]) |
             (static_cast<std::uint32_t>(c.addressBytes[1]) << 8);
  c.statusMode = false;
  c.status = kStatusPassed;
  c.busyLeft = 0;
  // A row past the chip's end is not aliased onto a real one: it reads as erased.
  if (row >= kRowsPerChip) {
    c.pageRegister.fill(0xFF);
    return;
  }
  if (!store_.read(chip, row, c.pageRegister.data())) {
    c.pageRegister.fill(0xFF);
    c.status = kStatusPassed | kStatusFail;
    return;
  }
  for (const BitFlip& f : faults_.flips)
    if (f.chip == chip && f.row == row && f.byte < kPageSize && f.bit < 8)
      c.pageRegister[f.byte] ^= static_cast<std::uint8_t>(1u << f.bit);
}

void NandArray::finishProgram(int chip, Chip& c) {
  const std::uint32_t row = latchedRow(c, 2);
  // Out-of-range rows fail rather than wrap onto another page.
  if (row < kRowsPerChip && listed(faults_.corruptProgram, chip, row)) {
    constexpr std::size_t kGroupBytes = 9, kGroups = 910;
    for (std::size_t g = 0; g < kGroups; ++g) {
      std::uint8_t* group = c.pageRegister.data() + g * kGroupBytes;
      if (std::any_of(group, group + kGroupBytes - 1, [](std::uint8_t b) { return b != 0; })) {
        std::fill(group, group + kGroupBytes, 0);
        break;
      }
    }
  }
  const bool ok = row < kRowsPerChip && !listed(faults_.failProgram, chip, row) &&
                  store_.program(chip, row, c.pageRegister.data());
  c.status = ok ? kStatusPassed : static_cast<std::uint8_t>(kStatusPassed | kStatusFail);
  c.busyLeft = faults_.busyReads;
}

void NandArray::finishErase(int chip, Chip& c) {
  const std::uint32_t row = latchedRow(c, 0);
  const bool ok = row < kRowsPerChip && !listed(faults_.failErase, chip, row) &&
                  store_.erase(chip, row / kPagesPerBlock);
  c.status = ok ? kStatusPassed : static_cast<std::uint8_t>(kStatusPassed | kStatusFail);
  c.busyLeft = faults_.busyReads;
}

void NandArray::dataIn(int chip, const std::uint8_t* data, std::size_t size) {
  Chip& c = chips_[static_cast<std::size_t>(chip)];
  if (c.pending != Pending::Program || c.addressCount != kPageAddressCycles) return;
  if (c.column < kPageSize) {
    const std::size_t room = kPageSize - c.column;
    std::memcpy(c.pageRegister.data() + c.column, data, std::min(size, room));
  }
  c.column = static_cast<std::uint32_t>(std::min<std::size_t>(c.column + size, kPageSize));
}

void NandArray::dataOut(int chip, std::uint8_t* out, std::size_t size) {
  Chip& c = chips_[static_cast<std::size_t>(chip)];
  if (c.statusMode) {
    std::uint8_t value = c.status;
    if (c.busyLeft > 0) {
      value = kStatusBusy;
      --c.busyLeft;
    }
    std::memset(out, value, size);
    return;
  }
  // Past the page's end the bus reads all ones.
  std::size_t copied = 0;
  if (c.column < kPageSize) {
    copied = std::min(size, static_cast<std::size_t>(kPageSize - c.column));
    std::memcpy(out, c.pageRegister.data() + c.column, copied);
  }
  std::memset(out + copied, 0xFF, size - copied);
  c.column = static_cast<std::uint32_t>(std::min<std::size_t>(c.column + size, kPageSize));
}

std::uint8_t NandArray::peekStatus(int chip) const {
  const Chip& c = chips_[static_cast<std::size_t>(chip)];
  return c.busyLeft > 0 ? kStatusBusy : c.status;
}

void NandArray::reset() {
  for (Chip& c : chips_) c = Chip{};
}

}  // namespace orvana::devsim
