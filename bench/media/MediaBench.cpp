// Decoding and frame-building speed against the time the link needs to move one frame.
//
// A frame is 73 page programs; a page program is 12 exchanges: the 8 data packets of 1024 bytes
// (big writes) and 4 small exchanges for the command list and the status read (2 small writes,
// 2 small reads). The transfer time of one frame at the loopback floor measured in this run is
// the baseline; building a frame for one chip should take at most half of it.

#include <cstdio>
#include <filesystem>
#include <random>
#include <vector>

#include "LoopbackFloor.h"
#include "media/AviFixture.h"
#include "media/FrameBuilder.h"

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
  const double decodeMs = (bench::wallMicros() - d0) / 1000.0 / format.Frames;
  std::printf("decode 1920x1080 FFV1 sequentially: %.2f ms/frame, ratio to frame transfer %.2f\n",
              decodeMs, decodeMs / frameTransferMs);

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
