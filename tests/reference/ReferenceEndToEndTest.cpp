// A clip written through the whole write stack into a simulated device, read back by the
// reference reader and compared frame by frame with the reference encoder.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "media/AviFixture.h"
#include "reference/ReferenceEncoder.h"
#include "reference/ReferenceReader.h"
#include "write/WriteRig.h"

namespace orvana::reference {
namespace {

struct EndToEndCase {
  const char* name;
  int channel;
  bool loop;
  int frames;
  int framesToWrite;  // after the short-loop extension
  int total;          // hold frames included
  int loopTo;         // frame the last one links back to
};

void PrintTo(const EndToEndCase& c, std::ostream* os) {
  *os << c.name;
}

class EndToEnd : public ::testing::TestWithParam<EndToEndCase> {
 protected:
  test::TempHome home;
};

TEST_P(EndToEnd, ChainReadsBackAsTheReferenceEncodesIt) {
  const EndToEndCase& c = GetParam();
  test::AviSpec clipSpec;
  clipSpec.Width = 64;
  clipSpec.Height = 540;
  clipSpec.Frames = c.frames;
  clipSpec.AudioRate = 48000;
  const std::string clip = test::Fixtures::Get("e2e" + std::to_string(c.frames), clipSpec).string();
  std::string key;
  if (c.channel >= 2) {
    test::AviSpec keySpec = clipSpec;
    keySpec.AudioRate = 0;
    key = test::Fixtures::Get("e2ekey" + std::to_string(c.frames), keySpec).string();
  }

  test::WriteRig rig;
  rig.Prepare(c.channel, clip, c.loop, key, key);
  rig.Write("1", "Ref");
  ASSERT_TRUE(rig.writer->Completed);

  ReferenceFrames reference(clip, key, key);
  reference.SilentHoldFrames = true;
  const int wrap = c.loopTo == 0 ? 1 : 0;
  const std::vector<int> chips =
      c.channel == 0 ? std::vector<int>{0, 1} : std::vector<int>{4, 5, 6, 7};
  for (int chip : chips) {
    ReferenceReader reader(
        [&](std::uint32_t row, std::uint8_t* out) { return rig.sim->readPage(chip, row, out); });
    const ChainedClip read = reader.Read(0);
    ASSERT_EQ(read.Error, "") << "chip " << chip;
    EXPECT_EQ(read.Entry.FrameCount, c.framesToWrite) << chip;
    EXPECT_EQ(read.Entry.SourceFrames, c.frames) << chip;
    EXPECT_EQ(read.Entry.Kind, c.channel == 2 ? 1 : 0) << chip;
    EXPECT_EQ(read.Entry.HasAudio, 1) << chip;
    EXPECT_EQ(read.Entry.ClipNumber, 0) << chip;
    // Only the group's first chip asks for the comment; the others store the default text.
    EXPECT_EQ(read.Entry.Comment, chip == chips[0] ? "08.12.2026 - Ref" : "08.12.2026 - No comment")
        << chip;
    ASSERT_EQ(int(read.Frames.size()), c.total) << chip;
    EXPECT_EQ(read.LoopTo, c.loopTo) << chip;
    for (int i = 0; i < c.total; ++i) {
      const std::uint8_t mark = c.channel == 2 && i == c.total - 1 ? 0xA5 : 0;
      EXPECT_EQ(read.LastFrameMarks[std::size_t(i)], mark) << "chip " << chip << " frame " << i;
      const FramePages want = reference.Frame(chip, i, c.framesToWrite, wrap);
      for (int m = 0; m < kFramePages; ++m) {
        const auto& got = read.Frames[std::size_t(i)][std::size_t(m)];
        const auto& exp = want[std::size_t(m)];
        for (std::size_t b = 0; b < got.size(); ++b) {
          if (got[b] == exp[b]) continue;
          FAIL() << "frame " << i << " chip " << chip << " page " << m << " byte " << b
                 << ": expected " << int(exp[b]) << ", got " << int(got[b]);
        }
      }
    }
  }
}

// Four source frames: 34 frames with the hold cycle, or 52 looped (whole repetitions).
const EndToEndCase kEndToEnd[] = {
    {"Clip1Hold", 0, false, 4, 4, 34, 4},
    {"Clip1Loop", 0, true, 4, 52, 52, 0},
    {"SuperWipe", 2, false, 4, 4, 34, 4},
};

INSTANTIATE_TEST_SUITE_P(Writes, EndToEnd, ::testing::ValuesIn(kEndToEnd),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace orvana::reference
