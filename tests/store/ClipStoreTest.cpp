// The store's logic on in-memory NAND: allocation, chains, system area, load, delete, format and
// read-back, checked page by page as an independent reader of the chip would see them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "MemoryFlash.h"
#include "StoreFixture.h"
#include "common/ScriptedOperator.h"
#include "store/ChannelView.h"
#include "store/ClipFile.h"
#include "store/ClipStore.h"
#include "support/TempHome.h"

namespace orvana {
namespace {

using test::MemoryFlash;

class ClipStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store.SelectChip(0);
    ASSERT_TRUE(store.FormatChip(false));
    flash.erased.clear();
  }
  const std::vector<std::uint8_t>& page(std::uint32_t row) { return flash.pageAt(flash.chip, row); }
  std::uint32_t linkOf(std::uint32_t row) { return GetPageLink(page(row).data()); }
  std::uint8_t frameEndOf(std::uint32_t row) { return page(row)[kPageLinkOffset + 4]; }
  std::uint8_t markOf(std::uint32_t row) { return page(row)[kPageLinkOffset + 5]; }

  test::TempHome home;
  MemoryFlash flash;
  ScriptedOperator op;
  ClipStore store{flash, op};
  ChannelView view{store};
};

TEST_F(ClipStoreTest, FreshFormatLeavesAnEmptyChip) {
  EXPECT_EQ(store.CountFreeCells(), 16372);
  EXPECT_EQ(view.MapHint, "99% (8186 frames free)");
  EXPECT_EQ(view.Timeline.count(), 0);
  EXPECT_EQ(store.FirstFreeClipNumber(), 0);
  for (int c = 0; c < kSystemCells; ++c) EXPECT_EQ(store.CellMap[c], kCellSystem);
  // The map page holds the system bits as little-endian words, the rest of the chip is free.
  EXPECT_EQ(page(200)[0], 0x04);
  EXPECT_EQ(page(200)[23], 0x00);
  EXPECT_EQ(page(200)[24], 0x00);
  EXPECT_TRUE(std::all_of(page(0).begin(), page(0).begin() + kPayloadSize,
                          [](std::uint8_t b) { return b == 0; }));
  EXPECT_TRUE(flash.isErased(0, 100));
  EXPECT_TRUE(flash.isErased(0, 500));
  EXPECT_EQ(op.progressMax, 16384);
  EXPECT_EQ(op.progress, 16383);
}

TEST_F(ClipStoreTest, FirstFramesTakeCells12To17AndEraseBlocksAsTheyAreEntered) {
  ASSERT_EQ(test::writeClip(store, 0, 0, 3, true), 0);
  EXPECT_EQ(store.ClipStartPage, 768);
  // Blocks 3 and 4 erased by the frames, then the three system blocks.
  ASSERT_GE(flash.erased.size(), 2u);
  EXPECT_EQ(flash.erased[0].second, 768u);
  EXPECT_EQ(flash.erased[1].second, 1024u);
  EXPECT_EQ(flash.erased.size(), 5u);
  // Chain: lead -> lead+1 -> ... -> lead+72 -> next lead, the last frame back to frame 0.
  const std::uint32_t leads[] = {768, 896, 1024};
  for (int f = 0; f < 3; ++f) {
    const std::uint32_t p = leads[f];
    EXPECT_EQ(linkOf(p), p + 1);
    EXPECT_EQ(frameEndOf(p), 0);
    for (std::uint32_t m = 1; m < 72; ++m) ASSERT_EQ(linkOf(p + m), p + m + 1);
    EXPECT_EQ(linkOf(p + 72), f < 2 ? leads[f + 1] : 768u);
    EXPECT_EQ(frameEndOf(p + 72), 0xFF);
    EXPECT_EQ(markOf(p + 72), 0);
    EXPECT_EQ(frameEndOf(p + 71), 0);
    EXPECT_TRUE(flash.isErased(0, p + 73));  // the rest of the slot stays erased
    EXPECT_EQ(page(p + 5)[97], test::contentByte(0, f, 5, 97));
  }
  // Directory page 0 leads into the clip; clip number 0 is a real clip.
  EXPECT_EQ(linkOf(0), 768u);
  EXPECT_EQ(frameEndOf(0), 0xFF);
  EXPECT_EQ(markOf(0), 0);
  EXPECT_TRUE(store.IsClipValid(0));
  EXPECT_EQ(store.ClipDirectory[0].FrameCount, 3);
  for (int c = 12; c < 18; ++c) EXPECT_EQ(store.CellMap[c], kCellAllocated) << c;
  EXPECT_EQ(store.CellMap[18], 0);
  // Map page 200, cell 12 at bytes 24/25.
  EXPECT_EQ(page(200)[24], 0x01);
  EXPECT_EQ(store.CountFreeCells(), 16372 - 8);  // block 4 holds only two, counted as taken
  EXPECT_EQ(view.MapHint, std::to_string((16372 - 8) * 100 / 16384) + "% (8182 frames free)");
  EXPECT_EQ(view.Timeline.count(), 1);
  EXPECT_EQ(store.FirstFreeClipNumber(), 1);
}

TEST_F(ClipStoreTest, LastFrameLinksAndMarksFollowKindAndLoop) {
  struct Case {
    int kind;
    bool loop;
    int frames;
    int targetFrame;  // frame whose lead page the last frame links to
    bool wipeMark;
  };
  for (const Case& c :
       {Case{0, true, 2, 0, false}, Case{0, false, 2, 2, false}, Case{1, false, 2, 2, true},
        Case{1, true, 1, 1, true}, Case{2, false, 3, 0, false}}) {
    SCOPED_TRACE("kind " + std::to_string(c.kind) + " loop " + std::to_string(c.loop));
    ASSERT_TRUE(store.FormatChip(true));
    ASSERT_EQ(test::writeClip(store, 7, c.kind, c.frames, c.loop), 0);
    const int total = test::totalFramesFor(c.kind, c.loop, c.frames);
    // Walk the chain from the directory page, frame by frame.
    std::vector<std::uint32_t> leads;
    std::uint32_t lead = linkOf(7);
    for (int f = 0; f < total; ++f) {
      leads.push_back(lead);
      lead = linkOf(lead + 72);
    }
    EXPECT_EQ(lead, leads[c.targetFrame]);
    EXPECT_EQ(store.LoopTargetPage, static_cast<int>(leads[c.targetFrame]));
    EXPECT_EQ(store.ClipDirectory[7].FrameCount, c.frames);
    for (int f = 0; f < total; ++f)
      EXPECT_EQ(markOf(leads[f] + 72), (c.wipeMark && f == total - 1) ? 0xA5 : 0) << f;
    int taken = 0;
    for (int cell = 12; cell < kCellCount; ++cell) taken += (store.CellMap[cell] != 0);
    EXPECT_EQ(taken, 2 * total);  // hold frames are in the map too
  }
}

TEST_F(ClipStoreTest, ClipsNeverShareABlock) {
  ASSERT_EQ(test::writeClip(store, 3, 0, 1, true), 0);  // cells 12, 13
  EXPECT_TRUE(store.BlockHeldByOtherClip(14, 4));
  EXPECT_FALSE(store.BlockHeldByOtherClip(14, 3));
  EXPECT_EQ(store.FindFreeCells(2, 4), 16);
  EXPECT_EQ(store.FindFreeCells(2, 3), 14);
  EXPECT_EQ(store.CountFreeCells(), 16368);
  ASSERT_EQ(test::writeClip(store, 4, 0, 1, true), 0);
  EXPECT_EQ(store.ClipDirectory[4].StartPage, 1024u);
  EXPECT_EQ(store.CellMap[14], 0);
  EXPECT_EQ(store.CellMap[16], WithCellClip(kCellAllocated, 4));
}

TEST_F(ClipStoreTest, OnlyTheLastFrameMayRunOutOfRoom) {
  // Leave exactly one free frame slot: cells 12 and 13.
  for (int c = 14; c < kCellCount; ++c) store.CellMap[c] = kCellUnusable;
  std::vector<std::uint8_t> frame;
  test::fillFrame(frame, 1, 0);
  store.ClearPendingMap();
  EXPECT_EQ(store.WriteFrame(frame.data(), 1, 2, 2, 0), -1);  // no room for frame 1
  store.ClearPendingMap();
  test::fillFrame(frame, 1, 0);
  EXPECT_EQ(store.WriteFrame(frame.data(), 1, 2, 1, 0), 0);
  EXPECT_EQ(linkOf(768 + 72), 768u);
  EXPECT_EQ(store.WriteFrame(frame.data(), 1, 2, 1, 0), -1);  // nothing left at all
}

TEST_F(ClipStoreTest, FailuresInsideWriteFrameReportTheirCodes) {
  std::vector<std::uint8_t> frame;
  test::fillFrame(frame, 2, 0);
  flash.failErase.insert({0, 3});
  EXPECT_EQ(store.WriteFrame(frame.data(), 2, 0, 40, 0), -3);
  flash.failErase.clear();
  store.ClearPendingMap();
  flash.failProgramAfter = 10;
  EXPECT_EQ(store.WriteFrame(frame.data(), 2, 0, 40, 0), -2);
  EXPECT_EQ(store.PendingMap[12], WithCellClip(kCellAllocated, 2));
  EXPECT_EQ(store.CellMap[12], 0);  // never set by WriteFrame
}

TEST_F(ClipStoreTest, ResumeSkipsFramesAlreadyOnFlash) {
  std::vector<std::uint8_t> frame;
  std::vector<int> noted;
  store.ResumeMode = 1;
  store.hooks.IsFrameOnFlash = [](int, int, int i) { return i == 0; };
  store.hooks.NoteFrameOnFlash = [&](int, int, int i) { noted.push_back(i); };
  store.hooks.LoopChecked = [] { return true; };
  for (int i = 0; i < 2; ++i) {
    test::fillFrame(frame, 5, i);
    ASSERT_EQ(store.WriteFrame(frame.data(), 5, 0, 2, i), 0);
  }
  EXPECT_TRUE(flash.isErased(0, 768));  // frame 0 was already there: not programmed
  EXPECT_FALSE(flash.isErased(0, 896));
  EXPECT_EQ(noted, std::vector<int>{1});
  EXPECT_EQ(store.PendingMap[12], WithCellClip(kCellAllocated, 5));
}

TEST_F(ClipStoreTest, InvalidRecordsAreEmptiedOnLoad) {
  ASSERT_EQ(test::writeClip(store, 1, 0, 1, true, std::string(60, 'k')), 0);
  EXPECT_EQ(store.ClipDirectory[1].commentText(), std::string(49, 'k'));
  EXPECT_EQ(page(1)[22 + 49], 0);
  // Damage records 2 and 3 the way a foreign or broken chip would hold them.
  std::vector<std::uint8_t> p(kPageSize, 0);
  ClipRecord bad;
  bad.StartPage = 0x100000;
  bad.Width = 1920;
  bad.Height = 1080;
  bad.FrameCount = 0xFFFF;
  bad.pack(p.data());
  flash.chips[0][2] = p;
  bad.StartPage = 768;
  bad.Width = 1919;
  bad.pack(p.data());
  flash.chips[0][3] = p;
  ASSERT_TRUE(store.LoadDirectory());
  EXPECT_EQ(store.ClipDirectory[2], ClipRecord{});
  EXPECT_EQ(store.ClipDirectory[3], ClipRecord{});
  EXPECT_TRUE(store.IsClipValid(1));
  EXPECT_EQ(view.Timeline.count(), 1);
}

TEST_F(ClipStoreTest, FailedSaveDirectoryEndsDisconnected) {
  ASSERT_EQ(test::writeClip(store, 1, 0, 1, true), 0);
  view.Timeline.SelectByIndex(1);
  op.confirmAnswers = {true};
  flash.failProgramAfter = 3;  // inside the rewrite of the directory pages
  store.DeleteFromChannel(view.SelectedClipNumber());
  // Chip 0 is selected again at the end of the sequence and loads what was rewritten so far:
  // records that were not rewritten read back empty.
  EXPECT_EQ(op.status[0].size() >= 2, true);
  EXPECT_NE(std::find(op.status[0].begin(), op.status[0].end(), "Disconnected"),
            op.status[0].end());
  EXPECT_FALSE(store.IsClipValid(1));
  EXPECT_TRUE(op.controlsEnabled);
}

TEST_F(ClipStoreTest, FullFormatMarksBlocksThatFailToEraseAndQuickFormatKeepsThem) {
  flash.failErase.insert({0, 10});
  flash.failErase.insert({0, 4095});
  ASSERT_TRUE(store.FormatChip(false));
  for (int c = 40; c < 44; ++c) EXPECT_EQ(store.CellMap[c], kCellUnusable) << c;
  EXPECT_EQ(store.CellMap[16383], kCellUnusable);
  EXPECT_EQ(store.CountFreeCells(), 16372 - 8);
  const QRgb blue = qRgb(0, 0, 255);
  EXPECT_EQ(view.MapImage.pixel(40 * 4 + 1, 1), blue);
  EXPECT_EQ(store.FindFreeCells(2, 0), 12);
  flash.failErase.clear();
  ASSERT_EQ(test::writeClip(store, 0, 0, 5, true), 0);  // 5 frames: cells 12..21
  ASSERT_TRUE(store.FormatChip(true));
  EXPECT_EQ(store.CellMap[40], kCellUnusable);
  EXPECT_EQ(store.CellMap[12], 0);
  EXPECT_EQ(store.CountFreeCells(), 16372 - 8);
  ASSERT_TRUE(store.FormatChip(false));
  EXPECT_EQ(store.CellMap[40], 0);
  EXPECT_EQ(store.CountFreeCells(), 16372);
}

TEST_F(ClipStoreTest, ConnectShowsTheChannelsChip) {
  struct Case {
    int channel;
    bool mask;
    int chip;
  };
  for (const Case& c : {Case{0, false, 0}, Case{1, false, 2}, Case{2, false, 4}, Case{2, true, 6},
                        Case{3, true, 8}}) {
    store.Channel = c.channel;
    store.SuperWipeMask = c.mask;
    store.ConnectChannel();
    EXPECT_EQ(store.CurrentChip, c.chip);
    EXPECT_EQ(flash.chip, c.chip);
    EXPECT_EQ(view.ChannelCaption, "Chip " + std::to_string(c.chip));
    EXPECT_EQ(store.StatusText(), "Connected");
  }
  flash.failReadAfter = 5;  // the directory does not load
  store.SelectChip(11);
  EXPECT_EQ(store.StatusText(), "Disconnected");
  EXPECT_EQ(store.CurrentChip, 0);
  EXPECT_FALSE(store.Connected());
  EXPECT_TRUE(op.controlsEnabled);
}

TEST_F(ClipStoreTest, MapClickSelectsTheClipOfARedCell) {
  ASSERT_EQ(test::writeClip(store, 2, 0, 1, true), 0);
  view.Image3MouseDown(MouseButton::Left, 1, 1);  // system cell
  EXPECT_EQ(view.Timeline.SelectedIndex(), -1);
  view.Image3MouseDown(MouseButton::Left, 14 * 4 + 1, 1);  // free cell 14
  EXPECT_EQ(view.Timeline.SelectedIndex(), -1);
  view.Image3MouseDown(MouseButton::Left, 12 * 4 + 1, 1);
  EXPECT_EQ(view.Timeline.SelectedIndex(), 0);
  EXPECT_EQ(store.SelectedClip[0], 2);
  EXPECT_EQ(view.MapImage.pixel(12 * 4 + 1, 1), qRgb(128, 128, 128));
  flash.connected = false;
  view.Timeline.SelectByIndex(-5);
  view.Image3MouseDown(MouseButton::Left, 12 * 4 + 1, 1);
  EXPECT_EQ(view.Timeline.SelectedIndex(), -1);
}

TEST_F(ClipStoreTest, TimelineClickCuesTheClipAndGreysItsCells) {
  ASSERT_EQ(test::writeClip(store, 4, 0, 1, true), 0);
  flash.cues.clear();
  view.PaintBox1MouseDown(MouseButton::Left, 20, 50);
  EXPECT_EQ(flash.cues, (std::vector<std::pair<int, int>>{{0, 4}}));
  EXPECT_EQ(view.MapImage.pixel(12 * 4 + 1, 1), qRgb(128, 128, 128));
  view.PaintBox1MouseDown(MouseButton::Left, 20, 50);  // second click deselects, no cue
  EXPECT_EQ(flash.cues.size(), 1u);
  EXPECT_EQ(view.MapImage.pixel(12 * 4 + 1, 1), qRgb(255, 0, 0));
}

class ChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int chip : {0, 1}) {
      store.SelectChip(chip);
      ASSERT_TRUE(store.FormatChip(!flash.chips[chip].empty()));  // a blank chip needs a full one
      ASSERT_EQ(test::writeClip(store, 6, 0, 1, true), 0);
      ASSERT_EQ(test::writeClip(store, 7, 0, 2, true), 0);
    }
  }
  test::TempHome home;
  MemoryFlash flash;
  ScriptedOperator op;
  ClipStore store{flash, op};
  ChannelView view{store};
};

TEST_F(ChannelTest, DeleteRemovesTheClipFromEveryChipOfTheGroup) {
  for (int shown : {0, 1}) {
    SCOPED_TRACE(shown);
    SetUp();
    store.SelectChip(shown);
    ASSERT_NE(view.Timeline.SelectByIndex(7), nullptr);
    const auto framePage = flash.pageAt(0, 896);
    op.confirmAnswers = {true};
    store.DeleteFromChannel(view.SelectedClipNumber());
    EXPECT_EQ(store.CurrentChip, 0);
    EXPECT_EQ(store.StatusText(), "Connected");
    EXPECT_EQ(view.Timeline.count(), 1);
    EXPECT_EQ(view.Timeline.item(0).Index, 6);
    for (int chip : {0, 1}) {
      EXPECT_TRUE(std::all_of(flash.pageAt(chip, 7).begin(),
                              flash.pageAt(chip, 7).begin() + kPayloadSize,
                              [](std::uint8_t b) { return b == 0; }));
      EXPECT_EQ(flash.pageAt(chip, 200)[2 * 14], 0);     // cells of clip 7 freed
      EXPECT_EQ(flash.pageAt(chip, 200)[2 * 12], 0x61);  // clip 6 kept
    }
    EXPECT_EQ(flash.pageAt(0, 896), framePage);  // frames stay on flash
    EXPECT_EQ(store.CountFreeCells(), 16368);
  }
}

// A chip whose directory load breaks off leaves memory partly its own and partly the chip shown
// before; a delete then must not write that mixture over any chip.
TEST_F(ChannelTest, ADeleteAfterADirectoryLoadBrokeOffWritesNothing) {
  store.SelectChip(1);
  ASSERT_EQ(test::writeClip(store, 9, 0, 1, true), 0);  // on chip 1 only
  store.SelectChip(0);
  std::vector<std::vector<std::uint8_t>> before;
  for (std::uint32_t row = 0; row < kFirstDataPage; ++row) before.push_back(flash.pageAt(0, row));

  flash.failReadAfter = 50;  // chip 1's records 0..49 arrive, then the link fails
  store.SelectChip(1);
  ASSERT_FALSE(store.Connected());
  flash.connected = true;
  for (int n : {9, 6}) {
    EXPECT_FALSE(store.IsClipValid(n)) << "nothing of a broken load is taken for a chip's";
    const int programs = flash.programs;
    op.confirmAnswers = {true};
    store.DeleteFromChannel(n);
    EXPECT_EQ(flash.programs, programs) << n;
  }
  for (std::uint32_t row = 0; row < kFirstDataPage; ++row)
    ASSERT_EQ(flash.pageAt(0, row), before[row]) << row;
}

TEST_F(ChannelTest, DeleteWithoutSelectionOrAnswerChangesNothing) {
  const int programs = flash.programs;
  op.confirmAnswers = {true};
  store.DeleteFromChannel(view.SelectedClipNumber());
  view.Timeline.SelectByIndex(6);
  op.confirmAnswers = {false};
  store.DeleteFromChannel(view.SelectedClipNumber());
  EXPECT_EQ(flash.programs, programs);
  EXPECT_EQ(op.questions.size(), 2u);
}

TEST_F(ChannelTest, FormatChannelEmptiesEveryChip) {
  store.Channel = 0;
  op.confirmAnswers = {true};
  store.FormatChannel(true);
  EXPECT_EQ(store.CurrentChip, 0);
  EXPECT_EQ(store.StatusText(), "Connected");
  EXPECT_EQ(view.Timeline.count(), 0);
  store.SelectChip(1);
  EXPECT_EQ(view.MapHint, "99% (8186 frames free)");
  EXPECT_EQ(store.FirstFreeClipNumber(), 0);
}

TEST_F(ChannelTest, FormatStopsAtTheFirstChipThatFails) {
  store.Channel = 0;
  op.confirmAnswers = {true};
  flash.failErase.insert({0, 1});  // system block of chip 0
  store.FormatChannel(false);
  EXPECT_EQ(store.StatusText(), "Disconnected");
  EXPECT_EQ(store.CurrentChip, 0);
  flash.failErase.clear();
  store.SelectChip(1);
  EXPECT_TRUE(store.IsClipValid(7));  // chip 1 was not formatted
}

class ReadBackTest : public ClipStoreTest {};

TEST_F(ReadBackTest, OneFrameClipGivesAFileOf598088Bytes) {
  ASSERT_EQ(test::writeClip(store, 9, 0, 1, true, std::string(49, 'q'), 1), 0);
  flash.cues.clear();
  ASSERT_TRUE(store.ReadClipBack(9));
  const auto path = ClipStore::ClipFilePath(9, 0);
  EXPECT_EQ(path.filename(), "9.0");
  ASSERT_EQ(std::filesystem::file_size(path), 598088u);
  EXPECT_FALSE(std::filesystem::exists(path.string() + ".part"));
  EXPECT_EQ(op.progressMax, 0);
  EXPECT_EQ(flash.cues.back(), (std::pair<int, int>{0, 9}));
  std::ifstream in(path, std::ios::binary);
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(bytes[0], 9);
  EXPECT_EQ(bytes[8], 1);   // FrameCount
  EXPECT_EQ(bytes[11], 1);  // HasAudio
  EXPECT_EQ(bytes[22 + 48], 'q');
  EXPECT_EQ(bytes[22 + 49], 0);
  // Lead page, then picture pages in play order, each 7280 payload bytes and 912 zeros.
  for (int m = 0; m < 73; ++m) {
    const std::size_t at = 72 + static_cast<std::size_t>(m) * kPageSize;
    ASSERT_EQ(bytes[at + 97], test::contentByte(9, 0, m, 97)) << m;
    ASSERT_TRUE(std::all_of(bytes.begin() + at + kPayloadSize, bytes.begin() + at + kPageSize,
                            [](std::uint8_t b) { return b == 0; }));
  }
  EXPECT_EQ(GetU32(&bytes[72 + 72 * kPageSize + kPageLinkOffset]), 768u);
  EXPECT_EQ(op.title, "Reading... 100%");
  // A second read-back replaces the file.
  std::filesystem::resize_file(path, 10);
  ASSERT_TRUE(store.ReadClipBack(9));
  EXPECT_EQ(std::filesystem::file_size(path), 598088u);
}

TEST_F(ReadBackTest, HoldFramesAreNotRead) {
  ASSERT_EQ(test::writeClip(store, 1, 0, 2, false), 0);
  const int reads = flash.reads;
  ASSERT_TRUE(store.ReadClipBack(1));
  EXPECT_EQ(flash.reads - reads, 2 * 73);
  EXPECT_EQ(std::filesystem::file_size(ClipStore::ClipFilePath(1, 0)), 72u + 2 * 598016u);
}

TEST_F(ReadBackTest, CancelDuringTheLastFrameWritesNoFile) {
  ASSERT_EQ(test::writeClip(store, 2, 0, 2, true), 0);
  const auto path = ClipStore::ClipFilePath(2, 0);
  { std::ofstream(path) << "old"; }
  // The operator presses Cancel (and confirms) while the second frame's pages come in.
  const int cancelAt = flash.reads + 140;
  op.confirmAnswers = {true};
  flash.onRead = [&] {
    if (flash.reads == cancelAt) store.ConfirmCancel();
  };
  ASSERT_FALSE(store.ReadClipBack(2));
  EXPECT_EQ(flash.reads, cancelAt);
  EXPECT_EQ(op.messages.back(), "Process canceled.");
  EXPECT_EQ(flash.cues.back(), (std::pair<int, int>{0, 0}));
  EXPECT_FALSE(std::filesystem::exists(path.string() + ".part"));
  EXPECT_EQ(std::filesystem::file_size(path), 3u);  // the earlier file is left as it was
}

TEST_F(ReadBackTest, FailuresAndAbsurdRecordsLeaveNoFile) {
  ASSERT_EQ(test::writeClip(store, 3, 0, 2, true), 0);
  const auto path = ClipStore::ClipFilePath(3, 0);
  flash.failReadAfter = 100;
  EXPECT_FALSE(store.ReadClipBack(3));
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_FALSE(std::filesystem::exists(path.string() + ".part"));
  EXPECT_EQ(store.StatusText(), "Disconnected");

  // The longest frame count a chip can hold, over a chain that leaves the chip or turns into
  // the system area, stops at the bad link.
  for (const std::uint32_t badLink : {0x7FFFFFFFu, 5u}) {
    SCOPED_TRACE(badLink);
    flash.failReadAfter = -1;
    flash.connected = true;
    store.SelectChip(0);
    ASSERT_TRUE(store.IsClipValid(3));
    std::vector<std::uint8_t> p(kPageSize, 0);
    SetPageLink(p.data(), badLink, 0, 0xFF);
    flash.chips[0][768 + 72] = p;
    store.ClipDirectory[3].FrameCount = kChipFrames;
    const int reads = flash.reads;
    EXPECT_FALSE(store.ReadClipBack(3));
    EXPECT_EQ(flash.reads - reads, 73);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(op.messages.back(), "Read error. Try again.");
  }
  // More frames than a chip holds is no clip: nothing is read.
  store.SelectChip(0);
  store.ClipDirectory[3].FrameCount = kChipFrames + 1;
  EXPECT_FALSE(store.IsClipValid(3));
  const int reads = flash.reads;
  EXPECT_FALSE(store.ReadClipBack(3));
  EXPECT_EQ(flash.reads, reads);
  // An empty slot has nothing to read.
  EXPECT_FALSE(store.ReadClipBack(50));
}

// A record that claims more frames than a chip holds comes from a damaged directory: it is not
// loaded as a clip, so it is neither listed nor read, and its slot counts as free.
TEST_F(ClipStoreTest, RecordsClaimingMoreFramesThanAChipHoldsAreNoClips) {
  for (const int frames : {kChipFrames, kChipFrames + 1, 0xFFFF}) {
    SCOPED_TRACE(frames);
    ASSERT_EQ(test::writeClip(store, 0, 0, 1, true), 0);
    store.ClipDirectory[0].FrameCount = static_cast<std::uint16_t>(frames);
    ASSERT_TRUE(store.SaveDirectory());  // the record goes to flash as it is, then is loaded
    EXPECT_EQ(store.IsClipValid(0), frames <= kChipFrames);
    EXPECT_EQ(view.Timeline.count(), frames <= kChipFrames ? 1 : 0);
    EXPECT_EQ(store.FirstFreeClipNumber(), frames <= kChipFrames ? 1 : 0);
    ASSERT_TRUE(store.FormatChip(true));
  }
}

}  // namespace
}  // namespace orvana
