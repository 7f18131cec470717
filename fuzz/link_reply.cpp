// The link's reading of datagrams that arrive while a command is outstanding, and the page ECC
// that takes apart whatever page data they carried.
//
// Input: code (1), sequence (1), data bytes asked of a read (2, LE, low 11 bits), a bit to flip
// (2, LE), then datagrams, each a 2-byte LE length and that many bytes (cut at the input's end).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "flash/HammingCode.h"
#include "flash/PageBuffer.h"
#include "link/ITF_ZT.h"
#include "link/TUDPSocket.h"

using namespace orvana;

namespace {

void require(bool condition) {
  if (!condition) __builtin_trap();
}

// Any payload survives encoding, one flipped stored bit and decoding unchanged.
void eccRoundTrip(const std::uint8_t* data, std::size_t size, unsigned flip) {
  static HammingCode ecc;
  PageBuffer page{};
  for (int i = 0; i < kPayloadBytes; ++i)
    page[static_cast<std::size_t>(i)] = data[static_cast<std::size_t>(i) % size];
  const PageBuffer original = page;
  ecc.EncodePage(page.data());
  const unsigned bit = flip % (HammingCode::kGroups * HammingCode::kStoredBytes * 8u);
  page[bit / 8] = static_cast<std::uint8_t>(page[bit / 8] ^ (1u << (bit % 8)));
  const HammingCode::PageReport report = ecc.DecodePageReport(page.data());
  require(std::memcmp(page.data(), original.data(), kPayloadBytes) == 0);
  require(report.unexplained == 0 && report.corrected <= 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 6) return 0;
  const std::uint8_t code = data[0];
  const std::uint8_t sequence = data[1];
  const int n = (data[2] | (data[3] << 8)) & 0x7FF;
  const unsigned flip = static_cast<unsigned>(data[4] | (data[5] << 8)) * 8u + (data[0] & 7u);
  eccRoundTrip(data, size, flip);

  PageBuffer page;
  page.fill(0xFF);
  int pieces = 0;
  for (std::size_t at = 6; at + 2 <= size;) {
    const std::size_t length = std::min<std::size_t>(data[at] | (data[at + 1] << 8), size - at - 2);
    at += 2;
    // Exactly the datagram's bytes on the heap, so a read past its end is caught.
    std::vector<std::uint8_t> datagram(data + at, data + at + length);
    at += length;
    datagram.reserve(1);
    const std::uint8_t* d = datagram.data();
    const int got = static_cast<int>(length);

    const bool ack = IsAcknowledgement(d, got, code);
    require(!ack || (got == 4 && d[0] == code));
    const int verdict = PollReplyVerdict(d, got, sequence);
    require(verdict == -1 ||
            (got == 5 && d[0] == kCmdPoll && (verdict == 1) == (d[4] == sequence)));

    std::vector<std::uint8_t> destination(static_cast<std::size_t>(std::max(n, 1)), 0xA5);
    if (TakeReadReply(d, got, code, destination.data(), n)) {
      const int offset = 12 + ReplyOffset(code);
      require(n > 0 && got == n + offset && got <= kPacketSize && d[0] == code);
      require(std::memcmp(destination.data(), d + offset, static_cast<std::size_t>(n)) == 0);
      // Page data as the sequencer collects it, piece by piece.
      if (code == 136 && n == 1024 && pieces < 8)
        std::memcpy(page.data() + 1024 * pieces++, destination.data(), 1024);
    }
  }
  if (pieces > 0) {
    static HammingCode ecc;
    const HammingCode::PageReport report = ecc.DecodePageReport(page.data());
    require(report.corrected + report.unexplained <= HammingCode::kGroups);
    (void)HammingCode::IsPlausible(report);
  }
  return 0;
}
