// The link against the simulated device: the same traffic a real device would see, and the
// recovery paths under the simulator's injected faults.

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "common/ScriptedOperator.h"
#include "devsim/DeviceSimulator.h"
#include "link/ITF_ZT.h"
#include "link/TimingTable.h"
#include "link/ZT_MEM.h"
#include "support/TempHome.h"

namespace orvana {
namespace {

class DeviceSimulatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetTimingTable();
    devsim::DeviceSimulatorOptions o;
    o.replyPort = hostPort;
    sim = std::make_unique<devsim::DeviceSimulator>(o);
    ASSERT_TRUE(sim->start()) << sim->error();
  }
  ITF_ZT& makeLink() {
    link = std::make_unique<ITF_ZT>("127.0.0.1", sim->port(), op, hostPort);
    return *link;
  }

  // The last datagrams the device saw, for failure messages.
  std::string trafficTail() const {
    std::string out = "\nlast datagrams at the device:";
    const auto t = sim->traffic();
    for (std::size_t i = t.size() > 12 ? t.size() - 12 : 0; i < t.size(); ++i) {
      out += "\n ";
      for (std::size_t j = 0; j < t[i].size() && j < 14; ++j) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02X", t[i][j]);
        out += hex;
      }
    }
    const auto c = sim->counts();
    out += "\nreplies sent " + std::to_string(c.repliesSent) + ", dropped " +
           std::to_string(c.repliesDropped);
    return out;
  }

  test::TempHome home;
  ScriptedOperator op;
  test::HostSocket hostSocket;  // the link receives on it
  std::uint16_t hostPort = hostSocket.port();
  std::unique_ptr<devsim::DeviceSimulator> sim;
  std::unique_ptr<ITF_ZT> link;
};

TEST_F(DeviceSimulatorTest, TakesAndGivesBackControl) {
  sim->setRegister(2, 0x33);
  ITF_ZT& l = makeLink();
  EXPECT_TRUE(l.IsConnected());
  EXPECT_EQ(l.OwnerFlag, 1);
  EXPECT_TRUE(op.questions.empty());
  EXPECT_EQ(sim->reg(0), 1);
  EXPECT_EQ(sim->selectedBoard(), 1);
  EXPECT_EQ(l.mem().image()[2], 0x33);
  EXPECT_EQ(sim->counts().rejected, 0u);

  EXPECT_TRUE(SelectClip(2, 42));
  EXPECT_EQ(sim->reg(804), 42);
  EXPECT_EQ(sim->reg(805), 0);
  std::uint8_t value = 0;
  EXPECT_TRUE(l.mem().ReadRegister(25, 4, value));
  EXPECT_EQ(value, 42);

  link.reset();
  EXPECT_EQ(sim->reg(0), 0);
}

TEST_F(DeviceSimulatorTest, DecliningTheTakeoverLeavesTheOtherProgramsMark) {
  sim->setRegister(0, 1);
  op.confirmAnswers = {false};
  ITF_ZT& l = makeLink();
  EXPECT_EQ(op.questions.size(), 1u);
  EXPECT_TRUE(op.terminateRequested);
  EXPECT_EQ(l.OwnerFlag, 0);
  link.reset();
  EXPECT_EQ(sim->reg(0), 1);
}

// Lost, repeated and late replies are absorbed by the poll and the resend; no write runs twice
// and every read delivers the device's bytes. A command may still fail when its whole window
// passes without an answer (by design, and more likely on a loaded machine that starves the
// simulator's thread); the caller then repeats it, so a few failures are allowed but never a
// wrong value.
TEST_F(DeviceSimulatorTest, RecoversFromReplyFaults) {
  struct Case {
    const char* name;
    double drop, duplicate, delay;
  };
  const Case cases[] = {{"dropped replies", 0.1, 0, 0},
                        {"duplicated replies", 0, 0.3, 0},
                        {"replies late by 2 ms", 0, 0, 0.3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ResetTimingTable();
    ITF_ZT& l = makeLink();
    ASSERT_TRUE(l.IsConnected());
    devsim::FaultPlan plan;
    plan.seed = 7;
    plan.dropReplyShare = c.drop;
    plan.duplicateReplyShare = c.duplicate;
    plan.delayShare = c.delay;
    plan.delayMicros = 2000;
    sim->setFaults(plan);
    const auto failuresBefore = l.WriteFailures + l.ReadFailures;
    const auto confirmsBefore = l.PollConfirms;
    auto retried = [](auto command) {
      for (int attempt = 0; attempt < 3; ++attempt)
        if (command()) return true;
      return false;
    };
    for (int i = 0; i < 60; ++i) {
      const std::uint8_t v = static_cast<std::uint8_t>(i + 1);
      ASSERT_TRUE(retried([&] { return l.mem().WriteRegister(30, i % 32, v); }))
          << i << trafficTail();
      std::uint8_t back = 0;
      ASSERT_TRUE(retried([&] { return l.mem().ReadRegister(30, i % 32, back); }))
          << i << trafficTail();
      ASSERT_EQ(back, v) << i;
    }
    EXPECT_LE(l.WriteFailures + l.ReadFailures - failuresBefore, 2) << trafficTail();
    if (c.drop > 0) {
      EXPECT_GT(l.PollConfirms - confirmsBefore, 0);
    }
    sim->setFaults(devsim::FaultPlan{});
    link.reset();
    EXPECT_EQ(sim->reg(0), 0);
  }
}

TEST_F(DeviceSimulatorTest, SilentDeviceLeavesTheLinkUnconnected) {
  sim->setSilent(true);
  ITF_ZT& l = makeLink();
  EXPECT_FALSE(l.IsConnected());
  EXPECT_EQ(l.OwnerFlag, 0);
  EXPECT_EQ(l.WriteFailures, 1);
  sim->setSilent(false);
  // The device coming back is seen by the next command.
  EXPECT_TRUE(SelectClip(0, 5));
  EXPECT_TRUE(l.IsConnected());
  EXPECT_EQ(sim->reg(800), 5);
}

}  // namespace
}  // namespace orvana
