#include "flash/HammingCode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <vector>

namespace orvana {
namespace {

using Group = std::array<std::uint8_t, 8>;

PageBuffer randomPayloadPage(std::uint32_t seed) {
  std::mt19937 rng(seed);
  PageBuffer page{};
  for (auto& b : page) b = static_cast<std::uint8_t>(rng());
  return page;  // bytes past the payload are noise the encoder must drop
}

std::vector<std::uint8_t> payloadOf(const PageBuffer& page) {
  return {page.begin(), page.begin() + kPayloadBytes};
}

void flipBit(PageBuffer& page, int byte, int bit) {
  page[static_cast<std::size_t>(byte)] ^= static_cast<std::uint8_t>(1u << bit);
}

bool tailIsZero(const PageBuffer& page) {
  return std::all_of(page.begin() + kPayloadBytes, page.end(), [](auto b) { return b == 0; });
}

TEST(HammingCode, CheckValueTable) {
  struct Case {
    Group data;
    std::uint8_t check;
  };
  const Case cases[] = {
      {{0, 0, 0, 0, 0, 0, 0, 0}, 0x00},
      {{0x01, 0, 0, 0, 0, 0, 0, 0}, 0x03},
      {{0x80, 0, 0, 0, 0, 0, 0, 0}, 0x0C},
      {{0, 0, 0, 0, 0, 0, 0, 0x80}, 0x47},
      {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0x7F},
      {{'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'}, 0x55},
  };
  HammingCode code;
  for (const auto& c : cases) {
    EXPECT_EQ(code.EccCheck(c.data.data()), c.check);
    EXPECT_EQ(code.checkValue(), c.check);
  }
}

TEST(HammingCode, CodePositionsSkipPowersOfTwo) {
  EXPECT_EQ(HammingCode::codePosition(0), 3);
  EXPECT_EQ(HammingCode::codePosition(1), 5);
  EXPECT_EQ(HammingCode::codePosition(2), 6);
  EXPECT_EQ(HammingCode::codePosition(3), 7);
  EXPECT_EQ(HammingCode::codePosition(4), 9);
  EXPECT_EQ(HammingCode::codePosition(7), 12);
  EXPECT_EQ(HammingCode::codePosition(63), 71);
  // Single-bit check values agree with the positions, bit by bit.
  HammingCode code;
  for (int i = 0; i < 64; ++i) {
    Group g{};
    g[static_cast<std::size_t>(i / 8)] = static_cast<std::uint8_t>(1u << (i % 8));
    EXPECT_EQ(code.EccCheck(g.data()), HammingCode::codePosition(i)) << "bit " << i;
    EXPECT_EQ(HammingCode::dataBitAt(static_cast<unsigned>(HammingCode::codePosition(i))), i);
  }
  for (unsigned s : {0u, 1u, 2u, 4u, 8u, 16u, 32u, 64u, 72u, 127u, 128u, 255u}) {
    EXPECT_EQ(HammingCode::dataBitAt(s), -1) << s;
  }
}

TEST(HammingCode, EncodedLayout) {
  PageBuffer page = randomPayloadPage(7);
  const auto payload = payloadOf(page);
  HammingCode code;
  code.EncodePage(page.data());
  for (int g = 0; g < HammingCode::kGroups; ++g) {
    const std::uint8_t* stored = page.data() + 9 * g;
    ASSERT_EQ(0, std::memcmp(stored, payload.data() + 8 * g, 8)) << "group " << g;
    HammingCode ref;
    ASSERT_EQ(stored[8], ref.EccCheck(payload.data() + 8 * g)) << "group " << g;
    ASSERT_EQ(stored[8] & 0x80, 0);
  }
  EXPECT_EQ(page[8190], 0);
  EXPECT_EQ(page[8191], 0);
}

TEST(HammingCode, RandomPayloadsRoundTripWithoutCorrections) {
  HammingCode code;
  for (std::uint32_t seed = 1; seed <= 50; ++seed) {
    PageBuffer page = randomPayloadPage(seed);
    const auto payload = payloadOf(page);
    code.EncodePage(page.data());
    EXPECT_EQ(code.DecodePage(page.data()), 0u);
    EXPECT_EQ(payloadOf(page), payload) << "seed " << seed;
    EXPECT_TRUE(tailIsZero(page));
  }
}

TEST(HammingCode, EverySingleDataBitFlipIsCorrectedAndCountedOnce) {
  HammingCode code;
  PageBuffer clean = randomPayloadPage(99);
  const auto payload = payloadOf(clean);
  code.EncodePage(clean.data());
  // All 64 bits of a handful of groups, including the first and the last.
  for (int g : {0, 1, 455, 908, 909}) {
    for (int bit = 0; bit < 64; ++bit) {
      PageBuffer page = clean;
      flipBit(page, 9 * g + bit / 8, bit % 8);
      ASSERT_EQ(code.DecodePage(page.data()), 1u) << "group " << g << " bit " << bit;
      ASSERT_EQ(payloadOf(page), payload) << "group " << g << " bit " << bit;
    }
  }
  // One flip in every group at once: each group corrects and counts its own.
  PageBuffer page = clean;
  for (int g = 0; g < HammingCode::kGroups; ++g) flipBit(page, 9 * g + (g % 8), (g / 8) % 8);
  EXPECT_EQ(code.DecodePage(page.data()), 910u);
  EXPECT_EQ(payloadOf(page), payload);
}

TEST(HammingCode, CheckBitFlipsLeaveDataAlone) {
  HammingCode code;
  PageBuffer clean = randomPayloadPage(5);
  const auto payload = payloadOf(clean);
  code.EncodePage(clean.data());
  for (int bit = 0; bit < 8; ++bit) {  // bit 7 gives a syndrome of 128 or more
    PageBuffer page = clean;
    flipBit(page, 9 * 3 + 8, bit);
    EXPECT_EQ(code.DecodePage(page.data()), 0u) << "check bit " << bit;
    EXPECT_EQ(payloadOf(page), payload) << "check bit " << bit;
  }
}

TEST(HammingCode, TwoBitErrorIsMiscorrectedAsTheCodeDefines) {
  // Bits 0 and 1 (positions 3 and 5) give syndrome 6, which names data bit 2.
  HammingCode code;
  PageBuffer page{};
  code.EncodePage(page.data());
  page[9 * 2] ^= 0x03;
  EXPECT_EQ(code.DecodePage(page.data()), 1u);
  EXPECT_EQ(page[16], 0x07);
}

TEST(HammingCode, SyndromeAboveHighestPositionIsLeftAlone) {
  // Data bits 63 (position 71) and 13 (position 19) give syndrome 84: no position, kept as stored.
  HammingCode code;
  PageBuffer page{};
  code.EncodePage(page.data());
  page[7] ^= 0x80;
  page[1] ^= 0x20;
  EXPECT_EQ(code.DecodePage(page.data()), 0u);
  EXPECT_EQ(page[7], 0x80);
  EXPECT_EQ(page[1], 0x20);
}

TEST(HammingCode, LetterExampleRestoresBit10) {
  HammingCode code;
  PageBuffer page{};
  std::memcpy(page.data(), "abcdefgh", 8);
  code.EncodePage(page.data());
  EXPECT_EQ(page[8], 0x55);
  page[1] ^= 0x04;  // data bit 10, position 15
  EXPECT_EQ(code.DecodePage(page.data()), 1u);
  EXPECT_EQ(0, std::memcmp(page.data(), "abcdefgh", 8));
}

TEST(HammingCode, ZeroAndErasedPages) {
  HammingCode code;
  PageBuffer zeros{};
  EXPECT_EQ(code.DecodePage(zeros.data()), 0u);
  EXPECT_TRUE(std::all_of(zeros.begin(), zeros.end(), [](auto b) { return b == 0; }));

  PageBuffer erased;
  erased.fill(0xFF);
  EXPECT_EQ(code.DecodePage(erased.data()), 0u);
  EXPECT_TRUE(std::all_of(erased.begin(), erased.begin() + kPayloadBytes,
                          [](auto b) { return b == 0xFF; }));
  EXPECT_TRUE(tailIsZero(erased));
}

TEST(HammingCode, ReportTellsWearFromBytesThatAreNotThePage) {
  // Each case damages an encoded random page (or an erased one) and names what decoding must
  // find; the payload must come back intact in every plausible case but the last two.
  struct Case {
    const char* name;
    bool erased;
    std::vector<std::pair<int, int>> flips;  // stored byte, bit
    std::uint32_t corrected;
    std::uint32_t unexplained;
    bool plausible;
  };
  std::vector<std::pair<int, int>> sixteen, seventeen;
  for (int g = 0; g < 17; ++g) (g < 16 ? sixteen : seventeen).push_back({9 * 50 * g + 4, g % 8});
  seventeen.insert(seventeen.end(), sixteen.begin(), sixteen.end());
  const Case cases[] = {
      {"intact", false, {}, 0, 0, true},
      {"one data bit in two groups", false, {{9 * 3 + 1, 2}, {9 * 909 + 7, 7}}, 2, 0, true},
      {"check bits 0 and 7 of two groups", false, {{9 * 4 + 8, 0}, {9 * 5 + 8, 7}}, 0, 0, true},
      {"sixteen corrected groups", false, sixteen, 16, 0, true},
      {"erased", true, {}, 0, 0, true},
      {"erased with a weak data bit and a weak check bit",
       true,
       {{9 * 7 + 2, 3}, {9 * 8 + 8, 1}},
       0,
       0,
       true},
      {"seventeen corrected groups", false, seventeen, 17, 0, false},
      // Data bits 63 and 13 (positions 71 and 19): syndrome 84, no single bit explains it.
      {"two bits giving syndrome 84", false, {{9 * 6 + 7, 7}, {9 * 6 + 1, 5}}, 0, 1, false},
  };
  for (const auto& c : cases) {
    HammingCode code;
    PageBuffer page = randomPayloadPage(11);
    if (c.erased)
      page.fill(0xFF);
    else
      code.EncodePage(page.data());
    const std::vector<std::uint8_t> payload = c.erased
                                                  ? std::vector<std::uint8_t>(kPayloadBytes, 0xFF)
                                                  : payloadOf(randomPayloadPage(11));
    for (auto [byte, bit] : c.flips) flipBit(page, byte, bit);
    const auto report = code.DecodePageReport(page.data());
    EXPECT_EQ(report.corrected, c.corrected) << c.name;
    EXPECT_EQ(report.unexplained, c.unexplained) << c.name;
    EXPECT_EQ(HammingCode::IsPlausible(report), c.plausible) << c.name;
    if (c.plausible && !c.erased) {
      EXPECT_EQ(payloadOf(page), payload) << c.name;
    }
  }
}

TEST(HammingCode, BytesThatAreNotThePageAreNeverPlausible) {
  // Garbage, and this page with its 1024-byte pieces shifted by one (a stale reply taken for the
  // next one), for many seeds: random syndromes give hundreds of suspect groups.
  for (std::uint32_t seed = 1; seed <= 50; ++seed) {
    HammingCode code;
    PageBuffer garbage = randomPayloadPage(seed);
    EXPECT_FALSE(HammingCode::IsPlausible(code.DecodePageReport(garbage.data()))) << seed;

    PageBuffer page = randomPayloadPage(seed);
    code.EncodePage(page.data());
    PageBuffer shifted{};
    std::copy(page.begin(), page.begin() + 1024, shifted.begin());
    std::copy(page.begin(), page.end() - 1024, shifted.begin() + 1024);
    const auto report = code.DecodePageReport(shifted.data());
    EXPECT_FALSE(HammingCode::IsPlausible(report)) << seed;
    EXPECT_GT(report.unexplained, 100u) << seed;
  }
}

}  // namespace
}  // namespace orvana
