// Read-back of one clip into a clip file, streamed page by page to a temporary file beside the
// target so memory stays at two small buffers however long the clip is, and a failed or
// cancelled read leaves no clip file behind.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "common/Paths.h"
#include "common/Tick.h"
#include "store/ClipFile.h"
#include "store/ClipStore.h"
#include "store/Journal.h"

namespace orvana {

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// The clip file must be on the disk before its name says it is complete.
bool syncAndClose(FilePtr& file) {
  bool ok = std::fflush(file.get()) == 0 && ::fsync(::fileno(file.get())) == 0;
  ok = std::fclose(file.release()) == 0 && ok;
  return ok;
}

void syncFolder(const std::filesystem::path& path) {
  const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return;
  ::fsync(dir);
  ::close(dir);
}

}  // namespace

std::filesystem::path ClipStore::ClipFilePath(int n, int chip) {
  return paths::workFolder() / (std::to_string(n) + "." + std::to_string(chip));
}

bool ClipStore::ReadClipBack(int n, const std::filesystem::path& target) {
  // An empty slot has nothing to read: no file, and the caller is told so.
  if (!IsClipValid(n)) return false;
  const ClipRecord r = ClipDirectory[n];
  const int frames = r.FrameCount;
  const std::filesystem::path path = target.empty() ? ClipFilePath(n, CurrentChip) : target;
  std::filesystem::path temp = path;
  temp += ".part";

  op_.setCursor(Operator::Cursor::Wait);
  std::vector<std::uint8_t> pictures(static_cast<std::size_t>(kPicturePages) * kPageSize, 0);
  std::vector<std::uint8_t> lead(kPageSize, 0);

  FilePtr file(std::fopen(temp.c_str(), "wb"));
  auto discard = [&] {
    file.reset();
    std::error_code ec;
    std::filesystem::remove(temp, ec);
  };
  auto cannotWrite = [&] {
    discard();
    op_.setCursor(Operator::Cursor::Arrow);
    op_.message("Cannot write the clip file.");
    return false;
  };
  if (!file) return cannotWrite();
  ClipStreamHeader header;
  header.Slot = n;
  header.Record = r;
  const auto head = header.pack();
  if (std::fwrite(head.data(), 1, head.size(), file.get()) != head.size()) return cannotWrite();

  op_.setProgressMax(frames > 0 ? frames - 1 : 0);
  const std::uint32_t t0 = tickCount();
  double bytes = 0;
  const std::string before = status_;

  flash_.BeginFlashAccess();
  BeginRunning();

  // Pages come as the ECC read returns them: payload, then zeros where the check bytes were.
  auto readPage = [&](std::uint8_t* page, std::uint32_t row) {
    if (row < kFirstDataPage || row >= kPageLimit) {
      // A link into the system area or off the chip can only come from a damaged chain; treat it
      // as an unreadable page.
      op_.setCursor(Operator::Cursor::Arrow);
      op_.message("Read error. Try again.");
      return false;
    }
    if (!flash_.ReadFlashPage(page, row, 1)) return false;
    std::fill(page + kPayloadSize, page + kPageSize, 0);
    return true;
  };
  auto readFailure = [&] {
    discard();
    op_.setCursor(Operator::Cursor::Arrow);
    SetStatusText(before);
    DropConnection();
    return false;
  };

  std::uint32_t leadPage = r.StartPage;
  for (int f = 0; f < frames; ++f) {
    std::uint32_t page = leadPage + 1;
    op_.setProgress(f);
    if (!readPage(lead.data(), leadPage)) return readFailure();
    if (std::fwrite(lead.data(), 1, kPageSize, file.get()) != kPageSize) return cannotWrite();
    for (int m = 0; m < kPicturePages; ++m) {
      std::uint8_t* buf = &pictures[static_cast<std::size_t>(m) * kPageSize];
      if (!readPage(buf, page)) return readFailure();
      if (!Running) {
        discard();
        op_.setCursor(Operator::Cursor::Arrow);
        SetStatusText(before);
        flash_.EndFlashAccess();
        flash_.SelectClip(CurrentChip, 0);
        op_.message("Process canceled.");
        return false;
      }
      page = GetPageLink(buf);
      if (std::fwrite(buf, 1, kPageSize, file.get()) != kPageSize) return cannotWrite();
    }
    leadPage = GetPageLink(&pictures[static_cast<std::size_t>(kPicturePages - 1) * kPageSize]);

    bytes += static_cast<double>(ClipStreamHeader::kFrameBytes);
    std::uint32_t elapsed = ticksSince(t0);
    if (elapsed == 0) elapsed = 1;
    const double speed = bytes / (static_cast<double>(elapsed) * 1000.0);
    char text[64];
    std::snprintf(text, sizeof text, "%.2f", speed);
    // The window shows the speed in panel 0, where the connection state is otherwise.
    SetStatusText(before + ", reading clip, speed-" + text + " MB/Sec");
    op_.setTitle("Reading... " + std::to_string((f + 1) * 100 / frames) + "%");
  }
  SetStatusText(before);
  flash_.EndFlashAccess();
  flash_.SelectClip(CurrentChip, n);

  if (!syncAndClose(file)) return cannotWrite();
  std::error_code ec;
  std::filesystem::rename(temp, path, ec);
  if (ec) return cannotWrite();
  syncFolder(path);
  op_.setCursor(Operator::Cursor::Arrow);
  return true;
}

std::string ClipStore::ReadClipDigest(int n, int chainFrames) {
  if (!IsClipValid(n) || chainFrames <= 0 || chainFrames > kChipFrames) return {};
  PageDigest digest;
  std::vector<std::uint8_t> page(kPageSize, 0);
  flash_.BeginFlashAccess();
  std::uint32_t lead = ClipDirectory[n].StartPage;
  for (int f = 0; f < chainFrames; ++f) {
    for (int m = 0; m < kFramePages; ++m) {
      const std::uint32_t row = lead + static_cast<std::uint32_t>(m);
      if (lead < kFirstDataPage || row >= kPageLimit ||
          !flash_.ReadFlashPage(page.data(), row, 1)) {
        flash_.EndFlashAccess();
        return {};
      }
      digest.AddPayload(page.data());
    }
    lead = GetPageLink(page.data());
  }
  flash_.EndFlashAccess();
  return digest.Hex();
}

}  // namespace orvana
