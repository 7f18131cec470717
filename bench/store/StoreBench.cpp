// Clip store figures against the simulated device: read-back speed beside the page-read bound
// set by the loopback floor of the same run, a full format of one chip, and the memory a long
// read-back takes above the program's idle size.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "LoopbackFloor.h"
#include "common/Operator.h"
#include "devsim/DeviceSimulator.h"
#include "flash/PageAccess.h"
#include "flash/ZT_FLASH.h"
#include "link/ITF_ZT.h"
#include "store/ClipStore.h"
#include "store/DeviceFlashPort.h"

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
  ITF_ZT link("127.0.0.1", sim.port(), op, hostPort);
  ZT_FLASH flash(link);
  PageAccess access(link, flash, op);
  DeviceFlashPort port(access);
  ClipStore store(port, op);
  store.SelectChip(0);

  // (1) full format of one chip: 4,093 block erases and the system area.
  double t0 = bench::wallMicros();
  const bool formatted = store.FormatChip(false);
  const double formatS = (bench::wallMicros() - t0) / 1e6;
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

  // (2) floor: a page read is one small list write and eight 1024-byte data reads. The shared
  // machine's load drifts, so the floor is taken just before and just after the read-back.
  auto pageFloor = [] {
    const auto floor = bench::measureLoopbackFloor(5000);
    return floor[static_cast<int>(bench::Shape::SmallWrite)].microsPerExchange() +
           8 * floor[static_cast<int>(bench::Shape::BigRead)].microsPerExchange();
  };
  const double floorBeforeUs = pageFloor();

  // (2b) the same number of bare page reads through the page access, for the store's own cost.
  std::vector<std::uint8_t> page(kPageSize);
  const int barePages = readFrames * kFramePages;
  port.BeginFlashAccess();
  double t0b = bench::wallMicros();
  for (int i = 0; i < barePages; ++i)
    if (!port.ReadFlashPage(page.data(), static_cast<std::uint32_t>(768 + i % (loopFrames * 128)),
                            1))
      return 1;
  const double bareUs = (bench::wallMicros() - t0b) / barePages;
  port.EndFlashAccess();

  // (3) read-back of readFrames frames, and its peak memory above idle.
  store.ClipDirectory[0].FrameCount = static_cast<std::uint16_t>(readFrames);
  const auto file = ClipStore::ClipFilePath(0, 0);
  const double idleKiB = procStatusKiB("VmRSS");
  const bool peakReset = resetPeak();
  t0 = bench::wallMicros();
  const bool read = store.ReadClipBack(0);
  const double readS = (bench::wallMicros() - t0) / 1e6;
  const double peakKiB = procStatusKiB("VmHWM");
  const double floorAfterUs = pageFloor();
  const double pageFloorUs = (floorBeforeUs + floorAfterUs) / 2;
  const double boundMBs = 8192.0 / pageFloorUs;
  std::printf(
      "(2) floor: page read bound %.1f us/page (9 exchanges; %.1f before, %.1f after) = "
      "%.1f MB/s\n",
      pageFloorUs, floorBeforeUs, floorAfterUs, boundMBs);
  std::printf(
      "    bare page reads through the link: %.1f us/page = %.1f MB/s, %.0f%% of the "
      "bound\n",
      bareUs, 8192.0 / bareUs, 100.0 * pageFloorUs / bareUs);
  const double bytes = 72.0 + readFrames * 598016.0;
  const double mbs = (readFrames * 598016.0) / 1e6 / readS;
  std::printf(
      "(3) read-back of %d frames: %s, %.0f bytes in %.2f s = %.1f MB/s, %.0f%% of the "
      "page-read bound\n",
      readFrames, read ? "ok" : "FAILED", bytes, readS, mbs, 100.0 * mbs / boundMBs);
  std::printf("    file %s: %ju bytes\n", file.filename().c_str(),
              static_cast<std::uintmax_t>(read ? std::filesystem::file_size(file) : 0));
  if (peakReset)
    std::printf(
        "(4) memory: idle %.1f MiB, peak during read-back %.1f MiB, +%.1f MiB (target "
        "< 64 MiB)\n",
        idleKiB / 1024.0, peakKiB / 1024.0, (peakKiB - idleKiB) / 1024.0);
  else
    std::printf("(4) memory: peak reset not available here\n");

  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
  return read ? 0 : 1;
}
