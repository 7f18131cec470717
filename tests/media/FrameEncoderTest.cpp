#include "media/FrameEncoder.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "media/TModeling.h"

namespace orvana {
namespace {

const std::uint8_t* Record(const FrameBuffer& b, int line) {
  return b.page(1 + line / 15) + 481 * (line % 15);
}

TEST(PixelPairToYCbCrTest, WhiteBlackRed) {
  const struct {
    std::uint32_t pixel;
    YCbCrPair expect;
  } cases[] = {{0xFFFFFF, {129, 247, 129, 247}},
               {0x000000, {128, 8, 128, 8}},
               {0xFF0000, {247, 76, 85, 76}}};
  for (const auto& c : cases) {
    const YCbCrPair r = PixelPairToYCbCr(c.pixel, c.pixel);
    EXPECT_EQ(r.Cr, c.expect.Cr) << std::hex << c.pixel;
    EXPECT_EQ(r.Y0, c.expect.Y0);
    EXPECT_EQ(r.Cb, c.expect.Cb);
    EXPECT_EQ(r.Y1, c.expect.Y1);
  }
}

TEST(TModelingTest, WorkedRuns) {
  const struct {
    std::vector<std::uint8_t> samples;
    int type;
    std::vector<std::uint8_t> codes;
    std::vector<std::uint8_t> reconstructed;
  } cases[] = {
      {{8, 8, 8, 8}, 0, {0x44, 0x11}, {12, 8, 8, 8}},
      {{247, 247, 247, 247, 247, 247}, 0, {0xDF, 0x57, 0x11}, {143, 231, 243, 247, 247, 247}},
      {{0, 0, 0, 0, 255, 255, 255, 255},
       2,
       {0x11, 0x11, 0xFF, 0x13},
       {0, 0, 0, 0, 127, 254, 255, 255}},
      {{200, 10, 200, 10}, 1, {0xEB, 0xEF}, {176, 49, 176, 49}},
  };
  for (const auto& c : cases) {
    std::vector<std::uint8_t> s = c.samples;
    TModeling m(s.data(), int(s.size()), c.type);
    EXPECT_EQ(m.Codes(), c.codes);
    EXPECT_EQ(s, c.reconstructed);
  }
}

TEST(EncodePictureTest, BlackRowsOnEveryLineType) {
  Picture black;
  black.resize(1920, 1080);
  FrameBuffer b;
  std::array<std::uint8_t, 480> luma, other;
  luma.fill(0x11);
  luma[0] = 0x44;
  other.fill(0x11);
  for (int type : {0, 1, 2, 3}) {
    EncodePicture(b, black, type, LineCoding::FourBit);
    for (int line : {0, 539, 540, 1079}) {
      const std::uint8_t* r = Record(b, line);
      EXPECT_EQ(r[0], 0);
      const auto& expect = type == 0 ? luma : other;
      EXPECT_TRUE(std::equal(expect.begin(), expect.end(), r + 1)) << type << " " << line;
    }
  }
}

TEST(EncodePictureTest, FieldOrderPlacesLines) {
  EXPECT_EQ(RowOfLine(0), 0);
  EXPECT_EQ(RowOfLine(539), 1078);
  EXPECT_EQ(RowOfLine(540), 1);
  EXPECT_EQ(RowOfLine(1079), 1079);
  // Only row 1078 (line 539) and row 1 (line 540) are white.
  Picture p;
  p.resize(1920, 1080);
  for (int x = 0; x < 1920; ++x) p.row(1078)[x] = p.row(1)[x] = 0xFFFFFF;
  FrameBuffer b;
  EncodePicture(b, p, 2, LineCoding::FourBit);
  const std::uint8_t* page36 = b.page(36);
  const std::uint8_t* page37 = b.page(37);
  EXPECT_EQ(page36[481 * 14 + 1], 0xFF);  // record 14 of page 36 climbs from 0
  EXPECT_EQ(page37[1], 0xFF);             // record 0 of page 37
  EXPECT_EQ(page36[481 * 13 + 1], 0x11);
  EXPECT_EQ(page37[481 + 1], 0x11);
  for (int o = 7215; o < 7220; ++o) EXPECT_EQ(page36[o], 0);
}

TEST(EncodeLineTest, ChromaInterleavesCrHighCbLow) {
  std::vector<std::uint8_t> half(960);
  for (int k = 0; k < 960; ++k)
    half[std::size_t(k)] = std::uint8_t(k % 2 ? 10 + k % 37 : 200 - k % 23);
  std::vector<std::uint8_t> cr(480), cb(480);
  for (int m = 0; m < 480; ++m) {
    cr[std::size_t(m)] = half[std::size_t(2 * m)];
    cb[std::size_t(m)] = half[std::size_t(2 * m + 1)];
  }
  TModeling a(cr.data(), 480, 1), bb(cb.data(), 480, 1);
  std::array<std::uint8_t, 481> rec{};
  rec[0] = 0x77;
  EncodeLine(rec.data(), half.data(), 1, LineCoding::FourBit);
  EXPECT_EQ(rec[0], 0);
  for (int j = 0; j < 480; ++j) {
    const int crCode = (a.Codes()[std::size_t(j / 2)] >> (4 * (j % 2))) & 0xF;
    const int cbCode = (bb.Codes()[std::size_t(j / 2)] >> (4 * (j % 2))) & 0xF;
    ASSERT_EQ(rec[std::size_t(j + 1)], crCode * 16 + cbCode) << j;
  }
}

TEST(EncodePictureTest, LogoLinesAreRawSamples) {
  Picture p;
  p.resize(1920, 1080);
  for (int x = 0; x < 1920; ++x) p.row(0)[x] = std::uint32_t(x & 0xFF) | 0x00FF0000u;
  FrameBuffer b;
  EncodePicture(b, p, 2, LineCoding::Raw);
  for (int x = 0; x < 480; ++x) ASSERT_EQ(Record(b, 0)[1 + x], x & 0xFF);
  EncodePicture(b, p, 0, LineCoding::Raw);
  const YCbCrPair c = PixelPairToYCbCr(p.row(0)[2], p.row(0)[3]);
  EXPECT_EQ(Record(b, 0)[1 + 2], c.Y0);
  EXPECT_EQ(Record(b, 0)[1 + 3], c.Y1);
  EncodePicture(b, p, 1, LineCoding::Raw);
  EXPECT_EQ(Record(b, 0)[1 + 2], c.Cr);
  EXPECT_EQ(Record(b, 0)[1 + 3], c.Cb);
}

TEST(PutSoundTest, PicksOneChannel) {
  std::vector<std::uint8_t> block(7680);
  for (int i = 0; i < 3840; ++i) {
    block[std::size_t(2 * i)] = std::uint8_t(i & 0xFF);
    block[std::size_t(2 * i + 1)] = std::uint8_t(i >> 8);
  }
  FrameBuffer b;
  b.page(0)[5000] = 9;
  for (int ch : {0, 1}) {
    PutSound(b, block.data(), ch);
    for (int s = 0; s < 1920; ++s) {
      const int v = b.page(0)[2 * s] | (b.page(0)[2 * s + 1] << 8);
      ASSERT_EQ(v, 2 * s + ch);
    }
    EXPECT_EQ(b.page(0)[5000], 0);
  }
}

Picture Numbered(int w, int h) {
  Picture p;
  p.resize(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) p.row(y)[x] = std::uint32_t(y) << 12 | std::uint32_t(x);
  return p;
}
int SrcRow(std::uint32_t px) {
  return int(px >> 12);
}
int SrcCol(std::uint32_t px) {
  return int(px & 0xFFF);
}

TEST(FitFrameTest, FullSizeUnchanged) {
  Picture src = Numbered(1920, 1080), frame;
  FitFrame(frame, src, ClipKind::Clip);
  EXPECT_EQ(frame.Pixels, src.Pixels);
}

TEST(FitFrameTest, HalfSizeDoubledFieldsKeptAndShiftedLeft) {
  Picture src = Numbered(960, 540), frame;
  FitFrame(frame, src, ClipKind::SuperWipe);
  // Rows 0,1,2,3,4,5 come from source rows 0,1,0,1,2,3; columns start at source 15.
  const int rows[] = {0, 1, 0, 1, 2, 3, 2, 3};
  for (int y = 0; y < 8; ++y) EXPECT_EQ(SrcRow(frame.row(y)[0]), rows[y]) << y;
  EXPECT_EQ(SrcCol(frame.row(0)[0]), 15);
  EXPECT_EQ(SrcCol(frame.row(0)[1889]), 959);
  EXPECT_EQ(frame.row(0)[1890], 0u);
  EXPECT_EQ(frame.row(1079)[1919], 0u);
}

TEST(FitFrameTest, PalCutTopAndBottom) {
  Picture src = Numbered(720, 576), frame;
  FitFrame(frame, src, ClipKind::Clip);
  // Doubled rows 36..1115 are shown; doubled row 36 = source row 18, 37 = 19.
  EXPECT_EQ(SrcRow(frame.row(0)[300]), 18);
  EXPECT_EQ(SrcRow(frame.row(1)[300]), 19);
  EXPECT_EQ(SrcRow(frame.row(1079)[300]), 2 * (1115 / 4) + 1115 % 2);
  EXPECT_EQ(frame.row(500)[209], 0u);
  EXPECT_EQ(SrcCol(frame.row(500)[210]), 0);
  EXPECT_EQ(SrcCol(frame.row(500)[1649]), 719);
  EXPECT_EQ(frame.row(500)[1650], 0u);
}

TEST(FitFrameTest, LogoTopLeftOnBlack) {
  Picture src = Numbered(600, 100), frame;
  FitFrame(frame, src, ClipKind::Logo);
  EXPECT_EQ(frame.row(99)[599], src.row(99)[599]);
  EXPECT_EQ(frame.row(0)[0], src.row(0)[0]);
  EXPECT_EQ(frame.row(100)[0], 0u);
  EXPECT_EQ(frame.row(0)[600], 0u);
}

TEST(FitFrameTest, OddHeightStaysInsideThePicture) {
  Picture src = Numbered(640, 361), frame;
  FitFrame(frame, src, ClipKind::Clip);
  for (int y = 0; y < 1080; ++y) ASSERT_LT(SrcRow(frame.row(y)[640]), 361);
  // The bottom row of the second field repeats source row 359 (same field), not a gap.
  EXPECT_EQ(SrcRow(frame.row(1079)[640]), 359);
  Picture one = Numbered(100, 1);
  FitFrame(frame, one, ClipKind::Clip);
  EXPECT_EQ(SrcRow(frame.row(1079)[900]), 0);
}

TEST(TimecodeTest, TextAndStamp) {
  EXPECT_EQ(TimecodeText(0), "00:00:00:00");
  EXPECT_EQ(TimecodeText(1524), "00:01:00:24");
  EXPECT_EQ(TimecodeText(25 * 3600 * 100 + 1), "00:00:00:01");
  Picture p;
  p.resize(1920, 1080);
  std::fill(p.Pixels.begin(), p.Pixels.end(), 0x123456u);
  DrawTimecode(p, 1524);
  EXPECT_EQ(p.row(40)[50], 0u);         // black box corner
  EXPECT_EQ(p.row(39)[50], 0x123456u);  // outside the box
  int white = 0;
  for (int y = 40; y < 70; ++y)
    for (int x = 50; x < 260; ++x) white += p.row(y)[x] == 0xFFFFFFu;
  EXPECT_GT(white, 200);
}

TEST(ThumbnailTest, Rgb565AndSlotLayout) {
  EXPECT_EQ(ToRgb565(0xFFFFFF), 0xFFFF);
  EXPECT_EQ(ToRgb565(0xFF0000), 0xF800);
  EXPECT_EQ(ToRgb565(0x00FF00), 0x07E0);
  EXPECT_EQ(ToRgb565(0x0000FF), 0x001F);
  Picture p;
  p.resize(1920, 1080);
  std::fill(p.Pixels.begin(), p.Pixels.end(), 0xFF0000u);
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 600; ++x) p.row(y)[x] = 0x0000FFu;
  std::vector<std::uint8_t> slot(16384, 0xEE);
  MakeThumbnail(p, slot.data(), ClipKind::Clip, 600, 100);
  EXPECT_EQ(slot[180 * 71 + 2 * 89], 0x00);  // red, bottom right
  EXPECT_EQ(slot[180 * 71 + 2 * 89 + 1], 0xF8);
  EXPECT_EQ(slot[12960], 0);
  EXPECT_EQ(slot[16383], 0);
  // A logo's thumbnail is made from the logo's own corner only.
  MakeThumbnail(p, slot.data(), ClipKind::Logo, 600, 100);
  EXPECT_EQ(slot[180 * 71 + 2 * 89], 0x1F);
  EXPECT_EQ(slot[180 * 71 + 2 * 89 + 1], 0x00);
}

}  // namespace
}  // namespace orvana
