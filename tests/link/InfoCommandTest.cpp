// `orvana-cli info` run as a program against the simulated device on loopback.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <memory>
#include <string>

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
    hostPort = test::freeUdpPort();
    devsim::DeviceSimulatorOptions o;
    o.replyPort = hostPort;
    sim = std::make_unique<devsim::DeviceSimulator>(o);
    ASSERT_TRUE(sim->start()) << sim->error();
  }
  test::TempHome home;
  std::uint16_t hostPort = 0;
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

}  // namespace
}  // namespace orvana
