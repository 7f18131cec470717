#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace orvana {

// The sound and frame timing the device plays.
inline constexpr int kDemoFrameRate = 25;
inline constexpr int kDemoSampleRate = 48000;
inline constexpr int kDemoSamplesPerFrame = kDemoSampleRate / kDemoFrameRate;

enum class DemoVideoCodec {
  // About 5 MB for 4 s of 1080p and quick to make; lossy, by a few levels at most on the bars.
  Mjpeg,
  // Lossless and about a quarter of that size, but nearly three times slower to make and it
  // needs several hundred MB of memory while encoding 1080p.
  Ffv1,
};

struct DemoClipOptions {
  int Width = 1920;  // even, 16 to 8192
  int Height = 1080;
  int Frames = 4 * kDemoFrameRate;  // 1 to 65535 (the frame counter shows 16 bits)
  DemoVideoCodec Codec = DemoVideoCodec::Mjpeg;
  double ToneHz = 1000.0;
  double ToneDbfs = -18.0;  // peak level of the sine, same on both channels
  // Asked before every frame; true stops the write as a failure that leaves no file.
  std::function<bool()> Stopped;
};

// Frame `index` of the demo picture as 0x00RRGGBB words, `width` per row without padding: seven
// 75% colour bars, a strip of reversed bars, and a bottom strip with a white marker sweeping left
// to right every two seconds above the frame number drawn as sixteen blocks (most significant
// bit on the left).
void DrawDemoFrame(int index, int width, int height, std::uint32_t* pixels);

// Why the options cannot be written (empty when they can).
std::string CheckDemoClipOptions(const DemoClipOptions& o);

// Writes an AVI of colour bars and a tone (16-bit stereo PCM, kDemoSamplesPerFrame sample pairs
// per frame). On failure returns false with the reason in *error (when given) and leaves no
// file behind; an existing file is replaced only on success.
bool WriteDemoClip(const std::filesystem::path& file, const DemoClipOptions& o, std::string* error);

}  // namespace orvana
