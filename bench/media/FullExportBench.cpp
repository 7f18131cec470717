// Full export speed and memory on a 250-frame clip 1 prepared as clip files on disk (colour bars
// with a moving marker and a tone, stored by the product's encoder), without a device.
//
// Baseline, measured in the same run: the rate at which the link could deliver the channel's
// frames at the loopback floor (a page read is one small list write and eight 1024-byte data
// reads; a frame is 73 pages per chip). An export at or above that rate keeps up with the
// read-back that comes before it. Also printed: the decoding alone, each codec's export and the
// memory each export takes above the program's idle size, and the PSNR of the recovered bars.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "LoopbackFloor.h"
#include "common/Operator.h"
#include "media/ClipFileFixture.h"
#include "media/DemoClip.h"
#include "media/FrameEncoder.h"
#include "media/FullExport.h"

using namespace orvana;

namespace {

// VmRSS / VmHWM of this process in KiB.
double procStatusKiB(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::string k = std::string(key) + ":";
  while (std::getline(in, line))
    if (line.rfind(k, 0) == 0) return std::strtod(line.c_str() + k.size(), nullptr);
  return -1;
}

// Starts a new peak from the current size (Linux: "5" to clear_refs resets VmHWM).
bool resetPeak() {
  std::ofstream out("/proc/self/clear_refs");
  out << "5";
  return static_cast<bool>(out.flush());
}

// One clip file per chip of the channel (clip 1 or super wipe): frame i stores demo frame i on
// every chip (its blue component is the keys' level) and 1920 samples of a 1 kHz tone.
bool prepareClipFiles(int channel, const std::vector<std::filesystem::path>& files, int frames) {
  static constexpr int kLineTypes[] = {kLineLuma, kLineChroma, kLineAlpha, kLineWipe};
  Picture picture;
  picture.resize(kFrameWidth, kFrameHeight);
  FrameBuffer buffer;
  std::vector<std::uint8_t> sound(kFrameAudioBytes);
  for (std::size_t i = 0; i < files.size(); ++i) {
    test::ClipFileShape layout;
    layout.Frames = frames;
    layout.Kind = channel == 2 ? 1 : 0;
    const bool ok = test::WriteClipFile(files[i], layout, [&](int f, std::uint8_t* out) {
      DrawDemoFrame(f, kFrameWidth, kFrameHeight, picture.Pixels.data());
      EncodePicture(buffer, picture, kLineTypes[i], LineCoding::FourBit);
      for (int s = 0; s < kAudioSamplesPerFrame; ++s) {
        const double t = double(f * kAudioSamplesPerFrame + s) / kAudioRate;
        const auto v =
            static_cast<std::int16_t>(std::lround(4000.0 * std::sin(2 * M_PI * 1000 * t)));
        for (int c = 0; c < 2; ++c) {
          sound[std::size_t(4 * s + 2 * c)] = std::uint8_t(std::uint16_t(v) & 0xFF);
          sound[std::size_t(4 * s + 2 * c + 1)] = std::uint8_t(std::uint16_t(v) >> 8);
        }
      }
      if (i < 2)
        PutSound(buffer, sound.data(), int(i));
      else
        std::memset(buffer.page(0), 0, kPageSize);
      std::memcpy(out, buffer.data(), ClipStreamHeader::kFrameBytes);
    });
    if (!ok) return false;
  }
  return true;
}

double psnr(const QImage& got, const Picture& want) {
  double sum = 0;
  for (int y = 0; y < want.Height; ++y) {
    const auto* a = reinterpret_cast<const std::uint32_t*>(got.constScanLine(y));
    const std::uint32_t* b = want.row(y);
    for (int x = 0; x < want.Width; ++x)
      for (int shift = 0; shift <= 16; shift += 8) {
        const double d = double((a[x] >> shift) & 0xFF) - double((b[x] >> shift) & 0xFF);
        sum += d * d;
      }
  }
  const double mse = sum / (3.0 * want.Width * want.Height);
  return mse > 0 ? 10 * std::log10(255.0 * 255.0 / mse) : INFINITY;
}

}  // namespace

int main(int argc, char** argv) {
  const int frames = argc > 1 ? std::atoi(argv[1]) : 250;
  if (frames < 1 || frames > 8186) return 2;
  char folder[] = "/tmp/orvana-full-export-bench-XXXXXX";
  if (!mkdtemp(folder)) return 1;
  const std::filesystem::path dir = folder;
  const std::vector<std::filesystem::path> files{dir / "0.0", dir / "0.1"};
  const std::vector<std::filesystem::path> wipeFiles{dir / "0.4", dir / "0.5", dir / "0.6",
                                                     dir / "0.7"};
  const int wipeFrames = std::max(1, frames / 5);

  // (1) the floor: frames per second the link delivers at best for a two-chip channel.
  const auto floorUs = bench::floorMicrosPerExchange(2000, 3);
  const double pageUs = floorUs[std::size_t(bench::Shape::SmallWrite)] +
                        8 * floorUs[std::size_t(bench::Shape::BigRead)];
  const double linkFps = 1e6 / (2.0 * kFramePages * pageUs);
  std::printf(
      "(1) floor: page read %.1f us (9 exchanges), clip 1 frame (2 x 73 pages) %.2f ms = "
      "%.1f frames/s\n",
      pageUs, 2.0 * kFramePages * pageUs / 1000.0, linkFps);

  const double p0 = bench::wallMicros();
  if (!prepareClipFiles(0, files, frames) || !prepareClipFiles(2, wipeFiles, wipeFrames)) {
    std::fprintf(stderr, "cannot write the clip files in %s\n", folder);
    return 1;
  }
  std::printf("    clip files of %d frames (clip 1) and %d (super wipe) prepared in %.1f s\n",
              frames, wipeFrames, (bench::wallMicros() - p0) / 1e6);

  // (2) decoding alone, and the PSNR of the bars against the picture that was stored.
  FullClipFrames clip;
  if (!clip.Open(0, files)) {
    std::fprintf(stderr, "%s\n", clip.Error().c_str());
    return 1;
  }
  const double d0 = bench::wallMicros();
  for (int f = 0; f < frames; ++f)
    if (!clip.Decode(f)) return 1;
  const double decodeFps = frames * 1e6 / (bench::wallMicros() - d0);
  Picture source;
  source.resize(kFrameWidth, kFrameHeight);
  DrawDemoFrame(0, kFrameWidth, kFrameHeight, source.Pixels.data());
  clip.Decode(0);
  std::printf(
      "(2) decoding only: %.1f frames/s, ratio to the floor %.2f; PSNR of demo frame 0 "
      "against its source %.2f dB\n",
      decodeFps, decodeFps / linkFps, psnr(clip.Colour(), source));
  clip.Close();

  // (3) the whole export per codec (Ut Video is the default), and a super wipe (three picture
  // streams).
  const struct {
    int channel;
    AviCodec codec;
    const char* name;
  } runs[] = {{0, AviCodec::UtVideo, "clip 1 UtVideo"}, {0, AviCodec::Ffv1, "clip 1 FFV1"},
              {0, AviCodec::Mjpeg, "clip 1 MJPEG"},     {0, AviCodec::Mpeg4, "clip 1 MPEG-4"},
              {2, AviCodec::UtVideo, "wipe UtVideo"},   {2, AviCodec::Ffv1, "wipe FFV1"},
              {2, AviCodec::Mjpeg, "wipe MJPEG"}};
  bool allOk = true;
  for (const auto& r : runs) {
    SilentOperator op;
    FullExportJob job;
    job.Channel = r.channel;
    job.Files = r.channel == 2 ? wipeFiles : files;
    job.Target = dir / "full.avi";
    job.Codec = r.codec;
    const int n = r.channel == 2 ? wipeFrames : frames;
    // The link delivers a super wipe's frames (four chips) at half the rate of clip 1's.
    const double floorFps = r.channel == 2 ? linkFps / 2 : linkFps;
    const double idleKiB = procStatusKiB("VmRSS");
    const bool peakReset = resetPeak();
    std::string error;
    const double t0 = bench::wallMicros();
    const bool ok = WriteFullExport(job, op, error);
    const double seconds = (bench::wallMicros() - t0) / 1e6;
    const double peakKiB = procStatusKiB("VmHWM");
    allOk = allOk && ok;
    std::error_code ec;
    const auto bytes = ok ? std::filesystem::file_size(job.Target, ec) : 0;
    std::printf(
        "(3) export %-14s %3d frames: %s in %.1f s = %.1f frames/s, ratio to the floor "
        "%.2f, %.1f MB",
        r.name, n, ok ? "ok" : error.c_str(), seconds, n / seconds, n / seconds / floorFps,
        double(bytes) / 1e6);
    if (peakReset)
      std::printf("; memory idle %.1f MiB, peak %.1f MiB, +%.1f MiB (target < 256 MiB: %s)\n",
                  idleKiB / 1024.0, peakKiB / 1024.0, (peakKiB - idleKiB) / 1024.0,
                  peakKiB - idleKiB < 256.0 * 1024 ? "met" : "NOT met");
    else
      std::printf("; peak memory not available here\n");
    std::filesystem::remove(job.Target, ec);
  }

  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return allOk ? 0 : 1;
}
