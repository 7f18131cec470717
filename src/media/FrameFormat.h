#pragma once

// Sizes of the device's frame format and of the frame buffer one chip's frame is built in. The
// clip store uses the same figures when it links and programs the pages.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvana {

inline constexpr int kPageSize = 8192;          // one NAND page as stored
inline constexpr int kPagePayloadSize = 7280;   // the part the page ECC protects
inline constexpr int kFrameContentSize = 7220;  // payload bytes the encoder fills
inline constexpr int kPageLinkOffset = 7220;    // NextPage u32, FrameEnd u8, LastFrameMark u8
inline constexpr int kFramePages = 73;          // lead page + 72 picture pages
inline constexpr int kPicturePages = 72;
inline constexpr int kFrameBufferPages = 128;  // a frame slot: two cells of 64 pages

inline constexpr int kFrameWidth = 1920;
inline constexpr int kFrameHeight = 1080;
inline constexpr int kFieldLines = 540;
inline constexpr int kLineRecordSize = 481;  // one zero byte + 480 bytes of line data
inline constexpr int kLineDataSize = 480;
inline constexpr int kLinesPerPage = 15;

inline constexpr int kFrameRate = 25;
inline constexpr int kAudioRate = 48000;
inline constexpr int kAudioSamplesPerFrame = kAudioRate / kFrameRate;  // 1920
inline constexpr int kFrameAudioBytes = kAudioSamplesPerFrame * 4;     // 7680, 16-bit stereo

inline constexpr int kThumbnailWidth = 90;
inline constexpr int kThumbnailHeight = 72;
inline constexpr int kThumbnailRowBytes = kThumbnailWidth * 2;
inline constexpr int kThumbnailSlotSize = 16384;

// What a channel's clip is stored as.
enum class ClipKind : std::uint8_t { Clip = 0, SuperWipe = 1, Logo = 2 };

// 128 page buffers for one frame of one chip: page 0 is the lead page, 1 to 72 the picture pages
// in play order, the rest unused. Allocated and zeroed once per pass, reused for every frame.
class FrameBuffer {
 public:
  FrameBuffer() : bytes_(std::size_t{kFrameBufferPages} * kPageSize, 0) {}
  std::uint8_t* page(int n) { return bytes_.data() + std::size_t(n) * kPageSize; }
  const std::uint8_t* page(int n) const { return bytes_.data() + std::size_t(n) * kPageSize; }
  std::uint8_t* data() { return bytes_.data(); }
  const std::uint8_t* data() const { return bytes_.data(); }

 private:
  std::vector<std::uint8_t> bytes_;
};

}  // namespace orvana
