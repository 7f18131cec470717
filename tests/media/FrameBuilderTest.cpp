#include "media/FrameBuilder.h"

#include <gtest/gtest.h>

#include <vector>

#include "media/AviFixture.h"

namespace orvana {
namespace {

TEST(ChipRoleTest, Table) {
  const struct {
    int chip;
    SourceSlot source;
    int line;
    int sound;
    int channel;
  } cases[] = {{0, SourceSlot::Clip, 0, 0, 0},    {1, SourceSlot::Clip, 1, 1, 0},
               {2, SourceSlot::Clip, 0, 0, 1},    {3, SourceSlot::Clip, 1, 1, 1},
               {4, SourceSlot::Clip, 0, 0, 2},    {5, SourceSlot::Clip, 1, 1, 2},
               {6, SourceSlot::Alpha, 2, -1, 2},  {7, SourceSlot::Wipe, 3, -1, 2},
               {8, SourceSlot::Clip, 0, -1, 3},   {9, SourceSlot::Clip, 1, -1, 3},
               {10, SourceSlot::Alpha, 2, -1, 3}, {11, SourceSlot::None, -1, -1, -1}};
  for (const auto& c : cases) {
    const ChipRole r = ChipRoleOf(c.chip);
    EXPECT_EQ(r.Source, c.source) << c.chip;
    EXPECT_EQ(r.LineType, c.line) << c.chip;
    EXPECT_EQ(r.SoundChannel, c.sound) << c.chip;
    EXPECT_EQ(ChannelOfChip(c.chip), c.channel) << c.chip;
  }
}

struct Builder : ::testing::Test {
  MediaSources sources;
  FrameBuffer buffer;
  std::filesystem::path clip;
  void SetUp() override {
    test::AviSpec s;
    s.Frames = 10;
    s.AudioRate = 48000;
    clip = test::Fixtures::Get("builder10", s);
    sources.CreateSources();
    ASSERT_TRUE(sources.ClipSource->Open(clip.string(), 320, 180));
  }
  int LeadSample(int s) const {
    return std::int16_t(buffer.page(0)[2 * s] | (buffer.page(0)[2 * s + 1] << 8));
  }
};

TEST_F(Builder, SoundGoesToTheClipChipsOnly) {
  FrameBuilder b(sources);
  FramePass pass;
  pass.FramesToWrite = 40;
  ASSERT_TRUE(b.BuildFrame(buffer, 0, 3, pass));
  EXPECT_EQ(LeadSample(5), test::FixtureSample(3 * 1920 + 5, 0));
  ASSERT_TRUE(b.BuildFrame(buffer, 3, 3, pass));
  EXPECT_EQ(LeadSample(5), test::FixtureSample(3 * 1920 + 5, 1));
  ASSERT_TRUE(b.BuildFrame(buffer, 8, 3, pass));
  EXPECT_EQ(LeadSample(5), 0);
  // A super wipe's last frame is silent; a hold frame repeats the last picture.
  pass.FramesToWrite = 10;
  ASSERT_TRUE(b.BuildFrame(buffer, 4, 9, pass));
  EXPECT_EQ(LeadSample(5), 0);
  const std::vector<std::uint8_t> last(buffer.page(1), buffer.page(73));
  ASSERT_TRUE(b.BuildFrame(buffer, 4, 12, pass));
  EXPECT_EQ(std::vector<std::uint8_t>(buffer.page(1), buffer.page(73)), last);
  EXPECT_FALSE(b.BuildFrame(buffer, 11, 0, pass));
}

TEST_F(Builder, ThumbnailAtTheMiddleFrameAndBlackForAnEmptySlot) {
  FrameBuilder b(sources);
  std::vector<std::uint8_t> slot(16384, 0);
  FramePass pass;
  pass.FramesToWrite = 10;
  pass.ThumbnailSlot = slot.data();
  ASSERT_TRUE(b.BuildFrame(buffer, 1, 4, pass));
  EXPECT_EQ(std::count(slot.begin(), slot.end(), 0), 16384);
  ASSERT_TRUE(b.BuildFrame(buffer, 1, 5, pass));
  EXPECT_LT(std::count(slot.begin(), slot.end(), 0), 16384);
  // Chip 6 has no alpha file open: a black alpha picture, all 0x11 codes.
  ASSERT_TRUE(b.BuildFrame(buffer, 6, 0, pass));
  EXPECT_EQ(buffer.page(40)[1], 0x11);
  EXPECT_EQ(buffer.page(40)[480], 0x11);
}

TEST_F(Builder, TimecodeOnlyOnClipPictures) {
  FrameBuilder b(sources);
  FramePass pass;
  pass.FramesToWrite = 10;
  pass.Timecode = true;
  ASSERT_TRUE(b.BuildFrame(buffer, 0, 1, pass));
  EXPECT_EQ(b.ClipPicture().row(40)[50], 0u);
}

}  // namespace
}  // namespace orvana
