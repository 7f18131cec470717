#include "media/ClipPictures.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "store/ChipLayout.h"

namespace orvana {

namespace {

constexpr std::int16_t kDeltaTable[8] = {0, 1, 4, 12, 24, 48, 88, 127};
constexpr int kMaxGroups = 480;  // a row carries 480 code bytes
constexpr int kPictureRows = ClipPictures::kRowsPerPage * kPicturePages;

int clamp255(int v) {
  return v < 0 ? 0 : (v > 255 ? 255 : v);
}

int signedStep(unsigned code) {
  const int step = kDeltaTable[(code >> 1) & 7];
  return (code & 1) ? step : -step;
}

// Reads exactly n bytes at offset; a short read counts as a failure.
bool readAt(int fd, std::uint8_t* out, std::size_t n, off_t offset) {
  while (n > 0) {
    const ssize_t got = ::pread(fd, out, n, offset);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    out += got;
    n -= static_cast<std::size_t>(got);
    offset += got;
  }
  return true;
}

}  // namespace

int DeltaStart(int chip) {
  switch (chip) {
    case 6:
    case 7:
      return 0;
    case 1:
    case 3:
    case 5:
    case 9:
      return 128;
    default:
      return 16;
  }
}

void DecodeDeltaLine(const std::uint8_t* row, int chip, UyvyGroup* groups, int groupCount) {
  const std::uint8_t* d = row + 1;
  int p = DeltaStart(chip);
  const int n = std::min(groupCount, kMaxGroups);
  for (int i = 0; i < n; ++i) {
    const unsigned b = d[i];
    const int lo = p + signedStep(b & 0x0F);
    const int hi = lo + signedStep(b >> 4);  // from lo before it is clamped
    groups[i].U = 128;
    groups[i].Y0 = static_cast<std::uint8_t>(clamp255(lo));
    groups[i].V = 128;
    groups[i].Y1 = static_cast<std::uint8_t>(clamp255(hi));
    p = clamp255(hi);
  }
}

void DecodeRawLine(const std::uint8_t* row, int chip, UyvyGroup* groups, int groupCount) {
  const std::uint8_t* d = row + 1;
  const int n = std::min(groupCount, kMaxGroups / 2);
  for (int g = 0; g < n; ++g) {
    const std::uint8_t a = d[2 * g], b = d[2 * g + 1];
    if (chip == 8 || chip == 10) {
      groups[g] = UyvyGroup{128, a, 128, b};
    } else if (chip == 9) {
      groups[g] = UyvyGroup{b, 128, a, 128};
    }
  }
}

void UyvyToRgb(const UyvyGroup& g, std::uint32_t& pixel0, std::uint32_t& pixel1) {
  const int u = g.U - 128, v = g.V - 128;
  const int dr = (v * 175) >> 7;
  const int dg = -((v * 89) >> 7) - ((u * 43) >> 7);
  const int db = (u * 445) >> 8;
  auto pixel = [&](int y) {
    return static_cast<std::uint32_t>(clamp255(y + dr)) << 16 |
           static_cast<std::uint32_t>(clamp255(y + dg)) << 8 |
           static_cast<std::uint32_t>(clamp255(y + db));
  };
  pixel0 = pixel(g.Y0);
  pixel1 = pixel(g.Y1);
}

ClipPictures::~ClipPictures() {
  Close();
}

void ClipPictures::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  showWidth_ = showHeight_ = pagesNeeded_ = 0;
  header_ = ClipStreamHeader{};
}

bool ClipPictures::Open(const std::filesystem::path& file, int chip) {
  Close();
  error_.clear();
  const std::string name = file.string();
  auto fail = [&](const std::string& why) {
    Close();
    error_ = "Cannot show the clip file " + name + ": " + why;
    return false;
  };
  if (chip < 0 || chip >= kChipCount)
    return fail("chip " + std::to_string(chip) + " does not exist.");
  const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fail(std::strerror(errno) + std::string("."));
  fd_ = fd;
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return fail("it is not a regular file.");
  std::uint8_t head[ClipStreamHeader::kSize];
  if (st.st_size < static_cast<off_t>(sizeof head) || !readAt(fd_, head, sizeof head, 0))
    return fail("it is too short to hold a clip header.");
  header_ = ClipStreamHeader::unpack(head);
  const ClipRecord& r = header_.Record;
  // A header is untrusted: everything it claims must fit the rows a frame holds and the file.
  if (r.Width < 2 || r.Width > 2 * 2 * kMaxGroups || r.Height < 2 || r.Height > 2 * kPictureRows)
    return fail("its picture size " + std::to_string(r.Width) + " x " + std::to_string(r.Height) +
                " is not one a clip can have.");
  if (r.FrameCount == 0) return fail("it holds no frames.");
  const std::uint64_t need = header_.fileSize();
  if (static_cast<std::uint64_t>(st.st_size) < need)
    return fail("it is shorter than its " + std::to_string(r.FrameCount) + " frames need.");
  chip_ = chip;
  showWidth_ = r.Width / 2;
  showHeight_ = r.Height / 2;
  pagesNeeded_ = (showHeight_ + kRowsPerPage - 1) / kRowsPerPage;
  pages_.assign(static_cast<std::size_t>(1 + pagesNeeded_) * kPageSize, 0);
  line_.assign(static_cast<std::size_t>(showWidth_ / 2 + 1), UyvyGroup{});
  return true;
}

bool ClipPictures::DecodeFrame(int f, QImage& picture, std::uint8_t* audio) {
  const int w = std::max(showWidth_, 1), h = std::max(showHeight_, 1);
  if (picture.width() != w || picture.height() != h || picture.format() != QImage::Format_RGB32)
    picture = QImage(w, h, QImage::Format_RGB32);
  auto blank = [&] {
    picture.fill(0);
    if (audio) std::memset(audio, 0, kAudioSlot);
    return false;
  };
  if (!IsOpen() || f < 0 || f >= FrameCount()) return blank();
  const off_t at = static_cast<off_t>(ClipStreamHeader::kSize + f * ClipStreamHeader::kFrameBytes);
  if (!readAt(fd_, pages_.data(), pages_.size(), at)) {
    error_ = "Cannot read frame " + std::to_string(f) + " of the clip file.";
    return blank();
  }
  if (audio) {
    // The lead page holds one channel; both sides of the slot get it.
    const std::uint8_t* s = pages_.data();
    for (int i = 0; i < kAudioSlot / 4; ++i) {
      audio[4 * i] = audio[4 * i + 2] = s[2 * i];
      audio[4 * i + 1] = audio[4 * i + 3] = s[2 * i + 1];
    }
  }
  const std::uint8_t* rows = pages_.data() + kPageSize;
  const bool raw = header_.Record.Kind == 2;
  const int groups = showWidth_ / 2;
  std::fill(line_.begin(), line_.end(), UyvyGroup{});
  for (int y = 0; y < showHeight_; ++y) {
    const std::uint8_t* row = rows + static_cast<std::size_t>(y / kRowsPerPage) * kPageSize +
                              kRowBytes * (y % kRowsPerPage);
    if (raw)
      DecodeRawLine(row, chip_, line_.data(), groups);
    else
      DecodeDeltaLine(row, chip_, line_.data(), groups);
    auto* out = reinterpret_cast<std::uint32_t*>(picture.scanLine(y));
    for (int j = 0; j + 1 < showWidth_; j += 2) UyvyToRgb(line_[j / 2], out[j], out[j + 1]);
    if (showWidth_ & 1) {
      std::uint32_t unused = 0;
      UyvyToRgb(line_[groups], out[showWidth_ - 1], unused);
    }
  }
  return true;
}

QImage ShownPicture(const QImage& frame, QSize size) {
  QImage shown(size, QImage::Format_RGB32);
  shown.fill(0);
  const int w = std::min(size.width(), frame.width());
  const int h = std::min(size.height(), frame.height());
  for (int y = 0; y < h; ++y)
    std::memcpy(shown.scanLine(y), frame.constScanLine(y), static_cast<std::size_t>(w) * 4);
  return shown;
}

}  // namespace orvana
