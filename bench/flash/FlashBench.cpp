// Flash engine figures: page ECC throughput, and page program / read rates against the
// simulated device, each beside the bound set by the loopback floor measured in the same round.
// A program is 12 exchanges (set-up list, eight 1 KiB writes, confirm list, status list + 1-byte
// read); a read is 9 (list, eight 1 KiB reads).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "LoopbackFloor.h"
#include "common/Operator.h"
#include "devsim/DeviceSimulator.h"
#include "flash/HammingCode.h"
#include "flash/PageAccess.h"
#include "flash/ZT_FLASH.h"
#include "link/ITF_ZT.h"
#include "link/TimingTable.h"

namespace {

using namespace orvana;
using bench::Shape;
using bench::wallMicros;

struct EccFigures {
  double encodeUs = 0;  // per page
  double decodeUs = 0;
};

EccFigures measureEcc() {
  std::mt19937 rng(1);
  PageBuffer source;
  for (auto& b : source) b = static_cast<std::uint8_t>(rng());
  HammingCode code;
  PageBuffer page = source;
  volatile std::uint32_t sink = 0;

  EccFigures f;
  int pages = 0;
  double t0 = wallMicros();
  while (wallMicros() - t0 < 1e6) {
    for (int i = 0; i < 256; ++i) {
      page = source;
      code.EncodePage(page.data());
    }
    pages += 256;
  }
  f.encodeUs = (wallMicros() - t0) / pages;

  PageBuffer encoded = source;
  code.EncodePage(encoded.data());
  encoded[100] ^= 0x08;  // one correction per page keeps the correcting branch in the loop
  pages = 0;
  t0 = wallMicros();
  while (wallMicros() - t0 < 1e6) {
    for (int i = 0; i < 256; ++i) {
      page = encoded;
      sink = sink + code.DecodePage(page.data());
    }
    pages += 256;
  }
  f.decodeUs = (wallMicros() - t0) / pages;
  return f;
}

struct Bounds {
  double programUs = 0;  // per page, at the floor's per-shape times
  double readUs = 0;
};

Bounds boundsFrom(const std::array<bench::Figures, 4>& floor) {
  auto us = [&](Shape s) { return floor[static_cast<std::size_t>(s)].microsPerExchange(); };
  Bounds b;
  b.programUs = 8 * us(Shape::BigWrite) + 3 * us(Shape::SmallWrite) + us(Shape::SmallRead);
  b.readUs = us(Shape::SmallWrite) + 8 * us(Shape::BigRead);
  return b;
}

// One simulated device, link, sequencer and page access, as the programs use them.
struct Rig {
  Rig() {
    devsim::DeviceSimulatorOptions options;
    options.replyPort = hostPort();
    options.recordTraffic = false;
    sim = std::make_unique<devsim::DeviceSimulator>(options);
    if (!sim->start()) return;
    ResetTimingTable();
    link = std::make_unique<ITF_ZT>("127.0.0.1", sim->port(), op, hostPort());
    flash = std::make_unique<ZT_FLASH>(*link);
    pages = std::make_unique<PageAccess>(*link, *flash, op);
  }
  // A port on loopback that was free a moment ago.
  static std::uint16_t hostPort() {
    static const std::uint16_t port = [] {
      const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
      sockaddr_in addr{};
      addr.sin_family = AF_INET;
      addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      socklen_t len = sizeof addr;
      ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
      ::close(fd);
      return ntohs(addr.sin_port);
    }();
    return port;
  }
  bool ok() const { return link && link->IsConnected(); }

  SilentOperator op;
  std::unique_ptr<devsim::DeviceSimulator> sim;
  std::unique_ptr<ITF_ZT> link;
  std::unique_ptr<ZT_FLASH> flash;
  std::unique_ptr<PageAccess> pages;
};

struct Rates {
  double programUs = 0;
  double readUs = 0;
  bool ok = true;
};

// Programs `n` pages (n <= 256) with ECC into the freshly erased block `block` of `chip`, then
// reads them back.
Rates measurePages(Rig& rig, int chip, std::uint32_t block, int n) {
  Rates r;
  std::mt19937 rng(static_cast<std::uint32_t>(chip));
  std::vector<PageBuffer> payloads(static_cast<std::size_t>(n));
  for (auto& p : payloads)
    for (int i = 0; i < kPayloadBytes; ++i) p[static_cast<std::size_t>(i)] = std::uint8_t(rng());
  r.ok = rig.flash->SetChipSelect(chip) && rig.pages->BeginFlashAccess();
  const std::uint32_t first = block * 256;
  r.ok = r.ok && rig.pages->EraseFlashBlock(first);
  if (!r.ok) return r;

  std::vector<PageBuffer> buffers = payloads;
  double t0 = wallMicros();
  for (int i = 0; i < n && r.ok; ++i)
    r.ok = rig.pages->WriteFlashPage(buffers[static_cast<std::size_t>(i)].data(),
                                     first + static_cast<std::uint32_t>(i), 1);
  r.programUs = (wallMicros() - t0) / n;

  PageBuffer back{};
  t0 = wallMicros();
  for (int i = 0; i < n && r.ok; ++i) {
    r.ok = rig.pages->ReadFlashPage(back.data(), first + static_cast<std::uint32_t>(i), 1) &&
           back == payloads[static_cast<std::size_t>(i)];
  }
  r.readUs = (wallMicros() - t0) / n;
  rig.pages->EndFlashAccess();
  return r;
}

// One DelayTick, timed over enough of them to smooth the clock's granularity.
double pauseMicros() {
  const double t0 = wallMicros();
  for (int i = 0; i < 100; ++i) DelayTick();
  return (wallMicros() - t0) / 100;
}

}  // namespace

int main(int argc, char** argv) {
  // Short interleaved rounds: on a shared machine the floor and the page rates see the same
  // load only when they are measured close together.
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 12;
  const int pagesPerRound = 256;

  const EccFigures ecc = measureEcc();
  const double mb = kPageBytes / 1e6;
  std::printf("ECC encode: %7.2f us/page %7.0f MB/s\n", ecc.encodeUs, mb / (ecc.encodeUs * 1e-6));
  std::printf("ECC decode: %7.2f us/page %7.0f MB/s\n", ecc.decodeUs, mb / (ecc.decodeUs * 1e-6));

  Rig rig;
  if (!rig.ok()) {
    std::printf("simulated device not reachable\n");
    return 1;
  }
  std::vector<double> programRatios, readRatios, readTickRatios;
  Bounds best{1e30, 1e30};
  Rates fastest{1e30, 1e30, true};
  std::printf("\n%d rounds of %d pages; bound = exchanges at the floor's per-shape times\n", rounds,
              pagesPerRound);
  std::printf("%-6s %12s %12s %7s %12s %12s %7s %9s %7s\n", "round", "program us", "bound us",
              "ratio", "read us", "bound us", "ratio", "pause us", "+pause");
  for (int round = 0; round < rounds; ++round) {
    const Bounds bound = boundsFrom(bench::measureLoopbackFloor(1500));
    const Rates r =
        measurePages(rig, round % 12, 20 + static_cast<std::uint32_t>(round / 12), pagesPerRound);
    if (!r.ok) {
      std::printf("round %d: a page operation failed\n", round);
      return 1;
    }
    // The read waits one pause for the chip to load the page, and no exchange covers it. A
    // loaded machine can stretch the pause, so it is timed in each round.
    const double tickUs = pauseMicros();
    // Rate ratio: pages per second achieved over pages per second at the bound.
    const double programRatio = bound.programUs / r.programUs;
    const double readRatio = bound.readUs / r.readUs;
    programRatios.push_back(programRatio);
    readRatios.push_back(readRatio);
    readTickRatios.push_back((bound.readUs + tickUs) / r.readUs);
    best.programUs = std::min(best.programUs, bound.programUs);
    best.readUs = std::min(best.readUs, bound.readUs);
    fastest.programUs = std::min(fastest.programUs, r.programUs);
    fastest.readUs = std::min(fastest.readUs, r.readUs);
    std::printf("%-6d %12.1f %12.1f %6.0f%% %12.1f %12.1f %6.0f%% %9.1f %6.0f%%\n", round,
                r.programUs, bound.programUs, 100 * programRatio, r.readUs, bound.readUs,
                100 * readRatio, tickUs, 100 * readTickRatios.back());
  }
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  // Encode + decode against the cheaper of the two page transfers at the best bound.
  const double eccShare = (ecc.encodeUs + ecc.decodeUs) / std::min(best.programUs, best.readUs);
  std::printf(
      "\nbest of rounds: program %.1f us (%.0f pages/s) vs bound %.1f us: %.0f%%; "
      "read %.1f us (%.0f pages/s) vs bound %.1f us: %.0f%%\n",
      fastest.programUs, 1e6 / fastest.programUs, best.programUs,
      100 * best.programUs / fastest.programUs, fastest.readUs, 1e6 / fastest.readUs, best.readUs,
      100 * best.readUs / fastest.readUs);
  std::printf("median of per-round ratios: program %.0f%%, read %.0f%% (target >= 80%%)\n",
              100 * median(programRatios), 100 * median(readRatios));
  std::printf("read against bound + the pause timed in its round: median %.0f%%\n",
              100 * median(readTickRatios));
  std::printf(
      "ECC encode+decode %.2f us = %.1f%% of a page transfer at the bound (target < 10%%)\n",
      ecc.encodeUs + ecc.decodeUs, 100 * eccShare);
  return 0;
}
