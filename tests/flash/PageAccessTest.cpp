#include "flash/PageAccess.h"

#include <gtest/gtest.h>

#include <random>

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

TEST_F(PageAccessTest, PageThatDoesNotDecodePlausiblyIsReadAgainAndNeverHandedOn) {
  // The chip holds `good`: a payload with one weak bit. What the host receives for each transfer
  // of the page is scripted; the read must hand on exactly the payload or fail.
  PageBuffer payload{};
  for (int i = 0; i < kPayloadBytes; ++i)
    payload[static_cast<std::size_t>(i)] = std::uint8_t(i * 5);
  PageBuffer good = payload;
  HammingCode().EncodePage(good.data());
  good[9 * 300 + 4] ^= 0x08;
  std::mt19937 rng(9);
  PageBuffer garbage;
  for (auto& b : garbage) b = static_cast<std::uint8_t>(rng());
  // A piece taken twice, as when a leftover reply is taken for the next one.
  PageBuffer stale = good;
  std::copy(good.begin(), good.end() - 1024, stale.begin() + 1024);

  struct Case {
    const char* name;
    std::vector<PageBuffer> first;  // transfers before the chip's own page
    PageBuffer after;
    bool ok;
    std::uint32_t transfers;
  };
  // After a rejected transfer a page counts only when two transfers agree; a garbled one between
  // them does not undo the first.
  constexpr std::uint32_t kAll = ZT_FLASH::kReadAttempts;
  const Case cases[] = {
      {"worn page", {}, good, true, 1},
      {"garbage once", {garbage}, good, true, 3},
      {"stale piece twice", {stale, stale}, good, true, 4},
      {"good, garbage, then good", {good, garbage}, good, true, 1},
      {"garbage, good, garbage, good", {garbage, good, garbage}, good, true, 4},
      {"garbage every time", {}, garbage, false, kAll},
      {"stale piece every time", {}, stale, false, kAll},
  };
  for (const auto& c : cases) {
    peer->queuePages(c.first);
    peer->setPage(c.after);
    peer->clearReceived();
    op.messages.clear();
    const std::uint32_t corrections = flash->Corrections;
    const std::uint32_t rejected = flash->RejectedReads;
    PageBuffer buffer{};
    buffer.fill(0xAA);
    EXPECT_EQ(pages->ReadFlashPage(buffer.data(), 7, 1), c.ok) << c.name;
    std::uint32_t transfers = 0;
    for (const auto& list : sent(135)) transfers += list.back() == 0x30 ? 1 : 0;
    EXPECT_EQ(transfers, c.transfers) << c.name;
    EXPECT_EQ(flash->RejectedReads - rejected, c.ok ? c.transfers - 1 : c.transfers) << c.name;
    if (c.ok) {
      EXPECT_EQ(buffer, payload) << c.name;
      EXPECT_EQ(flash->Corrections - corrections, 1u) << "only the page handed on counts";
      EXPECT_TRUE(op.messages.empty()) << c.name;
    } else {
      EXPECT_EQ(buffer, PageBuffer{}) << c.name << ": nothing of the rejected bytes is left";
      EXPECT_EQ(flash->Corrections, corrections) << c.name;
      EXPECT_EQ(op.messages, std::vector<std::string>{"Read error. Try again."}) << c.name;
    }
  }
}

}  // namespace
}  // namespace orvana
