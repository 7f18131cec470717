// The write as the operator starts it from the window against the same write by the command
// line: a 1920 x 1080 Motion JPEG clip with PCM sound, Loop checked, into "Clip 1" (chips 0 and
// 1) of one simulated device that runs as its own process with its flash in memory. The window
// side is the real main window (offscreen) with its Write button clicked and the number and
// comment answered by script; the command-line side is the `orvana-cli write` program run as a
// child process, as an operator runs it. Rounds alternate between the two (W C, C W, ...) so a
// busy moment of the shared machine falls on both. Both use the writer's default settle wait,
// which the command line has no option for.
//
// Timed on both sides: from the media-number question (asked after chip 0's settle wait) to the
// end of the write (the window's click returns / the program prints "Clip N written."). That
// holds both passes, both directory saves and chip 1's settle wait; the settle wait is taken out
// of the MB/s. While the window writes, a second thread posts a time-stamped event to an object
// on the window's thread every 2 ms; the delay to its delivery is the event loop's latency.
//
// Baseline, measured in the same run: bare page programs (no ECC) of the same link to the same
// simulator, 73 per chip frame; no write can place frames faster.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "LoopbackFloor.h"
#include "MjpegClip.h"
#include "common/DeviceEndpoint.h"
#include "common/Operator.h"
#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "link/TimingTable.h"
#include "media/WriteProcess.h"
#include "shell/Application.h"
#include "shell/MainWindow.h"
#include "shell/Style.h"
#include "store/StoreStack.h"

namespace {

using namespace orvana;
using bench::wallMicros;

constexpr int kClipFrames = 50;    // with Loop: 50 frames placed per chip, no hold frames
constexpr int kRoundsPerSide = 4;  // in the order W C, C W, W C, C W
constexpr int kFramePagesPerChip = 73;
constexpr double kFrameBytes = 598016;
constexpr double kWriteBytes = 2 * kClipFrames * kFrameBytes;
constexpr double kWriteLimitMicros = 300e6;  // a write that takes longer has hung
constexpr int kProbePeriodMicros = 2000;
const char* const kNumberQuestion = "Enter media number";

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Nearest rank.
double percentile(const std::vector<double>& sorted, double p) {
  if (sorted.empty()) return 0;
  const auto rank = static_cast<std::size_t>(std::ceil(p * static_cast<double>(sorted.size())));
  return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

// Runs of blanks as one, without the leading ones.
std::string squeezed(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == ' ' && (out.empty() || out.back() == ' ')) continue;
    out += c;
  }
  if (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

std::uint16_t freeLoopbackUdpPort() {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return 0;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  std::uint16_t port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  ::close(fd);
  return port;
}

// A program run as a child, its stdout and stderr read line by line with the time each line
// arrived. Stopped with the object if it is still running.
class ChildProcess {
 public:
  explicit ChildProcess(std::vector<std::string> args) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    fd_ = out[0];
  }
  ~ChildProcess() {
    closeOutput();
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      wait();
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return pid_ > 0; }

  // The next line and when it arrived; false at the end of the output or at `deadline`.
  bool readLine(std::string& line, double& at, double deadline) {
    for (;;) {
      const auto nl = buffer_.find('\n');
      if (nl != std::string::npos) {
        line = buffer_.substr(0, nl);
        buffer_.erase(0, nl + 1);
        at = bufferAt_;
        return true;
      }
      const double left = deadline - wallMicros();
      if (fd_ < 0 || left <= 0) return false;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left / 1000) + 1) <= 0) continue;
      char chunk[4096];
      const ssize_t n = ::read(fd_, chunk, sizeof chunk);
      if (n <= 0) {
        closeOutput();
        if (buffer_.empty()) return false;
        buffer_ += '\n';
        continue;
      }
      bufferAt_ = wallMicros();
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }

  void closeOutput() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  void stop() {
    if (pid_ > 0) ::kill(pid_, SIGTERM);
  }
  // The exit code; -1 when it did not exit normally.
  int wait() {
    if (pid_ <= 0) return -1;
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
  std::string buffer_;
  double bufferAt_ = 0;
};

// Answers for code that runs without a person: the take-over question Yes, everything else
// quietly; messages are kept, since every one of them means the write did not go as planned.
class QuietOperator : public SilentOperator {
 public:
  void message(const std::string& text) override { messages.push_back(text); }
  bool confirm(const std::string&) override { return true; }
  std::vector<std::string> messages;
};

// The window's scripted dialogs: the number and comment of the write, "Write new" should an
// interrupted write be on record, and when the number was asked.
class WindowAnswers : public QuietOperator {
 public:
  bool prompt(const std::string& text, std::string& value) override {
    if (text.rfind(kNumberQuestion, 0) == 0) {
      numberAskedAt = wallMicros();
      value = number;
    } else {
      value = comment;
    }
    return true;
  }
  int choose(const std::string&, const std::vector<std::string>&) override { return 0; }
  // The link's counters (confirms, failed writes and reads, corrections): retries explain
  // stretches in which the queue is not pumped.
  void setStatus(int panel, const std::string& text) override {
    if (panel == 1) linkCounters = text;
  }
  std::string linkCounters;
  std::string number;
  std::string comment;
  double numberAskedAt = 0;
};

// Time-stamped events posted from a second thread to an object on the UI thread; the delay to
// delivery is how long the UI thread left its queue alone.
class LatencyProbe : public QObject {
 public:
  LatencyProbe() : type_(static_cast<QEvent::Type>(QEvent::registerEventType())) {}
  ~LatencyProbe() override { stop(); }

  void start() {
    delays.clear();
    posted_ = 0;
    stop_ = false;
    thread_ = std::thread([this] {
      const double t0 = wallMicros();
      while (!stop_ && wallMicros() - t0 < kWriteLimitMicros) {
        QCoreApplication::postEvent(this, new Stamp(type_, wallMicros()));
        ++posted_;
        std::this_thread::sleep_for(std::chrono::microseconds(kProbePeriodMicros));
      }
    });
  }
  // Stops posting and delivers what is still queued: its delay counts too.
  void stop() {
    if (!thread_.joinable()) return;
    stop_ = true;
    thread_.join();
    QCoreApplication::sendPostedEvents(this, type_);
  }
  int posted() const { return posted_; }

  bool event(QEvent* e) override {
    if (e->type() != type_) return QObject::event(e);
    delays.push_back(wallMicros() - static_cast<Stamp*>(e)->postedAt);
    return true;
  }

  std::vector<double> delays;

 private:
  struct Stamp : QEvent {
    Stamp(QEvent::Type kind, double at) : QEvent(kind), postedAt(at) {}
    double postedAt;
  };
  QEvent::Type type_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<int> posted_{0};
};

struct Latency {
  std::vector<double> sorted;  // microseconds
  int posted = 0;
  void add(const LatencyProbe& p) {
    sorted.insert(sorted.end(), p.delays.begin(), p.delays.end());
    std::sort(sorted.begin(), sorted.end());
    posted += p.posted();
  }
  double p95Ms() const { return percentile(sorted, 0.95) / 1000; }
  std::string text() const {
    char line[160];
    std::snprintf(line, sizeof line, "p50 %.2f ms, p95 %.2f ms, max %.2f ms, %zu of %d delivered",
                  percentile(sorted, 0.5) / 1000, percentile(sorted, 0.95) / 1000,
                  sorted.empty() ? 0.0 : sorted.back() / 1000, sorted.size(), posted);
    return line;
  }
};

struct Device {
  std::uint16_t port = 0;
  std::uint16_t hostPort = 0;
};

// A short-lived stack beside the rounds, for what is not measured: format, the check that a
// round's clip is on both chips and its deletion, and the floor. Never alive during a round,
// since all of them receive on the same host port.
struct Maintenance {
  explicit Maintenance(const Device& d) {
    // The timing table as a program start finds it (see windowRound).
    ResetTimingTable();
    stack = std::make_unique<StoreStack>("127.0.0.1", d.port, op, d.hostPort);
  }
  ClipStore& store() { return stack->store; }

  bool format() {
    for (int chip : {0, 1}) {
      store().SelectChip(chip);
      if (!store().Connected() || !store().FormatChip(false)) return false;
    }
    return true;
  }
  // Clip n must be on chips 0 and 1; it is then deleted from both.
  bool checkAndDelete(int n) {
    for (int chip : {0, 1}) {
      store().SelectChip(chip);
      if (!store().Connected() || !store().IsClipValid(n)) return false;
      store().DeleteClipOnChip(n);
      if (!store().Connected() || store().IsClipValid(n)) return false;
    }
    return true;
  }
  // Microseconds of one bare page program (no ECC) into erased blocks of chip 11, which no
  // channel uses: the best batch of 32 of `blocks` whole blocks, so that a moment in which other
  // programs held both processors does not pass for the link's floor.
  double bareProgramMicros(std::uint32_t firstBlock, std::uint32_t blocks) {
    constexpr std::uint32_t kPagesPerBlock = 256, kBatch = 32;
    std::vector<std::uint8_t> page(8192);
    std::mt19937 rng(7);
    for (auto& b : page) b = static_cast<std::uint8_t>(rng());
    stack->flash.SetChipSelect(11);
    stack->access.BeginFlashAccess();
    double best = 0;
    for (std::uint32_t block = firstBlock; block < firstBlock + blocks; ++block) {
      if (!stack->access.EraseFlashBlock(block * kPagesPerBlock)) break;
      for (std::uint32_t row = block * kPagesPerBlock; row < (block + 1) * kPagesPerBlock;
           row += kBatch) {
        const double t0 = wallMicros();
        std::uint32_t n = 0;
        while (n < kBatch && stack->flash.ProgramPage(page.data(), row + n, 0)) ++n;
        if (n < kBatch) break;
        const double perPage = (wallMicros() - t0) / kBatch;
        if (best == 0 || perPage < best) best = perPage;
      }
    }
    stack->access.EndFlashAccess();
    return best;
  }

  QuietOperator op;
  std::unique_ptr<StoreStack> stack;
};

// The program's application object, also adding up how long the UI thread spends delivering
// events (paints, timers, the probe's own events) while `timing` is set.
class TimedApplication : public Application {
 public:
  using Application::Application;
  bool notify(QObject* receiver, QEvent* event) override {
    if (!timing || depth_ > 0 || QThread::currentThread() != thread())
      return Application::notify(receiver, event);
    ++depth_;
    const double t0 = wallMicros();
    const bool done = Application::notify(receiver, event);
    eventMicros += wallMicros() - t0;
    --depth_;
    return done;
  }
  bool timing = false;
  double eventMicros = 0;

 private:
  int depth_ = 0;
};

struct Round {
  bool ok = false;
  std::string failure;
  double spanMicros = 0;   // media-number question to the end of the write
  double wholeMicros = 0;  // window: the click; command line: the whole program
  // Window only: frames placed, and the time the UI thread waited for the worker to finish
  // building the next frame, during which its queue is not pumped.
  int framesPlaced = 0;
  double stallMicros = 0;
  double latencyP95Micros = 0;
  double eventMicros = 0;  // the UI thread delivering events during the click
  std::string linkCounters;
  double mbs(int settleMs) const { return kWriteBytes / (spanMicros - settleMs * 1000.0); }
};

Round windowRound(TimedApplication& app, const Device& d, const std::string& clip, int number,
                  int& settleMs, Latency& writing, Latency& idle) {
  Round r;
  ProfileFile ini(paths::settingsFile(kMainIni));
  ini.writeInt("Options", "WhatMedia", 0);
  ini.writeString("CurrDir", "ClipFile", clip);
  // Every command-line round is a new program with the timing table as stored; each window round
  // starts from the same table, as a window started then would.
  ResetTimingTable();
  WindowAnswers answers;
  answers.number = std::to_string(number);
  answers.comment = "Window bench";
  auto w =
      std::make_unique<TClipTCPForm>(DeviceEndpoint{"127.0.0.1", d.port, d.hostPort}, &answers);
  auto* button = w->findChild<QToolButton*>(QStringLiteral("WriteButton"));
  auto* loop = w->findChild<QCheckBox*>(QStringLiteral("LoopCheckBox"));
  settleMs = w->writer().SettleMs;
  if (w->Channel() != 0 || !w->stack()->store.Connected() || button == nullptr ||
      !button->isEnabled() || loop == nullptr || !loop->isChecked() ||
      w->selection().FramesToWrite != kClipFrames || !w->writer().Overlap) {
    r.failure = "window not ready to write (channel, link, clip or Loop)";
    return r;
  }
  w->show();
  {
    // Its first paint, which is no part of the write.
    QEventLoop shown;
    QTimer::singleShot(500, &shown, &QEventLoop::quit);
    shown.exec();
  }

  // The window at rest: the floor of the probe itself on this machine.
  LatencyProbe probe;
  {
    QEventLoop rest;
    QTimer::singleShot(300, &rest, &QEventLoop::quit);
    probe.start();
    rest.exec();
    probe.stop();
    idle.add(probe);
  }

  // A write that hangs is stopped at its next safe point, as closing the window does.
  QTimer::singleShot(static_cast<int>(kWriteLimitMicros / 1000), w.get(), [&w] { w->close(); });
  probe.start();
  app.eventMicros = 0;
  app.timing = true;
  const double t0 = wallMicros();
  button->click();
  const double t1 = wallMicros();
  app.timing = false;
  r.eventMicros = app.eventMicros;
  r.linkCounters = answers.linkCounters;
  probe.stop();
  writing.add(probe);
  std::sort(probe.delays.begin(), probe.delays.end());
  r.latencyP95Micros = percentile(probe.delays, 0.95);

  r.wholeMicros = t1 - t0;
  r.spanMicros = t1 - answers.numberAskedAt;
  r.framesPlaced = w->writer().Timings.FramesPlaced;
  r.stallMicros = w->writer().Timings.StallMicros;
  r.ok = w->writer().Completed && answers.numberAskedAt > 0 && answers.messages.empty() &&
         r.framesPlaced == 2 * kClipFrames;
  if (!r.ok)
    r.failure = answers.messages.empty() ? "write did not complete (" +
                                               std::to_string(r.framesPlaced) + " frames placed)"
                                         : answers.messages.front();
  w->close();
  w.reset();
  return r;
}

Round commandLineRound(const Device& d, const std::string& clip, int number) {
  Round r;
  const double t0 = wallMicros();
  ChildProcess cli({ORVANA_CLI, "--device", "127.0.0.1:" + std::to_string(d.port), "--host-port",
                    std::to_string(d.hostPort), "--yes", "write", "--channel", "clip1", "--number",
                    std::to_string(number), "--comment", "Command line bench", "--loop", clip});
  if (!cli.started()) {
    r.failure = "orvana-cli did not start";
    return r;
  }
  const std::string written = "Clip " + std::to_string(number) + " written.";
  double askedAt = 0, doneAt = 0, at = 0;
  std::string line, last;
  while (cli.readLine(line, at, t0 + kWriteLimitMicros)) {
    if (line.rfind(kNumberQuestion, 0) == 0) askedAt = at;
    if (line == written) doneAt = at;
    if (!line.empty()) last = line;
  }
  cli.stop();  // only has an effect when the output did not end in time
  const int code = cli.wait();
  r.wholeMicros = wallMicros() - t0;
  r.spanMicros = doneAt - askedAt;
  r.ok = code == 0 && askedAt > 0 && doneAt > askedAt;
  if (!r.ok) r.failure = "exit code " + std::to_string(code) + ", last line: " + last;
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  std::random_device rd;
  const auto dir =
      std::filesystem::temp_directory_path() / ("orvana-window-bench-" + std::to_string(rd()));
  std::filesystem::create_directories(dir);
  ::setenv("ORVANA_HOME", dir.c_str(), 1);
  ::setenv("ORVANA_DEVICE", "127.0.0.1", 1);
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  auto cleanUp = [&dir](int code) {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return code;
  };

  TimedApplication app(argc, argv);
  QString styleError;
  if (!ApplyCyanNight(app, &styleError))
    std::printf("note: the window's style did not load (%s)\n", styleError.toUtf8().constData());

  const auto clip = dir / "hd-mjpeg.avi";
  if (!bench::WriteMjpegClip(clip, 1920, 1080, kClipFrames)) {
    std::fprintf(stderr, "cannot write the source clip\n");
    return cleanUp(1);
  }
  std::printf(
      "source: %s, 1920x1080 Motion JPEG (q 3, 4:2:2), PCM 48 kHz stereo, %d frames, %.1f MB\n",
      clip.filename().c_str(), kClipFrames,
      static_cast<double>(std::filesystem::file_size(clip)) / 1e6);

  Device d;
  d.hostPort = freeLoopbackUdpPort();
  ChildProcess devsim({ORVANA_DEVSIM, "--address", "127.0.0.1", "--port", "0", "--reply-port",
                       std::to_string(d.hostPort)});
  {
    // "listening on 127.0.0.1:PORT", within five seconds.
    std::string line;
    double at = 0;
    if (devsim.readLine(line, at, wallMicros() + 5e6) && line.rfind("listening on", 0) == 0)
      d.port = static_cast<std::uint16_t>(std::atoi(line.c_str() + line.rfind(':') + 1));
    devsim.closeOutput();
    if (d.hostPort == 0 || d.port == 0) {
      std::fprintf(stderr, "simulated device did not start: %s\n", line.c_str());
      return cleanUp(1);
    }
  }

  double bareBefore = 0;
  {
    Maintenance m(d);
    const double t0 = wallMicros();
    if (!m.format()) {
      std::fprintf(stderr, "format of chips 0 and 1 failed\n");
      return cleanUp(1);
    }
    std::printf("format of chips 0 and 1: %.1f s\n", (wallMicros() - t0) / 1e6);
    bareBefore = m.bareProgramMicros(100, 2);
  }

  std::printf(
      "each write: \"Clip 1\" with Loop, %d frames on chip 0 then chip 1 (%.1f MB), overlapped, "
      "clip 1 deleted after every round\n",
      kClipFrames, kWriteBytes / 1e6);
  std::printf(
      "timed: media-number question to the end of the write (both passes, both directory "
      "saves, chip 1's settle wait, which MB/s leaves out)\n\n");

  std::vector<double> windowMBs, cliMBs, pairRatios;
  Latency writing, idle;
  int settleMs = 0;
  bool broke = false;
  for (int round = 0; round < kRoundsPerSide && !broke; ++round) {
    const bool windowFirst = round % 2 == 0;
    for (int k = 0; k < 2 && !broke; ++k) {
      const bool window = (k == 0) == windowFirst;
      const int before = static_cast<int>(writing.sorted.size());
      const Round r = window ? windowRound(app, d, clip.string(), 1, settleMs, writing, idle)
                             : commandLineRound(d, clip.string(), 1);
      if (!r.ok) {
        std::printf("round %d %s: write failed: %s\n", round + 1,
                    window ? "window      " : "command line", r.failure.c_str());
        broke = true;
        break;
      }
      const double mbs = r.mbs(settleMs);
      (window ? windowMBs : cliMBs).push_back(mbs);
      std::printf("round %d %s: %6.2f MB/s, timed %.2f s, %s %.2f s", round + 1,
                  window ? "window      " : "command line", mbs, r.spanMicros / 1e6,
                  window ? "whole click" : "whole program", r.wholeMicros / 1e6);
      std::printf("\n");
      if (window)
        std::printf(
            "                      UI thread: events %.2f s, waited for the worker %.1f ms/frame; "
            "latency p95 %.1f ms (%zu samples); link %s\n",
            r.eventMicros / 1e6, r.stallMicros / r.framesPlaced / 1000, r.latencyP95Micros / 1000,
            writing.sorted.size() - static_cast<std::size_t>(before),
            squeezed(r.linkCounters).c_str());
      Maintenance m(d);
      if (!m.checkAndDelete(0)) {
        std::printf("clip 1 not found on both chips after the round, or not deleted\n");
        broke = true;
      }
    }
    if (!broke) {
      // The two writes of a round ran next to each other, under much the same load.
      pairRatios.push_back(windowMBs.back() / cliMBs.back());
      std::printf("round %d window / command line: %.1f%%\n", round + 1, 100 * pairRatios.back());
    }
  }
  if (broke) {
    std::printf("benchmark stopped: a write failed\n");
    return cleanUp(1);
  }

  double bareAfter = 0;
  {
    Maintenance m(d);
    bareAfter = m.bareProgramMicros(102, 2);
  }
  // The faster of the two; one that failed (0) does not count.
  const double bareUs = bareBefore > 0 && bareAfter > 0 ? std::min(bareBefore, bareAfter)
                                                        : std::max(bareBefore, bareAfter);
  const double boundMBs = kFrameBytes / (kFramePagesPerChip * bareUs);

  const double windowMedian = median(windowMBs);
  const double cliMedian = median(cliMBs);
  const double ratio = windowMedian / cliMedian;
  if (bareUs <= 0) {
    std::printf("bare page programs failed: no bound\n");
    return cleanUp(1);
  }
  std::printf(
      "\nbound: bare page program %.1f us (best batch of 32; %.1f before, %.1f after the "
      "rounds), %d per chip frame: %.2f MB/s\n",
      bareUs, bareBefore, bareAfter, kFramePagesPerChip, boundMBs);
  std::printf("settle wait before each chip: %d ms on both sides (the writer's default)\n",
              settleMs);
  std::printf("median window       %6.2f MB/s (%.0f%% of the bound)\n", windowMedian,
              100 * windowMedian / boundMBs);
  std::printf("median command line %6.2f MB/s (%.0f%% of the bound)\n", cliMedian,
              100 * cliMedian / boundMBs);
  std::printf("window / command line: %.1f%% (medians); median of the rounds' ratios %.1f%%\n",
              100 * ratio, 100 * median(pairRatios));
  std::printf("event loop during the window writes (posted every %d ms): %s\n",
              kProbePeriodMicros / 1000, writing.text().c_str());
  std::printf("event loop of the window at rest (same probe):             %s\n\n",
              idle.text().c_str());
  std::printf("target window >= 90%% of the command line: %s\n", ratio >= 0.9 ? "PASS" : "FAIL");
  std::printf("target event loop p95 <= 50 ms during the write: %s\n",
              writing.p95Ms() <= 50 ? "PASS" : "FAIL");
  return cleanUp(0);
}
