// `orvana-cli info` run as a program against the simulated device on loopback.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "common/DeviceEndpoint.h"
#include "devsim/DeviceSimulator.h"
#include "support/RunCommand.h"
#include "support/TempHome.h"

namespace orvana {
namespace {

test::CommandResult runInfo(std::uint16_t devicePort, std::uint16_t hostPort,
                            const std::string& extra) {
  return test::runCommand(std::string(ORVANA_CLI_PATH) +
                          " --device 127.0.0.1:" + std::to_string(devicePort) + " --host-port " +
                          std::to_string(hostPort) + " info " + extra + " 2>&1");
}

class InfoCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    devsim::DeviceSimulatorOptions o;
    o.replyPort = hostPort;
    sim = std::make_unique<devsim::DeviceSimulator>(o);
    ASSERT_TRUE(sim->start()) << sim->error();
  }
  test::TempHome home;
  test::HostSocket hostSocket;  // inherited by the command, which receives on it
  std::uint16_t hostPort = hostSocket.port();
  std::unique_ptr<devsim::DeviceSimulator> sim;
};

TEST_F(InfoCommandTest, ConnectedDeviceIsTakenAndGivenBack) {
  sim->setRegister(816, 9);
  const test::CommandResult r = runInfo(sim->port(), hostPort, "");
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(r.out.find("connected:     yes"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("control:       taken"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("chip 8: clip 9"), std::string::npos) << r.out;
  EXPECT_EQ(sim->reg(0), 0);  // released at exit
}

TEST_F(InfoCommandTest, HeldDeviceWithoutTerminalIsNotTakenOver) {
  sim->setRegister(0, 1);
  const test::CommandResult r = runInfo(sim->port(), hostPort, "--json");
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(r.out.find("\"control\":\"declined: held by another program\""), std::string::npos)
      << r.out;
  EXPECT_EQ(sim->reg(0), 1);
}

TEST_F(InfoCommandTest, SilentDeviceExitsNonZero) {
  sim->setSilent(true);
  const test::CommandResult r = runInfo(sim->port(), hostPort, "");
  EXPECT_EQ(r.exitCode, 1) << r.out;
  EXPECT_NE(r.out.find("connected:     no"), std::string::npos) << r.out;
}

// itf_ip.ini replaced by something endless: the command ends at once, says which file and why,
// and does not turn to the built-in address. It runs in a network namespace of its own (where
// the system allows one), so not even a regression could send a datagram off this machine; the
// memory limit and the time-out make a regression fail instead of filling the machine.
TEST(InfoCommandSettingsTest, AnEndlessAddressFileIsToldAndNothingIsSent) {
  if (test::runCommand("unshare -n true 2>/dev/null").exitCode != 0)
    GTEST_SKIP() << "no network namespace can be made here";
  struct Case {
    const char* name;
    std::function<void(const std::filesystem::path&)> make;
    const char* reason;
  };
  const Case cases[] = {
      {"link to /dev/zero",
       [](const std::filesystem::path& p) { std::filesystem::create_symlink("/dev/zero", p); },
       "it is a device, not a regular file"},
      {"FIFO", [](const std::filesystem::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); },
       "it is a FIFO, not a regular file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempHome home;
    const auto file = home.path() / "itf_ip.ini";
    c.make(file);
    // Alone in its namespace, the program can have its usual reply port.
    const test::CommandResult r = test::runCommand(
        test::memoryCap(2000000) + "unshare -n env -u ORVANA_DEVICE " +
        "-u ORVANA_HOST_PORT -u ORVANA_HOST_SOCKETS timeout 60 " + ORVANA_CLI_PATH + " info 2>&1");
    EXPECT_EQ(r.exitCode, 1) << r.out;  // a hang ends in the time-out's 124
    EXPECT_NE(r.out.find(file.string() + " cannot be read: " + c.reason), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("nothing is sent"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find(kDefaultDeviceAddress), std::string::npos) << r.out;
  }
}

}  // namespace
}  // namespace orvana
