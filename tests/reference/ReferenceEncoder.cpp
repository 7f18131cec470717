#include "reference/ReferenceEncoder.h"

#include <algorithm>

namespace orvana::reference {

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kRecordBytes = 481;
constexpr int kLinesPerPage = 15;
constexpr int kSamplesPerFrame = 1920;

int Red(std::uint32_t p) {
  return int((p >> 16) & 0xFF);
}
int Green(std::uint32_t p) {
  return int((p >> 8) & 0xFF);
}
int Blue(std::uint32_t p) {
  return int(p & 0xFF);
}

std::uint8_t Clamp8To247(int v) {
  return std::uint8_t(std::clamp(v, 8, 247));
}

// Picture row shown by storage line L: even rows first, then odd rows.
int RowOfLine(int line) {
  return line < 540 ? 2 * line : 2 * (line - 540) + 1;
}

}  // namespace

Role RoleOfChip(int chip) {
  Role r;
  if (chip >= 0 && chip <= 3) r.Channel = chip / 2;
  if (chip >= 4 && chip <= 7) r.Channel = 2;
  if (chip >= 8 && chip <= 10) r.Channel = 3;
  r.Kind = r.Channel == 2 ? 1 : r.Channel == 3 ? 2 : 0;
  switch (chip) {
    case 0:
    case 2:
    case 4:
      r = {Source::Clip, 0, 0, r.Channel, r.Kind};
      break;
    case 1:
    case 3:
    case 5:
      r = {Source::Clip, 1, 1, r.Channel, r.Kind};
      break;
    case 8:
      r = {Source::Clip, 0, -1, r.Channel, r.Kind};
      break;
    case 9:
      r = {Source::Clip, 1, -1, r.Channel, r.Kind};
      break;
    case 6:
    case 10:
      r = {Source::Alpha, 2, -1, r.Channel, r.Kind};
      break;
    case 7:
      r = {Source::Wipe, 3, -1, r.Channel, r.Kind};
      break;
    default:
      break;
  }
  return r;
}

YCbCrPair PairToYCbCr(std::uint32_t left, std::uint32_t right) {
  int y[2], u[2], v[2];
  const std::uint32_t px[2] = {left, right};
  for (int k = 0; k < 2; ++k) {
    const int R = Red(px[k]), G = Green(px[k]), B = Blue(px[k]);
    y[k] = ((R * 77) >> 8) + ((G * 75) >> 7) + ((B * 29) >> 8);
    v[k] = ((R * 131) >> 8) - ((G * 55) >> 7) - ((B * 21) >> 8);
    u[k] = ((B * 131) >> 8) - ((R * 11) >> 6) - ((G * 87) >> 8);
  }
  // Floor halving of a possibly negative sum, written out so it does not rely on >> of negatives.
  auto floorHalf = [](int s) { return s >= 0 ? s / 2 : -((-s + 1) / 2); };
  YCbCrPair out;
  out.Cr = Clamp8To247(floorHalf(v[0] + v[1]) + 128);
  out.Cb = Clamp8To247(floorHalf(u[0] + u[1]) + 128);
  out.Y0 = Clamp8To247(y[0]);
  out.Y1 = Clamp8To247(y[1]);
  return out;
}

std::vector<std::uint8_t> CodeRun(std::vector<std::uint8_t>& samples, int lineType) {
  static const int kSteps[8] = {0, 1, 4, 12, 24, 48, 88, 127};
  const int start = lineType == 0 ? 16 : lineType == 1 ? 128 : 0;
  std::vector<std::uint8_t> codes(samples.size() / 2, 0);
  int previous = start;
  for (std::size_t n = 0; n < samples.size(); ++n) {
    const int d = int(samples[n]) - previous;
    const int sign = d >= 0 ? 1 : 0;
    const int magnitude = d < 0 ? -d : d;
    int index = 0;
    for (int k = 0; k < 8; ++k)
      if (kSteps[k] <= magnitude) index = k;
    const int rebuilt = ((sign ? previous + kSteps[index] : previous - kSteps[index]) + 256) % 256;
    samples[n] = std::uint8_t(rebuilt);
    previous = rebuilt;
    const int code = sign | (index << 1);
    codes[n / 2] = std::uint8_t(codes[n / 2] | (n % 2 == 0 ? code : code << 4));
  }
  return codes;
}

Picture FitToFrame(const Picture& decoded, int kind, bool* exact) {
  if (exact != nullptr) *exact = true;
  Picture frame;
  frame.resize(kWidth, kHeight);  // black
  const int w = decoded.Width, h = decoded.Height;
  if (kind == 2) {
    for (int y = 0; y < std::min(h, kHeight); ++y)
      for (int x = 0; x < std::min(w, kWidth); ++x) frame.row(y)[x] = decoded.row(y)[x];
    return frame;
  }
  if (w == kWidth && h == kHeight) return decoded;

  // Double: each pixel twice across; source row i to rows j and j+2 so fields stay apart.
  Picture doubled;
  doubled.resize(2 * w, 2 * h);
  int j = 0;
  for (int i = 0; i < h; ++i) {
    for (int target : {j, j + 2}) {
      if (target >= 2 * h) continue;  // odd heights: the spare copy falls off the picture
      for (int x = 0; x < w; ++x) {
        doubled.row(target)[2 * x] = decoded.row(i)[x];
        doubled.row(target)[2 * x + 1] = decoded.row(i)[x];
      }
    }
    j += (j % 2 == 1) ? 3 : 1;
  }

  const int left = (kWidth - 2 * w) / 2 - 30;
  int srcTop = 0, srcRows = 2 * h;
  if (2 * h > kHeight) {
    const int v = (2 * h - kHeight) / 2;
    srcTop = v;
    srcRows = 2 * h - 2 * v;
  }
  if (srcRows != kHeight && exact != nullptr) *exact = false;
  for (int y = 0; y < kHeight; ++y) {
    const int sy = srcTop + int(std::int64_t(y) * srcRows / kHeight);
    for (int x = 0; x < 2 * w; ++x) {
      const int dx = left + x;
      if (dx < 0 || dx >= kWidth) continue;
      frame.row(y)[dx] = doubled.row(sy)[x];
    }
  }
  return frame;
}

std::vector<std::uint8_t> LineData(const Picture& frame, int row, int lineType, bool raw) {
  const std::uint32_t* px = frame.row(row);
  std::vector<std::uint8_t> luma(kWidth), chroma(kWidth), key(kWidth);
  for (int p = 0; p < kWidth / 2; ++p) {
    const YCbCrPair c = PairToYCbCr(px[2 * p], px[2 * p + 1]);
    luma[2 * p] = c.Y0;
    luma[2 * p + 1] = c.Y1;
    chroma[2 * p] = c.Cr;
    chroma[2 * p + 1] = c.Cb;
  }
  for (int x = 0; x < kWidth; ++x) key[x] = std::uint8_t(Blue(px[x]));

  const std::vector<std::uint8_t>& full = lineType == 0 ? luma : lineType == 1 ? chroma : key;
  if (raw) return std::vector<std::uint8_t>(full.begin(), full.begin() + 480);

  if (lineType != 1) {
    std::vector<std::uint8_t> half(960);
    for (int k = 0; k < 960; ++k) half[k] = std::uint8_t((full[2 * k] + full[2 * k + 1]) / 2);
    return CodeRun(half, lineType);
  }
  std::vector<std::uint8_t> cr(480), cb(480);
  for (int m = 0; m < 480; ++m) {
    cr[m] = std::uint8_t((chroma[4 * m] + chroma[4 * m + 2]) / 2);
    cb[m] = std::uint8_t((chroma[4 * m + 1] + chroma[4 * m + 3]) / 2);
  }
  const std::vector<std::uint8_t> a = CodeRun(cr, 1), b = CodeRun(cb, 1);
  std::vector<std::uint8_t> out(480);
  for (int m = 0; m < 240; ++m) {
    out[2 * m] = std::uint8_t(((a[m] & 0x0F) << 4) | (b[m] & 0x0F));
    out[2 * m + 1] = std::uint8_t((a[m] & 0xF0) | (b[m] >> 4));
  }
  return out;
}

FramePages EncodeChip(int chip, const Picture& decoded, const std::uint8_t* sound) {
  const Role role = RoleOfChip(chip);
  FramePages pages(kFramePages, std::vector<std::uint8_t>(kContentBytes, 0));
  if (role.From == Source::None) return pages;

  if (role.Sound >= 0 && sound != nullptr) {
    for (int s = 0; s < kSamplesPerFrame; ++s) {
      const int at = 2 * (2 * s + role.Sound);  // interleaved stereo, 16-bit little-endian
      pages[0][2 * s] = sound[at];
      pages[0][2 * s + 1] = sound[at + 1];
    }
  }

  const Picture frame = FitToFrame(decoded, role.Kind);
  for (int line = 0; line < kHeight; ++line) {
    const std::vector<std::uint8_t> data =
        LineData(frame, RowOfLine(line), role.LineType, role.Channel == 3);
    std::vector<std::uint8_t>& page = pages[1 + line / kLinesPerPage];
    const int record = (line % kLinesPerPage) * kRecordBytes;
    page[record] = 0;
    std::copy(data.begin(), data.end(), page.begin() + record + 1);
  }
  return pages;
}

ReferenceFrames::ReferenceFrames(const std::string& clip, const std::string& alpha,
                                 const std::string& wipe) {
  if (!clip.empty()) clip_.Open(clip, 320, 180);
  if (!alpha.empty()) alpha_.Open(alpha, 320, 180);
  if (!wipe.empty()) wipe_.Open(wipe, 320, 180);
}

bool ReferenceFrames::Ready(int chip) const {
  switch (RoleOfChip(chip).From) {
    case Source::Clip:
      return clip_.IsOpen();
    case Source::Alpha:
      return alpha_.IsOpen();
    case Source::Wipe:
      return wipe_.IsOpen();
    case Source::None:
      return false;
  }
  return false;
}

FramePages ReferenceFrames::Frame(int chip, std::int64_t i, int framesToWrite, int wrap) {
  const Role role = RoleOfChip(chip);
  MediaController& source = role.From == Source::Alpha  ? alpha_
                            : role.From == Source::Wipe ? wipe_
                                                        : clip_;
  source.Seek(i, wrap);  // past the end the held frame stays: the hold frames repeat it
  Picture decoded;
  source.GrabFrame(decoded);
  std::vector<std::uint8_t> sound(kSoundBlockBytes, 0);
  if (role.From == Source::Clip) {
    if (clip_.HasAudio == 1) clip_.GrabAudio(sound.data(), kSoundBlockBytes);
    const bool holdFrame = wrap == 0 && i >= framesToWrite;
    if ((role.Channel == 2 && i >= framesToWrite - 1) || (SilentHoldFrames && holdFrame))
      std::fill(sound.begin(), sound.end(), 0);
  }
  return EncodeChip(chip, decoded, sound.data());
}

}  // namespace orvana::reference
