// The write process end to end against the simulated device: prompts and checks, the frames on
// flash against an independent build of the recipe, missing sources, space, loop and comment.
#include "write/WriteCases.h"

namespace orvana {
namespace {

using test::ClipFile;
using test::CountStatus;
using test::ExpectChain;
using test::Page;
using test::Reference;
using test::RowsFor;
using test::WriteProcessTest;
using test::WriteRig;

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
  EXPECT_EQ(rig.store->StatusText(), "Connected");

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

// A source may be up to 2^31 - 1 frames long. One longer than a chip holds (with its hold frames)
// is refused before a question is asked or a page written; at 2^31 - 1 the frame sums used to
// overflow and let the write go ahead. Just within the limit the write goes on to its space
// check, which the test chip is made too full to pass.
TEST_F(WriteProcessTest, ASourceLongerThanAChipHoldsIsRefusedBeforeAnythingIsWritten) {
  struct Case {
    int frames;
    bool loop;
    const char* message;
  };
  const std::string tooLong = "The clip is too long: ";
  const Case cases[] = {
      {0x7FFFFFFF, false,
       "The clip is too long: 2147483647 frames and 30 hold frames, but a chip holds at most "
       "8186 frames."},
      {0x7FFFFFFF, true,
       "The clip is too long: 2147483647 frames, but a chip holds at most 8186 frames."},
      {kChipFrames - kHoldFrames + 1, false,
       "The clip is too long: 8157 frames and 30 hold frames, but a chip holds at most 8186 "
       "frames."},
      {kChipFrames + 1, true,
       "The clip is too long: 8187 frames, but a chip holds at most 8186 frames."},
      {kChipFrames - kHoldFrames, false, "Not enough space to write."},
      {kChipFrames, true, "Not enough space to write."},
  };
  WriteRig rig;
  rig.Prepare(0, ClipFile(2).string());
  for (int c = kSystemCells + 8; c < kCellCount; ++c)
    rig.store->CellMap[static_cast<std::size_t>(c)] = kCellUnusable;
  ASSERT_TRUE(rig.store->SaveDirectory());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.frames);
    rig.store->SelectChip(0);
    rig.selection->FramesToWrite = c.frames;
    rig.selection->LoopChecked = c.loop;
    rig.op.messages.clear();
    rig.op.promptAnswers.clear();
    const auto writes = rig.sim->counts().writes;
    rig.op.promptAnswers = {"1", "No comment"};
    rig.writer->WriteButtonClick();
    EXPECT_FALSE(rig.writer->Completed);
    EXPECT_EQ(rig.op.messages, std::vector<std::string>{c.message});
    EXPECT_EQ(test::safeWrite("Active"), -1);
    if (std::string(c.message).rfind(tooLong, 0) == 0) {
      EXPECT_EQ(rig.sim->counts().writes, writes) << "nothing sent to the device";
      EXPECT_EQ(rig.op.promptAnswers.size(), 2u) << "no question asked";
    }
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
