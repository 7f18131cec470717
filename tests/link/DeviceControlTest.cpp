#include <algorithm>

#include "LinkFixture.h"

namespace orvana::test {
namespace {

using DeviceControlTest = LinkFixture;

constexpr char kQuestion[] = "Device is managed by another program. Take the device control?";

bool isRegisterZeroWrite(const Bytes& b) {
  return b.size() == 13 && b[0] == 0x82 && (b[1] & 0x80) && b[5] == 0 && b[6] == 0;
}

TEST_F(DeviceControlTest, StartUpTrafficByteForByte) {
  peer->withModel([](DeviceModel& m) {
    m.registers[2] = 0x5A;
    m.registers[1439] = 0xC3;
  });
  ITF_ZT& l = makeLink();
  auto got = peer->received();
  const std::vector<Bytes> expected = {
      hexBytes("80 81 0E 00 00 00 00 00 FE 01 00 00 01 00"),  // board 1, kind 0 ("CPU")
      hexBytes("82 82 0C 00 01 02 00 00 FE 01 00 00"),        // register 2: address
      hexBytes("82 03 11 00"),                                // register 2: request
      hexBytes("82 84 0C 00 01 00 00 00 FE 01 00 00"),        // register 0: address
      hexBytes("82 05 11 00"),                                // register 0: request
      hexBytes("82 86 0C 00 01 00 00 00 FE 01 00 00"),        // image: address
      hexBytes("82 07 B0 05"),                                // image: R = 1456
      hexBytes("82 88 0D 00 01 00 00 00 FE 01 00 00 01"),     // take control
  };
  EXPECT_EQ(got, expected);
  EXPECT_EQ(l.BoardNumber, 1);
  EXPECT_EQ(l.BoardKind, 0);
  EXPECT_STREQ(l.BoardTable[6].name, "CPU");
  EXPECT_STREQ(l.BoardTable[13].name, "Unknown");
  EXPECT_EQ(l.OwnerFlag, 1);
  EXPECT_TRUE(op.questions.empty());
  EXPECT_TRUE(l.IsConnected());
  EXPECT_EQ(l.mem().image()[2], 0x5A);
  EXPECT_EQ(l.mem().image()[1439], 0xC3);
  EXPECT_EQ(l.mem().image()[0], 1);

  peer->clear();
  link.reset();
  EXPECT_EQ(peer->received(),
            std::vector<Bytes>{hexBytes("82 89 0D 00 01 00 00 00 FE 01 00 00 00")});
  peer->withModel([](DeviceModel& m) { EXPECT_EQ(m.registers[0], 0); });
}

TEST_F(DeviceControlTest, TakeoverQuestion) {
  struct Case {
    const char* name;
    std::uint8_t registerZero;
    bool answer;
    bool asked;
    std::uint8_t ownerFlag;
    bool terminate;
    int takeWrites;          // writes to register 0 during start-up
    std::uint8_t afterExit;  // register 0 on the device after the link is gone
  };
  const Case cases[] = {
      {"free device taken without asking", 0, false, false, 1, false, 1, 0},
      {"held device, operator says Yes", 1, true, true, 1, false, 0, 0},
      {"held device with another mark, Yes", 0x37, true, true, 0x37, false, 0, 0},
      {"held device, operator says No", 1, false, true, 0, true, 0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ResetTimingTable();
    op = ScriptedOperator{};
    op.confirmAnswers = {c.answer};
    peer = std::make_unique<ScriptedPeer>(hostPort);
    peer->withModel([&](DeviceModel& m) { m.registers[0] = c.registerZero; });
    ITF_ZT& l = makeLink();
    EXPECT_EQ(op.questions.size(), c.asked ? 1u : 0u);
    if (c.asked) {
      EXPECT_EQ(op.questions[0], kQuestion);
    }
    EXPECT_EQ(l.OwnerFlag, c.ownerFlag);
    EXPECT_EQ(op.terminateRequested, c.terminate);
    auto got = peer->received();
    EXPECT_EQ(std::count_if(got.begin(), got.end(), isRegisterZeroWrite), c.takeWrites);
    link.reset();
    peer->withModel([&](DeviceModel& m) { EXPECT_EQ(m.registers[0], c.afterExit); });
  }
}

TEST_F(DeviceControlTest, SilentDeviceAtStartUp) {
  peer->setHandler([](const Bytes&, DeviceModel&) { return std::vector<Bytes>{}; });
  ITF_ZT& l = makeLink();
  EXPECT_EQ(l.LastFailed, 1);
  EXPECT_EQ(l.OwnerFlag, 0);
  EXPECT_EQ(l.WriteFailures, 1);
  EXPECT_TRUE(op.questions.empty());
  auto got = peer->received();
  ASSERT_FALSE(got.empty());
  for (const auto& b : got) EXPECT_TRUE(b[0] == 0x80 || b[0] == 0xFF);  // only the announcement
  peer->clear();
  link.reset();
  EXPECT_TRUE(peer->received().empty());  // nothing to give back
}

TEST_F(DeviceControlTest, SelectClipTraffic) {
  struct Case {
    int chip;
    int clip;
    std::vector<Bytes> expected;  // without the sequence byte (index 1)
  };
  const Case cases[] = {
      {0,
       0,
       {hexBytes("82 00 0E 00 01 20 03 00 FE 01 00 00 00 01"),
        hexBytes("82 00 0E 00 01 20 03 00 FE 01 00 00 00 00")}},
      {2,
       42,
       {hexBytes("82 00 0E 00 01 24 03 00 FE 01 00 00 2A 01"),
        hexBytes("82 00 0E 00 01 24 03 00 FE 01 00 00 2A 00")}},
      {4,
       7,
       {hexBytes("82 00 0E 00 01 28 03 00 FE 01 00 00 07 01"),
        hexBytes("82 00 0E 00 01 28 03 00 FE 01 00 00 07 00")}},
      {8,
       99,
       {hexBytes("82 00 0E 00 01 30 03 00 FE 01 00 00 63 01"),
        hexBytes("82 00 0E 00 01 30 03 00 FE 01 00 00 63 00")}},
      {10,
       1,
       {hexBytes("82 00 0E 00 01 38 03 00 FE 01 00 00 01 01"),
        hexBytes("82 00 0E 00 01 38 03 00 FE 01 00 00 01 00")}},
      {1, 5, {}},
      {6, 5, {}},
      {11, 5, {}},
  };
  ITF_ZT& l = makeLink();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.chip);
    peer->clear();
    EXPECT_TRUE(SelectClip(c.chip, c.clip));
    auto got = peer->received();
    ASSERT_EQ(got.size(), c.expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i][1] & 0x80, 0x80);
      got[i][1] = 0;
      EXPECT_EQ(got[i], c.expected[i]);
    }
    if (!c.expected.empty()) {
      const auto offset = static_cast<std::size_t>(ClipSelectOffset(c.chip));
      EXPECT_EQ(l.mem().image()[offset], c.clip);
      EXPECT_EQ(l.mem().image()[offset + 1], 0);
    }
  }
}

TEST_F(DeviceControlTest, FailedSelectClipLeavesTheStrobeSet) {
  ITF_ZT& l = makeLink();
  peer->setHandler([](const Bytes&, DeviceModel&) { return std::vector<Bytes>{}; });
  peer->clear();
  const auto failuresBefore = l.WriteFailures;
  EXPECT_FALSE(SelectClip(0, 3));
  EXPECT_EQ(l.mem().image()[800], 3);
  EXPECT_EQ(l.mem().image()[801], 1);
  EXPECT_EQ(l.WriteFailures - failuresBefore, 1);
  auto got = peer->received();
  EXPECT_EQ(std::count_if(got.begin(), got.end(), isWrite), 1);
}

}  // namespace
}  // namespace orvana::test
