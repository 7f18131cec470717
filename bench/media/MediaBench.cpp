// Decoding and frame-building speed against the time the link needs to move one frame.
//
// A frame is 73 page programs; a page program is 12 exchanges: the 8 data packets of 1024 bytes
// (big writes) and 4 small exchanges for the command list and the status read (2 small writes,
// 2 small reads). The transfer time of one frame at the loopback floor measured in this run is
// the baseline; building a frame for one chip should take at most half of it. Decoding is also
// measured per codec with one decoder thread as the baseline for the decoder's own threading.

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "LoopbackFloor.h"
#include "media/AviFixture.h"
#include "media/FrameBuilder.h"
#include "media/MediaController.h"

using namespace orvana;

int main() {
  const auto floor = bench::measureLoopbackFloor(3000);
  const auto us = [&](bench::Shape s) { return floor[std::size_t(s)].microsPerExchange(); };
  const double programUs = 8 * us(bench::Shape::BigWrite) + 2 * us(bench::Shape::SmallWrite) +
                           2 * us(bench::Shape::SmallRead);
  const double frameTransferMs = 73 * programUs / 1000.0;
  std::printf("floor: page program %.1f us (12 exchanges), one frame (73 programs) %.2f ms\n",
              programUs, frameTransferMs);

  std::random_device rd;
  const auto dir =
      std::filesystem::temp_directory_path() / ("orvana-media-bench-" + std::to_string(rd()));
  std::filesystem::create_directories(dir);
  test::AviSpec format;
  format.Width = 1920;
  format.Height = 1080;
  format.Frames = 25;
  format.AudioRate = 48000;
  format.Gop = 12;
  const auto file = dir / "hd.avi";
  if (!test::WriteAvi(file, format)) {
    std::fprintf(stderr, "cannot write the fixture\n");
    return 1;
  }

  // Decoding per codec: one thread (the baseline) against the decoder's own threading.
  const auto decodeMs = [](const std::filesystem::path& f, int frames, int threads) {
    MediaController m;
    m.DecoderThreads = threads;
    if (!m.Open(f.string(), 320, 180)) return -1.0;
    Picture p;
    const double t0 = bench::wallMicros();
    for (int i = 0; i < frames; ++i) {
      m.Seek(i, 0);
      m.GrabFrame(p);
    }
    return (bench::wallMicros() - t0) / 1000.0 / frames;
  };
  const struct {
    const char* label;
    const char* codec;
    int bframes;
    const char* options;
  } codecs[] = {{"Motion JPEG", "mjpeg", 0, ""},
                {"H.264 3 B-frames", "libx264", 3, "preset=veryfast"},
                {"FFV1 (16 slices)", "ffv1", 0, "level=3:slices=16"}};
  for (const auto& c : codecs) {
    if (!test::HasEncoder(c.codec)) {
      std::printf("decode 1920x1080 %-17s encoder not in this FFmpeg\n", c.label);
      continue;
    }
    test::AviSpec fixture;
    fixture.Width = 1920;
    fixture.Height = 1080;
    fixture.Frames = 25;
    fixture.Gop = 12;
    fixture.Codec = c.codec;
    fixture.BFrames = c.bframes;
    fixture.Options = c.options;
    const auto f = dir / (std::string(c.codec) + ".avi");
    if (!test::WriteAvi(f, fixture)) {
      std::fprintf(stderr, "cannot write the %s fixture\n", c.label);
      return 1;
    }
    const double one = decodeMs(f, fixture.Frames, 1);
    const double threaded = decodeMs(f, fixture.Frames, 0);
    std::printf(
        "decode 1920x1080 %-17s 1 thread %.2f ms/frame, threaded %.2f ms/frame, ratio %.2f\n",
        c.label, one, threaded, threaded / one);
  }
  if (test::HasEncoder("libx264")) {
    test::AviSpec fixture;
    fixture.Width = 1920;
    fixture.Height = 1080;
    fixture.Frames = 260;
    fixture.Gop = 250;
    fixture.Codec = "libx264";
    fixture.BFrames = 3;
    fixture.Options = "preset=veryfast";
    const auto f = dir / "gop250.avi";
    if (!test::WriteAvi(f, fixture)) {
      std::fprintf(stderr, "cannot write the long-group fixture\n");
      return 1;
    }
    const auto seekMs = [&](int threads) {
      MediaController m;
      m.DecoderThreads = threads;
      if (!m.Open(f.string(), 320, 180)) return -1.0;
      const double t0 = bench::wallMicros();
      m.Seek(125, 0);
      return (bench::wallMicros() - t0) / 1000.0;
    };
    const double one = seekMs(1);
    const double threaded = seekMs(0);
    std::printf(
        "seek 1920x1080 H.264 to frame 125 of a 250-frame group: 1 thread %.0f ms, threaded %.0f "
        "ms, ratio %.2f (target < 1000 ms: %s)\n",
        one, threaded, threaded / one, threaded < 1000.0 ? "met" : "NOT met");
  }

  MediaSources sources;
  sources.CreateSources();
  if (!sources.ClipSource->Open(file.string(), 320, 180)) return 1;
  Picture decoded;
  std::vector<std::uint8_t> sound(kFrameAudioBytes);
  const double d0 = bench::wallMicros();
  for (int i = 0; i < format.Frames; ++i) {
    sources.ClipSource->Seek(i, 0);
    sources.ClipSource->GrabFrame(decoded);
    sources.ClipSource->GrabAudio(sound.data(), kFrameAudioBytes);
  }
  const double ffv1Ms = (bench::wallMicros() - d0) / 1000.0 / format.Frames;
  std::printf("decode 1920x1080 FFV1 sequentially: %.2f ms/frame, ratio to frame transfer %.2f\n",
              ffv1Ms, ffv1Ms / frameTransferMs);

  FrameBuffer buffer;
  FrameBuilder builder(sources);
  FramePass pass;
  pass.FramesToWrite = 100;
  const struct {
    const char* name;
    int chip;
  } chips[] = {{"luma (chip 0)", 0}, {"chroma (chip 1)", 1}, {"alpha (chip 6)", 6}};
  constexpr int kRounds = 30;
  bool met = true;
  for (const auto& c : chips) {
    builder.EncodeChipFrame(buffer, c.chip, 0, pass, decoded, sound.data());  // warm
    const double t0 = bench::wallMicros();
    for (int r = 0; r < kRounds; ++r) {
      builder.EncodeChipFrame(buffer, c.chip, r + 1, pass, decoded, sound.data());
    }
    const double ms = (bench::wallMicros() - t0) / 1000.0 / kRounds;
    const double ratio = ms / frameTransferMs;
    met = met && ratio <= 0.5;
    std::printf(
        "build 73 pages, %-16s %.2f ms/frame, ratio to frame transfer %.2f (target <= 0.50)\n",
        c.name, ms, ratio);
  }
  std::printf("target %s\n", met ? "met" : "NOT met");
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return 0;
}
