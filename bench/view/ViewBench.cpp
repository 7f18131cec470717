// The view's decoding and its export, on a 250-frame clip file.
//
// Decoding one frame for the window (960 x 540) is compared with the bare read of the pages it
// needs (the lead page and the picture pages of the shown rows) and with a memcpy of as many
// bytes: the decode's own cost is what it adds to the read. The export (bitmaps, WAV, MJPEG AVI)
// is measured in frames per second, with the memory it takes above the idle process.

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "common/Operator.h"
#include "media/ClipExport.h"
#include "media/ClipPictures.h"
#include "store/ClipFile.h"

using namespace orvana;

namespace {

namespace fs = std::filesystem;

constexpr int kFrames = 250;
constexpr std::size_t kPage = 8192;

double Seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// A /proc/self/status field in KiB.
long StatusKib(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::size_t n = std::strlen(field);
  while (std::getline(in, line))
    if (line.compare(0, n, field) == 0 && line.size() > n && line[n] == ':')
      return std::stol(line.substr(n + 1));
  return -1;
}

// Starts VmHWM again from the current resident size.
bool ResetPeak() {
  std::ofstream out("/proc/self/clear_refs");
  out << "5";
  return static_cast<bool>(out.flush());
}

// A clip file of rows in small random steps with a band that moves, and a tone in the lead page.
bool WriteClip(const fs::path& file) {
  ClipStreamHeader h;
  h.Slot = 0;
  h.Record.Width = 1920;
  h.Record.Height = 1080;
  h.Record.FrameCount = kFrames;
  h.Record.HasAudio = 1;
  h.Record.SourceFrames = kFrames;
  std::FILE* out = std::fopen(file.c_str(), "wb");
  if (out == nullptr) return false;
  const auto head = h.pack();
  bool ok = std::fwrite(head.data(), 1, head.size(), out) == head.size();
  std::vector<std::uint8_t> frame(ClipStreamHeader::kFrameBytes);
  std::mt19937 random(7);
  for (int f = 0; ok && f < kFrames; ++f) {
    std::fill(frame.begin(), frame.end(), 0);
    for (int s = 0; s < 1920; ++s) {
      const auto v = static_cast<std::uint16_t>(
          static_cast<std::int16_t>(8000 * std::sin((f * 1920 + s) * 0.13)));
      frame[2 * std::size_t(s)] = static_cast<std::uint8_t>(v & 0xFF);
      frame[2 * std::size_t(s) + 1] = static_cast<std::uint8_t>(v >> 8);
    }
    for (int r = 0; r < 1080; ++r) {
      std::uint8_t* row =
          frame.data() + kPage * std::size_t(1 + r / 15) + 481 * std::size_t(r % 15);
      const bool band = (r + 4 * f) % 1080 < 60;
      for (int i = 1; i <= 480; ++i)
        row[i] = band ? 0x55 : static_cast<std::uint8_t>(0x22 | (random() & 0x11));
    }
    ok = std::fwrite(frame.data(), 1, frame.size(), out) == frame.size();
  }
  return std::fclose(out) == 0 && ok;
}

// Counts what the export shows; answers nothing.
class CountingOperator : public SilentOperator {
 public:
  void message(const std::string& text) override { messages.push_back(text); }
  std::vector<std::string> messages;
};

}  // namespace

int main() {
  std::random_device rd;
  const fs::path dir = fs::temp_directory_path() / ("orvana-view-bench-" + std::to_string(rd()));
  const fs::path work = dir / "avistream";
  fs::create_directories(work);
  const fs::path clipFile = work / "1.0";
  if (!WriteClip(clipFile)) {
    std::fprintf(stderr, "cannot write the clip file\n");
    return 1;
  }
  std::printf("clip file: %d frames of 1920 x 1080, %.1f MiB\n", kFrames,
              double(fs::file_size(clipFile)) / (1 << 20));

  ClipPictures clip;
  if (!clip.Open(clipFile, 0)) {
    std::fprintf(stderr, "%s\n", clip.Error().c_str());
    return 1;
  }
  // What a shown frame reads: the lead page and the pages of the 540 shown rows.
  const std::size_t pages = 1 + (540 + 14) / 15;
  const std::size_t bytes = pages * kPage;
  std::vector<std::uint8_t> buffer(bytes), copy(bytes);
  QImage picture;
  std::vector<std::uint8_t> audio(ClipPictures::kAudioSlot);
  clip.DecodeFrame(0, picture, audio.data());  // warm

  constexpr int kRounds = 2;
  const int fd = ::open(clipFile.c_str(), O_RDONLY | O_CLOEXEC);
  double t0 = Seconds();
  for (int r = 0; r < kRounds; ++r)
    for (int f = 0; f < kFrames; ++f) {
      const off_t at =
          static_cast<off_t>(ClipStreamHeader::kSize + f * ClipStreamHeader::kFrameBytes);
      if (::pread(fd, buffer.data(), bytes, at) != static_cast<ssize_t>(bytes)) return 1;
    }
  const double readS = (Seconds() - t0) / (kRounds * kFrames);
  ::close(fd);
  t0 = Seconds();
  for (int r = 0; r < kRounds; ++r)
    for (int f = 0; f < kFrames; ++f) {
      buffer[0] = static_cast<std::uint8_t>(f);
      std::memcpy(copy.data(), buffer.data(), bytes);
    }
  const double copyS = (Seconds() - t0) / (kRounds * kFrames);
  std::uint8_t sink = copy[0];
  t0 = Seconds();
  for (int r = 0; r < kRounds; ++r)
    for (int f = 0; f < kFrames; ++f) {
      clip.DecodeFrame(f, picture, audio.data());
      const QImage shown = ShownPicture(picture, {960, 540});
      sink = static_cast<std::uint8_t>(sink + shown.constBits()[f]);
    }
  const double decodeS = (Seconds() - t0) / (kRounds * kFrames);
  std::printf("baseline: read of %zu pages %.3f ms (%.0f /s), memcpy of %zu KiB %.3f ms\n", pages,
              readS * 1e3, 1 / readS, bytes / 1024, copyS * 1e3);
  std::printf(
      "view decode 960 x 540 (with the shown copy): %.3f ms/frame, %.0f frames/s, ratio to the "
      "read %.2f, to the memcpy %.1f (target >= 100 frames/s: %s)\n",
      decodeS * 1e3, 1 / decodeS, decodeS / readS, decodeS / copyS,
      1 / decodeS >= 100 ? "met" : "NOT met");

  // The export, from an idle process: the peak resident size is started again just before.
  clip.Close();
  picture = QImage();
  if (!clip.Open(clipFile, 0)) return 1;
  const long idleKib = StatusKib("VmRSS");
  const bool peakReset = ResetPeak();
  CountingOperator op;
  ClipExportOptions o;
  o.WorkFolder = work;
  o.Target = dir / "export.avi";
  double muxAt = 0;
  o.BeforeMux = [&](const fs::path&) { muxAt = Seconds(); };
  t0 = Seconds();
  const bool ok = ExportClip(clip, o, op);
  const double exportS = Seconds() - t0;
  const long peakKib = StatusKib("VmHWM");
  if (!ok) {
    std::fprintf(stderr, "export failed: %s\n", op.messages.empty() ? "" : op.messages[0].c_str());
    return 1;
  }
  const double aboveMiB = double(peakKib - idleKib) / 1024;
  std::printf(
      "export %d frames (MJPEG AVI %.1f MiB): %.2f s, %.1f frames/s; pictures and WAV %.2f s, "
      "mux %.2f s\n",
      kFrames, double(fs::file_size(o.Target)) / (1 << 20), exportS, kFrames / exportS, muxAt - t0,
      t0 + exportS - muxAt);
  std::printf(
      "export memory: idle %.1f MiB, peak %.1f MiB%s, %.1f MiB above idle (target < 256 MiB: "
      "%s)\n",
      double(idleKib) / 1024, double(peakKib) / 1024, peakReset ? "" : " (peak since start)",
      aboveMiB, aboveMiB < 256 ? "met" : "NOT met");
  std::error_code ec;
  fs::remove_all(dir, ec);
  std::printf("(checksum %u)\n", unsigned(sink));
  return 0;
}
