// Loading a chip's directory, cell map and thumbnails from whatever its system area holds, and
// what is built on them: the thumbnail strip, the map picture, free space, clicks on strip and
// map, a clip's read-back and its deletion. The chip is in memory (tests/store/MemoryFlash.h),
// freshly formatted, then patched from the input.
//
// Input: a control byte, a free-cell request (2), strip and map clicks (4), then patches of the
// system area, each: row (2, LE, taken modulo the system area), offset in the page (2, LE,
// modulo 8192), length (1) and the bytes (cut at the page's and the input's end).
#include <QGuiApplication>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "common/Operator.h"
#include "store/ChannelView.h"
#include "store/ChipLayout.h"
#include "store/ClipStore.h"
#include "store/MemoryFlash.h"

using namespace orvana;

namespace {

constexpr std::uint32_t kSystemRows = kSystemCells * kPagesPerCell;

// The test flash with its programming (bits only cleared) done without coverage callbacks on
// every byte: they took a third of the time and tell nothing about the store.
class Flash : public test::MemoryFlash {
 public:
  __attribute__((no_sanitize("coverage"))) bool WriteFlashPage(std::uint8_t* page,
                                                               std::uint32_t row,
                                                               int ecc) override {
    ++programs;
    auto& p = chips[chip][row];
    if (p.empty()) p.assign(kPageSize, 0xFF);
    const std::size_t n = ecc ? kPayloadSize : kPageSize;
    for (std::size_t i = 0; i < n; ++i) p[i] &= page[i];
    if (ecc) std::memset(page + kPayloadSize, 0xA7, kPageSize - kPayloadSize);
    return true;
  }
};

std::filesystem::path gHome;
std::map<std::uint32_t, std::vector<std::uint8_t>> gFormatted;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  std::string folder =
      (std::filesystem::exists("/dev/shm") ? std::string("/dev/shm")
                                           : std::filesystem::temp_directory_path().string()) +
      "/orvana-fuzz-store-XXXXXX";
  if (::mkdtemp(folder.data()) == nullptr) std::abort();
  gHome = folder;
  ::setenv("ORVANA_HOME", folder.c_str(), 1);
  static int argc = 1;
  static char name[] = "fuzz_store_directory";
  static char* argv[] = {name, nullptr};
  new QGuiApplication(argc, argv);  // fonts for the strip's captions; lives as long as the process

  test::MemoryFlash flash;
  SilentOperator op;
  ClipStore store(flash, op);
  store.SelectChip(0);
  if (!store.FormatChip(false)) std::abort();
  gFormatted = flash.chips[0];
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 7) return 0;
  const std::uint8_t control = data[0];
  const int want = data[1] | (data[2] << 8);
  Flash flash;
  flash.chips[0] = gFormatted;
  for (std::size_t at = 7; at + 5 <= size;) {
    const std::uint32_t row =
        static_cast<std::uint32_t>(data[at] | (data[at + 1] << 8)) % kSystemRows;
    const std::size_t offset =
        static_cast<std::size_t>(data[at + 2] | (data[at + 3] << 8)) % kPageSize;
    std::size_t length = data[at + 4];
    at += 5;
    length = std::min({length, size - at, kPageSize - offset});
    std::vector<std::uint8_t>& page = flash.chips[0][row];
    if (page.empty()) page.assign(kPageSize, 0xFF);
    std::memcpy(page.data() + offset, data + at, length);
    at += length;
  }

  SilentOperator op;
  ClipStore store(flash, op);
  ChannelView view(store);
  store.SelectChip(0);
  if (!store.Connected()) return 0;
  (void)store.CountFreeCells();
  (void)store.FirstFreeClipNumber();
  (void)store.FreeSpaceHint();
  (void)store.FindFreeCells(1 + want % 64, want % kClipSlots);
  view.PaintBox1MouseDown(control & 1 ? MouseButton::Left : MouseButton::Right, data[3] * 5,
                          data[4] / 2);
  view.Image3MouseDown(MouseButton::Left, data[5] * 4, data[6] / 2);
  for (int n = 0; n < kClipSlots; ++n) {
    if (!store.IsClipValid(n)) continue;
    (void)store.ThumbnailImage(n);
    if (control & 2) {
      const std::filesystem::path target = gHome / "clip";
      (void)store.ReadClipBack(n, target);
      std::error_code ec;
      std::filesystem::remove(target, ec);
    }
    if (control & 4) (void)store.DeleteClip(n);
    break;
  }
  return 0;
}
