#pragma once

// Turning source pictures and sound into the payload of a frame's 73 pages: fitting the picture
// to 1920 x 1080, the colour conversion, the line coder, the lead page's sound, the timecode and
// the thumbnail.

#include <cstdint>
#include <string>

#include "media/FrameFormat.h"
#include "media/Picture.h"

namespace orvana {

struct YCbCrPair {
  std::uint8_t Cr, Y0, Cb, Y1;
};

namespace detail {
inline std::uint8_t Clamp8To247(int v) {
  return std::uint8_t(v < 8 ? 8 : v > 247 ? 247 : v);
}
inline int LumaOf(int r, int g, int b) {
  return ((r * 77) >> 8) + ((g * 75) >> 7) + ((b * 29) >> 8);
}
inline int VOf(int r, int g, int b) {
  return ((r * 131) >> 8) - ((g * 55) >> 7) - ((b * 21) >> 8);
}
inline int UOf(int r, int g, int b) {
  return ((b * 131) >> 8) - ((r * 11) >> 6) - ((g * 87) >> 8);
}
}  // namespace detail

// Two neighbouring pixels (0x00RRGGBB) to Cr, Y0, Cb, Y1, each clamped to 8..247. Inline: it is
// the inner loop of every frame.
inline YCbCrPair PixelPairToYCbCr(std::uint32_t p0, std::uint32_t p1) {
  const int r0 = int((p0 >> 16) & 0xFF), g0 = int((p0 >> 8) & 0xFF), b0 = int(p0 & 0xFF);
  const int r1 = int((p1 >> 16) & 0xFF), g1 = int((p1 >> 8) & 0xFF), b1 = int(p1 & 0xFF);
  const int v = (detail::VOf(r0, g0, b0) + detail::VOf(r1, g1, b1)) >> 1;
  const int u = (detail::UOf(r0, g0, b0) + detail::UOf(r1, g1, b1)) >> 1;
  return {detail::Clamp8To247(v + 128), detail::Clamp8To247(detail::LumaOf(r0, g0, b0)),
          detail::Clamp8To247(u + 128), detail::Clamp8To247(detail::LumaOf(r1, g1, b1))};
}

// Line types: what a chip stores of a picture row.
inline constexpr int kLineLuma = 0;
inline constexpr int kLineChroma = 1;
inline constexpr int kLineAlpha = 2;
inline constexpr int kLineWipe = 3;

// Channels 0 to 2 store 4-bit coded lines; the logo channel stores raw 8-bit samples.
enum class LineCoding { FourBit, Raw };

// Fills one 481-byte line record: the leading zero byte, then 480 bytes of line data. With
// FourBit `samples` are the 960 halved samples (overwritten by the coder's reconstruction); with
// Raw they are the full-resolution row, of which the first 480 bytes are stored.
void EncodeLine(std::uint8_t* record, std::uint8_t* samples, int lineType, LineCoding coding);

// Codes the 1080 lines of a 1920 x 1080 picture into picture pages 1 to 72 of the buffer.
void EncodePicture(FrameBuffer& buffer, const Picture& frame, int lineType, LineCoding coding);

// Storage line L (0..1079) to its picture row: the even rows first, then the odd rows.
inline int RowOfLine(int line) {
  return line < kFieldLines ? 2 * line : 2 * (line - kFieldLines) + 1;
}

// Zeroes the lead page and puts one channel (0 left, 1 right) of the frame's 1920 stereo
// 16-bit sample pairs into it.
void PutSound(FrameBuffer& buffer, const std::uint8_t* stereo7680, int channel);

// Makes the 1920 x 1080 frame picture from a decoded picture of any size (see FitFrame.cpp).
void FitFrame(Picture& frame, const Picture& decoded, ClipKind kind);

// "hh:mm:ss:ff" of frame i, as stamped on the picture.
std::string TimecodeText(std::int64_t frameIndex);
// Stamps the timecode of frame i at (50, 40), white on a solid black box.
void DrawTimecode(Picture& frame, std::int64_t frameIndex);

// 0x00RRGGBB to the 16-bit thumbnail pixel (red 5, green 6, blue 5 bits).
inline std::uint16_t ToRgb565(std::uint32_t pixel) {
  return std::uint16_t((((pixel >> 19) & 0x1F) << 11) | (((pixel >> 10) & 0x3F) << 5) |
                       ((pixel >> 3) & 0x1F));
}

// Fills a 16384-byte thumbnail slot with the 90 x 72 picture of the frame. For a logo only the
// top-left sourceWidth x sourceHeight part (where the logo sits) is used.
void MakeThumbnail(const Picture& frame, std::uint8_t* slot, ClipKind kind, int sourceWidth,
                   int sourceHeight);

}  // namespace orvana
