// The write process end to end: a 1920 x 1080 Motion JPEG clip with PCM sound written into
// "Clip 1" (chips 0 and 1) of the simulated device, sequentially and with the next
// frame built while the current one is sent, (a) with replies at once and (b) with every reply
// 100 us late. A third, sequential write has every chip's pass decode the source itself
// instead of taking the frames chip 0's pass built ahead for chip 1. Baseline, measured in the same
// run at the same delay: bare page programs of the same link to the same simulator (ProgramPage
// without ECC, 12 exchanges each), 73 of them per frame; no write can place frames faster than
// that. The simulated device runs as its own process with its flash in memory, so neither its
// storage nor its memory is counted as ours.

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "LoopbackFloor.h"
#include "MjpegClip.h"
#include "common/Operator.h"
#include "common/Paths.h"
#include "flash/HammingCode.h"
#include "link/TimingTable.h"
#include "media/SourceSelection.h"
#include "media/WriteProcess.h"
#include "store/StoreStack.h"

namespace {

using namespace orvana;
using bench::wallMicros;

constexpr int kClipFrames = 50;  // with "Loop": 50 frames placed per chip, no hold frames
constexpr int kFramePagesPerChip = 73;
constexpr double kFrameMB = 598016 / 1e6;

// Answers the prompts with their prefills and keeps what the status bar reports, and when each
// pass's frame loop starts (the progress maximum is set) and ends (its last title update).
class BenchOperator : public SilentOperator {
 public:
  bool prompt(const std::string&, std::string&) override { return true; }
  int choose(const std::string&, const std::vector<std::string>&) override { return 0; }
  void setStatus(int panel, const std::string& text) override {
    const auto at = text.find("speed-");
    if (panel == 0 && at != std::string::npos) speeds.push_back(std::atof(text.c_str() + at + 6));
  }
  void setProgressMax(int) override {
    passStart.push_back(wallMicros());
    passEnd.push_back(passStart.back());
  }
  void setTitle(const std::string& text) override {
    if (text.rfind("Writing", 0) == 0 && !passEnd.empty()) passEnd.back() = wallMicros();
  }
  double loopMicros() const {
    double sum = 0;
    for (std::size_t i = 0; i < passStart.size(); ++i) sum += passEnd[i] - passStart[i];
    return sum;
  }
  std::vector<double> speeds;
  std::vector<double> passStart;
  std::vector<double> passEnd;
};

// `orvana-devsim` as a child process on loopback, replying `delayMicros` late; stopped with the
// object.
class DeviceProcess {
 public:
  DeviceProcess(std::uint16_t replyPort, std::uint32_t delayMicros) {
    int out[2];
    if (::pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<std::string> args = {ORVANA_DEVSIM,
                                     "--address",
                                     "127.0.0.1",
                                     "--port",
                                     "0",
                                     "--reply-port",
                                     std::to_string(replyPort)};
    if (delayMicros > 0) {
      args.push_back("--delay-us");
      args.push_back(std::to_string(delayMicros));
    }
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, ORVANA_DEVSIM, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    // "listening on 127.0.0.1:PORT", within five seconds.
    std::string line;
    pollfd p{out[0], POLLIN, 0};
    char c = 0;
    while (pid_ > 0 && line.find('\n') == std::string::npos && ::poll(&p, 1, 5000) > 0 &&
           ::read(out[0], &c, 1) == 1)
      line += c;
    ::close(out[0]);
    const auto colon = line.rfind(':');
    if (line.rfind("listening on", 0) == 0 && colon != std::string::npos)
      port_ = static_cast<std::uint16_t>(std::atoi(line.c_str() + colon + 1));
  }
  ~DeviceProcess() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  DeviceProcess(const DeviceProcess&) = delete;
  DeviceProcess& operator=(const DeviceProcess&) = delete;
  std::uint16_t port() const { return port_; }

 private:
  pid_t pid_ = -1;
  std::uint16_t port_ = 0;
};

struct Stack {
  Stack(std::uint16_t devicePort, std::uint16_t replyPort) : hostPort(replyPort) {
    ResetTimingTable();
    stack = std::make_unique<StoreStack>("127.0.0.1", devicePort, op, hostPort);
    link = &stack->link;
    flash = &stack->flash;
    access = &stack->access;
    store = &stack->store;
    sources.CreateSources();
    selection = std::make_unique<SourceSelection>(sources, op);
    selection->IsConnected = [this] { return link->IsConnected(); };
    selection->Connect1ButtonClick = [this] { store->ConnectChannel(); };
    writer = std::make_unique<WriteProcess>(*store, *selection, sources, op);
    // The half second the sources get to settle at the start of every chip is no write work.
    writer->SettleMs = 0;
  }

  std::uint16_t hostPort;
  BenchOperator op;
  std::unique_ptr<StoreStack> stack;
  ITF_ZT* link = nullptr;
  ZT_FLASH* flash = nullptr;
  PageAccess* access = nullptr;
  ClipStore* store = nullptr;
  MediaSources sources;
  std::unique_ptr<SourceSelection> selection;
  std::unique_ptr<WriteProcess> writer;
};

// Microseconds of one bare page program (no ECC) into erased blocks of chip 11, which no
// channel uses.
double measureBareProgram(Stack& s, std::uint32_t firstBlock, int pages) {
  std::vector<std::uint8_t> page(8192);
  std::mt19937 rng(7);
  for (auto& b : page) b = static_cast<std::uint8_t>(rng());
  s.flash->SetChipSelect(11);
  s.access->BeginFlashAccess();
  double total = 0;
  int done = 0;
  for (std::uint32_t block = firstBlock; done < pages; ++block) {
    if (!s.access->EraseFlashBlock(block * 256)) break;
    const double t0 = wallMicros();
    int n = 0;
    for (; n < 256 && done + n < pages; ++n)
      if (!s.flash->ProgramPage(page.data(), block * 256 + static_cast<std::uint32_t>(n), 0)) break;
    total += wallMicros() - t0;
    done += n;
    if (n < 256 && done < pages) break;
  }
  s.access->EndFlashAccess();
  return done > 0 ? total / done : 0;
}

double eccMicrosPerPage() {
  std::vector<std::uint8_t> source(8192), page(8192);
  std::mt19937 rng(1);
  for (auto& b : source) b = static_cast<std::uint8_t>(rng());
  HammingCode code;
  int pages = 0;
  const double t0 = wallMicros();
  while (wallMicros() - t0 < 3e5) {
    page = source;
    code.EncodePage(page.data());
    ++pages;
  }
  return (wallMicros() - t0) / pages;
}

// Resident memory now, to tell a peak from memory kept after a write.
double residentMB() {
  long pages = 0, resident = 0;
  if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1048576.0;
}

double peakMB() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_maxrss) / 1024.0;
}

struct RunFigures {
  bool ok = false;
  int frames = 0;
  double loopMicros = 0;   // frame loops of both chips
  double wallMicros = 0;   // the whole write: passes, directory saves, completion
  double reportedMBs = 0;  // mean of the status bar's speeds
  WriteTimings t;
};

// aheadBytes: the memory chip 0's pass may fill with chip 1's frames (0: each pass decodes).
RunFigures writeOnce(Stack& s, bool overlap, std::size_t aheadBytes) {
  RunFigures r;
  s.writer->Overlap = overlap;
  s.writer->AheadBudgetBytes = aheadBytes;
  s.writer->Timings = WriteTimings{};
  s.op.speeds.clear();
  s.op.passStart.clear();
  s.op.passEnd.clear();
  s.selection->Channel = 0;
  s.store->Channel = 0;
  const double t0 = wallMicros();
  s.writer->WriteButtonClick();
  r.wallMicros = wallMicros() - t0;
  r.ok = s.writer->Completed;
  r.t = s.writer->Timings;
  r.frames = r.t.FramesPlaced;
  r.loopMicros = s.op.loopMicros();
  for (double v : s.op.speeds) r.reportedMBs += v;
  if (!s.op.speeds.empty()) r.reportedMBs /= static_cast<double>(s.op.speeds.size());
  return r;
}

}  // namespace

int main() {
  std::random_device rd;
  const auto dir =
      std::filesystem::temp_directory_path() / ("orvana-write-bench-" + std::to_string(rd()));
  std::filesystem::create_directories(dir);
  ::setenv("ORVANA_HOME", dir.c_str(), 1);
  ::setenv("ORVANA_DEVICE", "127.0.0.1", 1);
  const auto clip = dir / "hd-mjpeg.avi";
  if (!bench::WriteMjpegClip(clip, 1920, 1080, kClipFrames)) {
    std::fprintf(stderr, "cannot write the source clip\n");
    return 1;
  }
  std::printf(
      "source: %s, 1920x1080 Motion JPEG (q 3, 4:2:2), PCM 48 kHz stereo, %d frames, %.1f MB\n",
      clip.filename().c_str(), kClipFrames,
      static_cast<double>(std::filesystem::file_size(clip)) / 1e6);

  const double eccUs = eccMicrosPerPage();
  std::printf("ECC encode: %.1f us per page, %.2f ms per frame of %d pages\n", eccUs,
              eccUs * kFramePagesPerChip / 1000, kFramePagesPerChip);
  std::printf(
      "each write: \"Clip 1\" with Loop, %d frames on chip 0 then chip 1 (a new clip number "
      "each time)\n\n",
      kClipFrames);

  bool targetMet = true;
  bool caseAMet = false;
  for (const std::uint32_t delay : {0u, 100u}) {
    // A fresh device per delay; any free loopback port takes its replies.
    const auto hostPort = static_cast<std::uint16_t>(40000 + rd() % 20000);
    DeviceProcess device(hostPort, delay);
    if (device.port() == 0) {
      std::fprintf(stderr, "simulated device did not start\n");
      return 1;
    }
    Stack s(device.port(), hostPort);
    const std::size_t defaultAhead = s.writer->AheadBudgetBytes;
    if (!s.link->IsConnected()) {
      std::fprintf(stderr, "simulated device not reachable\n");
      return 1;
    }
    const double t0 = wallMicros();
    for (int chip : {0, 1}) {
      s.store->SelectChip(chip);
      if (!s.store->FormatChip(false)) {
        std::fprintf(stderr, "format of chip %d failed\n", chip);
        return 1;
      }
    }
    std::printf("format of chips 0 and 1: %.1f s\n", (wallMicros() - t0) / 1e6);
    s.selection->Channel = 0;
    s.selection->LoopChecked = true;
    s.store->Channel = 0;
    s.selection->OpenClipFile(clip.string());
    s.store->ConnectChannel();
    if (s.selection->FramesToWrite != kClipFrames) {
      std::fprintf(stderr, "clip not opened (%d frames)\n", s.selection->FramesToWrite);
      return 1;
    }
    // The bound is measured before and after the two writes; the faster of the two counts, so
    // a slow moment of the shared machine cannot flatter the ratio.
    std::uint32_t nextBlock = 100;
    const double bareBefore = measureBareProgram(s, nextBlock, 512);
    nextBlock += 2;
    struct Kind {
      const char* label;
      bool overlap;
      bool ahead;
    };
    const Kind kinds[3] = {{"each chip decoding", false, false},
                           {"sequential", false, true},
                           {"overlapped", true, true}};
    RunFigures runs[3];
    for (int k = 0; k < 3; ++k)
      runs[k] = writeOnce(s, kinds[k].overlap, kinds[k].ahead ? defaultAhead : 0);
    const double bareAfter = measureBareProgram(s, nextBlock, 512);
    nextBlock += 2;
    const double bareUs = std::min(bareBefore, bareAfter);
    const double boundFrameMs = kFramePagesPerChip * bareUs / 1000;
    std::printf(
        "(%c) every reply %u us late. Bound: bare page program %.1f us (12 exchanges; %.1f before, "
        "%.1f after the writes), %.2f ms per frame, %.2f frames/s per chip, %.2f MB/s\n",
        delay == 0 ? 'a' : 'b', delay, bareUs, bareBefore, bareAfter, boundFrameMs,
        1000 / boundFrameMs, kFrameMB / boundFrameMs * 1000);
    double best = 0;
    for (int k = 0; k < 3; ++k) {
      const RunFigures& r = runs[k];
      const bool overlap = kinds[k].overlap;
      if (!r.ok || r.frames == 0) {
        std::printf("  %s: write failed\n", kinds[k].label);
        targetMet = false;
        continue;
      }
      const double frameMs = r.loopMicros / r.frames / 1000;
      const double built = std::max(1, r.t.FramesBuilt);
      const double eccMs = eccUs * kFramePagesPerChip / 1000;
      const double placeMs = r.t.PlaceMicros / r.frames / 1000;
      const double ratio = boundFrameMs / frameMs;
      if (kinds[k].ahead) best = std::max(best, ratio);
      std::printf(
          "  %-18s %6.2f frames/s (%.1f ms per frame), %.2f MB/s; status bar %.2f MB/s; "
          "%.0f%% of the bound",
          kinds[k].label, 1000 / frameMs, frameMs, kFrameMB / frameMs * 1000, r.reportedMBs,
          100 * ratio);
      if (k > 0 && runs[0].ok && runs[0].frames > 0) {
        std::printf("; %.2f times the speed of each chip decoding",
                    runs[0].loopMicros / runs[0].frames / (r.loopMicros / r.frames));
      }
      std::printf("\n");
      std::printf(
          "             frames built %d, taken from chip 0's pass %d; per frame built: decode "
          "%.1f ms, encode %.1f ms%s; per frame placed: ECC %.1f ms, transfer %.1f ms (erase, "
          "links, programs and digest)%s\n",
          r.t.FramesBuilt, r.t.FramesReused, r.t.DecodeMicros / built / 1000,
          r.t.EncodeMicros / built / 1000, overlap ? " (worker thread)" : "", eccMs,
          placeMs - eccMs,
          overlap ? (", waiting for the worker " +
                     std::to_string(static_cast<int>(r.t.StallMicros / r.frames / 1000)) + " ms")
                        .c_str()
                  : "");
      std::printf(
          "             whole write %.1f s (%d frames, two directory saves); peak memory "
          "%.0f MB, resident after it %.0f MB\n",
          r.wallMicros / 1e6, r.frames, peakMB(), residentMB());
      if (delay == 100 && overlap && ratio < 0.9) targetMet = false;
    }
    if (delay == 0) {
      caseAMet = best >= 0.45;
      std::printf("target (a) >= 45%% of the bound: %s (best %.0f%%)\n",
                  caseAMet ? "met" : "NOT met", 100 * best);
    }
    std::printf("\n");
  }
  std::printf("target (b) overlapped >= 90%% of the bound: %s\n", targetMet ? "met" : "NOT met");
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return 0;
}
