#include "media/FrameEncoder.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "media/TModeling.h"

namespace orvana {

void EncodeLine(std::uint8_t* record, std::uint8_t* samples, int lineType, LineCoding coding) {
  record[0] = 0;
  std::uint8_t* out = record + 1;
  if (coding == LineCoding::Raw) {
    std::memcpy(out, samples, kLineDataSize);
    return;
  }
  if (lineType != kLineChroma) {
    TModeling::Code(samples, 960, TModeling::StartFor(lineType), out);
    return;
  }
  // Cr and Cb are coded as two runs of their own, each starting from 128, and their codes are
  // interleaved so that output byte j carries Cr (high nibble) and Cb (low nibble) of sample j.
  std::array<std::uint8_t, 480> cr, cb;
  for (int m = 0; m < 480; ++m) {
    cr[std::size_t(m)] = samples[2 * m];
    cb[std::size_t(m)] = samples[2 * m + 1];
  }
  std::array<std::uint8_t, 240> a, b;
  TModeling::Code(cr.data(), 480, 128, a.data());
  TModeling::Code(cb.data(), 480, 128, b.data());
  for (int m = 0; m < 240; ++m) {
    const std::uint8_t am = a[std::size_t(m)], bm = b[std::size_t(m)];
    out[2 * m] = std::uint8_t(((am & 0x0F) << 4) | (bm & 0x0F));
    out[2 * m + 1] = std::uint8_t((am & 0xF0) | (bm >> 4));
  }
  for (int m = 0; m < 480; ++m) {  // keep the reconstruction visible to the caller
    samples[2 * m] = cr[std::size_t(m)];
    samples[2 * m + 1] = cb[std::size_t(m)];
  }
}

namespace {

// Row kernels. Each computes only what its line type stores, straight from the pixels, with the
// arithmetic of PixelPairToYCbCr and of the halving (both exact integer formulas, so the results
// are the same whatever the order). Fixed trip counts and plain loops let the compiler turn them
// into vector code; __restrict tells it the byte output does not overlap the pixels.

inline int RedOf(std::uint32_t v) {
  return int((v >> 16) & 0xFF);
}
inline int GreenOf(std::uint32_t v) {
  return int((v >> 8) & 0xFF);
}
inline int BlueOf(std::uint32_t v) {
  return int(v & 0xFF);
}

inline int ClampedLuma(std::uint32_t v) {
  return detail::Clamp8To247(detail::LumaOf(RedOf(v), GreenOf(v), BlueOf(v)));
}
// Cr and Cb of the pixel pair (a, b).
inline int PairCr(std::uint32_t a, std::uint32_t b) {
  const int v = (detail::VOf(RedOf(a), GreenOf(a), BlueOf(a)) +
                 detail::VOf(RedOf(b), GreenOf(b), BlueOf(b))) >>
                1;
  return detail::Clamp8To247(v + 128);
}
inline int PairCb(std::uint32_t a, std::uint32_t b) {
  const int u = (detail::UOf(RedOf(a), GreenOf(a), BlueOf(a)) +
                 detail::UOf(RedOf(b), GreenOf(b), BlueOf(b))) >>
                1;
  return detail::Clamp8To247(u + 128);
}

constexpr int kHalfWidth = kFrameWidth / 2;    // halved luma and key samples
constexpr int kChromaWidth = kFrameWidth / 4;  // halved Cr (and Cb) samples

// Luma sample k = the mean of the lumas of pixels 2k and 2k+1.
void HalvedLumaRow(const std::uint32_t* __restrict px, std::uint8_t* __restrict out) {
  for (int k = 0; k < kHalfWidth; ++k) {
    out[k] = std::uint8_t((ClampedLuma(px[2 * k]) + ClampedLuma(px[2 * k + 1])) >> 1);
  }
}

// Alpha and wipe pictures are grey; blue stands for the level.
void HalvedKeyRow(const std::uint32_t* __restrict px, std::uint8_t* __restrict out) {
  for (int k = 0; k < kHalfWidth; ++k) {
    out[k] = std::uint8_t((BlueOf(px[2 * k]) + BlueOf(px[2 * k + 1])) >> 1);
  }
}

// Each chroma sample spans four pixels: the mean of the Cr (Cb) of its two pixel pairs. Done in
// two passes of stride 2, which vectorize, where one pass of stride 4 does not.
void HalvedChromaRow(const std::uint32_t* __restrict px, std::uint8_t* __restrict cr,
                     std::uint8_t* __restrict cb) {
  alignas(64) std::array<std::uint8_t, kHalfWidth> pairCr, pairCb;
  for (int p = 0; p < kHalfWidth; ++p) {
    pairCr[std::size_t(p)] = std::uint8_t(PairCr(px[2 * p], px[2 * p + 1]));
    pairCb[std::size_t(p)] = std::uint8_t(PairCb(px[2 * p], px[2 * p + 1]));
  }
  for (int m = 0; m < kChromaWidth; ++m) {
    cr[m] = std::uint8_t((pairCr[std::size_t(2 * m)] + pairCr[std::size_t(2 * m + 1)]) >> 1);
    cb[m] = std::uint8_t((pairCb[std::size_t(2 * m)] + pairCb[std::size_t(2 * m + 1)]) >> 1);
  }
}

// The logo channel stores the first 480 full-resolution samples of the row, uncoded.
void RawRow(const std::uint32_t* __restrict px, int lineType, std::uint8_t* __restrict out) {
  switch (lineType) {
    case kLineLuma:
      for (int x = 0; x < kLineDataSize; ++x) out[x] = std::uint8_t(ClampedLuma(px[x]));
      break;
    case kLineChroma:
      for (int p = 0; p < kLineDataSize / 2; ++p) {
        out[2 * p] = std::uint8_t(PairCr(px[2 * p], px[2 * p + 1]));
        out[2 * p + 1] = std::uint8_t(PairCb(px[2 * p], px[2 * p + 1]));
      }
      break;
    default:
      for (int x = 0; x < kLineDataSize; ++x) out[x] = std::uint8_t(BlueOf(px[x]));
      break;
  }
}

std::uint8_t* RecordOf(FrameBuffer& buffer, int line) {
  return buffer.page(1 + line / kLinesPerPage) + kLineRecordSize * (line % kLinesPerPage);
}

// Lines coded together; the field and frame heights are multiples of it.
constexpr int kBatchLines = 4;
static_assert(kFieldLines % kBatchLines == 0);

}  // namespace

void EncodePicture(FrameBuffer& buffer, const Picture& frame, int lineType, LineCoding coding) {
  if (coding == LineCoding::Raw) {
    for (int line = 0; line < kFrameHeight; ++line) {
      std::uint8_t* record = RecordOf(buffer, line);
      record[0] = 0;
      RawRow(frame.row(RowOfLine(line)), lineType, record + 1);
    }
  } else {
    // Batches of lines: the samples of all of them first, then one coder pass over all runs.
    // Luma, alpha, wipe: run b is line b (960 samples). Chroma: runs 0..3 are the Cr of lines
    // 0..3, runs 4..7 their Cb (480 samples each).
    alignas(64) std::array<std::uint8_t, kBatchLines * kHalfWidth> samples;
    alignas(64) std::array<std::uint8_t, kBatchLines * kLineDataSize> codes;
    const bool chroma = lineType == kLineChroma;
    for (int first = 0; first < kFrameHeight; first += kBatchLines) {
      for (int b = 0; b < kBatchLines; ++b) {
        const std::uint32_t* px = frame.row(RowOfLine(first + b));
        if (chroma) {
          HalvedChromaRow(px, samples.data() + b * kChromaWidth,
                          samples.data() + (kBatchLines + b) * kChromaWidth);
        } else if (lineType == kLineLuma) {
          HalvedLumaRow(px, samples.data() + b * kHalfWidth);
        } else {
          HalvedKeyRow(px, samples.data() + b * kHalfWidth);
        }
      }
      if (chroma) {
        TModeling::CodeRuns(samples.data(), 2 * kBatchLines, kChromaWidth, 128, codes.data());
      } else {
        TModeling::CodeRuns(samples.data(), kBatchLines, kHalfWidth, TModeling::StartFor(lineType),
                            codes.data());
      }
      for (int b = 0; b < kBatchLines; ++b) {
        std::uint8_t* record = RecordOf(buffer, first + b);
        record[0] = 0;
        std::uint8_t* out = record + 1;
        if (!chroma) {
          std::memcpy(out, codes.data() + b * kLineDataSize, kLineDataSize);
          continue;
        }
        // Output byte j carries the Cr code of chroma sample j (high nibble) and its Cb code.
        const std::uint8_t* a = codes.data() + b * (kChromaWidth / 2);
        const std::uint8_t* c = codes.data() + (kBatchLines + b) * (kChromaWidth / 2);
        for (int m = 0; m < kChromaWidth / 2; ++m) {
          out[2 * m] = std::uint8_t(((a[m] & 0x0F) << 4) | (c[m] & 0x0F));
          out[2 * m + 1] = std::uint8_t((a[m] & 0xF0) | (c[m] >> 4));
        }
      }
    }
  }
  // Bytes between the last record and the page link belong to no line.
  for (int p = 1; p <= kPicturePages; ++p) {
    std::memset(buffer.page(p) + kLineRecordSize * kLinesPerPage, 0,
                std::size_t(kFrameContentSize - kLineRecordSize * kLinesPerPage));
  }
}

void PutSound(FrameBuffer& buffer, const std::uint8_t* stereo, int channel) {
  std::uint8_t* lead = buffer.page(0);
  std::memset(lead, 0, kPageSize);
  for (int s = 0; s < kAudioSamplesPerFrame; ++s) {
    const std::uint8_t* sample = stereo + 4 * s + 2 * channel;
    lead[2 * s] = sample[0];
    lead[2 * s + 1] = sample[1];
  }
}

void FitFrame(Picture& frame, const Picture& decoded, ClipKind kind) {
  if (frame.Width != kFrameWidth || frame.Height != kFrameHeight) {
    frame.resize(kFrameWidth, kFrameHeight);
  }
  const int w = decoded.Width, h = decoded.Height;
  if (decoded.empty() || decoded.Pixels.size() < std::size_t(w) * std::size_t(h)) {
    std::fill(frame.Pixels.begin(), frame.Pixels.end(), 0u);
    return;
  }
  if (kind == ClipKind::Logo) {
    std::fill(frame.Pixels.begin(), frame.Pixels.end(), 0u);
    const int cw = std::min(w, kFrameWidth), ch = std::min(h, kFrameHeight);
    for (int y = 0; y < ch; ++y) {
      std::memcpy(frame.row(y), decoded.row(y), std::size_t(cw) * 4);
    }
    return;
  }
  if (w == kFrameWidth && h == kFrameHeight) {
    std::memcpy(frame.Pixels.data(), decoded.Pixels.data(), frame.Pixels.size() * 4);
    return;
  }
  // The picture is doubled so that each source field stays in its own field: source row i lands
  // on doubled rows j and j+2 with j = 4*(i/2) + i%2. The doubled picture is never built; each
  // frame row is traced back to its source row instead, which keeps memory small for any size.
  const std::int64_t dh = 2 * std::int64_t(h);
  const std::int64_t cut = dh > kFrameHeight ? (dh - kFrameHeight) / 2 : 0;
  const std::int64_t shownRows = dh - 2 * cut;
  const std::int64_t left = (kFrameWidth - 2 * std::int64_t(w)) / 2 - 30;
  const int x0 = int(std::max<std::int64_t>(0, left));
  const int x1 = int(std::min<std::int64_t>(kFrameWidth, left + 2 * std::int64_t(w)));
  for (int y = 0; y < kFrameHeight; ++y) {
    std::uint32_t* out = frame.row(y);
    const std::int64_t d = cut + (std::int64_t(y) * shownRows) / kFrameHeight;
    std::int64_t src = 2 * (d / 4) + (d % 2);
    // With an odd height the last doubled row has no source row of its own; it repeats the
    // nearest row of the same field rather than leaving a gap.
    if (src >= h) src = h >= 2 ? h - 2 : 0;
    const std::uint32_t* in = decoded.row(int(src));
    std::fill(out, out + x0, 0u);
    for (int x = x0; x < x1; ++x) out[x] = in[(x - left) / 2];
    std::fill(out + std::max(x1, x0), out + kFrameWidth, 0u);
  }
}

std::string TimecodeText(std::int64_t i) {
  if (i < 0) i = 0;
  const std::int64_t s = i / 25, m = s / 60, h = m / 60;
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d:%02d", int(h % 100), int(m % 60), int(s % 60),
                int(i % 25));
  return text;
}

namespace {

// A 5 x 7 font for the timecode's characters, drawn three times enlarged (about the height of
// an 18-point face). Our own glyphs keep the stamp identical on every machine.
constexpr int kGlyphScale = 3;
constexpr int kGlyphAdvance = 6 * kGlyphScale;
constexpr int kBoxMargin = 3;
constexpr std::array<std::array<std::uint8_t, 7>, 11> kGlyphs{{
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E},  // 0
    {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},  // 1
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F},  // 2
    {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},  // 3
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02},  // 4
    {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},  // 5
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E},  // 6
    {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},  // 7
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E},  // 8
    {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},  // 9
    {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00},  // :
}};

void FillRect(Picture& p, int x, int y, int w, int h, std::uint32_t colour) {
  for (int yy = std::max(0, y); yy < std::min(p.Height, y + h); ++yy) {
    std::uint32_t* row = p.row(yy);
    for (int xx = std::max(0, x); xx < std::min(p.Width, x + w); ++xx) row[xx] = colour;
  }
}

}  // namespace

void DrawTimecode(Picture& frame, std::int64_t frameIndex) {
  const std::string text = TimecodeText(frameIndex);
  const int x = 50, y = 40;
  const int n = int(text.size());
  FillRect(frame, x, y, kBoxMargin + n * kGlyphAdvance, 2 * kBoxMargin + 7 * kGlyphScale, 0u);
  for (int c = 0; c < n; ++c) {
    const int g = text[std::size_t(c)] == ':' ? 10 : text[std::size_t(c)] - '0';
    const int gx = x + kBoxMargin + c * kGlyphAdvance;
    for (int r = 0; r < 7; ++r) {
      for (int b = 0; b < 5; ++b) {
        if (kGlyphs[std::size_t(g)][std::size_t(r)] & (0x10 >> b)) {
          FillRect(frame, gx + b * kGlyphScale, y + kBoxMargin + r * kGlyphScale, kGlyphScale,
                   kGlyphScale, 0x00FFFFFFu);
        }
      }
    }
  }
}

void MakeThumbnail(const Picture& frame, std::uint8_t* slot, ClipKind kind, int sourceWidth,
                   int sourceHeight) {
  std::memset(slot, 0, kThumbnailSlotSize);
  if (frame.empty()) return;
  int w = frame.Width, h = frame.Height;
  if (kind == ClipKind::Logo && sourceWidth > 0 && sourceHeight > 0) {
    w = std::min(w, sourceWidth);
    h = std::min(h, sourceHeight);
  }
  // Nearest-pixel stretch, sampling the centre of each thumbnail pixel's area.
  for (int r = 0; r < kThumbnailHeight; ++r) {
    const int sy = int((std::int64_t(2 * r + 1) * h) / (2 * kThumbnailHeight));
    const std::uint32_t* in = frame.row(sy);
    for (int x = 0; x < kThumbnailWidth; ++x) {
      const int sx = int((std::int64_t(2 * x + 1) * w) / (2 * kThumbnailWidth));
      const std::uint16_t v = ToRgb565(in[sx]);
      slot[kThumbnailRowBytes * r + 2 * x] = std::uint8_t(v & 0xFF);
      slot[kThumbnailRowBytes * r + 2 * x + 1] = std::uint8_t(v >> 8);
    }
  }
}

}  // namespace orvana
