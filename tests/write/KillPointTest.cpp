// A write killed outright (SIGKILL) at a table of points of its traffic, then `orvana-cli
// continue`: inside a chip's frames, between two chips' passes, in the hold frames, in every
// phase of the rewrite of a chip's system area and after its last page. Each ends with the
// flash of every chip of the channel equal to that of a write that never stopped, and with no
// write left marked as interrupted. The kill is made by the simulated device itself on the
// numbered datagram, so every point is exact and repeatable.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <sstream>

#include "media/AviFixture.h"
#include "write/WriteRig.h"

extern char** environ;

namespace orvana {
namespace {

using namespace std::chrono_literals;
using test::Page;

constexpr int kFrames = 4;                                           // of the source clip
constexpr std::uint32_t kRows = (12 + 2 * (kFrames + 30) + 8) * 64;  // system area and frames
constexpr std::uint64_t kLongQuiet = 1000;  // datagrams without page data: a directory load
constexpr int kSystemAreaPrograms = 308;
constexpr int kDataPacketsPerPage = 8;

std::filesystem::path Clip() {
  test::AviSpec s;
  s.Width = 64;
  s.Height = 36;
  s.Frames = kFrames;
  s.AudioRate = 48000;
  return test::Fixtures::Get("kill4", s);
}

// What the device saw of one uninterrupted write: which datagrams carried page data.
struct Traffic {
  std::vector<bool> pageData;  // index = datagram number - 1
  struct Run {
    std::uint64_t first, last;  // datagram numbers
  };
  // Stretches without page data long enough to be directory loads, in order.
  std::vector<Run> Quiet() const {
    std::vector<Run> runs;
    std::uint64_t start = 0;
    for (std::uint64_t i = 0; i <= pageData.size(); ++i) {
      const bool data = i == pageData.size() || pageData[i];
      if (!data) continue;
      if (i - start >= kLongQuiet) runs.push_back({start + 1, i});
      start = i + 1;
    }
    return runs;
  }
  // Number of the n-th page-data datagram counted back from datagram `before` (1 = the last).
  std::uint64_t DataBefore(std::uint64_t before, int n) const {
    for (std::uint64_t i = before - 1; i-- > 0;)
      if (pageData[i] && --n == 0) return i + 1;
    return 0;
  }
};

// Where in the traffic of one pass a kill lands.
enum class Point {
  Frames,          // early in the pass's frames
  HoldFrames,      // among the 30 hold frames after the clip
  Records,         // rewriting the system area: the directory records
  Map,             // its cell map pages
  Thumbnails,      // its thumbnail pages
  AfterLastPage,   // the system area is written, the pass is not yet completed
  BeforeNextChip,  // the pass completed; the next chip is being loaded
};

struct KillCase {
  const char* name;
  const char* channel;
  int chips;  // in the channel
  int pass;   // 0-based chip pass the point lies in
  Point point;
};

void PrintTo(const KillCase& c, std::ostream* os) {
  *os << c.name;
}

class KillFixture : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("ORVANA_HOST_PORT", std::to_string(hostPort_).c_str(), 1); }
  void TearDown() override { ::unsetenv("ORVANA_HOST_PORT"); }

  std::unique_ptr<devsim::DeviceSimulator> Device() { return test::FormattedDevice(hostPort_); }

  std::vector<std::string> WriteArgs(const char* channel) const {
    std::vector<std::string> args = {"write",     "--channel", channel,     "--number",     "2",
                                     "--comment", "Killed",    "--no-loop", Clip().string()};
    if (std::string(channel) == "wipe") {
      args.push_back("--alpha");
      args.push_back(Clip().string());
      args.push_back("--wipe");
      args.push_back(Clip().string());
    }
    return args;
  }

  // Starts orvana-cli against `device`; returns its pid (output to the log).
  pid_t Start(devsim::DeviceSimulator& device, const std::vector<std::string>& args) {
    std::vector<std::string> all{ORVANA_CLI, "--device",
                                 "127.0.0.1:" + std::to_string(device.port())};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log_.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(rc, 0);
    return rc == 0 ? pid : -1;
  }

  // The wait status, or -1 after two minutes (the child is then killed).
  static int Wait(pid_t pid) {
    const int status = test::waitForExit(pid, 120s);
    if (status != -1) return status;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return -1;
  }

  std::vector<Page> Snapshot(devsim::DeviceSimulator& device, int firstChip, int chips) {
    std::vector<Page> out;
    for (int chip = firstChip; chip < firstChip + chips; ++chip)
      for (std::uint32_t row = 0; row < kRows; ++row) {
        out.emplace_back(8192);
        EXPECT_TRUE(device.readPage(chip, row, out.back().data()));
      }
    return out;
  }

  std::string Output() const {
    std::ifstream in(log_);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  test::HostSocket hostSocket_;  // inherited by every orvana-cli the test starts
  std::uint16_t hostPort_ = hostSocket_.port();
  test::TempHome home_;
  std::filesystem::path log_ = home_.path() / "cli.log";
};

class KillPointTest : public KillFixture, public ::testing::WithParamInterface<KillCase> {};

// The datagram at which the case's point lies in `t`, the traffic of an uninterrupted write.
std::uint64_t KillAt(const KillCase& c, const Traffic& t) {
  const auto quiet = t.Quiet();
  // The loads: one before the first pass, one between each two passes, one after the last.
  EXPECT_EQ(static_cast<int>(quiet.size()), c.chips + 1);
  if (static_cast<int>(quiet.size()) != c.chips + 1) return 0;
  const auto& before = quiet[static_cast<std::size_t>(c.pass)];
  const auto& after = quiet[static_cast<std::size_t>(c.pass) + 1];
  // The last page-data datagram of the pass belongs to its last thumbnail page.
  const std::uint64_t lastData = t.DataBefore(after.first, 1);
  const int areaData = kSystemAreaPrograms * kDataPacketsPerPage;
  const std::uint64_t areaStart = t.DataBefore(after.first, areaData);
  const std::uint64_t frames = areaStart - before.last;
  switch (c.point) {
    case Point::Frames:
      return before.last + frames / 10;
    case Point::HoldFrames:
      return before.last + frames * 9 / 10;
    case Point::Records:
      return t.DataBefore(after.first, areaData - 50 * kDataPacketsPerPage);
    case Point::Map:
      return t.DataBefore(after.first, areaData - 104 * kDataPacketsPerPage);
    case Point::Thumbnails:
      return t.DataBefore(after.first, 100 * kDataPacketsPerPage);
    case Point::AfterLastPage:
      return lastData + 20;
    case Point::BeforeNextChip:
      return after.first + (after.last - after.first) * 4 / 5;
  }
  return 0;
}

TEST_P(KillPointTest, ContinuedWriteEqualsUninterruptedOne) {
  const KillCase c = GetParam();
  const int first = c.chips == 4 ? 4 : 0;

  // The write that never stops, and what its device saw.
  Traffic traffic;
  std::vector<Page> reference;
  {
    auto device = Device();
    ASSERT_NE(device, nullptr);
    std::mutex m;
    device->setDatagramHook([&](std::uint64_t, const std::uint8_t* b, std::size_t n) {
      std::lock_guard lock(m);
      traffic.pageData.push_back(n >= 2 && b[0] == 136 && (b[1] & 0x80) != 0);
    });
    const int status = Wait(Start(*device, WriteArgs(c.channel)));
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << Output();
    device->setDatagramHook(nullptr);
    reference = Snapshot(*device, first, c.chips);
    std::filesystem::remove(paths::settingsFile(kMainIni));
  }
  const std::uint64_t killAt = KillAt(c, traffic);
  ASSERT_GT(killAt, 0u);
  ASSERT_LT(killAt, traffic.pageData.size());

  auto device = Device();
  ASSERT_NE(device, nullptr);
  std::atomic<pid_t> victim{-1};
  device->setDatagramHook([&](std::uint64_t number, const std::uint8_t*, std::size_t) {
    if (number == killAt && victim > 0) ::kill(victim, SIGKILL);
  });
  victim = Start(*device, WriteArgs(c.channel));
  const int killed = Wait(victim);
  device->setDatagramHook(nullptr);
  ASSERT_TRUE(WIFSIGNALED(killed) && WTERMSIG(killed) == SIGKILL) << Output();

  // What a later `continue` finds: the write is marked as interrupted unless it had completed.
  if (test::safeWrite("Active") == 1) {
    const int status = Wait(Start(*device, {"--yes", "continue", "--no-loop"}));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << Output();
    EXPECT_NE(Output().find("Clip 2 written."), std::string::npos) << Output();
  }
  EXPECT_EQ(test::safeWrite("Active"), 0);
  EXPECT_FALSE(std::filesystem::exists(paths::resumeFile()));
  EXPECT_EQ(test::CountDifferences(Snapshot(*device, first, c.chips), reference, kRows), 0)
      << Output();
}

INSTANTIATE_TEST_SUITE_P(
    Points, KillPointTest,
    ::testing::Values(KillCase{"Clip1FirstChipFrames", "clip1", 2, 0, Point::Frames},
                      KillCase{"Clip1FirstChipRecords", "clip1", 2, 0, Point::Records},
                      KillCase{"Clip1BetweenPasses", "clip1", 2, 0, Point::BeforeNextChip},
                      KillCase{"Clip1SecondChipFrames", "clip1", 2, 1, Point::Frames},
                      KillCase{"Clip1SecondChipHoldFrames", "clip1", 2, 1, Point::HoldFrames},
                      KillCase{"Clip1SecondChipRecords", "clip1", 2, 1, Point::Records},
                      KillCase{"Clip1SecondChipMap", "clip1", 2, 1, Point::Map},
                      KillCase{"Clip1SecondChipThumbnails", "clip1", 2, 1, Point::Thumbnails},
                      KillCase{"Clip1AfterLastPage", "clip1", 2, 1, Point::AfterLastPage},
                      KillCase{"WipeBetweenSecondAndThird", "wipe", 4, 1, Point::BeforeNextChip},
                      KillCase{"WipeThirdChipThumbnails", "wipe", 4, 2, Point::Thumbnails},
                      KillCase{"WipeLastChipHoldFrames", "wipe", 4, 3, Point::HoldFrames},
                      KillCase{"WipeAfterLastPage", "wipe", 4, 3, Point::AfterLastPage}),
    [](const ::testing::TestParamInfo<KillCase>& p) { return std::string(p.param.name); });

// A delete killed while it rewrites the first chip's system area leaves that chip without its
// directory; the next connection completes the rewrite from the copy kept for it, and the other
// clip on the chip is listed and reads back as before.
TEST_F(KillFixture, ADirectoryRewriteCutShortIsCompletedAtTheNextConnection) {
  auto device = Device();
  ASSERT_NE(device, nullptr);
  for (const char* number : {"2", "3"}) {
    std::vector<std::string> args = WriteArgs("clip1");
    args[4] = number;
    const int status = Wait(Start(*device, args));
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << Output();
  }
  const auto before = home_.path() / "before.clip";
  ASSERT_EQ(Wait(Start(*device, {"read", "--chip", "0", "--number", "3", "-o", before})), 0)
      << Output();

  // Killed a quarter of the way through the records of chip 0's new system area.
  std::atomic<pid_t> victim{-1};
  std::atomic<int> dataSeen{0};
  device->setDatagramHook([&](std::uint64_t, const std::uint8_t* b, std::size_t n) {
    if (n >= 2 && b[0] == 136 && (b[1] & 0x80) != 0 && ++dataSeen == 25 * kDataPacketsPerPage &&
        victim > 0)
      ::kill(victim, SIGKILL);
  });
  victim = Start(*device, {"--yes", "delete", "--channel", "clip1", "--number", "2"});
  const int killed = Wait(victim);
  device->setDatagramHook(nullptr);
  ASSERT_TRUE(WIFSIGNALED(killed)) << Output();

  const std::filesystem::path pending = paths::dataFolder() / "pending";
  ASSERT_TRUE(std::filesystem::exists(pending));
  EXPECT_FALSE(std::filesystem::is_empty(pending));
  const int listed = Wait(Start(*device, {"--yes", "list", "--chip", "0"}));
  EXPECT_TRUE(WIFEXITED(listed) && WEXITSTATUS(listed) == 0) << Output();
  EXPECT_NE(Output().find("Complete it now?"), std::string::npos) << Output();
  EXPECT_TRUE(std::filesystem::is_empty(pending));

  const auto after = home_.path() / "after.clip";
  ASSERT_EQ(Wait(Start(*device, {"read", "--chip", "0", "--number", "3", "-o", after})), 0)
      << Output();
  std::ifstream a(before, std::ios::binary), b(after, std::ios::binary);
  const std::string x((std::istreambuf_iterator<char>(a)), {});
  const std::string y((std::istreambuf_iterator<char>(b)), {});
  EXPECT_FALSE(x.empty());
  EXPECT_TRUE(x == y) << "clip 3 reads back differently";
  // Clip 2 is gone from chip 0, as the delete had decided before it was cut short.
  EXPECT_NE(Wait(Start(*device, {"read", "--chip", "0", "--number", "2", "-o", after})), 0);
}

}  // namespace
}  // namespace orvana
