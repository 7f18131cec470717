// orvana-cli write and continue as separate processes against an in-process simulated device:
// exit codes and refusals, Ctrl-C as the confirmed cancel, and a write killed outright then
// continued, compared page by page with an uninterrupted write of the same clip.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <chrono>
#include <fstream>
#include <sstream>

#include "media/AviFixture.h"
#include "store/Journal.h"
#include "write/WriteRig.h"

extern char** environ;

namespace orvana {
namespace {

using namespace std::chrono_literals;
using test::Page;

constexpr std::uint32_t kRows = (12 + 2 * 40 + 8) * 64;  // system area and 40 frames' cells
constexpr int kClipChips[] = {0, 1};

std::filesystem::path ClipFile() {
  test::AviSpec s;
  s.Width = 64;
  s.Height = 36;
  s.Frames = 10;
  s.AudioRate = 48000;
  return test::Fixtures::Get("write10", s);
}

// A running orvana-cli; killed and reaped if the test leaves it behind.
struct Child {
  pid_t pid = -1;
  ~Child() {
    if (pid > 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  }
  bool running() const { return pid > 0; }
  // The wait status once the process ended, -1 when it did not end in time (it is killed then).
  int Wait(std::chrono::seconds limit) {
    const int status = test::waitForExit(pid, limit);
    if (status != -1) {
      pid = -1;
      return status;
    }
    ADD_FAILURE() << "orvana-cli did not end in time";
    return -1;
  }
};

class CliWriteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim = Device();
    ASSERT_NE(sim, nullptr);
    ::setenv("ORVANA_HOST_PORT", std::to_string(hostPort).c_str(), 1);
  }
  void TearDown() override { ::unsetenv("ORVANA_HOST_PORT"); }

  std::unique_ptr<devsim::DeviceSimulator> Device() { return test::FormattedDevice(hostPort); }

  // Starts orvana-cli with the device at `device`; its output goes to log.
  void Start(Child& child, devsim::DeviceSimulator& device, const std::vector<std::string>& args) {
    ::setenv("ORVANA_DEVICE", ("127.0.0.1:" + std::to_string(device.port())).c_str(), 1);
    std::vector<std::string> all{ORVANA_CLI};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const int rc = posix_spawn(&child.pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ASSERT_EQ(rc, 0);
  }

  // Runs orvana-cli to its end (at most a minute); the exit code, -1 when it did not exit.
  int Run(devsim::DeviceSimulator& device, const std::vector<std::string>& args) {
    Child child;
    Start(child, device, args);
    const int status = child.Wait(60s);
    return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string Output() const {
    std::ifstream in(log);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  // Waits until the write has placed frame `frame` or later of `chip` (the "Frame" key is written
  // after every odd frame), polling the settings; false when the child ended or time ran out.
  bool WaitForFrame(Child& child, int chip, int frame) {
    bool placed = false;
    test::eventually(
        [&] {
          placed = test::safeWrite("Active") == 1 && test::safeWrite("Chip") == chip &&
                   test::safeWrite("Frame") >= frame;
          int status = 0;
          if (!placed && ::waitpid(child.pid, &status, WNOHANG) == child.pid) child.pid = -1;
          return placed || child.pid == -1;
        },
        60s);
    return placed;
  }

  static std::vector<Page> Snapshot(devsim::DeviceSimulator& device) {
    std::vector<Page> out;
    for (int chip : kClipChips)
      for (std::uint32_t row = 0; row < kRows; ++row) {
        out.emplace_back(8192);
        EXPECT_TRUE(device.readPage(chip, row, out.back().data()));
      }
    return out;
  }

  // Clip 3 of ten frames written in one go on a device of its own.
  const std::vector<Page>& Reference() {
    static std::vector<Page> reference;
    if (reference.empty()) {
      auto other = Device();
      EXPECT_EQ(Run(*other, WriteArgs()), 0) << Output();
      reference = Snapshot(*other);
      std::filesystem::remove(paths::settingsFile(kMainIni));
    }
    return reference;
  }

  std::vector<std::string> WriteArgs() const {
    return {"write", "--channel", "clip1", "--number",
            "3",     "--comment", "Ref",   ClipFile().string()};
  }

  test::TempHome home;
  test::HostSocket hostSocket;  // inherited by every orvana-cli the test starts
  std::uint16_t hostPort = hostSocket.port();
  std::filesystem::path log = home.path() / "cli.log";
  std::unique_ptr<devsim::DeviceSimulator> sim;
};

TEST_F(CliWriteTest, RefusalsExitNonZeroAndWriteNothing) {
  const std::string clip = ClipFile().string();
  struct Case {
    std::vector<std::string> args;
    const char* says;
  };
  const Case cases[] = {
      {{"write", "--channel", "clip1", "--number", "0", clip}, "Invalid clip number."},
      {{"write", "--channel", "clip1", "--number", "101", clip}, "Invalid clip number."},
      {{"write", "--channel", "clip9", clip}, "Unknown channel clip9."},
      {{"write", "--channel", "clip1", (home.path() / "none.avi").string()}, "Cannot open"},
      {{"write", "--channel", "wipe", clip}, "No alpha file is open for chip 6."},
      {{"continue"}, "No interrupted write to continue."},
  };
  const auto before = Snapshot(*sim);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    EXPECT_NE(Run(*sim, c.args), 0);
    EXPECT_NE(Output().find(c.says), std::string::npos) << Output();
  }
  EXPECT_EQ(test::CountDifferences(Snapshot(*sim), before, kRows), 0);
  EXPECT_EQ(test::safeWrite("Active"), -1) << "no pass began";
}

// A clip copied to a second device lands there page for page as the same write lands on the
// source (both start formatted and empty, so a write would place it alike), also when a program
// failure on the target stopped the first attempt; the source is only read.
TEST_F(CliWriteTest, ACopyEqualsTheSourceWriteAndResumesAfterAFailureOnTheTarget) {
  const std::string clip = ClipFile().string();
  struct Case {
    const char* name;
    const char* channel;
    std::vector<std::string> sources;  // after the clip file
    std::vector<int> chips;
  };
  const Case cases[] = {
      {"looped clip", "clip1", {"--loop"}, {0, 1}},
      {"super wipe", "wipe", {"--alpha", clip, "--wipe", clip}, {4, 5, 6, 7}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim = Device();
    test::HostSocket targetSocket;
    auto target = test::FormattedDevice(targetSocket.port());
    ASSERT_NE(target, nullptr);
    std::vector<std::string> write{"write", "--channel", c.channel, "--number", "3", clip};
    write.insert(write.end(), c.sources.begin(), c.sources.end());
    ASSERT_EQ(Run(*sim, write), 0) << Output();
    auto snapshot = [&](devsim::DeviceSimulator& d) {
      std::vector<Page> out;
      for (int chip : c.chips)
        for (std::uint32_t row = 0; row < kRows; ++row) {
          out.emplace_back(8192);
          EXPECT_TRUE(d.readPage(chip, row, out.back().data()));
        }
      return out;
    };
    const auto written = snapshot(*sim);

    const std::vector<std::string> copy{"copy",
                                        "--from",
                                        "127.0.0.1:" + std::to_string(sim->port()),
                                        "--from-host-port",
                                        std::to_string(hostPort),
                                        "--to",
                                        "127.0.0.1:" + std::to_string(target->port()),
                                        "--to-host-port",
                                        std::to_string(targetSocket.port()),
                                        "--channel",
                                        c.channel,
                                        "--number",
                                        "3"};
    devsim::FaultPlan faults;
    faults.failProgram.push_back({static_cast<std::uint8_t>(c.chips[1]), 4});
    target->setFaults(faults);
    EXPECT_EQ(Run(*target, copy), 1) << Output();
    EXPECT_EQ(test::safeWrite("Active"), 1);
    target->setFaults({});
    EXPECT_EQ(Run(*target, copy), 0) << Output();
    EXPECT_NE(Output().find("copied from"), std::string::npos) << Output();
    EXPECT_EQ(test::CountDifferences(snapshot(*target), written, kRows), 0);
    EXPECT_EQ(test::CountDifferences(snapshot(*sim), written, kRows), 0)
        << "the source is read only";
    EXPECT_EQ(test::safeWrite("Active"), 0);

    const auto entries = ReadJournal();
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.back().Operation, "copy");
    EXPECT_EQ(entries.back().Result, "completed");
    EXPECT_EQ(entries.back().Digests.size(), c.chips.size());
  }

  const std::string self = "127.0.0.1:" + std::to_string(sim->port());
  EXPECT_EQ(
      Run(*sim, {"copy", "--from", self, "--to", self, "--channel", "clip1", "--number", "3"}), 2);
  EXPECT_NE(Output().find("same device"), std::string::npos) << Output();
}

// A write stopped by Ctrl-C (the confirmed cancel) or killed outright, then `continue`: the
// flash of both chips equals that of a write that never stopped.
struct StopCase {
  const char* name;
  int signal;
  int chip;
  int frame;
};

// Test listings show the case by name instead of its bytes.
void PrintTo(const StopCase& c, std::ostream* os) {
  *os << c.name;
}

class CliStopTest : public CliWriteTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(CliStopTest, ContinuedWriteEqualsUninterruptedOne) {
  const StopCase c = GetParam();
  const auto& reference = Reference();
  ASSERT_FALSE(reference.empty());
  {
    Child child;
    Start(child, *sim, WriteArgs());
    ASSERT_TRUE(WaitForFrame(child, c.chip, c.frame)) << Output();
    ::kill(child.pid, c.signal);
    const int status = child.Wait(30s);
    if (c.signal == SIGKILL) {
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    } else {
      ASSERT_TRUE(WIFEXITED(status));
      EXPECT_NE(WEXITSTATUS(status), 0);
      EXPECT_NE(Output().find("Process canceled. You can continue later."), std::string::npos)
          << Output();
    }
  }
  EXPECT_EQ(test::safeWrite("Active"), 1);
  EXPECT_EQ(test::safeWrite("Chip"), c.chip);
  EXPECT_TRUE(std::filesystem::exists(paths::resumeFile()));

  EXPECT_EQ(Run(*sim, {"continue"}), 0) << Output();
  EXPECT_NE(Output().find("Clip 3 written."), std::string::npos) << Output();
  EXPECT_EQ(test::safeWrite("Active"), 0);
  EXPECT_FALSE(std::filesystem::exists(paths::resumeFile()));
  EXPECT_EQ(test::CountDifferences(Snapshot(*sim), reference, kRows), 0);

  // The journal survived the stop whole, and its last line is the continue with both chips'
  // digests, the one done before the stop included.
  std::vector<std::string> warnings;
  const auto entries = ReadJournal(&warnings);
  EXPECT_TRUE(warnings.empty());
  ASSERT_FALSE(entries.empty());
  EXPECT_EQ(entries.back().Operation, "continue");
  EXPECT_EQ(entries.back().Result, "completed");
  EXPECT_EQ(entries.back().Digests.size(), 2u);

  const std::vector<std::string> fromSource{"verify", "--channel", "clip1", "--number",
                                            "3",      "--comment", "Ref",   ClipFile().string()};
  const std::vector<std::string> fromJournal{"verify", "--journal", "--channel",
                                             "clip1",  "--number",  "3"};
  EXPECT_EQ(Run(*sim, fromSource), 0) << Output();
  EXPECT_NE(Output().find("identical"), std::string::npos) << Output();
  EXPECT_EQ(Run(*sim, fromJournal), 0) << Output();
  auto asJson = [&](std::vector<std::string> args) {
    args.push_back("--json");
    Run(*sim, args);
    // stdout and stderr share the log; the document is the line that starts with '{' or '['.
    std::istringstream lines(Output());
    std::string line;
    while (std::getline(lines, line))
      if (!line.empty() && (line[0] == '{' || line[0] == '['))
        return QJsonDocument::fromJson(QByteArray::fromStdString(line));
    ADD_FAILURE() << Output();
    return QJsonDocument();
  };
  const QJsonObject verified = asJson(fromSource).object();
  EXPECT_EQ(verified["result"].toString(), "identical");
  EXPECT_EQ(verified["frames_compared"].toInt(), 80);
  EXPECT_TRUE(verified["chip"].isNull());
  const QJsonArray journal = asJson({"journal"}).array();
  ASSERT_FALSE(journal.isEmpty());
  EXPECT_EQ(journal.last().toObject()["operation"].toString(), "continue");

  // A page of chip 1 that reads back clean with other data: one group programmed to zeros.
  Page record(8192);
  ASSERT_TRUE(sim->readPage(1, 2, record.data()));
  const std::uint32_t row = GetU32(record.data()) + 5;
  Page page(8192);
  ASSERT_TRUE(sim->readPage(1, row, page.data()));
  std::size_t group = 0;
  while (std::all_of(&page[group * 9], &page[group * 9 + 8], [](std::uint8_t b) { return !b; }))
    ++group;
  std::size_t at = group * 9;
  while (page[at] == 0) ++at;
  const std::size_t payloadByte = group * 8 + (at - group * 9);
  std::fill_n(&page[group * 9], 9, 0);
  ASSERT_TRUE(sim->writePage(1, row, page.data()));
  EXPECT_EQ(Run(*sim, fromSource), 1) << Output();
  EXPECT_NE(Output().find("First difference: chip 1, frame 0, page 5 (row " + std::to_string(row) +
                          "): payload byte " + std::to_string(payloadByte)),
            std::string::npos)
      << Output();
  EXPECT_EQ(Run(*sim, fromJournal), 1) << Output();
  EXPECT_NE(Output().find("First difference: chip 1"), std::string::npos) << Output();
  const QJsonObject different = asJson(fromSource).object();
  EXPECT_EQ(different["result"].toString(), "different");
  EXPECT_EQ(different["chip"].toInt(), 1);
  EXPECT_EQ(different["frame"].toInt(), 0);
  EXPECT_EQ(different["page"].toInt(), 5);
  EXPECT_EQ(different["row"].toInteger(), row);
}

INSTANTIATE_TEST_SUITE_P(Cases, CliStopTest,
                         ::testing::Values(StopCase{"KilledOnChip1", SIGKILL, 1, 9},
                                           StopCase{"CtrlCOnChip0", SIGINT, 0, 15}),
                         [](const ::testing::TestParamInfo<StopCase>& p) {
                           return std::string(p.param.name);
                         });

}  // namespace
}  // namespace orvana
