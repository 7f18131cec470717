// The clip store against the simulated device: what lands on the chips is read back raw, past
// the link and the page ECC, the way an independent reader of the chip format would read it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "StoreFixture.h"
#include "common/ScriptedOperator.h"
#include "devsim/DeviceSimulator.h"
#include "link/TimingTable.h"
#include "store/ChannelView.h"
#include "store/StoreStack.h"
#include "support/TempHome.h"

namespace orvana {
namespace {

using Page = std::vector<std::uint8_t>;

class DeviceStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetTimingTable();
    devsim::DeviceSimulatorOptions options;
    options.replyPort = hostPort;
    options.recordTraffic = false;
    sim = std::make_unique<devsim::DeviceSimulator>(options);
    ASSERT_TRUE(sim->start()) << sim->error();
    stack = std::make_unique<StoreStack>("127.0.0.1", sim->port(), op, hostPort);
    port = &stack->port;
    store = &stack->store;
    view = std::make_unique<ChannelView>(*store);
  }
  void TearDown() override {
    view.reset();
    stack.reset();
    sim.reset();
  }

  void failErase(int chip, std::uint32_t block) {
    devsim::FaultPlan plan = sim->faults();
    plan.failErase.push_back({static_cast<std::uint8_t>(chip), block});
    sim->setFaults(plan);
  }
  void failProgram(int chip, std::uint32_t block) {
    devsim::FaultPlan plan = sim->faults();
    plan.failProgram.push_back({static_cast<std::uint8_t>(chip), block});
    sim->setFaults(plan);
  }
  void formatChip0(bool quick) {
    store->SelectChip(0);
    ASSERT_TRUE(store->FormatChip(quick));
  }
  void formatChannel0(bool quick) {
    store->Channel = 0;
    op.confirmAnswers = {true};
    store->FormatChannel(quick);
  }

  // Raw page straight from the cell array.
  Page raw(int chip, std::uint32_t row) {
    Page p(kPageSize);
    EXPECT_TRUE(sim->readPage(chip, row, p.data()));
    return p;
  }
  // The payload of a page written with ECC: 910 groups of 8 data bytes and 1 check byte.
  Page payload(int chip, std::uint32_t row) {
    const Page r = raw(chip, row);
    Page out(kPayloadSize);
    for (std::size_t i = 0; i < kPayloadSize; ++i) out[i] = r[i / 8 * 9 + i % 8];
    return out;
  }
  std::uint32_t linkOf(int chip, std::uint32_t row) { return GetU32(&payload(chip, row)[7220]); }

  test::TempHome home;
  ScriptedOperator op;
  test::HostSocket hostSocket;  // the link receives on it
  std::uint16_t hostPort = hostSocket.port();
  std::unique_ptr<devsim::DeviceSimulator> sim;
  std::unique_ptr<StoreStack> stack;
  DeviceFlashPort* port = nullptr;
  ClipStore* store = nullptr;
  std::unique_ptr<ChannelView> view;
};

TEST_F(DeviceStoreTest, WriteSaveAndDeleteLandWhereTheFormatPutsThem) {
  formatChannel0(false);
  ASSERT_EQ(store->StatusText(), "Connected");
  EXPECT_EQ(view->MapHint, "99% (8186 frames free)");
  store->SelectChip(1);
  EXPECT_EQ(view->MapHint, "99% (8186 frames free)");

  // Clip 0 on both chips: 2 frames and 30 hold frames.
  for (int chip : {0, 1}) {
    store->SelectChip(chip);
    ASSERT_TRUE(port->BeginFlashAccess());
    ASSERT_EQ(test::writeClip(*store, 0, 0, 2, false, std::string(49, 'm')), 0);
    port->EndFlashAccess();
  }
  for (int chip : {0, 1}) {
    SCOPED_TRACE(chip);
    const Page dir = payload(chip, 0);
    const ClipRecord r = ClipRecord::unpack(dir.data());
    EXPECT_EQ(r.StartPage, 768u);
    EXPECT_EQ(r.FrameCount, 2);
    EXPECT_EQ(r.commentText(), std::string(49, 'm'));
    EXPECT_EQ(dir[22 + 49], 0);
    EXPECT_EQ(GetU32(&dir[7220]), 768u);
    EXPECT_EQ(dir[7224], 0xFF);
    EXPECT_EQ(dir[7225], 0);
    // Map: cells 0..11 system, 12..75 clip 0 (32 frames), then free.
    const Page map = payload(chip, 200);
    EXPECT_EQ(GetU16(&map[2 * 11]), kCellSystem);
    EXPECT_EQ(GetU16(&map[2 * 12]), kCellAllocated);
    EXPECT_EQ(GetU16(&map[2 * 75]), kCellAllocated);
    EXPECT_EQ(GetU16(&map[2 * 76]), 0);
    EXPECT_EQ(raw(chip, 256), Page(kPageSize, 0));     // thumbnail slot 0 as stored, no ECC
    EXPECT_EQ(raw(chip, 150), Page(kPageSize, 0xFF));  // unused system pages stay erased
    // Chain: frame 0 -> 1 -> hold frames, the last hold frame back to the first.
    EXPECT_EQ(linkOf(chip, 768), 769u);
    EXPECT_EQ(linkOf(chip, 768 + 72), 896u);
    EXPECT_EQ(payload(chip, 768 + 72)[7224], 0xFF);
    EXPECT_EQ(linkOf(chip, 896 + 72), 1024u);
    const std::uint32_t lastLead = 768 + 31 * 128;
    EXPECT_EQ(linkOf(chip, lastLead + 72), 1024u);
    EXPECT_EQ(payload(chip, lastLead + 72)[7225], 0);
    EXPECT_EQ(payload(chip, 896 + 5)[97], test::contentByte(0, 1, 5, 97));
  }

  // Delete from the timeline of chip 1: both chips lose it, the frames stay.
  store->SelectChip(1);
  ASSERT_NE(view->Timeline.SelectByIndex(0), nullptr);
  op.confirmAnswers = {true};
  store->DeleteFromChannel(view->SelectedClipNumber());
  EXPECT_EQ(store->CurrentChip, 0);
  EXPECT_EQ(store->StatusText(), "Connected");
  EXPECT_EQ(view->Timeline.count(), 0);
  for (int chip : {0, 1}) {
    EXPECT_EQ(payload(chip, 0), Page(kPayloadSize, 0));
    EXPECT_EQ(GetU16(&payload(chip, 200)[2 * 12]), 0);
    EXPECT_EQ(linkOf(chip, 768), 769u);
  }
  EXPECT_EQ(view->MapHint, "99% (8186 frames free)");
}

TEST_F(DeviceStoreTest, FullFormatMarksFailingBlocksAndQuickFormatKeepsThem) {
  failErase(0, 20);
  formatChip0(false);
  for (int c = 80; c < 84; ++c) EXPECT_EQ(store->CellMap[c], kCellUnusable);
  EXPECT_EQ(GetU16(&payload(0, 200)[2 * 83]), kCellUnusable);
  EXPECT_EQ(store->CountFreeCells(), 16368);
  EXPECT_EQ(view->MapImage.pixel(80 * 4 + 1, 1), qRgb(0, 0, 255));
  EXPECT_EQ(view->MapHint, "99% (8184 frames free)");
  formatChip0(true);
  EXPECT_EQ(store->CellMap[80], kCellUnusable);
  EXPECT_EQ(store->CountFreeCells(), 16368);
  sim->setFaults({});
  formatChip0(false);
  EXPECT_EQ(store->CellMap[80], 0);
  EXPECT_EQ(store->CountFreeCells(), 16372);
}

TEST_F(DeviceStoreTest, FailedSystemAreaRewriteEndsDisconnected) {
  formatChip0(false);
  ASSERT_EQ(test::writeClip(*store, 4, 2, 1, false), 0);
  ASSERT_NE(view->Timeline.SelectByIndex(4), nullptr);
  failProgram(0, 0);
  op.confirmAnswers = {true};
  store->DeleteClipOnChip(4);
  EXPECT_EQ(store->StatusText(), "Disconnected");
  EXPECT_EQ(view->Timeline.count(), 0);
  EXPECT_EQ(op.messages.back(), "Write error. Try again.");
  EXPECT_TRUE(op.controlsEnabled);
}

TEST_F(DeviceStoreTest, ReadBackOfAOneFrameClip) {
  formatChip0(false);
  ASSERT_EQ(test::writeClip(*store, 9, 2, 1, false, "logo", 1), 0);
  ASSERT_TRUE(store->ReadClipBack(9));
  const auto path = ClipStore::ClipFilePath(9, 0);
  ASSERT_EQ(std::filesystem::file_size(path), 598088u);
  std::ifstream in(path, std::ios::binary);
  Page bytes((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(bytes[0], 9);
  EXPECT_EQ(bytes[10], 2);
  for (int m = 0; m < 73; ++m) {
    const std::size_t at = 72 + static_cast<std::size_t>(m) * kPageSize;
    ASSERT_EQ(bytes[at + 97 * 3], test::contentByte(9, 0, m, 97 * 3)) << m;
    ASSERT_EQ(bytes[at + kPayloadSize], 0);
    ASSERT_EQ(bytes[at + kPageSize - 1], 0);
  }
  EXPECT_EQ(GetU32(&bytes[72 + 72 * kPageSize + 7220]), 768u);  // a logo loops to its start
}

}  // namespace
}  // namespace orvana
