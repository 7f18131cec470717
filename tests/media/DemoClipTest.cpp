#include "media/DemoClip.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <ostream>
#include <random>
#include <vector>

#include "media/MediaController.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace orvana {
namespace {

namespace fs = std::filesystem;

struct TempFolder {
  fs::path path;
  TempFolder() {
    std::random_device rd;
    path = fs::temp_directory_path() / ("orvana-demo-clip-" + std::to_string(rd()));
    fs::create_directories(path);
  }
  ~TempFolder() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

struct Rgb {
  int r, g, b;
};
Rgb At(const Picture& p, int x, int y) {
  const std::uint32_t v = p.row(y)[x];
  return {int(v >> 16) & 0xFF, int(v >> 8) & 0xFF, int(v) & 0xFF};
}

// The frame rate the file itself declares (MediaController assumes the device's rate).
double DeclaredFrameRate(const fs::path& file) {
  AVFormatContext* fc = nullptr;
  if (avformat_open_input(&fc, file.c_str(), nullptr, nullptr) < 0) return 0;
  double rate = 0;
  if (avformat_find_stream_info(fc, nullptr) >= 0) {
    const int v = av_find_best_stream(fc, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (v >= 0) rate = av_q2d(fc->streams[v]->avg_frame_rate);
  }
  avformat_close_input(&fc);
  return rate;
}

struct Case {
  const char* name;
  DemoVideoCodec codec;
  int width, height, frames;
  int tolerance;  // per colour channel; MJPEG is lossy
};
// Keeps the test names CTest lists stable (the default prints the bytes, pointer included).
void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

class DemoClipTest : public ::testing::TestWithParam<Case> {};

TEST_P(DemoClipTest, OpensAsADeviceSourceWithBarsAndMotion) {
  const Case& c = GetParam();
  TempFolder tmp;
  const fs::path file = tmp.path / "demo.avi";
  DemoClipOptions o;
  o.Codec = c.codec;
  o.Width = c.width;
  o.Height = c.height;
  o.Frames = c.frames;
  std::string error;
  ASSERT_TRUE(WriteDemoClip(file, o, &error)) << error;
  EXPECT_FALSE(fs::exists(tmp.path / "demo.avi.part"));

  MediaController m;
  ASSERT_TRUE(m.Open(file.string(), 320, 180));
  EXPECT_EQ(m.Width, c.width);
  EXPECT_EQ(m.Height, c.height);
  EXPECT_EQ(m.LengthFrames, c.frames);
  EXPECT_DOUBLE_EQ(DeclaredFrameRate(file), 25.0);
  ASSERT_EQ(m.HasAudio, 1);
  EXPECT_EQ(m.AudioFormat.FormatTag, 1);
  EXPECT_EQ(m.AudioFormat.BitsPerSample, 16);
  EXPECT_EQ(m.AudioFormat.Channels, 2);
  EXPECT_EQ(m.AudioFormat.SamplesPerSec, 48000u);

  // 75% bars on top, the reversed strip below them.
  const Rgb bars[7] = {{191, 191, 191}, {191, 191, 0}, {0, 191, 191}, {0, 191, 0},
                       {191, 0, 191},   {191, 0, 0},   {0, 0, 191}};
  const Rgb reversed[7] = {{0, 0, 191},   {0, 0, 0}, {191, 0, 191},  {0, 0, 0},
                           {0, 191, 191}, {0, 0, 0}, {191, 191, 191}};
  const int barsY = c.height / 3;
  const int reversedY = c.height * 17 / 24;
  const int trackY = c.height * 13 / 16;
  Picture p;
  std::vector<double> markerX;
  std::vector<std::uint32_t> previousStrip;
  for (int f = 0; f < c.frames; ++f) {
    ASSERT_TRUE(m.Seek(f, 0)) << f;
    ASSERT_TRUE(m.GrabFrame(p));
    if (f == 0 || f == c.frames - 1) {
      for (int i = 0; i < 7; ++i) {
        const int x = (2 * i + 1) * c.width / 14;
        for (const auto& [y, want] :
             {std::pair{barsY, bars[i]}, std::pair{reversedY, reversed[i]}}) {
          const Rgb got = At(p, x, y);
          EXPECT_NEAR(got.r, want.r, c.tolerance) << "frame " << f << " x " << x << " y " << y;
          EXPECT_NEAR(got.g, want.g, c.tolerance) << "frame " << f << " x " << x << " y " << y;
          EXPECT_NEAR(got.b, want.b, c.tolerance) << "frame " << f << " x " << x << " y " << y;
        }
      }
    }
    // Every frame differs from the one before somewhere below the bars.
    const std::vector<std::uint32_t> strip(p.row(c.height * 3 / 4), p.row(0) + p.Pixels.size());
    if (f > 0) {
      EXPECT_NE(strip, previousStrip) << "frame " << f << " repeats the one before";
    }
    previousStrip = strip;
    // Where the white marker stands on its track.
    double sum = 0;
    int count = 0;
    for (int x = 0; x < c.width; ++x) {
      const Rgb v = At(p, x, trackY);
      if (v.r > 200 && v.g > 200 && v.b > 200) {
        sum += x;
        ++count;
      }
    }
    ASSERT_GT(count, 0) << "no marker in frame " << f;
    markerX.push_back(sum / count);
  }
  // It sweeps from the left edge to the right one and starts again.
  ASSERT_GE(markerX.size(), 10u);
  EXPECT_LT(markerX[0], c.width / 10.0);
  for (std::size_t f = 1; f < 10; ++f) EXPECT_GT(markerX[f], markerX[f - 1]) << f;
}

INSTANTIATE_TEST_SUITE_P(Codecs, DemoClipTest,
                         ::testing::Values(Case{"DefaultMjpeg", DemoVideoCodec::Mjpeg, 1920, 1080,
                                                100, 6},
                                           Case{"Ffv1Pal", DemoVideoCodec::Ffv1, 720, 576, 12, 0}),
                         [](const auto& test) { return std::string(test.param.name); });

TEST(DemoClipSoundTest, ToneIsOneKilohertzAtMinus18DbfsOnBothChannels) {
  TempFolder tmp;
  const fs::path file = tmp.path / "tone.avi";
  DemoClipOptions o;
  o.Width = 320;
  o.Height = 180;
  o.Frames = 30;
  std::string error;
  ASSERT_TRUE(WriteDemoClip(file, o, &error)) << error;
  MediaController m;
  ASSERT_TRUE(m.Open(file.string(), 320, 180));
  const double peakWanted = 32767 * std::pow(10.0, -18.0 / 20);
  for (int f : {0, 1, 17, 29}) {
    ASSERT_TRUE(m.Seek(f, 0));
    std::vector<std::int16_t> s(1920 * 2);
    ASSERT_EQ(m.GrabAudio(reinterpret_cast<std::uint8_t*>(s.data()), int(s.size() * 2)),
              int(s.size() * 2))
        << "frame " << f << " must carry exactly 1920 sample pairs";
    int crossings = 0, lastSign = 0, peak = 0;
    double power = 0;
    for (std::size_t i = 0; i < 1920; ++i) {
      const int l = s[2 * i], r = s[2 * i + 1];
      ASSERT_EQ(l, r) << "frame " << f << " sample " << i;
      const int sign = (l > 0) - (l < 0);
      if (sign != 0 && lastSign != 0 && sign != lastSign) ++crossings;
      if (sign != 0) lastSign = sign;
      peak = std::max(peak, std::abs(l));
      power += double(l) * l;
    }
    // 1 kHz: forty periods in a frame of 1/25 s, two crossings each.
    EXPECT_NEAR(crossings, 80, 2) << "frame " << f;
    EXPECT_NEAR(peak, peakWanted, peakWanted * 0.01) << "frame " << f;
    EXPECT_NEAR(std::sqrt(power / 1920), peakWanted / std::sqrt(2.0), peakWanted * 0.02);
  }
}

TEST(DemoClipFileTest, FailureReportsTheReasonAndLeavesNoFile) {
  TempFolder tmp;
  std::ofstream(tmp.path / "plain-file") << "not a folder";
  fs::create_directory(tmp.path / "folder.avi");
  struct Bad {
    const char* what;
    fs::path file;
    DemoClipOptions options;
  };
  DemoClipOptions odd;
  odd.Width = 1919;
  DemoClipOptions empty;
  empty.Frames = 0;
  const Bad cases[] = {
      {"folder missing", tmp.path / "missing" / "demo.avi", {}},
      {"parent is a file", tmp.path / "plain-file" / "demo.avi", {}},
      {"odd width", tmp.path / "odd.avi", odd},
      {"no frames", tmp.path / "empty.avi", empty},
      // Fails only at the rename, after the whole clip was written.
      {"target is a folder", tmp.path / "folder.avi", {}},
  };
  for (const Bad& b : cases) {
    std::string error;
    EXPECT_FALSE(WriteDemoClip(b.file, b.options, &error)) << b.what;
    EXPECT_FALSE(error.empty()) << b.what;
  }
  // Nothing was left behind, not even a partial file.
  std::vector<fs::path> left;
  for (const auto& e : fs::directory_iterator(tmp.path)) left.push_back(e.path().filename());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<fs::path>{"folder.avi", "plain-file"}));
  EXPECT_TRUE(fs::is_empty(tmp.path / "folder.avi"));
}

TEST(DemoClipFileTest, ReplacesAnExistingFile) {
  TempFolder tmp;
  const fs::path file = tmp.path / "demo.avi";
  std::ofstream(file) << "old";
  DemoClipOptions o;
  o.Width = 64;
  o.Height = 36;
  o.Frames = 2;
  std::string error;
  ASSERT_TRUE(WriteDemoClip(file, o, &error)) << error;
  MediaController m;
  ASSERT_TRUE(m.Open(file.string(), 320, 180));
  EXPECT_EQ(m.LengthFrames, 2);
}

}  // namespace
}  // namespace orvana
