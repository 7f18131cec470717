// Stopped writes against the simulated device: cancel, failures and "Write new", the continued
// write compared page by page with an uninterrupted one; the overlapped path against the
// sequential one.
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

void PrintTo(const ContinueCase& c, std::ostream* os) {
  *os << c.name;
}

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
    if (rig.store->StatusText() == "Calculate point of break, please wait...")
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

// Building the next frame on a worker moves no device traffic, and chip 1's frames built ahead
// by chip 0's pass (all of them, or as many as the memory budget takes) are the frames its own
// pass would build: the flash is the same as the reference's, whose passes each decode alone.
TEST_F(WriteProcessTest, OverlappedAndBuiltAheadWritesEqualTheSequentialOne) {
  const std::vector<Page>& reference = Reference();
  ASSERT_FALSE(reference.empty());
  constexpr std::size_t kFrame = std::size_t{73} * 8192;
  struct Case {
    bool overlap;
    std::size_t budget;
    int reused;  // every frame of chip 1 but the thumbnail's, or what the budget holds
  };
  for (const Case c : {Case{true, 0, 0}, Case{false, std::size_t{64} << 20, 39},
                       Case{true, std::size_t{64} << 20, 39}, Case{true, 3 * kFrame, 3}}) {
    SCOPED_TRACE(testing::Message() << "overlap " << c.overlap << ", budget " << c.budget);
    WriteRig rig;
    rig.Prepare(0, ClipFile(10).string());
    rig.writer->Overlap = c.overlap;
    rig.writer->AheadBudgetBytes = c.budget;
    rig.Write("3", "Ref");
    ASSERT_TRUE(rig.writer->Completed);
    EXPECT_EQ(rig.writer->Timings.FramesReused, c.reused);
    EXPECT_EQ(rig.writer->Timings.FramesBuilt + c.reused, 80);
    EXPECT_EQ(
        test::CountDifferences(test::Snapshot(rig, {0, 1}, RowsFor(40)), reference, RowsFor(40)),
        0);
  }
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

void PrintTo(const FailureCase& c, std::ostream* os) {
  *os << c.name;
}

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
  EXPECT_FALSE(rig.store->Connected());
  EXPECT_EQ(rig.store->StatusText(), "Disconnected");
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
// A note goes through a temporary file of its own: one left under a fixed name by another
// program (here a folder, so it can neither be opened nor replaced) does not lose the note.
TEST(ResumeFileTest, AStaleTemporaryDoesNotLoseANote) {
  test::TempHome home;
  const ResumeFile resume(home.path() / "orvana.sav");
  std::filesystem::create_directory(home.path() / "orvana.sav.tmp");
  resume.NoteFrameOnFlash(0, 1, 7);
  EXPECT_TRUE(resume.IsFrameOnFlash(0, 1, 7));
  EXPECT_FALSE(resume.IsFrameOnFlash(0, 1, 8));
  int entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(home.path())) entries += e.exists();
  EXPECT_EQ(entries, 2) << "only the note and the stale folder";
}

}  // namespace
}  // namespace orvana
