#include "flash/ZT_FLASH.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "PeerFixture.h"

namespace orvana {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::PeerFixture;

Bytes payloadOf(const test::DevicePeer::Datagram& d) {
  return {d.begin() + 12, d.end()};
}

PageBuffer patternPage() {
  PageBuffer page;
  for (std::size_t i = 0; i < page.size(); ++i) page[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return page;
}

class ZT_FLASHTest : public PeerFixture {};

TEST_F(ZT_FLASHTest, PageReadExampleByteForByte) {
  const PageBuffer page = patternPage();
  peer->setPage(page);
  ASSERT_TRUE(flash->SetChipSelect(0));
  ASSERT_TRUE(flash->SetHostAccess(true));
  for (int i = 0; i < 16 && link->Sequence != 9; ++i) flash->SetHostAccess(true);
  ASSERT_EQ(link->Sequence, 9);
  peer->clearReceived();

  PageBuffer buffer{};
  ASSERT_TRUE(flash->ReadPage(buffer.data(), 0, 0));

  const auto got = peer->received();
  ASSERT_EQ(got.size(), 9u) << "a page read is nine exchanges";
  const Bytes list = {0x87, 0x8A, 0x1E, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFE, 0x01,
                      0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x01, 0x00, 0x02, 0x00,
                      0x02, 0x00, 0x02, 0x00, 0x02, 0x00, 0x02, 0x00, 0x01, 0x30};
  EXPECT_EQ(got[0], list);
  const std::uint8_t sequences[8] = {0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x00, 0x01, 0x02};
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(got[static_cast<std::size_t>(i) + 1], (Bytes{0x88, sequences[i], 0x13, 0x04}))
        << "request " << i;
  }
  EXPECT_EQ(buffer, page) << "ecc 0 hands over the bytes as transferred";
}

TEST_F(ZT_FLASHTest, CycleListsOfEveryOperation) {
  ASSERT_TRUE(flash->SetHostAccess(true));
  const std::uint32_t row = 0x0F1234;  // cycles carry 34, 12, 0F
  PageBuffer page = patternPage();

  struct Case {
    const char* name;
    std::function<bool()> run;
    std::vector<Bytes> lists;  // command-135 payloads in order
  };
  const Case cases[] = {
      {"status",
       [&] { return flash->ReadStatus() == 0x60; },
       {{0x01, 0x00, 0x01, 0x00, 0x01, 0x70}}},
      {"read",
       [&] { return flash->ReadPage(page.data(), row, 0); },
       {{0x01, 0x00, 0x01, 0x00, 0x01, 0x00, 0x02, 0x00, 0x02, 0x00, 0x02, 0x34, 0x02, 0x12, 0x02,
         0x0F, 0x01, 0x30}}},
      {"program",
       [&] { return flash->ProgramPage(page.data(), row, 0); },
       {{0x01, 0x00, 0x01, 0x00, 0x01, 0x80, 0x02, 0x00, 0x02, 0x00, 0x02, 0x34, 0x02, 0x12, 0x02,
         0x0F},
        {0x01, 0x00, 0x03, 0x00, 0x01, 0x10},
        {0x01, 0x00, 0x01, 0x00, 0x01, 0x70}}},
      {"erase",
       [&] { return flash->EraseBlock(row); },
       {{0x01, 0x00, 0x03, 0x00, 0x01, 0x60, 0x02, 0x34, 0x02, 0x12, 0x02, 0x0F, 0x01, 0xD0},
        {0x01, 0x00, 0x01, 0x00, 0x01, 0x70}}},
  };
  for (const auto& c : cases) {
    peer->clearReceived();
    ASSERT_TRUE(c.run()) << c.name;
    std::vector<Bytes> lists;
    for (auto& d : sent(135)) lists.push_back(payloadOf(d));
    EXPECT_EQ(lists, c.lists) << c.name;
  }
}

TEST_F(ZT_FLASHTest, ProgramMovesEightPiecesInTwelveExchanges) {
  PageBuffer page = patternPage();
  const PageBuffer original = page;
  ASSERT_TRUE(flash->ProgramPage(page.data(), 77, 0));
  EXPECT_EQ(page, original);
  EXPECT_EQ(peer->received().size(), 12u);
  const auto pieces = sent(136);
  // eight data writes, then the one-byte status read request
  ASSERT_EQ(pieces.size(), 9u);
  for (std::size_t i = 0; i < 8; ++i) {
    ASSERT_EQ(pieces[i].size(), 1036u);
    EXPECT_TRUE(std::equal(pieces[i].begin() + 12, pieces[i].end(),
                           original.begin() + static_cast<long>(1024 * i)))
        << "piece " << i;
  }
}

TEST_F(ZT_FLASHTest, ControlWordUpdates) {
  peer->clearReceived();
  ASSERT_TRUE(flash->SetChipSelect(0));
  ASSERT_TRUE(flash->SetChipSelect(11));
  ASSERT_TRUE(flash->EraseBlock(256));
  // BusyStart keeps the value of the last list sent (the status list: off).
  ASSERT_TRUE(flash->SetHostAccess(false));
  EXPECT_FALSE(flash->SetChipSelect(12));
  EXPECT_FALSE(flash->SetChipSelect(-1));
  const auto lists = sent(135);
  ASSERT_GE(lists.size(), 3u);
  EXPECT_EQ(payloadOf(lists[0]), (Bytes{0x01, 0x00, 0x01, 0x00}));
  EXPECT_EQ(payloadOf(lists[1]), (Bytes{0x0C, 0x00, 0x01, 0x00}));
  EXPECT_EQ(payloadOf(lists.back()), (Bytes{0x0C, 0x00, 0x00, 0x00}));
  EXPECT_EQ(flash->control().ChipSelect, 12);
}

TEST_F(ZT_FLASHTest, AddBeyondCapacityIsIgnored) {
  ZT_FLASH_CYCLE list(*link, flash->control());
  list.Reset(2);
  list.Add(CycleKind::Command, 0x70);
  list.Add(CycleKind::Address, 0x01);
  list.Add(CycleKind::Command, 0x99);
  EXPECT_EQ(list.count(), 2);
  std::uint8_t out[32];
  const int n = list.BuildPayload(out);
  EXPECT_EQ(Bytes(out, out + n), (Bytes{0x01, 0x00, 0x01, 0x00, 0x01, 0x70, 0x02, 0x01}));
  list.Reset(2);  // an unfilled entry goes out as zeros
  list.Add(CycleKind::Command, 0x70);
  EXPECT_EQ(list.BuildPayload(out), 8);
  EXPECT_EQ(out[6], 0);
  EXPECT_EQ(out[7], 0);
}

TEST(ZT_FLASH, ReadyTest) {
  for (int s : {0x60, 0x64, 0xE0, 0x7C})
    EXPECT_TRUE(ZT_FLASH::IsReady(static_cast<std::uint8_t>(s))) << s;
  for (int s : {0x61, 0x62, 0x40, 0x20, 0x00, 0xE1})
    EXPECT_FALSE(ZT_FLASH::IsReady(static_cast<std::uint8_t>(s))) << s;
}

TEST_F(ZT_FLASHTest, PollLimits) {
  struct Case {
    const char* name;
    std::uint8_t status;
    bool erase;
    int reads;
  };
  const Case cases[] = {
      {"program, chip stays busy", 0x80, false, ZT_FLASH::kProgramPolls},
      {"program, chip reports failure", 0x61, false, ZT_FLASH::kProgramPolls},
      {"erase, chip stays busy", 0x80, true, ZT_FLASH::kErasePolls},
      {"erase, chip reports failure", 0x62, true, ZT_FLASH::kErasePolls},
  };
  for (const auto& c : cases) {
    peer->setStatus(c.status);
    const int before = peer->statusReads();
    PageBuffer page{};
    const bool ok = c.erase ? flash->EraseBlock(512) : flash->ProgramPage(page.data(), 512, 0);
    EXPECT_FALSE(ok) << c.name;
    EXPECT_EQ(peer->statusReads() - before, c.reads) << c.name;
  }
  peer->setStatus(0x60);
  peer->queueStatus({0x80, 0x40, 0x20, 0x61});
  const int before = peer->statusReads();
  PageBuffer page{};
  EXPECT_TRUE(flash->ProgramPage(page.data(), 512, 0));
  EXPECT_EQ(peer->statusReads() - before, 5);
}

TEST_F(ZT_FLASHTest, FailedStatusReadCountsAsNotReady) {
  // Enough dropped requests to make one status read fail, not two.
  peer->dropDataReads(5);
  PageBuffer page{};
  EXPECT_TRUE(flash->ProgramPage(page.data(), 3, 0));
  EXPECT_EQ(link->ReadFailures, 1);
  EXPECT_EQ(peer->statusReads(), 1);
}

TEST_F(ZT_FLASHTest, ProgramLeavesBufferEncodedAlsoOnFailure) {
  std::mt19937 rng(11);
  PageBuffer page;
  for (auto& b : page) b = static_cast<std::uint8_t>(rng());
  PageBuffer encoded = page;
  HammingCode().EncodePage(encoded.data());

  peer->setStatus(0x61);
  EXPECT_FALSE(flash->ProgramPage(page.data(), 1024, 1));
  EXPECT_EQ(page, encoded);
  const auto pieces = sent(136);
  ASSERT_GE(pieces.size(), 8u);
  for (std::size_t i = 0; i < 8; ++i) {
    EXPECT_TRUE(std::equal(pieces[i].begin() + 12, pieces[i].end(),
                           encoded.begin() + static_cast<long>(1024 * i)))
        << "piece " << i;
  }
}

TEST_F(ZT_FLASHTest, ReadWithEccCorrectsAndCounts) {
  PageBuffer stored{};
  for (int i = 0; i < kPayloadBytes; ++i) stored[static_cast<std::size_t>(i)] = std::uint8_t(i);
  const PageBuffer payload = stored;
  HammingCode().EncodePage(stored.data());
  stored[9 * 100 + 2] ^= 0x10;
  stored[9 * 700 + 7] ^= 0x80;
  peer->setPage(stored);
  PageBuffer buffer{};
  ASSERT_TRUE(flash->ReadPage(buffer.data(), 5, 1));
  EXPECT_EQ(buffer, payload);
  EXPECT_EQ(flash->Corrections, 2u);
}

TEST_F(ZT_FLASHTest, RowsBeyondTheChipAreRefusedWithoutTraffic) {
  PageBuffer page{};
  EXPECT_FALSE(flash->ReadPage(page.data(), kLastRow + 1, 0));
  EXPECT_FALSE(flash->ProgramPage(page.data(), 0x1000000, 0));
  EXPECT_FALSE(flash->EraseBlock(0xFFFFFFFF));
  EXPECT_TRUE(peer->received().empty());
  // The last row goes out as FF FF 0F.
  ASSERT_TRUE(flash->EraseBlock(kLastRow));
  EXPECT_EQ(payloadOf(sent(135).front()), (Bytes{0x01, 0x00, 0x03, 0x00, 0x01, 0x60, 0x02, 0xFF,
                                                 0x02, 0xFF, 0x02, 0x0F, 0x01, 0xD0}));
}

}  // namespace
}  // namespace orvana
