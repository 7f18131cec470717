#include "media/MediaController.h"

#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "media/AviFixture.h"

namespace orvana {
namespace {

using test::AviSpec;
using test::Fixtures;

std::filesystem::path Small(int frames, int audioRate = 48000) {
  AviSpec s;
  s.Frames = frames;
  s.AudioRate = audioRate;
  return Fixtures::Get("small" + std::to_string(frames) + "_" + std::to_string(audioRate), s);
}

int FrameNumberOf(const MediaController& m) {
  Picture p;
  if (!m.GrabFrame(p)) return -1;
  return int((p.Pixels[0] >> 8) & 0xFF);
}

TEST(PreviewGeometryTest, OneSixthCentredInPanel) {
  const PreviewRect full = PreviewGeometry(320, 180, 1920, 1080);
  EXPECT_EQ(full.Left, 0);
  EXPECT_EQ(full.Top, 0);
  EXPECT_EQ(full.Width, 320);
  EXPECT_EQ(full.Height, 180);
  const PreviewRect pal = PreviewGeometry(320, 180, 720, 576);
  EXPECT_EQ(pal.Left, 100);
  EXPECT_EQ(pal.Top, 42);
  EXPECT_EQ(pal.Width, 120);
  EXPECT_EQ(pal.Height, 96);
}

TEST(MediaControllerTest, DecodedFrameEqualsEncodedPixels) {
  AviSpec s;
  s.Width = 720;
  s.Height = 576;
  s.Frames = 3;
  const auto file = Fixtures::Get("pal3", s);
  ASSERT_FALSE(file.empty());
  MediaController m;
  ASSERT_TRUE(m.Open(file.string(), 320, 180));
  EXPECT_EQ(m.Width, 720);
  EXPECT_EQ(m.Height, 576);
  EXPECT_EQ(m.LengthFrames, 3);
  EXPECT_EQ(m.FrameRate, 25);
  EXPECT_EQ(m.Preview.Left, 100);
  EXPECT_EQ(m.Preview.Top, 42);
  ASSERT_TRUE(m.Seek(2, 0));
  Picture p;
  ASSERT_TRUE(m.GrabFrame(p));
  ASSERT_EQ(p.Width, 720);
  ASSERT_EQ(p.Height, 576);
  for (int y = 0; y < 576; ++y) {
    for (int x = 0; x < 720; ++x) {
      ASSERT_EQ(p.Pixels[std::size_t(y) * 720 + std::size_t(x)], test::FixturePixel(2, x, y))
          << "at " << x << "," << y;
    }
  }
}

TEST(MediaControllerTest, SeeksLandOnTheFrameAskedFor) {
  const auto file = Small(30);
  MediaController m;
  ASSERT_TRUE(m.Open(file.string(), 320, 180));
  ASSERT_EQ(m.LengthFrames, 30);
  // Forward, backward across keyframes, and wrapped.
  const struct {
    std::int64_t index;
    int wrap;
    int expect;
  } cases[] = {{5, 0, 5},  {29, 0, 29}, {3, 0, 3},   {12, 0, 12}, {11, 0, 11},
               {33, 1, 3}, {60, 1, 0},  {-1, 1, 29}, {0, 0, 0}};
  for (const auto& c : cases) {
    EXPECT_TRUE(m.Seek(c.index, c.wrap)) << c.index;
    EXPECT_EQ(FrameNumberOf(m), c.expect) << c.index << " wrap " << c.wrap;
  }
}

TEST(MediaControllerTest, SeekPastTheEndKeepsLastPictureAndSound) {
  const auto file = Small(10);
  MediaController m;
  ASSERT_TRUE(m.Open(file.string(), 320, 180));
  ASSERT_TRUE(m.Seek(9, 0));
  std::vector<std::uint8_t> before(7680), after(7680, 0xAA);
  ASSERT_EQ(m.GrabAudio(before.data(), 7680), 7680);
  EXPECT_FALSE(m.Seek(10 + 3, 0));
  EXPECT_EQ(FrameNumberOf(m), 9);
  ASSERT_EQ(m.GrabAudio(after.data(), 7680), 7680);
  EXPECT_EQ(before, after);
  EXPECT_TRUE(m.Seek(10 + 3, 1));
  EXPECT_EQ(FrameNumberOf(m), 3);
}

TEST(MediaControllerTest, SequentialSeeksDecodeEachFrameOnce) {
  const auto file = Small(50);
  MediaController m;
  ASSERT_TRUE(m.Open(file.string(), 320, 180));
  for (int i = 0; i < 50; ++i) {
    ASSERT_TRUE(m.Seek(i, 1));
    ASSERT_EQ(FrameNumberOf(m), i);
  }
  EXPECT_EQ(m.DecodedFrames(), 50);
}

TEST(MediaControllerTest, SoundOfTheFrameSought) {
  const auto file = Small(25);
  MediaController m;
  ASSERT_TRUE(m.Open(file.string(), 320, 180));
  EXPECT_EQ(m.HasAudio, 1);
  EXPECT_EQ(m.AudioFormat.FormatTag, 1);
  EXPECT_EQ(m.AudioFormat.Channels, 2);
  EXPECT_EQ(m.AudioFormat.SamplesPerSec, 48000u);
  EXPECT_EQ(m.AudioFormat.BitsPerSample, 16);
  EXPECT_EQ(m.AudioFormat.BlockAlign, 4);
  EXPECT_EQ(m.AudioFormat.AvgBytesPerSec, 192000u);
  for (int i : {0, 1, 2, 17, 4, 24}) {
    ASSERT_TRUE(m.Seek(i, 0));
    std::vector<std::uint8_t> a(7680);
    ASSERT_EQ(m.GrabAudio(a.data(), 7680), 7680) << i;
    for (int s = 0; s < 1920; s += 97) {
      const std::int64_t pos = std::int64_t(i) * 1920 + s;
      const auto left = std::int16_t(a[4 * s] | (a[4 * s + 1] << 8));
      const auto right = std::int16_t(a[4 * s + 2] | (a[4 * s + 3] << 8));
      ASSERT_EQ(left, test::FixtureSample(pos, 0)) << i << " " << s;
      ASSERT_EQ(right, test::FixtureSample(pos, 1)) << i << " " << s;
    }
  }
  // Asking for more than the frame has copies nothing and reports what there is.
  std::vector<std::uint8_t> big(10000, 0x5A);
  EXPECT_EQ(m.GrabAudio(big.data(), 10000), 7680);
  EXPECT_EQ(big[0], 0x5A);
}

TEST(MediaControllerTest, WithoutSound) {
  const auto file = Small(10, 0);
  MediaController m;
  ASSERT_TRUE(m.Open(file.string(), 320, 180));
  EXPECT_EQ(m.HasAudio, 0);
  const WaveFormat zero{};
  EXPECT_EQ(m.AudioFormat.FormatTag, zero.FormatTag);
  EXPECT_EQ(m.AudioFormat.SamplesPerSec, 0u);
  EXPECT_EQ(m.AudioFormat.Channels, 0);
  std::uint8_t b[16];
  EXPECT_EQ(m.GrabAudio(b, 16), 0);
}

TEST(MediaControllerTest, UnusableFilesFailToOpen) {
  const auto good = Small(10);
  const auto dir = Fixtures::Folder();
  std::vector<char> bytes;
  {
    std::ifstream in(good, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  const auto write = [&](const std::string& name, std::size_t n) {
    const auto p = dir / name;
    std::ofstream(p, std::ios::binary).write(bytes.data(), std::streamsize(n));
    return p;
  };
  // Absurd picture size: patch the main header and stream format width/height to 100000.
  std::vector<char> absurd = bytes;
  for (std::size_t i = 0; i + 8 <= absurd.size() && i < 4096; ++i) {
    if (std::string(&absurd[i], 4) == "strf") {
      const std::size_t w = i + 8 + 4;  // BITMAPINFOHEADER: size, then width, height
      const char le100000[4] = {char(0xA0), char(0x86), 0x01, 0x00};
      for (std::size_t k = 0; k < 8; ++k) absurd[w + k] = le100000[k % 4];
      break;
    }
  }
  const auto absurdFile = dir / "absurd.avi";
  std::ofstream(absurdFile, std::ios::binary).write(absurd.data(), std::streamsize(absurd.size()));
  const auto text = dir / "text.avi";
  std::ofstream(text) << "this is not a video\n";
  const std::filesystem::path files[] = {dir / "missing.avi", text, write("cut.avi", 200),
                                         write("empty.avi", 0), absurdFile};
  for (const auto& f : files) {
    MediaController m;
    EXPECT_FALSE(m.Open(f.string(), 320, 180)) << f;
    EXPECT_FALSE(m.Seek(0, 0));
    Picture p;
    EXPECT_FALSE(m.GrabFrame(p));
  }
}

}  // namespace
}  // namespace orvana
