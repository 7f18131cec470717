// The reference encoder against the stated worked examples, then against the production frame
// builder on real AVI fixtures for every chip role.

#include "reference/ReferenceEncoder.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "media/AviFixture.h"
#include "media/FrameBuilder.h"

namespace orvana::reference {
namespace {

TEST(ReferenceCoder, WorkedExamples) {
  const struct {
    const char* name;
    std::vector<std::uint8_t> samples;
    int type;
    std::vector<std::uint8_t> codes;
    std::vector<std::uint8_t> rebuilt;
  } cases[] = {
      {"black luma", {8, 8, 8, 8}, 0, {0x44, 0x11}, {12, 8, 8, 8}},
      {"white luma",
       {247, 247, 247, 247, 247, 247},
       0,
       {0xDF, 0x57, 0x11},
       {143, 231, 243, 247, 247, 247}},
      {"alpha edge",
       {0, 0, 0, 0, 255, 255, 255, 255},
       2,
       {0x11, 0x11, 0xFF, 0x13},
       {0, 0, 0, 0, 127, 254, 255, 255}},
      {"chroma swing", {200, 10, 200, 10}, 1, {0xEB, 0xEF}, {176, 49, 176, 49}},
  };
  for (const auto& c : cases) {
    std::vector<std::uint8_t> s = c.samples;
    EXPECT_EQ(CodeRun(s, c.type), c.codes) << c.name;
    EXPECT_EQ(s, c.rebuilt) << c.name;
  }
}

TEST(ReferenceCoder, Colours) {
  const struct {
    std::uint32_t pixel;
    int cr, y, cb;
  } cases[] = {{0xFFFFFF, 129, 247, 129}, {0x000000, 128, 8, 128}, {0xFF0000, 247, 76, 85}};
  for (const auto& c : cases) {
    const YCbCrPair p = PairToYCbCr(c.pixel, c.pixel);
    EXPECT_EQ(p.Cr, c.cr) << std::hex << c.pixel;
    EXPECT_EQ(p.Y0, c.y) << std::hex << c.pixel;
    EXPECT_EQ(p.Y1, c.y) << std::hex << c.pixel;
    EXPECT_EQ(p.Cb, c.cb) << std::hex << c.pixel;
  }
}

TEST(ReferenceCoder, BlackLinesAndLineOrder) {
  Picture black;
  black.resize(1920, 1080);
  const FramePages luma = EncodeChip(0, black, nullptr);
  EXPECT_EQ(luma[1][0], 0);
  EXPECT_EQ(luma[1][1], 0x44);
  EXPECT_EQ(luma[1][2], 0x11);
  for (int chip : {1, 6}) {
    const FramePages pages = EncodeChip(chip, black, nullptr);
    EXPECT_EQ(
        std::vector<std::uint8_t>(pages[72].begin() + 14 * 481 + 1, pages[72].begin() + 15 * 481),
        std::vector<std::uint8_t>(480, 0x11))
        << chip;
  }
  // Row 1078 (line 539) ends the first field on page 36; row 1 (line 540) opens page 37.
  Picture marked = black;
  marked.row(1078)[0] = marked.row(1078)[1] = 0xFFFFFF;
  marked.row(1)[0] = marked.row(1)[1] = 0xFFFFFF;
  const FramePages m = EncodeChip(0, marked, nullptr);
  EXPECT_EQ(m[36][14 * 481 + 1], 0xEF);  // 16 -> 247 up by 127, then down by 127 to 8
  EXPECT_EQ(m[37][1], 0xEF);
  EXPECT_EQ(m[36][13 * 481 + 1], 0x44);
}

TEST(ReferenceCoder, FitPlacesSourcesAsStated) {
  Picture src;
  src.resize(720, 576);
  for (int y = 0; y < 576; ++y)
    for (int x = 0; x < 720; ++x) src.row(y)[x] = std::uint32_t(y << 10 | x);
  bool exact = false;
  const Picture f = FitToFrame(src, 0, &exact);
  EXPECT_TRUE(exact);
  // Doubled row 36 is source row 18 (rows 0,1 -> 0..3; 2,3 -> 4..7 ...): j = 36 comes from i = 18.
  EXPECT_EQ(f.row(0)[210], std::uint32_t(18 << 10 | 0));
  EXPECT_EQ(f.row(0)[1649], std::uint32_t(18 << 10 | 719));
  EXPECT_EQ(f.row(0)[209], 0u);
  EXPECT_EQ(f.row(0)[1650], 0u);
  EXPECT_EQ(f.row(2)[210], std::uint32_t(18 << 10 | 0));  // doubled row 38: second copy of 18
  EXPECT_EQ(f.row(1)[210], std::uint32_t(19 << 10 | 0));  // the odd field keeps odd rows
  Picture logo;
  logo.resize(600, 100);
  logo.Pixels.assign(logo.Pixels.size(), 0x123456);
  const Picture l = FitToFrame(logo, 2);
  EXPECT_EQ(l.row(99)[599], 0x123456u);
  EXPECT_EQ(l.row(100)[0], 0u);
  EXPECT_EQ(l.row(0)[600], 0u);
}

// One source setup, written on one channel.
struct BuildCase {
  const char* name;
  test::AviSpec clip;
  int channel;
  bool loop;
  test::AviSpec key;  // alpha and wipe pictures of channels 2 and 3
};

void PrintTo(const BuildCase& c, std::ostream* os) {
  *os << c.name;
}

test::AviSpec Avi(int w, int h, int frames, int rate) {
  test::AviSpec s;
  s.Width = w;
  s.Height = h;
  s.Frames = frames;
  s.AudioRate = rate;
  return s;
}

std::string NameOf(const test::AviSpec& s) {
  return "ref" + std::to_string(s.Width) + "x" + std::to_string(s.Height) + "f" +
         std::to_string(s.Frames) + "a" + std::to_string(s.AudioRate);
}

std::vector<int> ChipsOf(int channel) {
  switch (channel) {
    case 0:
      return {0, 1};
    case 1:
      return {2, 3};
    case 2:
      return {4, 5, 6, 7};
    default:
      return {8, 9, 10};
  }
}

class AgainstFrameBuilder : public ::testing::TestWithParam<BuildCase> {};

TEST_P(AgainstFrameBuilder, EveryChipOfFirstMiddleAndLastFrame) {
  const BuildCase& c = GetParam();
  const std::string clip = test::Fixtures::Get(NameOf(c.clip), c.clip).string();
  const bool keyed = c.channel >= 2;
  const std::string key = keyed ? test::Fixtures::Get(NameOf(c.key), c.key).string() : "";

  MediaSources sources;
  ASSERT_TRUE(sources.CreateSources());
  ASSERT_TRUE(sources.ClipSource->Open(clip, 320, 180));
  if (keyed) {
    ASSERT_TRUE(sources.AlphaSource->Open(key, 320, 180));
    ASSERT_TRUE(sources.WipeSource->Open(key, 320, 180));
  }
  FrameBuilder ours(sources);
  ReferenceFrames reference(clip, key, key);

  // Frames taken from the clip, hold frames and wrap as the write process sets them.
  const int n = c.clip.Frames;
  int framesToWrite = n;
  if ((c.channel <= 1 && c.loop) || c.channel == 3)
    if (n < 50) framesToWrite = (50 / n + 1) * n;
  const bool hold = (c.channel <= 1 && !c.loop) || c.channel == 2;
  const int total = framesToWrite + (hold ? 30 : 0);
  FramePass pass;
  pass.FramesToWrite = framesToWrite;
  pass.Wrap = hold ? 0 : 1;
  pass.ClipSourceWidth = c.clip.Width;
  pass.ClipSourceHeight = c.clip.Height;

  const std::set<int> frames = {0, framesToWrite / 2, framesToWrite - 1, total - 1};
  for (int chip : ChipsOf(c.channel)) {
    for (int i : frames) {
      FrameBuffer buffer;
      ASSERT_TRUE(ours.BuildFrame(buffer, chip, i, pass)) << chip;
      const FramePages want = reference.Frame(chip, i, framesToWrite, pass.Wrap);
      for (int m = 0; m < kFramePages; ++m) {
        const std::uint8_t* got = buffer.page(m);
        for (int b = 0; b < kContentBytes; ++b) {
          if (got[b] == want[std::size_t(m)][std::size_t(b)]) continue;
          FAIL() << "frame " << i << " chip " << chip << " page " << m << " byte " << b
                 << ": expected " << int(want[std::size_t(m)][std::size_t(b)]) << ", got "
                 << int(got[b]);
        }
      }
    }
  }
}

const BuildCase kCases[] = {
    {"Clip1Small", Avi(64, 540, 6, 48000), 0, false, {}},
    {"Clip1SmallLoop", Avi(64, 540, 6, 48000), 0, true, {}},
    {"Clip2SmallLoop", Avi(64, 540, 6, 48000), 1, true, {}},
    {"Clip2Silent", Avi(48, 540, 4, 0), 1, false, {}},
    {"SuperWipe", Avi(64, 540, 6, 48000), 2, false, Avi(64, 540, 6, 0)},
    {"Logo", Avi(600, 100, 6, 48000), 3, false, Avi(600, 100, 6, 0)},
    {"Logo1080", Avi(1920, 1080, 1, 0), 3, false, Avi(1920, 1080, 1, 0)},
    {"Full1080", Avi(1920, 1080, 1, 48000), 0, false, {}},
    {"Full1080Loop", Avi(1920, 1080, 1, 48000), 0, true, {}},
    {"Pal", Avi(720, 576, 1, 48000), 0, true, {}},
    {"PalHold", Avi(720, 576, 1, 48000), 1, false, {}},
    {"QuarterHd", Avi(960, 540, 2, 48000), 0, false, {}},
};

INSTANTIATE_TEST_SUITE_P(Sources, AgainstFrameBuilder, ::testing::ValuesIn(kCases),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace orvana::reference
