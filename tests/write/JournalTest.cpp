// The journal of changes: a write, a delete and a format each leave one line with what was done,
// the write with the SHA-256 of every chip's pages as they were programmed; a line cut short by a
// crash is skipped and the next one still stands on its own.
#include <QCryptographicHash>
#include <fstream>

#include "store/Journal.h"
#include "write/WriteCases.h"

namespace orvana {
namespace {

using test::ClipFile;
using test::WriteProcessTest;
using test::WriteRig;

// The digest of the chain of clip `slot` on `chip`, taken from the raw pages the simulator holds.
std::string ChainDigest(WriteRig& rig, int chip, int slot, int frames) {
  QCryptographicHash hash(QCryptographicHash::Sha256);
  std::uint32_t lead =
      ClipRecord::unpack(rig.Payload(chip, static_cast<std::uint32_t>(slot)).data()).StartPage;
  for (int f = 0; f < frames; ++f) {
    test::Page payload;
    for (std::uint32_t m = 0; m < 73; ++m) {
      payload = rig.Payload(chip, lead + m);
      hash.addData(QByteArrayView(reinterpret_cast<const char*>(payload.data()), 7280));
    }
    lead = GetU32(&payload[kPageLinkOffset]);
  }
  return hash.result().toHex().toStdString();
}

TEST_F(WriteProcessTest, TheJournalRecordsWritesDeletesAndFormatsWithTheWrittenDigests) {
  WriteRig rig;
  rig.Prepare(0, ClipFile(10).string());
  rig.Write("7", "Intro");
  ASSERT_TRUE(rig.writer->Completed);

  std::vector<std::string> warnings;
  auto entries = ReadJournal(&warnings);
  EXPECT_TRUE(warnings.empty());
  ASSERT_EQ(entries.size(), 1u);
  const JournalEntry& w = entries[0];
  EXPECT_EQ(w.Operation, "write");
  EXPECT_EQ(w.Device, rig.store->DeviceName);
  EXPECT_EQ(w.Channel, "clip1");
  EXPECT_EQ(w.Chips, (std::vector<int>{0, 1}));
  EXPECT_EQ(w.Clip, 7);
  EXPECT_EQ(w.Frames, 10);
  EXPECT_EQ(w.ChainFrames, 40);
  EXPECT_EQ(w.Comment, "08.12.2026 - Intro");
  EXPECT_EQ(w.Result, "completed");
  EXPECT_FALSE(w.Time.empty());
  ASSERT_EQ(w.Digests.size(), 2u);
  for (int chip : {0, 1}) EXPECT_EQ(w.Digests.at(chip), ChainDigest(rig, chip, 6, 40)) << chip;

  // What the journal proves of the clip, and the store's own read of the same chain.
  RecordedClip recorded;
  std::string why;
  ASSERT_TRUE(FindRecordedClip(entries, rig.store->DeviceName, "clip1", 7, recorded, why)) << why;
  rig.store->SelectChip(1);
  EXPECT_EQ(rig.store->ReadClipDigest(6, recorded.ChainFrames), recorded.Digests.at(1));

  rig.op.confirmAnswers = {true, true};
  rig.store->SelectChip(0);
  rig.store->DeleteFromChannel(6);
  rig.store->FormatChannel(true);
  entries = ReadJournal(&warnings);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[1].Operation, "delete");
  EXPECT_EQ(entries[1].Clip, 7);
  EXPECT_EQ(entries[1].Frames, 10);
  EXPECT_EQ(entries[1].Result, "completed");
  EXPECT_EQ(entries[2].Operation, "quick format");
  EXPECT_EQ(entries[2].Chips, (std::vector<int>{0, 1}));
  EXPECT_EQ(entries[2].Result, "completed");
  EXPECT_FALSE(FindRecordedClip(entries, rig.store->DeviceName, "clip1", 7, recorded, why));
  EXPECT_NE(why.find("quick format"), std::string::npos) << why;
}

TEST_F(WriteProcessTest, AJournalLineCutShortIsSkippedAndTheNextStandsAlone) {
  JournalEntry a;
  a.Device = "127.0.0.1:1";
  a.Operation = "delete";
  a.Channel = "clip2";
  a.Clip = 4;
  a.Comment = "Quote \" and \xc3\xa9";
  a.Result = "completed";
  ASSERT_TRUE(AppendJournal(a));
  {
    std::ofstream out(journalFile(), std::ios::app | std::ios::binary);
    out << R"({"time":"2026-12-11T08:00:00Z","operation":"wri)";
  }
  a.Clip = 5;
  ASSERT_TRUE(AppendJournal(a));

  std::vector<std::string> warnings;
  const auto entries = ReadJournal(&warnings);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].Clip, 4);
  EXPECT_EQ(entries[1].Clip, 5);
  EXPECT_EQ(entries[1].Comment, a.Comment);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("line 2"), std::string::npos) << warnings[0];
}

}  // namespace
}  // namespace orvana
