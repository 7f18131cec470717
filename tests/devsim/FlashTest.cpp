// NAND behaviour of the simulated device, driven by raw cycle lists over the wire, with the
// pages in memory and in sparse files.

#include <gtest/gtest.h>

#include "devsim/DeviceSimulator.h"
#include "devsim/WireHost.h"
#include "support/TempHome.h"

namespace orvana::devsim {
namespace {

using test::Page;

class FlashTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    DeviceSimulatorOptions options;
    options.replyPort = replyPort;
    if (GetParam()) options.store = home.path() / "store";
    sim = std::make_unique<DeviceSimulator>(options);
    ASSERT_TRUE(sim->start()) << sim->error();
    host = std::make_unique<test::WireHost>(sim->port(), replySocket);
  }

  Page erased() {
    Page p;
    p.fill(0xFF);
    return p;
  }

  test::TempHome home;
  test::LoopbackSocket replySocket;  // bound for the whole test
  std::uint16_t replyPort = replySocket.port();
  std::unique_ptr<DeviceSimulator> sim;
  std::unique_ptr<test::WireHost> host;
};

TEST_P(FlashTest, ProgramReadEraseThroughCycleLists) {
  Page page{};
  ASSERT_TRUE(host->readPage(3, 1000, page));
  EXPECT_EQ(page, erased()) << "a fresh chip reads erased";

  const Page data = test::patternPage(1);
  EXPECT_EQ(host->programPage(3, 1000, data), 0xE0);
  const Page neighbour = test::patternPage(2);
  EXPECT_EQ(host->programPage(3, 1023, neighbour), 0xE0);  // next block
  EXPECT_EQ(host->programPage(4, 1000, neighbour), 0xE0);  // same row, other chip
  ASSERT_TRUE(host->readPage(3, 1000, page));
  EXPECT_EQ(page, data);
  EXPECT_EQ(sim->flashControl()[0], 4) << "ChipSelect is the chip + 1";

  // The erase takes the block that holds the row (rows 768..1023 here), not just the row.
  EXPECT_EQ(host->eraseBlock(3, 1000), 0xE0);
  ASSERT_TRUE(host->readPage(3, 1000, page));
  EXPECT_EQ(page, erased());
  ASSERT_TRUE(host->readPage(3, 1023, page));
  EXPECT_EQ(page, erased());
  ASSERT_TRUE(host->readPage(4, 1000, page));
  EXPECT_EQ(page, neighbour);

  // The top row of the last chip: all three row cycles reach the array.
  EXPECT_EQ(host->programPage(11, 0xFFFFF, data), 0xE0);
  ASSERT_TRUE(sim->readPage(11, 0xFFFFF, page.data()));
  EXPECT_EQ(page, data);
}

TEST_P(FlashTest, ProgrammingOnlyClearsBits) {
  Page first{}, second{};
  for (std::size_t i = 0; i < first.size(); ++i) {
    first[i] = static_cast<std::uint8_t>(0xF0 | (i & 0x0F));
    second[i] = static_cast<std::uint8_t>(0x3C ^ (i & 0xFF));
  }
  EXPECT_EQ(host->programPage(0, 42, first), 0xE0);
  EXPECT_EQ(host->programPage(0, 42, second), 0xE0);
  Page page{};
  ASSERT_TRUE(host->readPage(0, 42, page));
  for (std::size_t i = 0; i < page.size(); ++i)
    ASSERT_EQ(page[i], first[i] & second[i]) << "byte " << i;
}

TEST_P(FlashTest, PiecesNotSentStayErased) {
  // Only two of the eight pieces arrive before the confirm.
  const Page data = test::patternPage(9);
  ASSERT_TRUE(host->cycles(1, {{1, 0x80}, {2, 0}, {2, 0}, {2, 7}, {2, 0}, {2, 0}}));
  for (std::size_t piece = 0; piece < 2; ++piece)
    ASSERT_TRUE(
        host->write(136, test::Bytes(data.begin() + static_cast<long>(piece * 1024),
                                     data.begin() + static_cast<long>(piece * 1024 + 1024))));
  ASSERT_TRUE(host->cycles(1, {{1, 0x10}}));
  EXPECT_EQ(host->status(1), 0xE0);
  Page page{};
  ASSERT_TRUE(sim->readPage(1, 7, page.data()));
  EXPECT_TRUE(std::equal(page.begin(), page.begin() + 2048, data.begin()));
  EXPECT_TRUE(std::all_of(page.begin() + 2048, page.end(), [](auto b) { return b == 0xFF; }));
}

TEST_P(FlashTest, IncompleteOrForeignCyclesChangeNothing) {
  const Page data = test::patternPage(3);
  ASSERT_TRUE(sim->writePage(5, 300, data.data()));
  // An erase confirm without its three row cycles, a program confirm without a set-up, and a
  // row beyond the chip's 1,048,576 rows: none may touch the stored page.
  ASSERT_TRUE(host->cycles(5, {{1, 0x60}, {2, 0x2C}, {2, 0x01}, {1, 0xD0}}));
  ASSERT_TRUE(host->cycles(5, {{1, 0x10}}));
  EXPECT_EQ(host->programPage(5, 0x100000 | 300, Page{}), 0xE1);
  EXPECT_EQ(host->eraseBlock(5, 0x100000 | 300), 0xE1);
  Page page{};
  ASSERT_TRUE(sim->readPage(5, 300, page.data()));
  EXPECT_EQ(page, data);
  // Data written outside a program set-up is acknowledged and goes nowhere.
  ASSERT_TRUE(host->write(136, test::Bytes(1024, 0)));
  ASSERT_TRUE(host->readPage(5, 300, page));
  EXPECT_EQ(page, data);
}

TEST_P(FlashTest, StatusReadAndCycleListWithoutEntries) {
  EXPECT_EQ(host->status(7), 0xE0);
  // A control word alone changes the selection and flags and leaves the chip alone.
  ASSERT_TRUE(host->write(135, {8, 0, 0x03, 0}));
  EXPECT_EQ(sim->flashControl(), (std::array<std::uint8_t, 4>{8, 0, 3, 0}));
  // After 70h a page-sized read shows the status in every byte.
  ASSERT_TRUE(host->cycles(2, {{1, 0x70}}));
  auto bytes = host->read(136, 1024, 19);
  ASSERT_TRUE(bytes);
  EXPECT_TRUE(std::all_of(bytes->begin(), bytes->end(), [](auto b) { return b == 0xE0; }));
}

INSTANTIATE_TEST_SUITE_P(Storage, FlashTest, ::testing::Values(false, true),
                         [](const auto& p) { return p.param ? "Files" : "Memory"; });

}  // namespace
}  // namespace orvana::devsim
