#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace orvana::test {

// What an AVI fixture holds. Pictures are coded losslessly (FFV1, 32-bit RGB) unless another
// encoder is named, sound as PCM.
struct AviSpec {
  int Width = 64;
  int Height = 36;
  int Frames = 10;
  int AudioRate = 0;  // 0: no sound
  int AudioChannels = 2;
  int AudioBits = 16;          // 16 or 8
  int Gop = 10;                // keyframe distance
  std::string Codec = "ffv1";  // FFmpeg encoder name, e.g. "mpeg4", "libx264", "mjpeg"
  int BFrames = 0;             // B-frames between reference frames (encoders that have them)
  std::string Options;         // encoder options, "key=value:key=value"
};

// Whether Debian's FFmpeg build has the named encoder.
bool HasEncoder(const std::string& name);

// The pixel (0x00RRGGBB) of frame f at (x, y) in every fixture: each frame differs, and the
// green component of pixel (0, 0) is the frame number.
std::uint32_t FixturePixel(int frame, int x, int y);
// 16-bit sample of channel c at sample position s (stereo 16-bit fixtures).
std::int16_t FixtureSample(std::int64_t s, int c);

// Writes the fixture with the FFmpeg libraries; false on any failure.
bool WriteAvi(const std::filesystem::path& file, const AviSpec& format);

// Fixtures made once per test run in a temporary folder and removed at exit.
class Fixtures {
 public:
  static const std::filesystem::path& Folder();
  // The file for a format, written on first use.
  static std::filesystem::path Get(const std::string& name, const AviSpec& format);
};

}  // namespace orvana::test
