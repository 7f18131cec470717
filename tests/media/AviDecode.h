#pragma once

// Reads an AVI back with the FFmpeg libraries, every stream in full: what the tests of the
// exports compare with what they wrote.

#include <QImage>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace orvana::test {

struct DecodedVideo {
  std::string Codec;        // FFmpeg's codec name, e.g. "mjpeg", "ffv1", "utvideo"
  std::string PixelFormat;  // as stored, e.g. "yuvj420p", "bgr0", "gray", "gbrp"
  int Width = 0;
  int Height = 0;
  double FrameRate = 0;        // the rate the stream declares
  std::vector<QImage> Frames;  // RGB32 (0xffRRGGBB), or Grayscale8 for a grey stream
};

struct DecodedAvi {
  std::string Error;   // empty when the file was read to its end
  std::string Format;  // the container FFmpeg recognised
  std::vector<DecodedVideo> Videos;
  std::string AudioCodec;
  int AudioRate = 0;
  int AudioChannels = 0;
  std::vector<std::int16_t> Samples;  // interleaved
};

DecodedAvi DecodeAvi(const std::filesystem::path& file);

}  // namespace orvana::test
