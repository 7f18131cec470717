// The write process end to end against the simulated device: prompts and checks, the frames on
// flash against an independent build of the recipe, cancel / failure / continue, and the flash
// of a continued write against an uninterrupted one.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "media/AviFixture.h"
#include "media/MediaController.h"
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

// Follows clip `slot`'s chain on `chip` through `total` frames, each page's content against the
// independent build; the lead page the last frame links to.
std::uint32_t ExpectChain(WriteRig& rig, test::ExpectedFrames& expected, int chip, int slot,
                          int total, int wrap) {
  const ClipRecord r =
      ClipRecord::unpack(rig.Payload(chip, static_cast<std::uint32_t>(slot)).data());
  std::uint32_t lead = r.StartPage;
  for (int i = 0; i < total; ++i) {
    const Page want = expected.Content(chip, i, r.FrameCount, wrap);
    for (int m = 0; m < 73; ++m) {
      const Page got = rig.Payload(chip, lead + static_cast<std::uint32_t>(m));
      if (!std::equal(got.begin(), got.begin() + 7220, want.begin() + m * 7220)) {
        ADD_FAILURE() << "chip " << chip << " frame " << i << " page " << m;
        return 0;
      }
    }
    lead = GetU32(&rig.Payload(chip, lead + 72)[7220]);
  }
  return lead;
}

int CountStatus(const ScriptedOperator& op, const std::string& text) {
  return static_cast<int>(std::count(op.status[0].begin(), op.status[0].end(), text));
}

class WriteProcessTest : public ::testing::Test {
 protected:
  test::TempHome home;
};

// Clip 3 ("Ref") of the ten-frame clip written on "Clip 1" in one go, sequentially: what every
// interrupted, failed or overlapped write of it must leave on chips 0 and 1.
const std::vector<Page>& Reference() {
  static std::vector<Page> reference;
  if (reference.empty()) {
    WriteRig rig;
    rig.Prepare(0, ClipFile(10).string());
    rig.Write("3", "Ref");
    EXPECT_TRUE(rig.writer->Completed);
    if (rig.writer->Completed) reference = test::Snapshot(rig, {0, 1}, RowsFor(40));
    std::filesystem::remove(paths::settingsFile(kMainIni));
  }
  return reference;
}

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
    EXPECT_EQ(ExpectChain(rig, expected, chip, 6, 40, 0), r.StartPage + 10 * 128)
        << "the last hold frame links to the first hold frame";
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
  bool overlap = false;
};

class ContinueTest : public WriteProcessTest, public ::testing::WithParamInterface<ContinueCase> {};

TEST_P(ContinueTest, ContinuedWriteEqualsUninterruptedOne) {
  const ContinueCase c = GetParam();
  const auto clip = ClipFile(10);
  const std::uint32_t rows = RowsFor(40);
  const std::vector<Page>& reference = Reference();
  ASSERT_FALSE(reference.empty());
  WriteRig rig;
  rig.Prepare(0, clip.string());
  rig.writer->Overlap = c.overlap;
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
  // The interrupted chip keeps the comment its pass began with, the later chip gets its own.
  EXPECT_EQ(ClipRecord::unpack(rig.Payload(0, 2).data()).commentText(), "08.12.2026 - Ref");
  EXPECT_EQ(ClipRecord::unpack(rig.Payload(1, 2).data()).commentText(), "08.12.2026 - No comment");
  EXPECT_EQ(test::CountDifferences(test::Snapshot(rig, {0, 1}, rows), reference, rows), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ContinueTest,
    ::testing::Values(ContinueCase{"Chip1Frame12", 1, 12, ContinueCase::Resume::Keep},
                      ContinueCase{"Chip0Frame25Hold", 0, 25, ContinueCase::Resume::Keep},
                      ContinueCase{"NoResumeFile", 1, 12, ContinueCase::Resume::Delete},
                      ContinueCase{"ResumeFileOfOtherChip", 0, 8, ContinueCase::Resume::OtherChip},
                      ContinueCase{"OverlappedChip1Frame20", 1, 20, ContinueCase::Resume::Keep,
                                   true}),
    [](const ::testing::TestParamInfo<ContinueCase>& p) { return std::string(p.param.name); });

// Building the next frame on a worker moves no device traffic: the flash is the same.
TEST_F(WriteProcessTest, OverlappedWriteEqualsSequentialOne) {
  const std::vector<Page>& reference = Reference();
  ASSERT_FALSE(reference.empty());
  WriteRig rig;
  rig.Prepare(0, ClipFile(10).string());
  rig.writer->Overlap = true;
  rig.Write("3", "Ref");
  ASSERT_TRUE(rig.writer->Completed);
  EXPECT_GT(rig.writer->Timings.FramesBuilt, 0);
  EXPECT_EQ(
      test::CountDifferences(test::Snapshot(rig, {0, 1}, RowsFor(40)), reference, RowsFor(40)), 0);
}

TEST_F(WriteProcessTest, WriteNewAfterAStopDeletesTheResumeFileAndAsksAgain) {
  const auto clip = ClipFile(10);
  WriteRig rig;
  rig.Prepare(0, clip.string());
  rig.op.onProcessEvents = [&] {
    if (rig.store->Running && rig.store->CurrentChip == 1 && rig.op.progress == 12)
      rig.store->Running = false;
  };
  rig.Write("3", "Ref");
  ASSERT_FALSE(rig.writer->Completed);
  ASSERT_TRUE(std::filesystem::exists(paths::resumeFile()));

  // While frame 0 goes out the stopped write's resume file must already be gone.
  int resumeFileSeen = -1;
  rig.op.onProcessEvents = [&] {
    if (resumeFileSeen == -1 && rig.store->Running)
      resumeFileSeen = std::filesystem::exists(paths::resumeFile()) ? 1 : 0;
  };
  rig.op.events.clear();
  rig.op.messages.clear();
  rig.op.chooseAnswers = {0};  // "Write new"
  rig.Write("5", "New");
  ASSERT_TRUE(rig.writer->Completed) << (rig.op.messages.empty() ? "" : rig.op.messages.back());
  EXPECT_EQ(resumeFileSeen, 0);
  std::vector<std::string> asked;
  for (const auto& e : rig.op.events)
    if (e.kind == "choose" || e.kind == "prompt") asked.push_back(e.text);
  EXPECT_EQ(asked, (std::vector<std::string>{"Continue or new write",
                                             "Enter media number (1.. 100)", "Enter comment:"}));
  // The new clip lies over the stopped write's cells, every frame as the recipe builds it.
  test::ExpectedFrames expected(clip.string(), "", "");
  for (int chip : {0, 1}) {
    // Clip 3 was completed on chip 0 before the stop, never on chip 1.
    EXPECT_EQ(ClipRecord::unpack(rig.Payload(chip, 2).data()).FrameCount, chip == 0 ? 10 : 0);
    EXPECT_EQ(ExpectChain(rig, expected, chip, 4, 40, 0),
              ClipRecord::unpack(rig.Payload(chip, 4).data()).StartPage + 10 * 128);
  }
  EXPECT_EQ(ClipRecord::unpack(rig.Payload(1, 4).data()).commentText(), "08.12.2026 - No comment");
}

// A page program or a block erase that fails while frame 10 of chip 0 goes out: the connection
// is dropped with the failure's message and chip 1 is not written; the continued write (device
// healthy again) leaves the flash of an uninterrupted write. (A failure on the channel's last
// chip is followed by the reselection of its first chip, which connects again.)
struct FailureCase {
  const char* name;
  bool erase;
  const char* message;
};

class FailureTest : public WriteProcessTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FailureTest, FailureDisconnectsAndTheContinuedWriteEqualsUninterruptedOne) {
  const FailureCase c = GetParam();
  const std::vector<Page>& reference = Reference();
  ASSERT_FALSE(reference.empty());
  WriteRig rig;
  rig.Prepare(0, ClipFile(10).string());
  devsim::FaultPlan plan;
  // Block 8 holds cells 32 to 35: frames 10 and 11 behind the 12 system cells.
  (c.erase ? plan.failErase : plan.failProgram).push_back(devsim::BlockRef{0, 8});
  rig.sim->setFaults(plan);
  rig.Write("3", "Ref");
  ASSERT_FALSE(rig.writer->Completed);
  EXPECT_EQ(rig.op.messages, std::vector<std::string>{c.message});
  EXPECT_FALSE(rig.store->Connected);
  EXPECT_EQ(rig.store->StatusPanel0, "Disconnected");
  EXPECT_EQ(test::safeWrite("Active"), 1);
  EXPECT_EQ(test::safeWrite("Chip"), 0);
  EXPECT_EQ(test::safeWrite("Frame"), 9);

  rig.sim->setFaults(devsim::FaultPlan{});
  rig.op.messages.clear();
  rig.Continue();
  ASSERT_TRUE(rig.writer->Completed) << (rig.op.messages.empty() ? "" : rig.op.messages.back());
  EXPECT_EQ(
      test::CountDifferences(test::Snapshot(rig, {0, 1}, RowsFor(40)), reference, RowsFor(40)), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FailureTest,
    ::testing::Values(FailureCase{"Program", false, "Write error. Try again."},
                      FailureCase{"Erase", true,
                                  "Flash erase error. If it is permanent error, you may be need "
                                  "format flash."}),
    [](const ::testing::TestParamInfo<FailureCase>& p) { return std::string(p.param.name); });

TEST_F(WriteProcessTest, AMissingSourceStopsTheWriteBeforeAnythingIsWritten) {
  const std::string clip = ClipFile(2).string();
  struct Case {
    int channel;
    bool alpha, wipe, clipClosed;
    const char* message;
  };
  const Case cases[] = {
      {0, false, false, true, "No clip file is open for chip 0. Open it before writing."},
      {2, false, true, false, "No alpha file is open for chip 6. Open it before writing."},
      {2, true, false, false, "No wipe file is open for chip 7. Open it before writing."},
      {3, false, false, false, "No alpha file is open for chip 10. Open it before writing."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    WriteRig rig;
    rig.Prepare(c.channel, clip, false, c.alpha ? clip : "", c.wipe ? clip : "");
    ASSERT_GT(rig.selection->FramesToWrite, 0);
    // The clip slot emptied while the selection still counts the earlier file's frames.
    if (c.clipClosed) rig.sources.ClipSource = std::make_unique<MediaController>();
    const auto writes = rig.sim->counts().writes;
    rig.Write("1");
    EXPECT_FALSE(rig.writer->Completed);
    EXPECT_EQ(rig.op.messages, std::vector<std::string>{c.message});
    EXPECT_EQ(rig.sim->counts().writes, writes) << "nothing sent to the device";
    EXPECT_EQ(test::safeWrite("Active"), -1);
  }
}

// On "Super wipe " chips 4 and 5 carry the sound; it stops at the clip's last frame and the 30
// hold frames behind it.
TEST_F(WriteProcessTest, SuperWipeIsSilentFromItsLastClipFrameOn) {
  const std::string clip = ClipFile(4).string();
  test::AviSpec mute;
  mute.Frames = 4;
  const std::string plain = test::Fixtures::Get("write4mute", mute).string();
  WriteRig rig;
  rig.Prepare(2, clip, false, plain, plain);
  rig.Write("2", "Wipe");
  ASSERT_TRUE(rig.writer->Completed) << (rig.op.messages.empty() ? "" : rig.op.messages.back());
  test::ExpectedFrames expected(clip, plain, plain);
  for (int chip : {4, 5, 6, 7}) {
    SCOPED_TRACE(chip);
    const ClipRecord r = ClipRecord::unpack(rig.Payload(chip, 1).data());
    ASSERT_GT(r.FrameCount, 1);
    const int total = r.FrameCount + 30;
    ExpectChain(rig, expected, chip, 1, total, 0);
    if (chip > 5) continue;
    std::uint32_t lead = r.StartPage;
    for (int i = 0; i < total; ++i) {
      const Page sound = rig.Payload(chip, lead);
      const bool silent =
          std::all_of(sound.begin(), sound.begin() + 7220, [](std::uint8_t b) { return b == 0; });
      EXPECT_EQ(silent, i >= r.FrameCount - 1) << "frame " << i;
      lead = GetU32(&rig.Payload(chip, lead + 72)[7220]);
    }
  }
}

// T = 2 frames + 30 hold frames needs 64 free cells on every chip.
TEST_F(WriteProcessTest, NotEnoughSpaceBelowTwoCellsPerPlacedFrame) {
  WriteRig rig;
  rig.Prepare(0, ClipFile(2).string());
  auto leaveFree = [&](int cells) {
    for (int c = kSystemCells; c < kCellCount; ++c)
      rig.store->CellMap[static_cast<std::size_t>(c)] =
          c < kSystemCells + cells ? CellState{0} : kCellUnusable;
    ASSERT_TRUE(rig.store->SaveDirectory());
  };
  leaveFree(60);  // free space is counted in whole blocks of four cells
  ASSERT_EQ(rig.store->CountFreeCells(), 60);
  rig.Write("1");
  EXPECT_FALSE(rig.writer->Completed);
  EXPECT_EQ(rig.op.messages, std::vector<std::string>{"Not enough space to write."});
  EXPECT_EQ(test::safeWrite("Active"), -1);

  rig.store->SelectChip(0);
  leaveFree(64);
  rig.op.messages.clear();
  rig.Write("1");
  EXPECT_TRUE(rig.writer->Completed) << (rig.op.messages.empty() ? "" : rig.op.messages.back());
}

// With "Loop" ten frames become 60 placed frames and no hold frames; the comment goes to flash as
// Windows-1252, one byte per character, so the 49-byte limit falls between characters.
TEST_F(WriteProcessTest, LoopedClipAndAWindows1252Comment) {
  const auto clip = ClipFile(10);
  WriteRig rig;
  rig.Prepare(0, clip.string(), true);
  int lastFrameKey = 0;
  rig.op.onProcessEvents = [&] { lastFrameKey = std::max(lastFrameKey, test::safeWrite("Frame")); };
  // 35 characters after the 13 of the date and " - ": the euro sign is the 49th.
  rig.Write("9", "Grüße aus Köln, café au lait ½ abcd€ and more");
  ASSERT_TRUE(rig.writer->Completed) << (rig.op.messages.empty() ? "" : rig.op.messages.back());
  EXPECT_EQ(lastFrameKey, 59);
  EXPECT_EQ(rig.op.progressMax, 59);
  std::string lastTitle;
  for (const auto& e : rig.op.events)
    if (e.kind == "title" && e.text.rfind("Writing", 0) == 0) lastTitle = e.text;
  EXPECT_EQ(lastTitle, "Writing... 100%");

  const ClipRecord r = ClipRecord::unpack(rig.Payload(0, 8).data());
  EXPECT_EQ(r.FrameCount, 60);
  const std::string want =
      "08.12.2026 - Gr\xFC\xDF"
      "e aus K\xF6ln, caf\xE9 au lait \xBD abcd\x80";
  ASSERT_EQ(want.size(), 49u);
  EXPECT_EQ(r.commentText(), want);
  EXPECT_EQ(r.Comment[49], 0);
  test::ExpectedFrames expected(clip.string(), "", "");
  EXPECT_EQ(ExpectChain(rig, expected, 0, 8, 60, 1), r.StartPage) << "the loop closes";
}

}  // namespace
}  // namespace orvana
