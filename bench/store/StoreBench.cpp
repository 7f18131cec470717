// Clip store figures against the simulated device: read-back speed beside the page-read bound
// set by the loopback floor of the same run, a full format of one chip, and the memory a long
// read-back takes above the program's idle size.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "LoopbackFloor.h"
#include "common/Operator.h"
#include "devsim/DeviceSimulator.h"
#include "link/TimingTable.h"
#include "store/StoreStack.h"

using namespace orvana;

namespace {

// VmRSS / VmHWM of this process in KiB.
double procStatusKiB(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::string k = std::string(key) + ":";
  while (std::getline(in, line))
    if (line.rfind(k, 0) == 0) return std::strtod(line.c_str() + k.size(), nullptr);
  return -1;
}

// Starts a new peak from the current size (Linux: "5" to clear_refs resets VmHWM).
bool resetPeak() {
  std::ofstream out("/proc/self/clear_refs");
  out << "5";
  return static_cast<bool>(out.flush());
}

// A UDP port on 127.0.0.1 that the kernel just handed out, for the host's replies.
std::uint16_t freeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return 0;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  std::uint16_t port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  close(fd);
  return port;
}

}  // namespace

int main(int argc, char** argv) {
  const int readFrames = argc > 1 ? std::atoi(argv[1]) : 250;
  const int loopFrames = 10;
  char folder[] = "/tmp/orvana-store-bench-XXXXXX";
  if (!mkdtemp(folder)) return 1;
  setenv("ORVANA_HOME", folder, 1);
  setenv("ORVANA_DEVICE", "127.0.0.1", 1);

  devsim::DeviceSimulatorOptions options;
  options.replyPort = 0;
  options.recordTraffic = false;
  // The server spins between requests as the floor's peer does, so both are measured alike.
  options.spinMicros = 20000;
  const std::uint16_t hostPort = freeLoopbackPort();
  if (hostPort == 0) return 1;
  options.replyPort = hostPort;
  devsim::DeviceSimulator sim(options);
  if (!sim.start()) {
    std::fprintf(stderr, "simulator: %s\n", sim.error().c_str());
    return 1;
  }
  SilentOperator op;
  StoreStack stack("127.0.0.1", sim.port(), op, hostPort);
  DeviceFlashPort& port = stack.port;
  ClipStore& store = stack.store;
  store.SelectChip(0);

  // (1) full format of one chip: 4,093 block erases and the system area.
  const double tf = bench::wallMicros();
  const bool formatted = store.FormatChip(false);
  const double formatS = (bench::wallMicros() - tf) / 1e6;
  std::printf("(1) full format of one chip: %.2f s (%s, %d cells free)\n", formatS,
              formatted ? "ok" : "FAILED", store.CountFreeCells());
  if (!formatted) return 1;

  // A looping logo of 10 frames; the read-back follows its chain round and round.
  store.hooks.LoopChecked = [] { return true; };
  std::vector<std::uint8_t> frame(static_cast<std::size_t>(kFramePages) * kPageSize);
  store.ClearPendingMap();
  port.BeginFlashAccess();
  for (int i = 0; i < loopFrames; ++i) {
    std::fill(frame.begin(), frame.end(), static_cast<std::uint8_t>(i));
    if (store.WriteFrame(frame.data(), 0, 2, loopFrames, i) != 0) return 1;
  }
  store.SetClipRecord(0, 1920, 1080, 2, 0, "bench", loopFrames, loopFrames, 0,
                      static_cast<std::uint32_t>(store.ClipStartPage));
  if (!store.SaveDirectory()) return 1;
  port.EndFlashAccess();
  frame = {};
  frame.shrink_to_fit();

  // (2) floor and (3) read-back, interleaved round by round so the shared machine's load hits
  // them alike; each takes its best round. A page read is one small list write and eight
  // 1024-byte data reads.
  const int rounds = 5;
  const int roundFrames = 50;
  const int roundPages = roundFrames * kFramePages;
  bench::Rounds smallWrite, bigRead;
  double bareUs = 1e18, readUs = 1e18;
  std::vector<std::uint8_t> page(kPageSize);
  store.ClipDirectory[0].FrameCount = static_cast<std::uint16_t>(roundFrames);
  for (int r = 0; r < rounds; ++r) {
    smallWrite.add(bench::measureLoopbackFloor(bench::Shape::SmallWrite, 2000));
    bigRead.add(bench::measureLoopbackFloor(bench::Shape::BigRead, 2000));
    port.BeginFlashAccess();
    double t = bench::wallMicros();
    for (int i = 0; i < roundPages; ++i)
      if (!port.ReadFlashPage(page.data(), static_cast<std::uint32_t>(768 + i % (loopFrames * 128)),
                              1))
        return 1;
    bareUs = std::min(bareUs, (bench::wallMicros() - t) / roundPages);
    port.EndFlashAccess();
    t = bench::wallMicros();
    if (!store.ReadClipBack(0)) return 1;
    readUs = std::min(readUs, (bench::wallMicros() - t) / roundPages);
  }
  const double pageFloorUs =
      smallWrite.best().microsPerExchange() + 8 * bigRead.best().microsPerExchange();
  const double boundMBs = 8192.0 / pageFloorUs;
  const double bareMBs = 8192.0 / bareUs;
  const double readMBs = 8192.0 / readUs;
  std::printf(
      "(2) floor: page read bound %.1f us/page (9 exchanges, best of %d rounds) = %.1f MB/s\n",
      pageFloorUs, rounds, boundMBs);
  std::printf(
      "    bare page reads through the link: %.1f us/page = %.1f MB/s, %.0f%% of the bound\n",
      bareUs, bareMBs, 100.0 * bareMBs / boundMBs);
  std::printf(
      "(3) read-back, %d frames per round: %.1f us/page = %.1f MB/s, %.0f%% of the "
      "page-read bound, %.0f%% of the bare page reads\n",
      roundFrames, readUs, readMBs, 100.0 * readMBs / boundMBs, 100.0 * readMBs / bareMBs);
  // Every page read waits one tick for the chip to load the page; no device can
  // answer faster than that, so the bound with the pause is the one to reach.
  const double tickStart = bench::wallMicros();
  for (int i = 0; i < 2000; ++i) DelayTick();
  const double tickUs = (bench::wallMicros() - tickStart) / 2000;
  std::printf(
      "    with the %.1f us pause before each page's data: bound %.1f us/page, read-back "
      "%.0f%% of it (target >= 80%%)\n",
      tickUs, pageFloorUs + tickUs, 100.0 * (pageFloorUs + tickUs) / readUs);

  // (4) one long read-back and the memory it takes above the idle size.
  store.ClipDirectory[0].FrameCount = static_cast<std::uint16_t>(readFrames);
  const auto file = ClipStore::ClipFilePath(0, 0);
  const double idleKiB = procStatusKiB("VmRSS");
  const bool peakReset = resetPeak();
  const double t0 = bench::wallMicros();
  const bool read = store.ReadClipBack(0);
  const double readS = (bench::wallMicros() - t0) / 1e6;
  const double peakKiB = procStatusKiB("VmHWM");
  std::printf("(4) read-back of %d frames: %s, %ju bytes in %.2f s = %.1f MB/s\n", readFrames,
              read ? "ok" : "FAILED",
              static_cast<std::uintmax_t>(read ? std::filesystem::file_size(file) : 0), readS,
              readFrames * 598016.0 / 1e6 / readS);
  if (peakReset)
    std::printf(
        "    memory: idle %.1f MiB, peak during read-back %.1f MiB, +%.1f MiB (target < 64 "
        "MiB)\n",
        idleKiB / 1024.0, peakKiB / 1024.0, (peakKiB - idleKiB) / 1024.0);
  else
    std::printf("    memory: peak reset not available here\n");

  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
  return read ? 0 : 1;
}
