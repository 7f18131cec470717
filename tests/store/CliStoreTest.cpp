// The store commands of orvana-cli against an in-process simulated device.
#include <gtest/gtest.h>

#include <signal.h>

#include <QImage>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "StoreFixture.h"
#include "common/Operator.h"
#include "devsim/DeviceSimulator.h"
#include "link/TimingTable.h"
#include "store/StoreStack.h"
#include "support/RunCommand.h"
#include "support/TempHome.h"

namespace orvana {
namespace {

class CliStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    devsim::DeviceSimulatorOptions options;
    options.replyPort = hostPort;
    options.recordTraffic = false;
    sim = std::make_unique<devsim::DeviceSimulator>(options);
    ASSERT_TRUE(sim->start()) << sim->error();
    // Chips 0 and 1 formatted, clip 5 (slot 4) of 1 frame on both; the link is gone again
    // before the command line takes the same reply port.
    ResetTimingTable();
    SilentOperator op;
    StoreStack stack("127.0.0.1", sim->port(), op, hostPort);
    ClipStore& store = stack.store;
    for (int chip : {0, 1}) {
      store.SelectChip(chip);
      ASSERT_TRUE(store.FormatChip(false));
      ASSERT_EQ(test::writeClip(store, 4, 0, 1, true, "say \"hi\"", 1), 0);
    }
  }

  // The command line for `args` against the simulated device.
  std::string command(const std::string& args) const {
    return std::string(ORVANA_CLI) + " --device 127.0.0.1:" + std::to_string(sim->port()) +
           " --host-port " + std::to_string(hostPort) + " " + args;
  }
  std::string run(const std::string& args, int& rc, const char* stderrTo = "/dev/null") {
    const auto r = test::runCommand(command(args) + " 2>" + stderrTo);
    rc = r.exitCode;
    return r.out;
  }

  // The device as a program drives it, for what the tests put on a chip beforehand; gone again
  // before the command line takes the same reply port.
  template <class Work>
  void onDevice(Work&& work) {
    ResetTimingTable();
    SilentOperator op;
    StoreStack stack("127.0.0.1", sim->port(), op, hostPort);
    work(stack.store);
  }

  test::TempHome home;
  test::HostSocket hostSocket;  // the links of the test and of its commands receive on it
  std::uint16_t hostPort = hostSocket.port();
  std::unique_ptr<devsim::DeviceSimulator> sim;
};

TEST_F(CliStoreTest, ListReadSelectMapDeleteFormat) {
  int rc = -1;
  std::string out = run("list --chip 0 --json", rc);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(out,
            "[{\"number\":5,\"frames\":1,\"source_frames\":6,\"kind\":0,\"has_audio\":true,"
            "\"comment\":\"say \\\"hi\\\"\",\"start_page\":768}]\n");
  out = run("list --channel clip1", rc);
  EXPECT_EQ(rc, 0);
  EXPECT_NE(out.find("99% (8184 frames free)"), std::string::npos) << out;

  const auto file = home.path() / "five.clip";
  run("read --chip 1 --number 5 -o " + file.string(), rc);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(std::filesystem::file_size(file), 598088u);
  run("read --chip 1 --number 6", rc);
  EXPECT_NE(rc, 0);
  EXPECT_FALSE(std::filesystem::exists(ClipStore::ClipFilePath(5, 1)));

  run("select --chip 0 --number 5", rc);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(sim->reg(800), 4);
  EXPECT_EQ(sim->reg(801), 0);

  const auto png = home.path() / "map.png";
  run("map --chip 0 -o " + png.string(), rc);
  ASSERT_EQ(rc, 0);
  const QImage map(QString::fromStdString(png.string()));
  ASSERT_EQ(map.size(), QSize(1024, 128));
  EXPECT_EQ(map.pixel(12 * 4 + 1, 1), qRgb(255, 0, 0));

  run("delete --channel clip1 --number 5", rc);  // no --yes: the question is answered No
  EXPECT_NE(rc, 0);
  run("--yes delete --channel clip1 --number 5", rc);
  EXPECT_EQ(rc, 0);
  for (const char* chip : {"0", "1"})
    EXPECT_EQ(run(std::string("list --json --chip ") + chip, rc), "[]\n");

  run("--yes format --channel clip1 --quick", rc);
  EXPECT_EQ(rc, 0);
  out = run("list --chip 1", rc);
  EXPECT_NE(out.find("99% (8186 frames free)"), std::string::npos) << out;
}

TEST_F(CliStoreTest, BackupAndRestoreBringADeletedClipBackAndRefuseForeignFiles) {
  auto systemArea = [this](int chip) {
    std::vector<std::vector<std::uint8_t>> rows;
    for (std::uint32_t row = 0; row < kSystemCells * kPagesPerCell; ++row) {
      rows.emplace_back(kPageSize);
      EXPECT_TRUE(sim->readPage(chip, row, rows.back().data()));
    }
    return rows;
  };
  const auto before0 = systemArea(0);
  const auto before1 = systemArea(1);
  const std::string file = (home.path() / "clip1.bak").string();
  int rc = -1;
  run("backup --channel clip1 -o " + file, rc);
  ASSERT_EQ(rc, 0);
  run("--yes delete --channel clip1 --number 5", rc);
  ASSERT_EQ(rc, 0);
  EXPECT_NE(systemArea(0), before0);

  // Without a Yes nothing is replaced; another channel's file and a damaged one are refused.
  run("restore --channel clip1 " + file, rc);
  EXPECT_NE(rc, 0);
  run("--yes restore --channel clip2 " + file, rc);
  EXPECT_NE(rc, 0);
  const std::string damaged = (home.path() / "damaged.bak").string();
  std::filesystem::copy_file(file, damaged);
  std::filesystem::resize_file(damaged, std::filesystem::file_size(damaged) - 1);
  run("--yes restore --channel clip1 " + damaged, rc);
  EXPECT_NE(rc, 0);
  EXPECT_NE(systemArea(0), before0);

  run("--yes restore --channel clip1 " + file, rc);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(systemArea(0), before0);
  EXPECT_EQ(systemArea(1), before1);
  const std::string out = run("list --chip 1", rc);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(out.rfind("  5", 0), 0u) << out;
}

// A damaged record claiming 65,535 frames used to be read round its one-frame chain for as long as
// the disk lasted. It is no clip now: not listed, and read refuses at once without a file.
TEST_F(CliStoreTest, ARecordClaimingMoreFramesThanAChipHoldsIsNoClip) {
  onDevice([](ClipStore& store) {
    store.SelectChip(0);
    store.ClipDirectory[4].FrameCount = 0xFFFF;
    ASSERT_TRUE(store.SaveDirectory());
  });
  int rc = -1;
  EXPECT_EQ(run("list --json --chip 0", rc), "[]\n");
  EXPECT_EQ(rc, 0);
  const auto file = home.path() / "huge.clip";
  // A regression would write about 600 kB per frame until the disk is full: the time-out stops it,
  // and its exit code (124) fails the test.
  const auto r = test::runCommand(
      "timeout 60 " + command("read --chip 0 --number 5 -o " + file.string()) + " 2>&1");
  EXPECT_EQ(r.exitCode, 1) << r.out;
  EXPECT_NE(r.out.find("Clip 5 is not on chip 0."), std::string::npos) << r.out;
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_FALSE(std::filesystem::exists(file.string() + ".part"));
  // The other chip's record is intact and still reads.
  run("read --chip 1 --number 5 -o " + file.string(), rc);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(std::filesystem::file_size(file), 598088u);
}

// Ctrl-C (or SIGTERM, SIGHUP) while a clip is read back: the read stops between two pages, the
// partial file goes, control of the device is given back and the exit code names the signal.
// The device answers slowly from the moment the partial file exists, so the read cannot finish
// first; the signal goes out on the first datagram after that.
TEST_F(CliStoreTest, AStopSignalDuringReadStopsCleanlyAndGivesTheDeviceBack) {
  onDevice([](ClipStore& store) {
    store.SelectChip(0);
    ASSERT_EQ(test::writeClip(store, 6, 0, 10, true), 0);
  });
  ASSERT_EQ(sim->reg(0), 0);
  const auto file = home.path() / "seven.clip";
  const auto part = file.string() + ".part";
  const auto pidFile = home.path() / "cli.pid";
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(sig);
    std::atomic<int> signalled{0};
    sim->setDatagramHook([&](std::uint64_t, const std::uint8_t*, std::size_t) {
      if (signalled == 0) {
        if (!std::filesystem::exists(part)) return;
        int pid = 0;
        std::ifstream(pidFile) >> pid;
        signalled = pid > 0 && ::kill(pid, sig) == 0 ? 1 : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    });
    // The shell's own process becomes the command line, so its number is the one to signal.
    const auto r =
        test::runCommand("echo $$ > " + pidFile.string() + "; exec " +
                         command("read --chip 0 --number 7 -o " + file.string()) + " 2>&1");
    sim->setDatagramHook(nullptr);
    ASSERT_EQ(signalled, 1) << r.out;
    EXPECT_EQ(r.exitCode, 128 + sig) << r.out;
    EXPECT_NE(r.out.find("Process canceled."), std::string::npos) << r.out;
    EXPECT_FALSE(std::filesystem::exists(part));
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_EQ(sim->reg(0), 0) << "device control given back";
  }

  // The next run, with no --yes and nobody to answer, is not asked to take the device over.
  int rc = -1;
  const std::string out = run("list --chip 0", rc, "&1");
  EXPECT_EQ(rc, 0) << out;
  EXPECT_EQ(out.find("Take the device control?"), std::string::npos) << out;
  EXPECT_NE(out.find("  7     10 frames"), std::string::npos) << out;
}

}  // namespace
}  // namespace orvana
