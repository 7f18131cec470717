// The view's decoding of clip files, on clip files made byte by byte.
#include "media/ClipPictures.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <vector>

#include "media/ClipFileFixture.h"
#include "support/TempHome.h"

namespace orvana {
namespace {

std::uint32_t Rgb(int r, int g, int b) {
  return static_cast<std::uint32_t>(r) << 16 | static_cast<std::uint32_t>(g) << 8 |
         static_cast<std::uint32_t>(b);
}

std::uint32_t Pixel(const QImage& image, int x, int y) {
  return image.pixel(x, y) & 0xFFFFFFu;
}

class ClipPicturesTest : public ::testing::Test {
 protected:
  std::filesystem::path File(const char* name) { return home_.path() / name; }
  test::TempHome home_;
};

TEST_F(ClipPicturesTest, RowOfPlusOneCodesRisesFromTheColourStartAndStaysAtWhite) {
  for (int chip : {1, 3, 5, 9}) {
    const auto file = File("rise");
    test::ClipFileShape shape;
    ASSERT_TRUE(test::WriteClipFile(file, shape, [](int, std::uint8_t* frame) {
      std::memset(test::StoredRow(frame, 0) + 1, 0x33, 480);
    }));
    ClipPictures clip;
    ASSERT_TRUE(clip.Open(file, chip)) << clip.Error();
    QImage picture;
    ASSERT_TRUE(clip.DecodeFrame(0, picture, nullptr));
    ASSERT_EQ(picture.size(), QSize(960, 540));
    // Both codes of every byte step by +1: 129, 130, 131, ... up to 255 and no further.
    for (int x : {0, 1, 2, 125, 126, 127, 500, 959}) {
      const int y = std::min(129 + x, 255);
      EXPECT_EQ(Pixel(picture, x, 0), Rgb(y, y, y)) << "chip " << chip << " x " << x;
    }
  }
}

TEST_F(ClipPicturesTest, ZeroCodesOnLumaHoldTheBlackLevel) {
  const auto file = File("zero");
  ASSERT_TRUE(test::WriteClipFile(file, {}));
  ClipPictures clip;
  ASSERT_TRUE(clip.Open(file, 0)) << clip.Error();
  QImage picture;
  ASSERT_TRUE(clip.DecodeFrame(0, picture, nullptr));
  for (int y : {0, 269, 539})
    for (int x : {0, 480, 959}) EXPECT_EQ(Pixel(picture, x, y), Rgb(16, 16, 16));
}

TEST_F(ClipPicturesTest, OnlyTheFirstFieldIsShownAtHalfSize) {
  // Rows 540 on (the second field) are never read: fill them with bright codes and the first
  // field with a marker row.
  const auto file = File("fields");
  ASSERT_TRUE(test::WriteClipFile(file, {}, [](int, std::uint8_t* frame) {
    for (int r = 540; r < 1080; ++r) std::memset(test::StoredRow(frame, r) + 1, 0xFF, 480);
    std::memset(test::StoredRow(frame, 539) + 1, 0x33, 480);
  }));
  ClipPictures clip;
  ASSERT_TRUE(clip.Open(file, 2)) << clip.Error();
  QImage picture;
  ASSERT_TRUE(clip.DecodeFrame(0, picture, nullptr));
  EXPECT_EQ(Pixel(picture, 0, 538), Rgb(16, 16, 16));
  EXPECT_EQ(Pixel(picture, 0, 539), Rgb(17, 17, 17));
  EXPECT_EQ(Pixel(picture, 1, 539), Rgb(18, 18, 18));
}

TEST(UyvyToRgbTest, ConvertsWithTheDevicesIntegerMatrix) {
  struct Case {
    UyvyGroup group;
    std::uint32_t pixel0, pixel1;
  };
  const Case cases[] = {
      {{128, 77, 128, 200}, Rgb(77, 77, 77), Rgb(200, 200, 200)},  // no colour: grey
      {{0, 0, 0, 0}, Rgb(0, 132, 0), Rgb(0, 132, 0)},              // a zero group
      {{128, 76, 247, 76}, Rgb(238, 0, 76), Rgb(238, 0, 76)},      // red's Cr
      {{255, 128, 128, 128}, Rgb(128, 86, 255), Rgb(128, 86, 255)},
  };
  for (const Case& c : cases) {
    std::uint32_t p0 = 1, p1 = 1;
    UyvyToRgb(c.group, p0, p1);
    EXPECT_EQ(p0, c.pixel0);
    EXPECT_EQ(p1, c.pixel1);
  }
}

TEST_F(ClipPicturesTest, LogoRowsAreRawAndTheRestOfTheLineIsZeroGroups) {
  const auto file = File("logo");
  test::ClipFileShape shape;
  shape.Kind = 2;
  ASSERT_TRUE(test::WriteClipFile(file, shape, [](int, std::uint8_t* frame) {
    std::uint8_t* d = test::StoredRow(frame, 3) + 1;
    for (int i = 0; i < 480; ++i) d[i] = static_cast<std::uint8_t>(i);
  }));
  QImage picture;
  ClipPictures luma;
  ASSERT_TRUE(luma.Open(file, 8)) << luma.Error();
  ASSERT_TRUE(luma.DecodeFrame(0, picture, nullptr));
  EXPECT_EQ(Pixel(picture, 10, 3), Rgb(10, 10, 10));
  EXPECT_EQ(Pixel(picture, 479, 3), Rgb(479 & 0xFF, 479 & 0xFF, 479 & 0xFF));
  EXPECT_EQ(Pixel(picture, 480, 3), Rgb(0, 132, 0));  // beyond a logo line
  // Chip 9 shows the colour pair (V from the even byte, U from the odd one) at Y = 128.
  ClipPictures colour;
  ASSERT_TRUE(colour.Open(file, 9)) << colour.Error();
  ASSERT_TRUE(colour.DecodeFrame(0, picture, nullptr));
  std::uint32_t p0 = 0, p1 = 0;
  UyvyToRgb(UyvyGroup{11, 128, 10, 128}, p0, p1);
  EXPECT_EQ(Pixel(picture, 10, 3), p0);
  // Any other chip of a logo frame shows zero groups throughout.
  ClipPictures other;
  ASSERT_TRUE(other.Open(file, 0)) << other.Error();
  ASSERT_TRUE(other.DecodeFrame(0, picture, nullptr));
  EXPECT_EQ(Pixel(picture, 10, 3), Rgb(0, 132, 0));
  EXPECT_EQ(Pixel(picture, 0, 0), Rgb(0, 132, 0));
}

TEST_F(ClipPicturesTest, EachFramesSoundFillsBothChannelsOfItsSlot) {
  const auto file = File("sound");
  test::ClipFileShape shape;
  shape.Frames = 2;
  ASSERT_TRUE(test::WriteClipFile(file, shape, [](int f, std::uint8_t* frame) {
    for (int s = 0; s < 1920; ++s)
      test::PutLeadSample(frame, s, static_cast<std::int16_t>((f ? -1 : 1) * (s * 17 - 9000)));
    // Bytes past the samples (and the page link) must never reach the sound.
    std::memset(frame + 3840, 0x7F, 8192 - 3840);
  }));
  ClipPictures clip;
  ASSERT_TRUE(clip.Open(file, 0)) << clip.Error();
  std::vector<std::uint8_t> slot(ClipPictures::kAudioSlot, 0xAA);
  QImage picture;
  ASSERT_TRUE(clip.DecodeFrame(1, picture, slot.data()));
  for (int s = 0; s < 1920; ++s) {
    std::int16_t left = 0, right = 0;
    std::memcpy(&left, &slot[4 * s], 2);
    std::memcpy(&right, &slot[4 * s + 2], 2);
    const auto want = static_cast<std::int16_t>(-(s * 17 - 9000));
    ASSERT_EQ(left, want) << s;
    ASSERT_EQ(right, want) << s;
  }
}

TEST_F(ClipPicturesTest, DamagedClipFilesAreRefusedWithAReason) {
  struct Case {
    const char* name;
    test::ClipFileShape shape;
    int cutBytes;  // taken off the end of the file
    const char* reason;
  };
  test::ClipFileShape noFrames;
  noFrames.Frames = 0;
  test::ClipFileShape tooWide;
  tooWide.Width = 4000;
  test::ClipFileShape tooHigh;
  tooHigh.Height = 60000;
  test::ClipFileShape noWidth;
  noWidth.Width = 0;
  test::ClipFileShape three;
  three.Frames = 3;
  const Case cases[] = {
      {"none", noFrames, 0, "no frames"},      {"wide", tooWide, 0, "picture size"},
      {"high", tooHigh, 0, "picture size"},    {"zero", noWidth, 0, "picture size"},
      {"short", three, 1, "shorter than its"},
  };
  for (const Case& c : cases) {
    const auto file = File(c.name);
    ASSERT_TRUE(test::WriteClipFile(file, c.shape));
    if (c.cutBytes)
      std::filesystem::resize_file(file, std::filesystem::file_size(file) - c.cutBytes);
    ClipPictures clip;
    EXPECT_FALSE(clip.Open(file, 0)) << c.name;
    EXPECT_NE(clip.Error().find(c.reason), std::string::npos) << c.name << ": " << clip.Error();
    // A refused file still gives a black picture and no frames.
    QImage picture;
    EXPECT_FALSE(clip.DecodeFrame(0, picture, nullptr));
    EXPECT_EQ(clip.FrameCount(), 0);
  }
  ClipPictures missing;
  EXPECT_FALSE(missing.Open(File("absent"), 0));
  EXPECT_NE(missing.Error().find("absent"), std::string::npos);
}

TEST_F(ClipPicturesTest, CommentAndFramesBeyondTheClip) {
  const auto file = File("4.0");
  test::ClipFileShape shape;
  shape.Frames = 2;
  shape.Comment = std::string(49, 'c') + "cut";
  ASSERT_TRUE(test::WriteClipFile(file, shape));
  ClipPictures clip;
  ASSERT_TRUE(clip.Open(file, 0)) << clip.Error();
  EXPECT_EQ(clip.Comment(), std::string(49, 'c'));
  EXPECT_EQ(clip.FrameCount(), 2);
  QImage picture;
  EXPECT_FALSE(clip.DecodeFrame(2, picture, nullptr));
  EXPECT_FALSE(clip.DecodeFrame(-1, picture, nullptr));
  EXPECT_TRUE(clip.DecodeFrame(1, picture, nullptr));
}

TEST(ShownPictureTest, KeepsTheTopLeftAndFillsBlack) {
  QImage frame(960, 540, QImage::Format_RGB32);
  frame.fill(QColor(10, 20, 30));
  const QImage logo = ShownPicture(frame, QSize(240, 240));
  EXPECT_EQ(logo.size(), QSize(240, 240));
  EXPECT_EQ(Pixel(logo, 239, 239), Rgb(10, 20, 30));
  const QImage wide = ShownPicture(QImage(frame.copy(0, 0, 100, 50)), QSize(960, 540));
  EXPECT_EQ(Pixel(wide, 99, 49), Rgb(10, 20, 30));
  EXPECT_EQ(Pixel(wide, 100, 49), 0u);
  EXPECT_EQ(Pixel(wide, 99, 50), 0u);
}

}  // namespace
}  // namespace orvana
