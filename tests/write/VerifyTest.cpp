// Verification of a written clip against a new encoding of its source, and the checked write that
// reads every frame back: a clean write compares identical on every channel kind, and a page
// changed behind the program's back (payload, page link, record) is named by chip, frame and page.
#include <functional>

#include "flash/HammingCode.h"
#include "media/ClipVerify.h"
#include "write/WriteCases.h"

namespace orvana {
namespace {

using test::ClipFile;
using test::Page;
using test::WriteProcessTest;
using test::WriteRig;

constexpr std::uint32_t kBlockRows = 256;

// The raw pages of the block holding `row`, to put back after a test changed one of them.
struct SavedBlock {
  int chip = 0;
  std::uint32_t first = 0;
  std::vector<Page> pages;
};

SavedBlock SaveBlock(WriteRig& rig, int chip, std::uint32_t row) {
  SavedBlock b{chip, row / kBlockRows * kBlockRows, {}};
  for (std::uint32_t r = 0; r < kBlockRows; ++r) b.pages.push_back(rig.Raw(chip, b.first + r));
  return b;
}

void ProgramBlock(WriteRig& rig, const SavedBlock& b) {
  ASSERT_TRUE(rig.sim->eraseBlock(b.chip, b.first / kBlockRows));
  for (std::uint32_t r = 0; r < kBlockRows; ++r) {
    const Page& p = b.pages[r];
    if (std::any_of(p.begin(), p.end(), [](std::uint8_t v) { return v != 0xFF; })) {
      ASSERT_TRUE(rig.sim->writePage(b.chip, b.first + r, p.data()));
    }
  }
}

// The chip then holds at `row` a page programmed with other data: its ECC agrees with it, so it
// reads back without an error.
void ChangePayload(WriteRig& rig, int chip, std::uint32_t row,
                   const std::function<void(std::uint8_t*)>& change) {
  SavedBlock b = SaveBlock(rig, chip, row);
  Page stored = rig.Payload(chip, row);
  change(stored.data());
  stored.resize(kPageSize, 0);
  HammingCode().EncodePage(stored.data());
  b.pages[row - b.first] = stored;
  ProgramBlock(rig, b);
}

// The lead pages of the first `count` frames of clip `slot`'s chain on `chip`.
std::vector<std::uint32_t> Leads(WriteRig& rig, int chip, int slot, int count) {
  std::uint32_t lead =
      ClipRecord::unpack(rig.Payload(chip, static_cast<std::uint32_t>(slot)).data()).StartPage;
  std::vector<std::uint32_t> out;
  for (int i = 0; i < count; ++i) {
    out.push_back(lead);
    lead = GetU32(&rig.Payload(chip, lead + 72)[kPageLinkOffset]);
  }
  return out;
}

VerifyResult Verify(WriteRig& rig, int slot, std::optional<std::string> comment = {}) {
  ClipVerifier verifier(*rig.store, *rig.selection, rig.sources, rig.op);
  VerifyRequest request;
  request.Slot = slot;
  request.Comment = std::move(comment);
  return verifier.Run(request);
}

std::string Describe(const VerifyResult& r) {
  return "chip " + std::to_string(r.Chip) + " frame " + std::to_string(r.Frame) + " page " +
         std::to_string(r.Page) + ": " + r.What;
}

TEST_F(WriteProcessTest, ACleanWriteVerifiesIdenticalOnEveryChannelKind) {
  const std::string clip = ClipFile(10).string();
  test::AviSpec mute;
  mute.Frames = 4;
  const std::string plain = test::Fixtures::Get("write4mute", mute).string();
  struct Case {
    int channel;
    bool loop;
    bool keys;  // alpha and wipe sources
  };
  const Case cases[] = {{0, false, false}, {1, true, false}, {2, false, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.channel);
    WriteRig rig;
    rig.Prepare(c.channel, clip, c.loop, c.keys ? plain : "", c.keys ? plain : "");
    rig.Write("5", "Morning news");
    ASSERT_TRUE(rig.writer->Completed);
    const int total = rig.selection->FramesToWrite + (c.loop ? 0 : kHoldFrames);
    const int chips = static_cast<int>(ChannelChips(c.channel).size());

    const VerifyResult r = Verify(rig, 4, "Morning news");
    EXPECT_TRUE(r.identical()) << Describe(r);
    EXPECT_EQ(r.ChipsCompared, chips);
    EXPECT_EQ(r.FramesCompared, chips * total);

    // The same clip checked as if it had been written with the other loop setting (where the
    // channel has one), or under another comment, is not what the channel holds.
    if (ChannelKind(c.channel) == 0) {
      rig.selection->LoopCheckBoxClick(!c.loop);
      EXPECT_FALSE(Verify(rig, 4).identical());
      rig.selection->LoopCheckBoxClick(c.loop);
    }
    const VerifyResult other = Verify(rig, 4, "Evening news");
    EXPECT_EQ(other.Result, VerifyResult::Outcome::Different);
    EXPECT_NE(other.What.find("comment"), std::string::npos) << other.What;
  }
}

TEST_F(WriteProcessTest, VerifyNamesTheChipFrameAndPageOfAChangedPage) {
  WriteRig rig;
  rig.Prepare(0, ClipFile(10).string());
  rig.Write("7", "Intro");
  ASSERT_TRUE(rig.writer->Completed);
  const int slot = 6;
  const auto leads0 = Leads(rig, 0, slot, 10);
  const auto leads1 = Leads(rig, 1, slot, 10);

  struct Case {
    const char* name;
    int chip;
    std::uint32_t row;
    std::function<void(std::uint8_t*)> change;
    int frame, page;  // where the difference must be reported
    const char* what;
  };
  const Case cases[] = {
      {"one payload bit", 1, leads1[3] + 10, [](std::uint8_t* p) { p[100] ^= 0x04; }, 3, 10,
       "payload byte 100"},
      {"a link inside a frame", 0, leads0[2] + 5,
       [](std::uint8_t* p) { PutU32(p + kPageLinkOffset, GetU32(p + kPageLinkOffset) + 64); }, 2, 5,
       "page link"},
      {"a frame's link back into the chain", 0, leads0[6] + 72,
       [&](std::uint8_t* p) { PutU32(p + kPageLinkOffset, leads0[1]); }, 6, 72,
       "not a frame of this clip"},
      {"the lead page's sound", 1, leads1[9], [](std::uint8_t* p) { p[7000] ^= 0x80; }, 9, 0,
       "payload byte 7000"},
      {"the record", 1, static_cast<std::uint32_t>(slot),
       [](std::uint8_t* p) { PutU16(p + 14, static_cast<std::uint16_t>(GetU16(p + 14) + 1)); }, -1,
       -1, "record: SourceFrames"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const SavedBlock original = SaveBlock(rig, c.chip, c.row);
    ChangePayload(rig, c.chip, c.row, c.change);
    const VerifyResult r = Verify(rig, slot);
    EXPECT_EQ(r.Result, VerifyResult::Outcome::Different) << Describe(r);
    EXPECT_EQ(r.Chip, c.chip);
    EXPECT_EQ(r.Frame, c.frame);
    EXPECT_EQ(r.Page, c.page);
    if (c.frame >= 0) {
      EXPECT_EQ(r.Row, c.row);
    }
    EXPECT_NE(r.What.find(c.what), std::string::npos) << r.What;
    ProgramBlock(rig, original);
  }
  const VerifyResult restored = Verify(rig, slot, "Intro");
  EXPECT_TRUE(restored.identical()) << Describe(restored);
}

// A device that acknowledges a program but keeps other data: the checked write stops at that
// frame through the write-error path, and once the block behaves again the continued write ends
// with the flash of a write that never stopped.
TEST_F(WriteProcessTest, ACheckedWriteStopsAtASilentlyCorruptedProgramAndContinues) {
  WriteRig rig;
  rig.Prepare(0, ClipFile(10).string());
  rig.store->VerifyPrograms = true;
  devsim::FaultPlan faults;
  faults.corruptProgram.push_back({1, 5});  // frames 4 and 5 of chip 1 on an empty chip
  rig.sim->setFaults(faults);
  const int mismatches = rig.store->VerifyMismatches;
  rig.Write("3", "Ref");
  EXPECT_FALSE(rig.writer->Completed);
  EXPECT_EQ(rig.store->VerifyMismatches - mismatches, 1);
  ASSERT_FALSE(rig.op.messages.empty());
  EXPECT_NE(rig.op.messages.back().find("Verify error"), std::string::npos)
      << rig.op.messages.back();
  EXPECT_EQ(test::safeWrite("Active"), 1);

  rig.sim->setFaults({});
  rig.store->ConnectChannel();
  rig.Continue();
  ASSERT_TRUE(rig.writer->Completed);
  EXPECT_EQ(test::CountDifferences(test::Snapshot(rig, {0, 1}, test::RowsFor(40)),
                                   test::Reference(), test::RowsFor(40)),
            0);
  const VerifyResult r = Verify(rig, 2, "Ref");
  EXPECT_TRUE(r.identical()) << Describe(r);
}

}  // namespace
}  // namespace orvana
