#pragma once

// NAND cycle lists. The device offers no page-level flash commands: the host latches every
// command and address cycle itself by sending command 135 with this payload:
//
//   byte 0     ChipSelect (chip number + 1)
//   byte 1     0
//   byte 2     flags: bit 0 HostAccess, bit 1 BusyStart
//   byte 3     0
//   then       (kind, value) pairs, kind 1 = command cycle, 2 = address cycle
//
// A payload of only the four control bytes updates chip select and flags without touching the
// chip.

#include <array>
#include <cstdint>
#include <vector>

namespace orvana {

class ITF_ZT;

// The control word at the head of every command-135 payload. One per link; the chip selected
// last stays selected until the next change.
struct FlashControl {
  std::uint8_t ChipSelect = 1;  // chip 0
  bool HostAccess = true;
  // Set by each list send: on for lists that end in a program or erase confirm.
  bool BusyStart = false;

  std::array<std::uint8_t, 4> bytes() const {
    const auto flags =
        static_cast<std::uint8_t>((HostAccess ? 0x01 : 0x00) | (BusyStart ? 0x02 : 0x00));
    return {ChipSelect, 0, flags, 0};
  }
};

enum class CycleKind : std::uint8_t { Command = 1, Address = 2 };

struct CycleEntry {
  std::uint8_t kind = 0;
  std::uint8_t value = 0;
};

inline constexpr std::uint8_t kFlashListCommand = 135;
inline constexpr std::uint8_t kFlashDataCommand = 136;

class ZT_FLASH_CYCLE {
 public:
  // Largest payload a link packet carries, and so the most entries a list may hold.
  static constexpr int kMaxPayload = 1488;
  static constexpr int kMaxEntries = (kMaxPayload - 4) / 2;

  ZT_FLASH_CYCLE(ITF_ZT& link, FlashControl& control);

  // Empties the list and makes room for `capacity` entries (clamped to 0..kMaxEntries).
  void Reset(int capacity);
  // Appends one cycle; ignored once the list is full.
  void Add(CycleKind kind, std::uint8_t value);
  // Sends control word and all `capacity` entries as command 135; BusyStart = busy. The list is
  // emptied whatever the outcome.
  bool Send(bool busy);

  // The payload Send would carry now: 4 + 2 * capacity bytes written to `out`; returns the size.
  int BuildPayload(std::uint8_t* out) const;

  int capacity() const { return capacity_; }
  int count() const { return count_; }

 private:
  ITF_ZT& link_;
  FlashControl& control_;
  std::vector<CycleEntry> entries_;
  std::int32_t capacity_ = 0;
  std::array<std::uint8_t, 1500> sendBuffer_{};
  std::int32_t count_ = 0;
};

}  // namespace orvana
