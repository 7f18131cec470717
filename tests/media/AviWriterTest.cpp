// AviWriter's files as FFmpeg reads them back, and what a failed write leaves behind.
#include "media/AviWriter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <ostream>

#include "media/AviDecode.h"
#include "support/TempHome.h"

namespace orvana {
namespace {

namespace fs = std::filesystem;

constexpr int kW = 96, kH = 64;

// Smooth ramps that move with the frame, so a lossy codec stays close and frames differ.
QImage Picture(int f) {
  QImage p(kW, kH, QImage::Format_RGB32);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      p.setPixel(x, y, qRgb(x * 2 + f * 20, y * 3 + 40, (x + y) / 2 + f * 30));
  return p;
}

// A key picture: the blue component counts.
QImage Key(int f) {
  QImage p(kW, kH, QImage::Format_RGB32);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) p.setPixel(x, y, qRgb(200, 7, x + y + f * 20));
  return p;
}

QImage GreyKey(int f) {
  const QImage rgb = Key(f);
  QImage grey(kW, kH, QImage::Format_Grayscale8);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) grey.scanLine(y)[x] = static_cast<uchar>(qBlue(rgb.pixel(x, y)));
  return grey;
}

std::int16_t Sample(int i, int c) {
  return static_cast<std::int16_t>((i * 37 + c * 1000) % 60000 - 30000);
}

// Largest difference of any colour component.
int MaxDifference(const QImage& a, const QImage& b) {
  int worst = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) {
      const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
      worst = std::max({worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                        std::abs(qBlue(p) - qBlue(q))});
    }
  return worst;
}

std::string Bytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<fs::path> Leftovers(const fs::path& folder) {
  std::vector<fs::path> found;
  for (const auto& e : fs::directory_iterator(folder))
    if (e.path().filename().string().find(".part") != std::string::npos) found.push_back(e.path());
  return found;
}

struct CodecCase {
  const char* name;
  AviCodec codec;
  const char* ffmpegName;
  const char* pixelFormat;
  const char* greyFormat;
  int tolerance;  // 0: the pictures come back exactly
};
void PrintTo(const CodecCase& c, std::ostream* os) {
  *os << c.name;
}

class AviWriterCodecs : public ::testing::TestWithParam<CodecCase> {
 protected:
  test::TempHome home;
};

TEST_P(AviWriterCodecs, PictureKeyAndSoundComeBackFromFfmpeg) {
  const CodecCase& c = GetParam();
  const fs::path file = home.path() / "out.avi";
  constexpr int kFrames = 4;
  constexpr int kPairs = 1920;
  std::vector<std::int16_t> sound;
  {
    AviWriter w;
    ASSERT_TRUE(w.Open(file, {{kW, kH, c.codec, false}, {kW, kH, c.codec, true}}, true))
        << w.Error();
    for (int f = 0; f < kFrames; ++f) {
      std::vector<std::int16_t> pairs(2 * kPairs);
      for (int i = 0; i < kPairs; ++i)
        for (int ch = 0; ch < 2; ++ch) pairs[2 * i + ch] = Sample(f * kPairs + i, ch);
      sound.insert(sound.end(), pairs.begin(), pairs.end());
      ASSERT_TRUE(w.AddFrame(0, Picture(f))) << w.Error();
      // The key once as a grey picture and once as the blue of an RGB32 one.
      ASSERT_TRUE(w.AddFrame(1, f % 2 ? Key(f) : GreyKey(f))) << w.Error();
      ASSERT_TRUE(w.AddAudio(pairs.data(), kPairs)) << w.Error();
    }
    ASSERT_FALSE(fs::exists(file));  // only Finish() puts it in place
    ASSERT_TRUE(w.Finish()) << w.Error();
  }
  EXPECT_TRUE(Leftovers(home.path()).empty());

  const test::DecodedAvi avi = test::DecodeAvi(file);
  ASSERT_EQ(avi.Error, "");
  EXPECT_EQ(avi.Format, "avi");
  ASSERT_EQ(avi.Videos.size(), 2u);
  for (int s = 0; s < 2; ++s) {
    const test::DecodedVideo& v = avi.Videos[static_cast<std::size_t>(s)];
    SCOPED_TRACE("stream " + std::to_string(s));
    EXPECT_EQ(v.Codec, c.ffmpegName);
    EXPECT_EQ(v.PixelFormat, s == 0 ? c.pixelFormat : c.greyFormat);
    EXPECT_EQ(v.Width, kW);
    EXPECT_EQ(v.Height, kH);
    EXPECT_DOUBLE_EQ(v.FrameRate, 25.0);
    ASSERT_EQ(v.Frames.size(), std::size_t(kFrames));
    for (int f = 0; f < kFrames; ++f) {
      const QImage& got = v.Frames[static_cast<std::size_t>(f)];
      if (s == 0) {
        const int d = MaxDifference(got, Picture(f));
        if (c.tolerance == 0) {
          EXPECT_EQ(got, Picture(f)) << "frame " << f;
        } else {
          EXPECT_LE(d, c.tolerance) << "frame " << f;
        }
        // Neighbouring frames differ by far more than the codec's error.
        if (f > 0) {
          EXPECT_GT(MaxDifference(got, Picture(f - 1)), 20);
        }
      } else {
        const QImage key = got.convertToFormat(QImage::Format_RGB32);
        const QImage wanted = Key(f);
        int worst = 0;
        for (int y = 0; y < kH; ++y)
          for (int x = 0; x < kW; ++x)
            for (const int level :
                 {qRed(key.pixel(x, y)), qGreen(key.pixel(x, y)), qBlue(key.pixel(x, y))})
              worst = std::max(worst, std::abs(level - qBlue(wanted.pixel(x, y))));
        EXPECT_LE(worst, c.tolerance) << "key frame " << f;
      }
    }
  }
  EXPECT_EQ(avi.AudioCodec, "pcm_s16le");
  EXPECT_EQ(avi.AudioRate, 48000);
  EXPECT_EQ(avi.AudioChannels, 2);
  EXPECT_EQ(avi.Samples, sound);
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, AviWriterCodecs,
    ::testing::Values(CodecCase{"Mjpeg", AviCodec::Mjpeg, "mjpeg", "yuvj420p", "yuvj420p", 8},
                      CodecCase{"Ffv1", AviCodec::Ffv1, "ffv1", "bgr0", "gray", 0},
                      CodecCase{"UtVideo", AviCodec::UtVideo, "utvideo", "gbrp", "gbrp", 0},
                      CodecCase{"Mpeg4", AviCodec::Mpeg4, "mpeg4", "yuv420p", "yuv420p", 12}),
    [](const ::testing::TestParamInfo<CodecCase>& c) { return std::string(c.param.name); });

class AviWriterFailures : public ::testing::Test {
 protected:
  void SetUp() override {
    target = home.path() / "kept.avi";
    std::ofstream(target, std::ios::binary) << "an older export";
  }
  test::TempHome home;
  fs::path target;
};

TEST_F(AviWriterFailures, AbandonedAndDestroyedWritesLeaveTheOldFileAndNoTemporary) {
  {
    AviWriter w;
    ASSERT_TRUE(w.Open(target, {{kW, kH, AviCodec::Mjpeg, false}}, true));
    ASSERT_TRUE(w.AddFrame(0, Picture(0)));
    ASSERT_EQ(Leftovers(home.path()).size(), 1u);
    w.Abandon();
    EXPECT_TRUE(Leftovers(home.path()).empty());
    ASSERT_TRUE(w.Open(target, {{kW, kH, AviCodec::Ffv1, false}}, false));
    ASSERT_TRUE(w.AddFrame(0, Picture(0)));
  }  // destroyed unfinished
  EXPECT_TRUE(Leftovers(home.path()).empty());
  EXPECT_EQ(Bytes(target), "an older export");
}

TEST_F(AviWriterFailures, RefusedInputsAreNamedAndFinishThenFails) {
  struct Case {
    const char* what;
    std::function<bool(AviWriter&)> step;
    const char* error;
  };
  const std::vector<Case> cases = {
      {"wrong size", [](AviWriter& w) { return w.AddFrame(0, QImage(8, 8, QImage::Format_RGB32)); },
       "does not fit"},
      {"no such stream", [](AviWriter& w) { return w.AddFrame(1, Picture(0)); },
       "no picture stream 1"},
      {"sound without a sound stream",
       [](AviWriter& w) {
         const std::int16_t pair[2] = {1, 2};
         return w.AddAudio(pair, 1);
       },
       "without sound"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    AviWriter w;
    ASSERT_TRUE(w.Open(target, {{kW, kH, AviCodec::Mjpeg, false}}, false)) << w.Error();
    EXPECT_FALSE(c.step(w));
    EXPECT_NE(w.Error().find(c.error), std::string::npos) << w.Error();
    // A refused step spoils the file: it is never put in place.
    EXPECT_FALSE(w.AddFrame(0, Picture(0)));
    EXPECT_FALSE(w.Finish());
    EXPECT_EQ(Bytes(target), "an older export");
    EXPECT_TRUE(Leftovers(home.path()).empty());
  }
}

TEST_F(AviWriterFailures, AMissingFolderIsReportedAtOpen) {
  AviWriter w;
  const fs::path missing = home.path() / "no-such-folder" / "x.avi";
  EXPECT_FALSE(w.Open(missing, {{kW, kH, AviCodec::Mjpeg, false}}, true));
  EXPECT_NE(w.Error().find("no-such-folder"), std::string::npos) << w.Error();
  EXPECT_NE(w.Error().find("No such file or directory"), std::string::npos) << w.Error();
  EXPECT_FALSE(w.Finish());
  EXPECT_FALSE(w.Open(target, {}, true));
  EXPECT_FALSE(w.Open(target, {{0, kH, AviCodec::Mjpeg, false}}, true));
  EXPECT_EQ(Bytes(target), "an older export");
  EXPECT_TRUE(Leftovers(home.path()).empty());
}

}  // namespace
}  // namespace orvana
