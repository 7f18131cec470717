// The sequencer and page access against the simulated device: pages round-trip with the page
// ECC, injected read flips are corrected, and injected chip faults end where the polls end.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "common/ScriptedOperator.h"
#include "devsim/DeviceSimulator.h"
#include "flash/PageAccess.h"
#include "flash/ZT_FLASH.h"
#include "link/ITF_ZT.h"
#include "link/TimingTable.h"
#include "support/TempHome.h"

namespace orvana {
namespace {

PageBuffer randomPayload(std::mt19937& rng) {
  PageBuffer page{};
  for (int i = 0; i < kPayloadBytes; ++i) page[static_cast<std::size_t>(i)] = std::uint8_t(rng());
  return page;
}

class FlashDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override { start({}); }

  void start(const devsim::FaultPlan& faults) {
    pages.reset();
    flash.reset();
    link.reset();
    sim.reset();
    ResetTimingTable();
    devsim::DeviceSimulatorOptions options;
    options.replyPort = hostSocket.port();
    options.faults = faults;
    options.recordTraffic = false;
    sim = std::make_unique<devsim::DeviceSimulator>(options);
    ASSERT_TRUE(sim->start()) << sim->error();
    link = std::make_unique<ITF_ZT>("127.0.0.1", sim->port(), op, hostSocket.port());
    ASSERT_TRUE(link->IsConnected());
    flash = std::make_unique<ZT_FLASH>(*link);
    pages = std::make_unique<PageAccess>(*link, *flash, op);
  }

  bool select(int chip) { return flash->SetChipSelect(chip); }

  test::TempHome home;
  ScriptedOperator op;
  test::HostSocket hostSocket;  // every link of the test receives on it
  std::unique_ptr<devsim::DeviceSimulator> sim;
  std::unique_ptr<ITF_ZT> link;
  std::unique_ptr<ZT_FLASH> flash;
  std::unique_ptr<PageAccess> pages;
};

TEST_F(FlashDeviceTest, ManyPagesRoundTripWithEcc) {
  std::mt19937 rng(2024);
  struct Stored {
    int chip;
    std::uint32_t row;
    PageBuffer payload;
  };
  std::vector<Stored> stored;
  ASSERT_TRUE(pages->BeginFlashAccess());
  for (int chip : {0, 5, 11}) {
    ASSERT_TRUE(select(chip));
    ASSERT_TRUE(pages->EraseFlashBlock(768));
    for (std::uint32_t row = 768; row < 768 + 40; ++row) {
      Stored s{chip, row, randomPayload(rng)};
      PageBuffer buffer = s.payload;
      ASSERT_TRUE(pages->WriteFlashPage(buffer.data(), row, 1)) << chip << "/" << row;
      // What the chip holds is the encoded page.
      PageBuffer encoded = s.payload;
      HammingCode().EncodePage(encoded.data());
      PageBuffer raw{};
      ASSERT_TRUE(sim->readPage(chip, row, raw.data()));
      ASSERT_EQ(raw, encoded) << chip << "/" << row;
      stored.push_back(s);
    }
  }
  for (const auto& s : stored) {
    ASSERT_TRUE(select(s.chip));
    PageBuffer buffer{};
    ASSERT_TRUE(pages->ReadFlashPage(buffer.data(), s.row, 1));
    ASSERT_EQ(buffer, s.payload) << s.chip << "/" << s.row;
  }
  ASSERT_TRUE(pages->EndFlashAccess());
  EXPECT_EQ(flash->Corrections, 0u);
  EXPECT_TRUE(op.messages.empty());
  EXPECT_EQ(link->WriteFailures + link->ReadFailures, 0);
}

TEST_F(FlashDeviceTest, InjectedReadFlipsAreCorrected) {
  std::mt19937 rng(7);
  devsim::FaultPlan faults;
  std::vector<PageBuffer> payloads;
  for (std::uint32_t row = 0; row < 16; ++row) {
    payloads.push_back(randomPayload(rng));
    // One flip in a data byte of two groups of every page, away from check bytes.
    const auto g1 = static_cast<std::uint16_t>(9 * (row * 50) + row % 8);
    const auto g2 = static_cast<std::uint16_t>(9 * (909 - row) + 3);
    faults.flips.push_back({2, 1024 + row, g1, static_cast<std::uint8_t>(row % 8)});
    faults.flips.push_back({2, 1024 + row, g2, 7});
  }
  faults.flips.push_back({2, 1024, 9 * 5 + 8, 3});  // a check-bit flip: left alone, uncounted
  ASSERT_TRUE(select(2));
  ASSERT_TRUE(pages->EraseFlashBlock(1024));
  for (std::uint32_t row = 0; row < 16; ++row) {
    PageBuffer buffer = payloads[row];
    ASSERT_TRUE(pages->WriteFlashPage(buffer.data(), 1024 + row, 1));
  }
  sim->setFaults(faults);
  const std::uint32_t rejected = flash->RejectedReads;
  const std::int32_t resends = link->ReadResends;
  for (std::uint32_t row = 0; row < 16; ++row) {
    PageBuffer buffer{};
    ASSERT_TRUE(pages->ReadFlashPage(buffer.data(), 1024 + row, 1));
    ASSERT_EQ(buffer, payloads[row]) << row;
  }
  EXPECT_EQ(flash->Corrections, 32u);
  // A transfer is read again only after the link had to ask twice (a busy machine), never for
  // the flips.
  if (link->ReadResends == resends) {
    EXPECT_EQ(flash->RejectedReads, rejected) << "wear is not mistaken for a bad transfer";
  }
  // The link's own counters may have moved on a busy machine (a write confirmed by a poll).
  EXPECT_EQ(op.status[1].back(), PageAccess::counterText(link->PollConfirms, link->WriteFailures,
                                                         link->ReadFailures, 32));
  // Without the ECC the flips are there to see.
  PageBuffer raw{};
  ASSERT_TRUE(flash->ReadPage(raw.data(), 1025, 0));
  PageBuffer encoded = payloads[1];
  HammingCode().EncodePage(encoded.data());
  EXPECT_NE(raw, encoded);
}

TEST_F(FlashDeviceTest, RawPagesAndErasedPages) {
  ASSERT_TRUE(select(9));
  ASSERT_TRUE(pages->EraseFlashBlock(2048));
  PageBuffer erased{};
  ASSERT_TRUE(pages->ReadFlashPage(erased.data(), 2050, 0));
  EXPECT_TRUE(std::all_of(erased.begin(), erased.end(), [](auto b) { return b == 0xFF; }));
  ASSERT_TRUE(pages->ReadFlashPage(erased.data(), 2050, 1));
  EXPECT_TRUE(std::all_of(erased.begin(), erased.begin() + kPayloadBytes,
                          [](auto b) { return b == 0xFF; }));
  EXPECT_EQ(flash->Corrections, 0u);

  std::mt19937 rng(3);
  PageBuffer page;
  for (auto& b : page) b = std::uint8_t(rng());
  PageBuffer buffer = page;
  ASSERT_TRUE(pages->WriteFlashPage(buffer.data(), 2051, 0));
  EXPECT_EQ(buffer, page);
  PageBuffer back{};
  ASSERT_TRUE(pages->ReadFlashPage(back.data(), 2051, 0));
  EXPECT_EQ(back, page);
}

// A reply later than the link waits makes it ask again; the late reply then comes while a later
// piece is awaited, with that piece's length and code. No read may hand it on as page data: an
// ECC page would not decode, and a raw page (a thumbnail) counts only from a transfer without
// resends once earlier late replies had time to arrive. A read may fail instead; its caller
// tries again.
TEST_F(FlashDeviceTest, LateRepliesNeverBecomePageData) {
  std::mt19937 rng(17);
  std::vector<PageBuffer> stored;
  for (std::uint32_t row = 0; row < 24; ++row) {
    PageBuffer page = randomPayload(rng);
    HammingCode().EncodePage(page.data());
    ASSERT_TRUE(sim->writePage(6, 4096 + row, page.data()));
    stored.push_back(page);
  }
  for (const int ecc : {1, 0}) {
    SCOPED_TRACE(ecc ? "with the ECC" : "raw");
    ASSERT_TRUE(select(6));
    devsim::FaultPlan late;
    late.seed = 5;
    late.delayShare = 0.05;
    late.delayMicros = 180000;  // beyond the link's 150 ms wait for a reply
    sim->setFaults(late);
    const std::int32_t resends = link->ReadResends;
    int handedOn = 0;
    for (std::uint32_t row = 0; row < stored.size(); ++row) {
      PageBuffer page{};
      if (!pages->ReadFlashPage(page.data(), 4096 + row, ecc)) continue;
      ++handedOn;
      PageBuffer expected = stored[row];
      if (ecc) HammingCode().DecodePage(expected.data());
      const std::size_t n = ecc ? kPayloadBytes : kPageBytes;
      EXPECT_TRUE(std::equal(page.begin(), page.begin() + static_cast<long>(n), expected.begin()))
          << "row " << row;
    }
    sim->setFaults({});
    EXPECT_GT(link->ReadResends, resends) << "the late replies made the link ask again";
    EXPECT_GT(handedOn, 0);
  }
}

TEST_F(FlashDeviceTest, ChipFaultsEndAtThePollLimits) {
  devsim::FaultPlan faults;
  faults.failProgram = {{4, 10}};
  faults.failErase = {{4, 11}};
  start(faults);
  ASSERT_TRUE(select(4));
  PageBuffer page{};
  op.cursor = Operator::Cursor::Wait;
  EXPECT_FALSE(pages->WriteFlashPage(page.data(), 10 * 256 + 3, 1));
  EXPECT_EQ(op.messages, std::vector<std::string>{"Write error. Try again."});
  EXPECT_EQ(op.cursor, Operator::Cursor::Arrow);
  EXPECT_FALSE(pages->EraseFlashBlock(11 * 256));
  EXPECT_EQ(op.messages.size(), 1u);
  EXPECT_TRUE(pages->EraseFlashBlock(12 * 256));

  // A chip that stays busy a while: within 30 reads a program passes, beyond it fails; an
  // erase waits up to 1000.
  faults = {};
  faults.busyReads = 29;
  sim->setFaults(faults);
  page = {};
  EXPECT_TRUE(pages->WriteFlashPage(page.data(), 12 * 256, 1));
  faults.busyReads = 30;
  sim->setFaults(faults);
  page = {};
  EXPECT_FALSE(pages->WriteFlashPage(page.data(), 12 * 256 + 1, 1));
  faults.busyReads = 999;
  sim->setFaults(faults);
  EXPECT_TRUE(pages->EraseFlashBlock(13 * 256));
  faults.busyReads = 1000;
  sim->setFaults(faults);
  EXPECT_FALSE(pages->EraseFlashBlock(14 * 256));
}

TEST_F(FlashDeviceTest, LeftoverRepliesNeverPassForPageData) {
  // Weak bits in a few groups of every page, under replies repeated or arriving after the
  // link's receive wait: a page read hands on exactly the programmed payload or fails with the
  // operator's message; with repeated replies it must succeed.
  std::mt19937 rng(31);
  constexpr std::uint32_t kFirst = 768;
  constexpr std::uint32_t kRows = 4;
  std::vector<PageBuffer> payloads;
  ASSERT_TRUE(select(0));
  ASSERT_TRUE(pages->EraseFlashBlock(kFirst));
  for (std::uint32_t row = kFirst; row < kFirst + kRows; ++row) {
    payloads.push_back(randomPayload(rng));
    PageBuffer buffer = payloads.back();
    ASSERT_TRUE(pages->WriteFlashPage(buffer.data(), row, 1));
  }
  std::vector<devsim::BitFlip> flips;
  for (std::uint32_t row = kFirst; row < kFirst + kRows; ++row)
    for (int g : {1, 333, 908}) flips.push_back({0, row, static_cast<std::uint16_t>(9 * g + 2), 6});

  struct Case {
    const char* name;
    devsim::FaultPlan faults;
    std::uint32_t rows;
    bool mustSucceed;
  };
  const Case cases[] = {
      {"every reply twice", {.seed = 4, .duplicateReplyShare = 1.0, .flips = flips}, kRows, true},
      {"some replies 200 ms late",
       {.seed = 2, .delayShare = 0.3, .delayMicros = 200000, .flips = flips},
       kRows,
       false},
      {"every reply 200 ms late",
       {.seed = 2, .delayShare = 1.0, .delayMicros = 200000, .flips = flips},
       1,
       false},
  };
  for (const auto& c : cases) {
    sim->setFaults(c.faults);
    for (std::uint32_t i = 0; i < c.rows; ++i) {
      op.messages.clear();
      const std::uint32_t corrections = flash->Corrections;
      PageBuffer buffer{};
      const bool ok = pages->ReadFlashPage(buffer.data(), kFirst + i, 1);
      if (ok) {
        EXPECT_EQ(buffer, payloads[i]) << c.name << " row " << i;
        EXPECT_EQ(flash->Corrections - corrections, 3u) << c.name << " row " << i;
      } else {
        EXPECT_FALSE(c.mustSucceed) << c.name << " row " << i;
        EXPECT_EQ(op.messages, std::vector<std::string>{"Read error. Try again."}) << c.name;
      }
    }
  }
}

}  // namespace
}  // namespace orvana
