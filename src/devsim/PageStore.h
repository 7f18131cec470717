#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace orvana::devsim {

inline constexpr int kChipCount = 12;
inline constexpr std::uint32_t kPageSize = 8192;
inline constexpr std::uint32_t kRowsPerChip = 1u << 20;
inline constexpr std::uint32_t kPagesPerBlock = 256;
inline constexpr std::uint32_t kBlocksPerChip = kRowsPerChip / kPagesPerBlock;

// The cell arrays of the twelve chips. Pages hold what NAND holds: erased bytes are 0xFF,
// programming only clears bits, erasing returns a whole block to 0xFF.
//
// Persistent form: one sparse file per chip ("chipNN.nand", 8 GiB apparent size) holding every
// byte inverted, so a hole reads back as an erased page and an erase is a punched hole. A
// program is written with pwrite before the caller acknowledges it, so a killed process loses
// nothing that was acknowledged (the data sits in the kernel's page cache). Without a folder the
// pages live in memory, taken from slabs of a block's worth that are touched when they are
// mapped: on a virtual machine, faulting in fresh memory costs more per page than a page
// program's whole exchange, so the owner can have slabs mapped ahead while it is idle
// (TopUpReserve). Erased pages go back to a free list; slabs are kept until the store goes.
//
// Not thread-safe; the owner serialises access.
class PageStore {
 public:
  using Page = std::array<std::uint8_t, kPageSize>;

  PageStore() = default;
  ~PageStore();
  PageStore(const PageStore&) = delete;
  PageStore& operator=(const PageStore&) = delete;

  // Switches to the files in `folder` (created when missing). False with `error` set when the
  // folder or a file cannot be opened, or another process already serves this folder.
  bool openFolder(const std::filesystem::path& folder, std::string& error);
  bool persistent() const { return lockFd_ >= 0; }

  // chip < kChipCount and row < kRowsPerChip are the caller's to check.
  bool read(int chip, std::uint32_t row, std::uint8_t* out);
  bool program(int chip, std::uint32_t row, const std::uint8_t* data);
  bool erase(int chip, std::uint32_t block);

  // Maps one more slab when fewer than `pages` free pages are ready and the store has been
  // programmed at all (an unused store stays empty). True when it mapped one, so an idle caller
  // can repeat while nothing else needs it. Files need no reserve: always false.
  bool TopUpReserve(std::size_t pages);
  std::size_t freePages() const { return freePages_.size(); }

 private:
  static std::uint64_t key(int chip, std::uint32_t row) {
    return (static_cast<std::uint64_t>(chip) << 32) | row;
  }
  void closeAll();
  // A page from the free list, mapping a new slab when it is empty; null when out of memory.
  // Its content is left over from earlier use: the caller writes all of it.
  Page* takePage();
  bool mapSlab();
  void releaseAllPages();

  int lockFd_ = -1;
  std::array<int, kChipCount> fds_{-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
  std::unordered_map<std::uint64_t, Page*> memory_;
  std::vector<Page*> freePages_;
  std::vector<void*> slabs_;
  Page scratch_{};
};

}  // namespace orvana::devsim
