#include "flash/HammingCode.h"

#include <array>
#include <bit>
#include <cstring>

namespace orvana {

namespace {

constexpr bool isPowerOfTwo(int v) {
  return v > 0 && (v & (v - 1)) == 0;
}

constexpr std::array<std::uint8_t, 64> makePositions() {
  std::array<std::uint8_t, 64> positions{};
  int bit = 0;
  for (int p = 3; bit < 64; ++p) {
    if (!isPowerOfTwo(p)) positions[bit++] = static_cast<std::uint8_t>(p);
  }
  return positions;
}

constexpr auto kPositions = makePositions();

// kByteCheck[k][v]: contribution of value v in data byte k, so a group's check value is the XOR
// of eight look-ups instead of 64 bit tests.
constexpr std::array<std::array<std::uint8_t, 256>, 8> makeByteCheck() {
  std::array<std::array<std::uint8_t, 256>, 8> table{};
  for (int k = 0; k < 8; ++k) {
    for (int v = 0; v < 256; ++v) {
      std::uint8_t c = 0;
      for (int b = 0; b < 8; ++b) {
        if (v & (1 << b)) c = static_cast<std::uint8_t>(c ^ kPositions[8 * k + b]);
      }
      table[k][v] = c;
    }
  }
  return table;
}

constexpr auto kByteCheck = makeByteCheck();

// Syndrome (0..127) to data bit, -1 where nothing is to be corrected.
constexpr std::array<std::int8_t, 128> makeSyndromeBits() {
  std::array<std::int8_t, 128> table{};
  for (auto& t : table) t = -1;
  for (int i = 0; i < 64; ++i) table[kPositions[i]] = static_cast<std::int8_t>(i);
  return table;
}

constexpr auto kSyndromeBits = makeSyndromeBits();

static_assert(kPositions[0] == 3 && kPositions[7] == 12 && kPositions[63] == 71);
static_assert(HammingCode::kGroups * HammingCode::kDataBytes == kPayloadBytes);
static_assert(HammingCode::kGroups * HammingCode::kStoredBytes + 2 == kPageBytes);

inline std::uint8_t groupCheck(const std::uint8_t* d) {
  return static_cast<std::uint8_t>(kByteCheck[0][d[0]] ^ kByteCheck[1][d[1]] ^ kByteCheck[2][d[2]] ^
                                   kByteCheck[3][d[3]] ^ kByteCheck[4][d[4]] ^ kByteCheck[5][d[5]] ^
                                   kByteCheck[6][d[6]] ^ kByteCheck[7][d[7]]);
}

// An erased group (nine 0xFF bytes, syndrome 0x80) with at most one bit that reads as 0: a
// weak cell of an unprogrammed page, not a transfer fault.
inline bool nearlyErased(const std::uint8_t* stored) {
  int zeros = 0;
  for (int i = 0; i < HammingCode::kStoredBytes; ++i)
    zeros += std::popcount(static_cast<unsigned>(static_cast<std::uint8_t>(~stored[i])));
  return zeros <= 1;
}

}  // namespace

int HammingCode::codePosition(int dataBit) {
  return kPositions[static_cast<unsigned>(dataBit)];
}

int HammingCode::dataBitAt(unsigned s) {
  return s < 128 ? kSyndromeBits[s] : -1;
}

std::uint8_t HammingCode::EccCheck(const std::uint8_t* data) {
  std::uint8_t c = groupCheck(data);
  checkValue_ = c;
  return c;
}

void HammingCode::EncodePage(std::uint8_t* page) {
  // Groups spread forward (8 bytes in, 9 out), so working from the last group down never
  // overwrites payload that is still to be read; no scratch page needed.
  for (int g = kGroups - 1; g >= 0; --g) {
    std::uint8_t group[kDataBytes];
    std::memcpy(group, page + kDataBytes * g, kDataBytes);
    std::uint8_t* out = page + kStoredBytes * g;
    std::memcpy(out, group, kDataBytes);
    out[kDataBytes] = groupCheck(group);
  }
  page[kPageBytes - 2] = 0;
  page[kPageBytes - 1] = 0;
  checkValue_ = page[kStoredBytes * (kGroups - 1) + kDataBytes];
}

HammingCode::PageReport HammingCode::DecodePageReport(std::uint8_t* page) {
  // Groups shrink (9 bytes in, 8 out), so working upward is safe in place.
  PageReport report;
  for (int g = 0; g < kGroups; ++g) {
    std::uint8_t group[kDataBytes];
    const std::uint8_t* in = page + kStoredBytes * g;
    std::memcpy(group, in, kDataBytes);
    const unsigned s = static_cast<unsigned>(groupCheck(group) ^ in[kDataBytes]);
    const int bit = s < 128 ? kSyndromeBits[s] : -1;
    if (bit >= 0) {
      group[bit >> 3] = static_cast<std::uint8_t>(group[bit >> 3] ^ (1u << (bit & 7)));
      ++report.corrected;
    } else if (s != 0 && !isPowerOfTwo(static_cast<int>(s)) && !nearlyErased(in)) {
      // Not one wrong data bit, not one wrong check bit (0x80 included): left as stored.
      ++report.unexplained;
    }
    std::memcpy(page + kDataBytes * g, group, kDataBytes);
  }
  std::memset(page + kPayloadBytes, 0, kPageBytes - kPayloadBytes);
  return report;
}

}  // namespace orvana
