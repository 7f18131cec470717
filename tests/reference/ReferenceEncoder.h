#pragma once

// A second, deliberately plain encoder of the device's frame format, used only by tests to check
// the production encoder and what a write leaves on flash. Per-pixel loops, no shared code with
// the media layer beyond the decoded picture type.

#include <cstdint>
#include <vector>

#include "media/MediaController.h"
#include "media/Picture.h"

namespace orvana::reference {

inline constexpr int kFramePages = 73;      // lead page + 72 picture pages
inline constexpr int kContentBytes = 7220;  // payload bytes before the page link
inline constexpr int kSoundBlockBytes = 7680;

// One chip's frame: 73 pages of 7220 content bytes, lead page first.
using FramePages = std::vector<std::vector<std::uint8_t>>;

// What a chip stores of a frame.
enum class Source { Clip, Alpha, Wipe, None };
struct Role {
  Source From = Source::None;
  int LineType = -1;  // 0 luma, 1 chroma, 2 alpha, 3 wipe
  int Sound = -1;     // 0 left, 1 right, -1 none
  int Channel = -1;   // 0..3
  int Kind = 0;       // 0 clip, 1 super wipe, 2 logo
};
Role RoleOfChip(int chip);

// Cr, Y0, Cb, Y1 of two neighbouring pixels.
struct YCbCrPair {
  std::uint8_t Cr = 0, Y0 = 0, Cb = 0, Y1 = 0;
};
YCbCrPair PairToYCbCr(std::uint32_t left, std::uint32_t right);

// The 4-bit closed-loop coder over `samples` (reconstructed in place); one code byte per pair.
std::vector<std::uint8_t> CodeRun(std::vector<std::uint8_t>& samples, int lineType);

// The 1920 x 1080 frame picture made from a decoded picture. `exact` is cleared when the picture
// needed a vertical stretch, whose filter is not fixed by the format (the result then uses the
// nearest row and is not a reliable oracle).
Picture FitToFrame(const Picture& decoded, int kind, bool* exact = nullptr);

// The 480 bytes of line data of frame-picture row `row` for a line type; raw on the logo channel.
std::vector<std::uint8_t> LineData(const Picture& frame, int row, int lineType, bool raw);

// The 73 pages of one chip from its decoded source picture and the frame's 7680-byte stereo
// sound block (null or ignored on chips without sound).
FramePages EncodeChip(int chip, const Picture& decoded, const std::uint8_t* sound);

// The per-frame recipe on the reference's own sources: seek, grab, silence rule, encode.
class ReferenceFrames {
 public:
  // Empty names leave a source closed.
  ReferenceFrames(const std::string& clip, const std::string& alpha, const std::string& wipe);
  bool Ready(int chip) const;
  FramePages Frame(int chip, std::int64_t i, int framesToWrite, int wrap);
  MediaController& ClipSource() { return clip_; }

  // The write process silences the hold frames behind a clip on every channel: repeating the
  // held frame's 40 ms of sound thirty times is noise, not a hold. Off: the held sound repeats,
  // as the frame builder on its own does.
  bool SilentHoldFrames = false;

 private:
  MediaController clip_, alpha_, wipe_;
};

}  // namespace orvana::reference
