#include "flash/PageAccess.h"

#include <gtest/gtest.h>

#include "PeerFixture.h"

namespace orvana {
namespace {

class PageAccessTest : public test::PeerFixture {
 protected:
  void SetUp() override {
    PeerFixture::SetUp();
    pages = std::make_unique<PageAccess>(*link, *flash, op);
  }
  std::unique_ptr<PageAccess> pages;
};

TEST(PageAccessText, CounterPanel) {
  EXPECT_EQ(PageAccess::counterText(0, 0, 0, 0), " C-0    S-0    R-0    B-0");
  EXPECT_EQ(PageAccess::counterText(0, 2, 0, 17), " C-0    S-2    R-0    B-17");
  EXPECT_EQ(PageAccess::counterText(12, 345, 6, 4294967295),
            " C-12    S-345    R-6    B-4294967295");
}

TEST_F(PageAccessTest, FirstRefreshWritesAndUnchangedCountersWriteOnce) {
  PageBuffer page{};
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(pages->ReadFlashPage(page.data(), 10 + i, 0));
  ASSERT_TRUE(pages->WriteFlashPage(page.data(), 20, 0));
  ASSERT_TRUE(pages->EraseFlashBlock(256));
  EXPECT_EQ(op.status[1], std::vector<std::string>{" C-0    S-0    R-0    B-0"});
  EXPECT_EQ(op.processEventsCalls, 7);
  EXPECT_TRUE(op.messages.empty());
}

TEST_F(PageAccessTest, PollConfirmationShowsRightAfterThePage) {
  PageBuffer page{};
  ASSERT_TRUE(pages->ReadFlashPage(page.data(), 1, 0));
  peer->dropAcks(1);  // the read list is taken but not acknowledged: the poll confirms it
  ASSERT_TRUE(pages->ReadFlashPage(page.data(), 2, 0));
  EXPECT_EQ(op.status[1].back(), " C-1    S-0    R-0    B-0");
}

TEST_F(PageAccessTest, CorrectionsShowAsB) {
  PageBuffer stored{};
  HammingCode().EncodePage(stored.data());
  stored[0] ^= 0x01;
  peer->setPage(stored);
  PageBuffer page{};
  ASSERT_TRUE(pages->ReadFlashPage(page.data(), 1, 1));
  EXPECT_EQ(op.status[1].back(), " C-0    S-0    R-0    B-1");
}

TEST_F(PageAccessTest, FailedReadResetsCursorAndTellsTheOperator) {
  PageBuffer page{};
  ASSERT_TRUE(pages->ReadFlashPage(page.data(), 1, 0));
  op.cursor = Operator::Cursor::Wait;
  const int pumps = op.processEventsCalls;
  peer->dropDataReads(100);
  EXPECT_FALSE(pages->ReadFlashPage(page.data(), 2, 0));
  EXPECT_EQ(op.messages, std::vector<std::string>{"Read error. Try again."});
  EXPECT_EQ(op.cursor, Operator::Cursor::Arrow);
  EXPECT_EQ(op.processEventsCalls, pumps);
  EXPECT_EQ(op.status[1].size(), 1u) << "counters wait for the next good page";
}

TEST_F(PageAccessTest, FailedWriteResetsCursorAndTellsTheOperator) {
  op.cursor = Operator::Cursor::Wait;
  peer->setStatus(0x61);
  PageBuffer page{};
  EXPECT_FALSE(pages->WriteFlashPage(page.data(), 2, 1));
  EXPECT_EQ(op.messages, std::vector<std::string>{"Write error. Try again."});
  EXPECT_EQ(op.cursor, Operator::Cursor::Arrow);
  EXPECT_TRUE(op.status[1].empty());
}

TEST_F(PageAccessTest, FailedEraseIsSilent) {
  op.cursor = Operator::Cursor::Wait;
  peer->setStatus(0x62);
  EXPECT_FALSE(pages->EraseFlashBlock(512));
  EXPECT_TRUE(op.messages.empty());
  EXPECT_EQ(op.cursor, Operator::Cursor::Wait);
  EXPECT_EQ(op.processEventsCalls, 0);
}

TEST_F(PageAccessTest, BeginAndEndSwitchHostAccess) {
  ASSERT_TRUE(pages->EndFlashAccess());
  EXPECT_FALSE(flash->control().HostAccess);
  ASSERT_TRUE(pages->BeginFlashAccess());
  EXPECT_TRUE(flash->control().HostAccess);
  const auto lists = sent(135);
  ASSERT_EQ(lists.size(), 2u);
  EXPECT_EQ(lists[0][14], 0x00);
  EXPECT_EQ(lists[1][14], 0x01);
}

}  // namespace
}  // namespace orvana
