#pragma once

// NAND semantics in memory for the store's layout tests: erased pages read 0xFF, programming can
// only clear bits (so programming a page that was not erased shows up as damage), ECC pages keep
// their payload, and erases, programs and reads can be made to fail.

#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "store/ChipLayout.h"
#include "store/FlashPort.h"

namespace orvana::test {

class MemoryFlash : public FlashPort {
 public:
  bool BeginFlashAccess() override {
    ++begins;
    return true;
  }
  bool EndFlashAccess() override {
    ++ends;
    return true;
  }
  bool EraseFlashBlock(std::uint32_t row) override {
    erased.push_back({chip, row});
    if (failErase.count({chip, row / kPagesPerBlock})) return false;
    auto& pages = chips[chip];
    pages.erase(pages.lower_bound(row), pages.lower_bound(row + kPagesPerBlock));
    return true;
  }
  bool ReadFlashPage(std::uint8_t* page, std::uint32_t row, int ecc) override {
    ++reads;
    if (failReadAfter >= 0 && failReadAfter-- == 0) {
      connected = false;
      return false;
    }
    const std::vector<std::uint8_t>& p = pageAt(chip, row);
    std::memcpy(page, p.data(), ecc ? kPayloadSize : kPageSize);
    if (ecc) std::memset(page + kPayloadSize, 0, kPageSize - kPayloadSize);
    if (onRead) onRead();
    return true;
  }
  bool WriteFlashPage(std::uint8_t* page, std::uint32_t row, int ecc) override {
    ++programs;
    if (failProgramAfter >= 0 && failProgramAfter-- == 0) return false;
    auto& p = chips[chip][row];
    if (p.empty()) p.assign(kPageSize, 0xFF);
    const std::size_t n = ecc ? kPayloadSize : kPageSize;
    for (std::size_t i = 0; i < n; ++i) p[i] &= page[i];
    if (ecc) std::memset(page + kPayloadSize, 0xA7, kPageSize - kPayloadSize);  // "encoded"
    return true;
  }
  void SetChipSelect(int c) override { chip = c; }
  bool SelectClip(int c, int clip) override {
    cues.push_back({c, clip});
    return true;
  }
  bool IsConnected() const override { return connected; }

  const std::vector<std::uint8_t>& pageAt(int c, std::uint32_t row) {
    auto& pages = chips[c];
    auto it = pages.find(row);
    if (it != pages.end()) return it->second;
    static const std::vector<std::uint8_t> kErased(kPageSize, 0xFF);
    return kErased;
  }
  bool isErased(int c, std::uint32_t row) { return chips[c].count(row) == 0; }

  std::function<void()> onRead;  // after every successful read
  int chip = 0;
  bool connected = true;
  std::map<int, std::map<std::uint32_t, std::vector<std::uint8_t>>> chips;
  std::set<std::pair<int, std::uint32_t>> failErase;  // (chip, block)
  int failProgramAfter = -1;
  int failReadAfter = -1;
  std::vector<std::pair<int, std::uint32_t>> erased;
  std::vector<std::pair<int, int>> cues;
  int begins = 0, ends = 0, reads = 0, programs = 0;
};

}  // namespace orvana::test
