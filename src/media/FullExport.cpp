#include "media/FullExport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <span>

#include "common/Operator.h"
#include "common/Paths.h"
#include "common/Tick.h"
#include "media/FrameEncoder.h"
#include "media/FrameFormat.h"
#include "media/TModeling.h"
#include "store/ChipLayout.h"
#include "store/ClipStore.h"

namespace orvana {

namespace {

constexpr int kLogoWidth = kLineDataSize;  // a logo stores the first 480 columns
constexpr int kHalfWidth = kFrameWidth / 2;
constexpr int kChromaWidth = kFrameWidth / 4;

// Change of the reconstruction for each 4-bit code (bit 0 up, bits 1..3 the step), modulo 256
// as the coder's own reconstruction steps.
constexpr std::array<std::uint8_t, 16> MakeChangeTable() {
  std::array<std::uint8_t, 16> t{};
  for (int c = 0; c < 16; ++c) {
    const int step = TModeling::Steps[std::size_t(c >> 1)];
    t[std::size_t(c)] = std::uint8_t((c & 1) ? step : (256 - step) & 0xFF);
  }
  return t;
}
constexpr std::array<std::uint8_t, 16> kChange = MakeChangeTable();

// The encoder's colour matrix is (1/256) [77 150 29; 131 -110 -21; -44 -87 131] on (R, G, B)
// giving (Y, Cr - 128, Cb - 128). Its inverse is exactly Y plus (V, U) times the rows below over
// 16237; the divisor is odd, so the rounding never meets a tie.
constexpr int kInverseDivisor = 16237;
constexpr int kRedV = 22173, kRedU = -40;
constexpr int kGreenV = -11363, kGreenU = -5416;
constexpr int kBlueV = -99, kBlueU = 28120;

// n / kInverseDivisor to the nearest integer.
inline int RoundedShare(int n) {
  const int twice = 2 * n + kInverseDivisor;
  const int d = 2 * kInverseDivisor;
  return twice >= 0 ? twice / d : -((-twice + d - 1) / d);
}

struct ColourShift {
  int R = 0, G = 0, B = 0;
};
inline ColourShift ShiftOf(std::uint8_t cr, std::uint8_t cb) {
  const int v = int(cr) - 128, u = int(cb) - 128;
  return {RoundedShare(kRedV * v + kRedU * u), RoundedShare(kGreenV * v + kGreenU * u),
          RoundedShare(kBlueV * v + kBlueU * u)};
}
inline std::uint32_t Clamp255(int v) {
  return std::uint32_t(v < 0 ? 0 : v > 255 ? 255 : v);
}
inline std::uint32_t PixelOf(int y, const ColourShift& s) {
  return 0xFF000000u | Clamp255(y + s.R) << 16 | Clamp255(y + s.G) << 8 | Clamp255(y + s.B);
}

// Line data (480 bytes) of storage line L of a frame's 73 pages.
inline const std::uint8_t* LineData(const std::uint8_t* frame, int line) {
  return frame + std::size_t(1 + line / kLinesPerPage) * kPageSize +
         std::size_t(kLineRecordSize) * std::size_t(line % kLinesPerPage) + 1;
}

// 960 samples of a luma or key line: two codes a byte, the low nibble first.
void UndoLine(const std::uint8_t* codes, std::uint8_t start, std::uint8_t* out) {
  std::uint8_t p = start;
  for (int j = 0; j < kLineDataSize; ++j) {
    p = std::uint8_t(p + kChange[codes[j] & 0x0F]);
    out[2 * j] = p;
    p = std::uint8_t(p + kChange[codes[j] >> 4]);
    out[2 * j + 1] = p;
  }
}

// 480 Cr and 480 Cb samples of a colour line: byte j carries the Cr code of sample j in its high
// nibble and the Cb code in its low nibble, each chain from 128.
void UndoColourLine(const std::uint8_t* codes, std::uint8_t* cr, std::uint8_t* cb) {
  std::uint8_t a = 128, b = 128;
  for (int j = 0; j < kChromaWidth; ++j) {
    a = std::uint8_t(a + kChange[codes[j] >> 4]);
    b = std::uint8_t(b + kChange[codes[j] & 0x0F]);
    cr[j] = a;
    cb[j] = b;
  }
}

void DecodeClipPicture(const std::uint8_t* lumaFrame, const std::uint8_t* colourFrame,
                       QImage& out) {
  std::array<std::uint8_t, kHalfWidth> y;
  std::array<std::uint8_t, kChromaWidth> cr, cb;
  for (int line = 0; line < kFrameHeight; ++line) {
    UndoLine(LineData(lumaFrame, line), TModeling::StartFor(kLineLuma), y.data());
    UndoColourLine(LineData(colourFrame, line), cr.data(), cb.data());
    auto* px = reinterpret_cast<std::uint32_t*>(out.scanLine(RowOfLine(line)));
    for (int m = 0; m < kChromaWidth; ++m) {
      const ColourShift s = ShiftOf(cr[std::size_t(m)], cb[std::size_t(m)]);
      const int y0 = y[std::size_t(2 * m)], y1 = y[std::size_t(2 * m + 1)];
      px[4 * m] = px[4 * m + 1] = PixelOf(y0, s);
      px[4 * m + 2] = px[4 * m + 3] = PixelOf(y1, s);
    }
  }
}

void DecodeKeyPicture(const std::uint8_t* frame, int lineType, QImage& out) {
  std::array<std::uint8_t, kHalfWidth> k;
  for (int line = 0; line < kFrameHeight; ++line) {
    UndoLine(LineData(frame, line), TModeling::StartFor(lineType), k.data());
    std::uint8_t* px = out.scanLine(RowOfLine(line));
    for (int j = 0; j < kHalfWidth; ++j) px[2 * j] = px[2 * j + 1] = k[std::size_t(j)];
  }
}

// A logo's lines are raw: luma of pixels 0..479, Cr and Cb of pixel pairs 0..239, the key.
void DecodeLogoPicture(const std::uint8_t* lumaFrame, const std::uint8_t* colourFrame,
                       const std::uint8_t* keyFrame, QImage& colour, QImage& key) {
  for (int line = 0; line < kFrameHeight; ++line) {
    const int row = RowOfLine(line);
    const std::uint8_t* y = LineData(lumaFrame, line);
    const std::uint8_t* c = LineData(colourFrame, line);
    auto* px = reinterpret_cast<std::uint32_t*>(colour.scanLine(row));
    for (int p = 0; p < kLogoWidth / 2; ++p) {
      const ColourShift s = ShiftOf(c[2 * p], c[2 * p + 1]);
      px[2 * p] = PixelOf(y[2 * p], s);
      px[2 * p + 1] = PixelOf(y[2 * p + 1], s);
    }
    std::memcpy(key.scanLine(row), LineData(keyFrame, line), kLogoWidth);
  }
}

bool ReadAt(int fd, std::uint8_t* out, std::size_t n, off_t offset) {
  while (n > 0) {
    const ssize_t got = ::pread(fd, out, n, offset);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    out += got;
    n -= std::size_t(got);
    offset += got;
  }
  return true;
}

}  // namespace

bool FullExportLayoutOf(int channel, FullExportLayout& layout) {
  switch (channel) {
    case 0:
    case 1:
      layout = {kFrameWidth, kFrameHeight, 0, true};
      return true;
    case 2:
      layout = {kFrameWidth, kFrameHeight, 2, true};
      return true;
    case 3:
      layout = {kLogoWidth, kFrameHeight, 1, false};
      return true;
    default:
      return false;
  }
}

// ---- FullClipFrames ----

FullClipFrames::~FullClipFrames() {
  Close();
}

void FullClipFrames::Close() {
  for (int fd : fds_) ::close(fd);
  fds_.clear();
  pages_.clear();
  frames_ = 0;
  channel_ = -1;
}

bool FullClipFrames::Open(int channel, const std::vector<std::filesystem::path>& files) {
  Close();
  error_.clear();
  const std::span<const int> chips = ChannelChips(channel);
  if (!FullExportLayoutOf(channel, layout_) || files.size() != chips.size()) {
    error_ = "A full export needs one clip file for every chip of the channel.";
    return false;
  }
  auto fail = [&](std::size_t i, const std::string& why) {
    error_ =
        "The clip file of chip " + std::to_string(chips[i]) + " (" + files[i].string() + ") " + why;
    Close();
    return false;
  };
  ClipRecord first;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const int fd = ::open(files[i].c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return fail(i, std::string("cannot be opened: ") + std::strerror(errno) + ".");
    fds_.push_back(fd);
    struct stat st {};
    std::uint8_t head[ClipStreamHeader::kSize];
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_size < off_t(ClipStreamHeader::kSize) || !ReadAt(fd, head, sizeof head, 0))
      return fail(i, "holds no clip header.");
    const ClipStreamHeader h = ClipStreamHeader::unpack(head);
    const ClipRecord& r = h.Record;
    if (r.Width != kFrameWidth || r.Height != kFrameHeight || r.FrameCount == 0)
      return fail(i, "holds no clip the device plays.");
    if (r.Kind != ChannelKind(channel)) return fail(i, "holds another kind of clip.");
    if (std::uint64_t(st.st_size) < h.fileSize())
      return fail(i, "is shorter than its " + std::to_string(r.FrameCount) + " frames.");
    if (i == 0) {
      first = r;
    } else if (r.FrameCount != first.FrameCount) {
      return fail(i, "has " + std::to_string(r.FrameCount) + " frames, chip " +
                         std::to_string(chips[0]) + " has " + std::to_string(first.FrameCount) +
                         ".");
    }
  }
  channel_ = channel;
  frames_ = first.FrameCount;
  pages_.assign(files.size(), std::vector<std::uint8_t>(ClipStreamHeader::kFrameBytes));
  colour_ = QImage(layout_.Width, layout_.Height, QImage::Format_RGB32);
  keys_.assign(std::size_t(layout_.KeyStreams),
               QImage(layout_.Width, layout_.Height, QImage::Format_Grayscale8));
  for (QImage& k : keys_) k.detach();  // each stream its own pixels
  sound_.assign(layout_.Sound ? std::size_t(2 * kAudioSamplesPerFrame) : 0, 0);
  return true;
}

bool FullClipFrames::Decode(int f) {
  if (f < 0 || f >= frames_) {
    error_ = "There is no frame " + std::to_string(f) + " in the clip.";
    return false;
  }
  const std::span<const int> chips = ChannelChips(channel_);
  const off_t at =
      off_t(ClipStreamHeader::kSize + std::uint64_t(f) * ClipStreamHeader::kFrameBytes);
  for (std::size_t i = 0; i < fds_.size(); ++i) {
    if (!ReadAt(fds_[i], pages_[i].data(), pages_[i].size(), at)) {
      error_ = "Cannot read frame " + std::to_string(f) + " of the clip file of chip " +
               std::to_string(chips[i]) + ".";
      return false;
    }
  }
  if (channel_ == 3) {
    DecodeLogoPicture(pages_[0].data(), pages_[1].data(), pages_[2].data(), colour_, keys_[0]);
    return true;
  }
  DecodeClipPicture(pages_[0].data(), pages_[1].data(), colour_);
  if (channel_ == 2) {
    DecodeKeyPicture(pages_[2].data(), kLineAlpha, keys_[0]);
    DecodeKeyPicture(pages_[3].data(), kLineWipe, keys_[1]);
  }
  // Each lead page holds one channel's 16-bit little-endian samples.
  for (int s = 0; s < kAudioSamplesPerFrame; ++s) {
    for (int c = 0; c < 2; ++c) {
      const std::uint8_t* b = pages_[std::size_t(c)].data() + 2 * s;
      sound_[std::size_t(2 * s + c)] = std::int16_t(std::uint16_t(b[0] | (b[1] << 8)));
    }
  }
  return true;
}

// ---- writing ----

bool WriteFullExport(const FullExportJob& job, Operator& op, std::string& error) {
  error.clear();
  FullClipFrames frames;
  if (!frames.Open(job.Channel, job.Files)) {
    error = frames.Error();
    return false;
  }
  const FullExportLayout& layout = frames.Layout();
  std::vector<AviWriter::VideoStream> streams{{layout.Width, layout.Height, job.Codec, false}};
  for (int k = 0; k < layout.KeyStreams; ++k)
    streams.push_back({layout.Width, layout.Height, job.Codec, true});
  AviWriter writer;
  if (!writer.Open(job.Target, streams, layout.Sound)) {
    error = writer.Error();
    return false;
  }
  const int total = frames.FrameCount();
  const std::string name = job.Target.filename().string();
  op.setProgressMax(total - 1);
  const std::uint32_t t0 = tickCount();
  for (int f = 0; f < total; ++f) {
    if (!frames.Decode(f)) {
      error = frames.Error();
      return false;
    }
    bool ok = writer.AddFrame(0, frames.Colour());
    for (int k = 0; ok && k < layout.KeyStreams; ++k) ok = writer.AddFrame(1 + k, frames.Key(k));
    if (ok && layout.Sound) ok = writer.AddAudio(frames.Sound().data(), kAudioSamplesPerFrame);
    if (!ok) {
      error = writer.Error();
      return false;
    }
    const std::uint32_t elapsed = ticksSince(t0);
    char fps[32];
    std::snprintf(fps, sizeof fps, "%.1f", (f + 1) * 1000.0 / double(elapsed > 0 ? elapsed : 1));
    op.setStatus(0, job.StatusPrefix + "writing " + name + ", frame " + std::to_string(f + 1) +
                        " of " + std::to_string(total) + ", " + fps + " frames/s");
    op.setProgress(f);
    op.setTitle("Exporting... " + std::to_string((f + 1) * 100 / total) + "%");
    op.processEvents();
    if (job.KeepGoing && !job.KeepGoing()) return false;  // the writer drops its file
  }
  if (!writer.Finish()) {
    error = writer.Error();
    return false;
  }
  return true;
}

// ---- FullExport ----

namespace {

// The temporary clip files of one export; removed with whatever ReadClipBack left beside them.
struct TemporaryFiles {
  std::vector<std::filesystem::path> Paths;
  ~TemporaryFiles() {
    for (const auto& p : Paths) {
      std::error_code ec;
      std::filesystem::remove(p, ec);
      std::filesystem::path part = p;
      part += ".part";
      std::filesystem::remove(part, ec);
    }
  }
};

}  // namespace

FullExport::FullExport(ClipStore& store, Operator& op) : store_(store), op_(op) {}

bool FullExport::ReadChips(int channel, int n, const std::vector<std::filesystem::path>& files) {
  const std::span<const int> chips = ChannelChips(channel);
  ClipRecord first;
  for (std::size_t i = 0; i < chips.size(); ++i) {
    const int chip = chips[i];
    if (!store_.Connected() || store_.CurrentChip != chip) store_.SelectChip(chip);
    store_.DisableControls();
    if (!store_.Connected()) {
      op_.message("Cannot read the directory of chip " + std::to_string(chip) + ".");
      return false;
    }
    if (!store_.IsClipValid(n)) {
      op_.message("Clip " + std::to_string(n + 1) + " is not on chip " + std::to_string(chip) +
                  ".");
      return false;
    }
    const ClipRecord& r = store_.ClipDirectory[std::size_t(n)];
    if (i == 0) {
      first = r;
    } else if (r.FrameCount != first.FrameCount || r.Kind != first.Kind) {
      op_.message("Clip " + std::to_string(n + 1) + " on chip " + std::to_string(chip) +
                  " is not the clip on chip " + std::to_string(chips[0]) + ".");
      return false;
    }
    const std::string before = store_.StatusText();
    store_.SetStatusText(before + ", full export: chip " + std::to_string(chip) + " (" +
                         std::to_string(i + 1) + " of " + std::to_string(chips.size()) + ")");
    const bool ok = store_.ReadClipBack(n, files[i]);
    if (store_.Connected()) store_.SetStatusText(before);
    if (!ok) {
      canceled_ = !store_.Running;
      return false;
    }
  }
  return true;
}

bool FullExport::Export(int channel, int n, const std::filesystem::path& target, AviCodec codec) {
  canceled_ = false;
  const std::span<const int> chips = ChannelChips(channel);
  if (chips.empty() || n < 0 || n >= kClipSlots) {
    op_.message("Nothing to export.");
    return false;
  }
  const int shown = store_.Connected() ? store_.CurrentChip : -1;
  TemporaryFiles temp;
  const std::string tag = ".full-" + std::to_string(::getpid());
  for (int chip : chips)
    temp.Paths.push_back(paths::workFolder() /
                         (std::to_string(n) + "." + std::to_string(chip) + tag));

  bool ok = ReadChips(channel, n, temp.Paths);
  if (ok) {
    FullExportJob job;
    job.Channel = channel;
    job.Files = temp.Paths;
    job.Target = target;
    job.Codec = codec;
    const std::string before = store_.StatusText();
    job.StatusPrefix = before.empty() ? std::string() : before + ", full export: ";
    job.KeepGoing = [this] { return store_.Running; };
    store_.BeginRunning();
    op_.setCursor(Operator::Cursor::Wait);
    std::string error;
    ok = WriteFullExport(job, op_, error);
    op_.setCursor(Operator::Cursor::Arrow);
    store_.SetStatusText(before);
    if (!ok && error.empty()) {
      canceled_ = true;
      op_.message("Process canceled.");
    } else if (!ok) {
      op_.message("Cannot export the clip: " + error);
    }
  }
  // The channel view goes back to the chip it showed.
  if (shown >= 0 && store_.Connected() && store_.CurrentChip != shown) store_.SelectChip(shown);
  store_.EnableControls();
  return ok;
}

}  // namespace orvana
