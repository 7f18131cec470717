// Injected faults: each kind does what it says, and the same seed gives the same faults.

#include <gtest/gtest.h>

#include <chrono>

#include "devsim/DeviceSimulator.h"
#include "devsim/WireHost.h"
#include "support/TempHome.h"

namespace orvana::devsim {
namespace {

using test::Bytes;
using test::Page;

// Waits (bounded) until the server has taken `count` datagrams; its fault decisions for them
// are then recorded in the counters.
bool waitReceived(DeviceSimulator& sim, std::uint64_t count) {
  return test::eventually([&] { return sim.counts().received >= count; }, std::chrono::seconds(10));
}

class FaultTest : public ::testing::Test {
 protected:
  void startWith(const FaultPlan& faults) {
    host.reset();  // the next client starts on an empty queue
    sim.reset();
    DeviceSimulatorOptions options;
    options.replyPort = replyPort;
    options.faults = faults;
    sim = std::make_unique<DeviceSimulator>(options);
    ASSERT_TRUE(sim->start()) << sim->error();
    host = std::make_unique<test::WireHost>(sim->port(), replySocket);
    ASSERT_TRUE(host->client().ok());
  }

  // Which of `n` polls had a reply fault of the counted kind, read from the device's counters
  // after each poll; then every datagram that reached the host.
  struct Run {
    std::vector<bool> pattern;
    std::size_t arrived = 0;
  };
  Run run(const FaultPlan& faults, int n, std::uint64_t PacketCounts::*counter) {
    startWith(faults);
    Run r;
    for (int i = 0; i < n; ++i) {
      const auto before = sim->counts().*counter;
      host->client().send(test::pollPacket());
      EXPECT_TRUE(waitReceived(*sim, static_cast<std::uint64_t>(i + 1)));
      r.pattern.push_back(sim->counts().*counter != before);
    }
    while (host->client().receive(faults.delayMicros / 1000 + 150)) ++r.arrived;
    return r;
  }

  test::LoopbackSocket replySocket;  // bound for the whole test
  std::uint16_t replyPort = replySocket.port();
  std::unique_ptr<DeviceSimulator> sim;
  std::unique_ptr<test::WireHost> host;
};

TEST_F(FaultTest, ReplyFaultsFollowTheSeed) {
  constexpr int kPolls = 48;
  const struct {
    const char* name;
    FaultPlan plan;
    std::uint64_t PacketCounts::*counter;
    int extraPerFault;  // datagrams per faulted reply beyond the usual one
  } kinds[] = {
      {"drop", {.seed = 11, .dropReplyShare = 0.4}, &PacketCounts::repliesDropped, -1},
      {"duplicate", {.seed = 12, .duplicateReplyShare = 0.4}, &PacketCounts::repliesDuplicated, 1},
      {"delay",
       {.seed = 13, .delayShare = 0.4, .delayMicros = 2000},
       &PacketCounts::repliesDelayed,
       0},
  };
  for (const auto& kind : kinds) {
    SCOPED_TRACE(kind.name);
    const Run a = run(kind.plan, kPolls, kind.counter);
    const Run b = run(kind.plan, kPolls, kind.counter);
    FaultPlan otherSeed = kind.plan;
    otherSeed.seed += 1000;
    const Run c = run(otherSeed, kPolls, kind.counter);
    const auto faulted = std::count(a.pattern.begin(), a.pattern.end(), true);
    EXPECT_GT(faulted, 5);
    EXPECT_LT(faulted, kPolls - 5);
    EXPECT_EQ(a.pattern, b.pattern);
    EXPECT_NE(a.pattern, c.pattern);
    EXPECT_EQ(a.arrived, static_cast<std::size_t>(kPolls + kind.extraPerFault * faulted));
  }
}

TEST_F(FaultTest, DelayedReplyArrivesLate) {
  startWith({.delayShare = 1.0, .delayMicros = 30000});
  const auto t0 = std::chrono::steady_clock::now();
  auto reply = host->client().exchange(test::pollPacket(), 2000);
  const auto elapsed = std::chrono::steady_clock::now() - t0;
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->size(), 5u);
  EXPECT_GE(elapsed, std::chrono::milliseconds(30));
}

TEST_F(FaultTest, DroppedReplyStillExecutesButDroppedRequestDoesNot) {
  startWith({.dropReplyShare = 1.0});
  host->client().send(test::writePacket(130, 1, {0x44}, 1, 20));
  ASSERT_TRUE(waitReceived(*sim, 1));
  EXPECT_FALSE(host->client().receive(100));
  EXPECT_EQ(sim->reg(20), 0x44) << "a lost acknowledgement; the write itself happened";
  EXPECT_EQ(sim->lastSequence(), 1);

  sim->setFaults({.dropRequestShare = 1.0});
  host->client().send(test::writePacket(130, 2, {0x55}, 1, 20));
  // Taken under the dropping plan before the plan changes back.
  ASSERT_TRUE(waitReceived(*sim, 2));
  EXPECT_FALSE(host->client().receive(100));
  sim->setFaults({});
  auto poll = host->client().exchange(test::pollPacket());
  ASSERT_TRUE(poll);
  EXPECT_EQ((*poll)[4], 1) << "the lost write was never accepted";
  EXPECT_EQ(sim->reg(20), 0x44);
}

TEST_F(FaultTest, SilentDeviceAnswersNothingUntilWokenWhileRunning) {
  startWith({});
  sim->setSilent(true);
  EXPECT_FALSE(host->client().exchange(test::pollPacket(), 100));
  EXPECT_FALSE(host->client().exchange(test::writePacket(128, 1, {1, 0}), 100));
  ASSERT_TRUE(waitReceived(*sim, 2));  // both taken while silent
  EXPECT_EQ(sim->counts().ignored, 2u);
  EXPECT_EQ(sim->traffic().size(), 2u) << "ignored datagrams are still logged";
  sim->setSilent(false);
  EXPECT_TRUE(host->client().exchange(test::pollPacket()));
}

TEST_F(FaultTest, BusyForGivenStatusReadsAfterProgramAndErase) {
  startWith({.busyReads = 3});
  EXPECT_EQ(host->programPage(0, 5, test::patternPage(5)), 0x80);  // first status read
  EXPECT_EQ(host->status(0), 0x80);
  EXPECT_EQ(host->status(0), 0x80);
  EXPECT_EQ(host->status(0), 0xE0);
  EXPECT_EQ(host->status(0), 0xE0);
  EXPECT_EQ(host->eraseBlock(0, 0), 0x80);
  EXPECT_EQ(host->status(0), 0x80);
  EXPECT_EQ(host->status(0), 0x80);
  EXPECT_EQ(host->status(0), 0xE0);
}

TEST_F(FaultTest, FailedEraseAndProgramLeaveTheCellsAlone) {
  startWith({.failErase = {{4, 2}}, .failProgram = {{4, 3}}});
  const Page data = test::patternPage(8);
  ASSERT_TRUE(sim->writePage(4, 2 * 256 + 1, data.data()));

  EXPECT_EQ(host->eraseBlock(4, 2 * 256), 0xE1);
  EXPECT_EQ(host->status(4), 0xE1) << "the failure stays visible until the next operation";
  EXPECT_EQ(host->programPage(4, 3 * 256 + 9, data), 0xE1);
  // Same blocks on another chip, and the next block of this chip, work.
  EXPECT_EQ(host->eraseBlock(5, 2 * 256), 0xE0);
  EXPECT_EQ(host->programPage(4, 4 * 256, data), 0xE0);

  Page page{};
  ASSERT_TRUE(sim->readPage(4, 2 * 256 + 1, page.data()));
  EXPECT_EQ(page, data);
  ASSERT_TRUE(sim->readPage(4, 3 * 256 + 9, page.data()));
  EXPECT_TRUE(std::all_of(page.begin(), page.end(), [](auto b) { return b == 0xFF; }));
}

TEST_F(FaultTest, FlippedBitsShowOnEveryReadButNotInTheCells) {
  startWith({.flips = {{2, 10, 100, 3}, {2, 10, 8191, 7}}});
  const Page data = test::patternPage(4);
  ASSERT_EQ(host->programPage(2, 10, data), 0xE0);
  ASSERT_EQ(host->programPage(2, 11, data), 0xE0);
  Page expected = data;
  expected[100] ^= 0x08;
  expected[8191] ^= 0x80;
  for (int pass = 0; pass < 2; ++pass) {
    Page page{};
    ASSERT_TRUE(host->readPage(2, 10, page));
    EXPECT_EQ(page, expected);
  }
  Page page{};
  ASSERT_TRUE(host->readPage(2, 11, page));
  EXPECT_EQ(page, data);
  ASSERT_TRUE(sim->readPage(2, 10, page.data()));
  EXPECT_EQ(page, data);
}

TEST(FaultPlanParse, BlockAndFlipTexts) {
  BlockRef block;
  EXPECT_TRUE(parseBlockRef("11:4095", block));
  EXPECT_EQ(block, (BlockRef{11, 4095}));
  BitFlip flip;
  EXPECT_TRUE(parseBitFlip("3:1048575:8191:7", flip));
  EXPECT_EQ(flip, (BitFlip{3, 1048575, 8191, 7}));
  for (const char* bad : {"", "1", "12:0", "0:4096", "1:2:3", "-1:0", "1:x", "1::2", "1:2:"})
    EXPECT_FALSE(parseBlockRef(bad, block)) << bad;
  for (const char* bad : {"0:0:0", "0:1048576:0:0", "0:0:8192:0", "0:0:0:8", "0:0:0:0:0"})
    EXPECT_FALSE(parseBitFlip(bad, flip)) << bad;
}

}  // namespace
}  // namespace orvana::devsim
