// The write process end to end against the simulated device: prompts and checks, the frames on
// flash against an independent build of the recipe, cancel / failure / continue, and the flash
// of a continued write against an uninterrupted one.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "media/AviFixture.h"
#include "store/ClipRecord.h"
#include "write/ExpectedFrames.h"
#include "write/WriteRig.h"

namespace orvana {
namespace {

using test::Page;
using test::WriteRig;

std::filesystem::path ClipFile(int frames = 10) {
  test::AviSpec s;
  s.Width = 64;
  s.Height = 36;
  s.Frames = frames;
  s.AudioRate = 48000;
  return test::Fixtures::Get("write" + std::to_string(frames), s);
}

constexpr std::uint32_t RowsFor(int totalFrames) {
  return static_cast<std::uint32_t>((12 + 2 * totalFrames + 8) * 64);
}

int CountStatus(const ScriptedOperator& op, const std::string& text) {
  return static_cast<int>(std::count(op.status[0].begin(), op.status[0].end(), text));
}

class WriteProcessTest : public ::testing::Test {
 protected:
  test::TempHome home;
};

TEST_F(WriteProcessTest, ClipOneLandsOnBothChipsAsTheRecipeBuildsIt) {
  const auto clip = ClipFile(10);
  WriteRig rig;
  rig.Prepare(0, clip.string());
  std::set<int> frameKeys;
  rig.op.onProcessEvents = [&] { frameKeys.insert(test::safeWrite("Frame")); };
  rig.Write("7", "Intro");
  ASSERT_TRUE(rig.writer->Completed) << (rig.op.messages.empty() ? "" : rig.op.messages.back());
  EXPECT_TRUE(rig.op.messages.empty());

  // T = 10 + 30 hold frames; "Frame" only ever holds odd indices.
  for (int f : frameKeys) EXPECT_TRUE(f <= 0 || f % 2 == 1) << f;
  EXPECT_TRUE(frameKeys.count(39));
  EXPECT_EQ(test::safeWrite("Active"), 0);
  EXPECT_EQ(test::safeWrite("Frame"), 0);
  EXPECT_FALSE(std::filesystem::exists(paths::resumeFile()));
  EXPECT_EQ(rig.store->CurrentChip, 0);
  EXPECT_EQ(rig.store->StatusPanel0, "Connected");

  test::ExpectedFrames expected(clip.string(), "", "");
  for (int chip : {0, 1}) {
    SCOPED_TRACE(chip);
    const ClipRecord r = ClipRecord::unpack(rig.Payload(chip, 6).data());
    EXPECT_EQ(r.FrameCount, 10);
    EXPECT_EQ(r.SourceFrames, 10);
    EXPECT_EQ(r.HasAudio, 1);
    EXPECT_EQ(r.commentText(), chip == 0 ? "08.12.2026 - Intro" : "08.12.2026 - No comment");
    // Follow the chain from the record through all 40 frames.
    std::uint32_t lead = r.StartPage;
    for (int i = 0; i < 40; ++i) {
      const Page want = expected.Content(chip, i, 10, 0);
      for (int m = 0; m < 73; ++m) {
        const Page got = rig.Payload(chip, lead + static_cast<std::uint32_t>(m));
        ASSERT_TRUE(std::equal(got.begin(), got.begin() + 7220, want.begin() + m * 7220))
            << "frame " << i << " page " << m;
      }
      lead = GetU32(&rig.Payload(chip, lead + 72)[7220]);
    }
    EXPECT_EQ(lead, r.StartPage + 10 * 128) << "the last hold frame links to the first hold frame";
  }
  // The title counts against the clip's frames, not T.
  EXPECT_NE(std::find_if(rig.op.events.begin(), rig.op.events.end(),
                         [](const auto& e) { return e.text == "Writing... 400%"; }),
            rig.op.events.end());
}

TEST_F(WriteProcessTest, NumberPromptRules) {
  const auto clip = ClipFile(2);
  WriteRig rig;
  rig.Prepare(0, clip.string());
  struct Case {
    const char* typed;
    const char* message;
  };
  for (const Case& c : {Case{"0", "Invalid clip number."}, Case{"101", "Invalid clip number."},
                        Case{"-3", "Invalid clip number."}}) {
    rig.op.messages.clear();
    rig.Write(c.typed);
    EXPECT_FALSE(rig.writer->Completed) << c.typed;
    EXPECT_EQ(rig.op.messages, std::vector<std::string>{c.message}) << c.typed;
  }
  // 100 is the last slot; afterwards a text that is no number means clip 1, and number 100 again
  // is refused as existing.
  rig.Write("100");
  ASSERT_TRUE(rig.writer->Completed);
  EXPECT_TRUE(rig.store->IsClipValid(99));
  rig.op.messages.clear();
  rig.Write("100");
  EXPECT_EQ(rig.op.messages, std::vector<std::string>{"Clip #100 already exists. Try other."});
  rig.op.messages.clear();
  rig.Write("x7");
  ASSERT_TRUE(rig.writer->Completed);
  EXPECT_TRUE(rig.store->IsClipValid(0));
  // Without an answer the offered first free number is taken: now 2.
  rig.op.promptAnswers.clear();
  std::string offered;
  rig.op.onProcessEvents = nullptr;
  rig.writer->WriteButtonClick();  // prompts cancelled: nothing happens
  EXPECT_FALSE(rig.writer->Completed);
  EXPECT_TRUE(rig.op.messages.empty());
}

// Cancel during chip 1, then continue: chip 0 is skipped, chip 1 replays without flash traffic
// and the result equals an uninterrupted write.
struct ContinueCase {
  const char* name;
  int cancelChip;
  int cancelFrame;
  // What happens to the resume file before continuing: keep, delete, or claim another chip.
  enum class Resume { Keep, Delete, OtherChip } resume;
};

class ContinueTest : public WriteProcessTest, public ::testing::WithParamInterface<ContinueCase> {};

TEST_P(ContinueTest, ContinuedWriteEqualsUninterruptedOne) {
  const ContinueCase c = GetParam();
  const auto clip = ClipFile(10);
  const std::uint32_t rows = RowsFor(40);
  std::vector<Page> reference;
  {
    WriteRig rig;
    rig.Prepare(0, clip.string());
    rig.Write("3", "Ref");
    ASSERT_TRUE(rig.writer->Completed);
    reference = test::Snapshot(rig, {0, 1}, rows);
  }
  WriteRig rig;
  rig.Prepare(0, clip.string());
  rig.op.onProcessEvents = [&] {
    if (rig.store->Running && rig.store->CurrentChip == c.cancelChip &&
        rig.op.progress == c.cancelFrame)
      rig.store->Running = false;  // the confirmed Cancel, while the frame's pages go out
  };
  rig.Write("3", "Ref");
  ASSERT_FALSE(rig.writer->Completed);
  EXPECT_EQ(rig.op.messages.back(), "Process canceled. You can continue later.");
  EXPECT_EQ(test::safeWrite("Active"), 1);
  const int savedFrame = test::safeWrite("Frame");
  EXPECT_EQ(savedFrame, c.cancelFrame % 2 ? c.cancelFrame - 2 : c.cancelFrame - 1);
  if (c.resume == ContinueCase::Resume::Delete) std::filesystem::remove(paths::resumeFile());
  if (c.resume == ContinueCase::Resume::OtherChip) {
    std::FILE* f = std::fopen(paths::resumeFile().c_str(), "w");
    std::fprintf(f, "0 %d %d\n", c.cancelChip == 0 ? 1 : 0, savedFrame);
    std::fclose(f);
  }

  rig.op.onProcessEvents = nullptr;
  rig.op.status[0].clear();
  rig.op.events.clear();
  rig.op.messages.clear();
  std::vector<std::uint64_t> writesDuringReplay;
  rig.op.onProcessEvents = [&] {
    if (rig.store->StatusPanel0 == "Calculate point of break, please wait...")
      writesDuringReplay.push_back(rig.sim->counts().writes);
  };
  rig.Continue();
  ASSERT_TRUE(rig.writer->Completed) << (rig.op.messages.empty() ? "" : rig.op.messages.back());
  EXPECT_EQ(std::count_if(rig.op.events.begin(), rig.op.events.end(),
                          [](const auto& e) { return e.kind == "prompt"; }),
            0)
      << "no number or comment is asked";
  EXPECT_EQ(CountStatus(rig.op, "Calculate point of break, please wait..."), savedFrame);
  if (c.resume == ContinueCase::Resume::Keep && !writesDuringReplay.empty()) {
    EXPECT_EQ(writesDuringReplay.front(), writesDuringReplay.back()) << "replay touched the flash";
  }
  EXPECT_EQ(test::CountDifferences(test::Snapshot(rig, {0, 1}, rows), reference, rows), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ContinueTest,
    ::testing::Values(ContinueCase{"Chip1Frame12", 1, 12, ContinueCase::Resume::Keep},
                      ContinueCase{"Chip0Frame25Hold", 0, 25, ContinueCase::Resume::Keep},
                      ContinueCase{"NoResumeFile", 1, 12, ContinueCase::Resume::Delete},
                      ContinueCase{"ResumeFileOfOtherChip", 0, 8, ContinueCase::Resume::OtherChip}),
    [](const ::testing::TestParamInfo<ContinueCase>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace orvana
