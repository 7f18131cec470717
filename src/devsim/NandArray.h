#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "devsim/FaultPlan.h"
#include "devsim/PageStore.h"

namespace orvana::devsim {

// Status register bits as the chips report them.
inline constexpr std::uint8_t kStatusFail = 0x01;
inline constexpr std::uint8_t kStatusArrayReady = 0x20;
inline constexpr std::uint8_t kStatusReady = 0x40;
inline constexpr std::uint8_t kStatusNotProtected = 0x80;
inline constexpr std::uint8_t kStatusPassed =
    kStatusNotProtected | kStatusReady | kStatusArrayReady;
inline constexpr std::uint8_t kStatusBusy = kStatusNotProtected;

// The control logic of the twelve chips: each latches command and address cycles, owns a page
// register for data in and out, and keeps a status register. Cycles that do not form a known
// operation are ignored, as a chip ignores them. Faults come from a plan the owner keeps.
//
// Not thread-safe; the owner serialises access.
class NandArray {
 public:
  NandArray(PageStore& store, const FaultPlan& faults) : store_(store), faults_(faults) {}

  void command(int chip, std::uint8_t value);
  void address(int chip, std::uint8_t value);
  // Page data from the host into the page register (only while a program is set up).
  void dataIn(int chip, const std::uint8_t* data, std::size_t size);
  // Page register bytes, or the status after a 70h cycle. One call is one status read.
  void dataOut(int chip, std::uint8_t* out, std::size_t size);

  // The status byte as the next status read would show it, without counting as a read.
  std::uint8_t peekStatus(int chip) const;
  void reset();

 private:
  enum class Pending : std::uint8_t { None, Read, Program, Erase };
  struct Chip {
    Pending pending = Pending::None;
    std::uint8_t addressCount = 0;
    std::array<std::uint8_t, 5> addressBytes{};
    bool statusMode = false;
    std::uint8_t status = kStatusPassed;
    std::uint32_t busyLeft = 0;
    std::uint32_t column = 0;
    PageStore::Page pageRegister{};
  };

  std::uint32_t latchedRow(const Chip& c, int firstRowCycle) const;
  bool listed(const std::vector<BlockRef>& list, int chip, std::uint32_t row) const;
  void finishLoad(int chip, Chip& c);
  void finishProgram(int chip, Chip& c);
  void finishErase(int chip, Chip& c);

  PageStore& store_;
  const FaultPlan& faults_;
  std::array<Chip, kChipCount> chips_{};
};

}  // namespace orvana::devsim
