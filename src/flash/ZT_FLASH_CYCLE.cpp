#include "flash/ZT_FLASH_CYCLE.h"

#include <algorithm>

#include "link/ITF_ZT.h"

namespace orvana {

ZT_FLASH_CYCLE::ZT_FLASH_CYCLE(ITF_ZT& link, FlashControl& control)
    : link_(link), control_(control) {}

void ZT_FLASH_CYCLE::Reset(int capacity) {
  capacity_ = std::clamp(capacity, 0, kMaxEntries);
  count_ = 0;
  // Unfilled entries go out as zeros rather than whatever the memory held.
  entries_.assign(static_cast<std::size_t>(capacity_), CycleEntry{});
}

void ZT_FLASH_CYCLE::Add(CycleKind kind, std::uint8_t value) {
  if (count_ >= capacity_) return;
  entries_[static_cast<std::size_t>(count_)] = {static_cast<std::uint8_t>(kind), value};
  ++count_;
}

int ZT_FLASH_CYCLE::BuildPayload(std::uint8_t* out) const {
  const auto head = control_.bytes();
  std::copy(head.begin(), head.end(), out);
  int n = 4;
  for (int i = 0; i < capacity_; ++i) {
    out[n++] = entries_[static_cast<std::size_t>(i)].kind;
    out[n++] = entries_[static_cast<std::size_t>(i)].value;
  }
  return n;
}

bool ZT_FLASH_CYCLE::Send(bool busy) {
  control_.BusyStart = busy;
  const int n = BuildPayload(sendBuffer_.data());
  const bool ok = link_.WriteCommand(kFlashListCommand, nullptr, sendBuffer_.data(), n);
  Reset(0);
  return ok;
}

}  // namespace orvana
