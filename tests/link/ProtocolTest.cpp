#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>

#include <thread>

#include "LinkFixture.h"
#include "link/TUDPSocket.h"

namespace orvana::test {
namespace {

using LinkProtocolTest = LinkFixture;

int countIf(const std::vector<Bytes>& v, bool (*pred)(const Bytes&)) {
  return static_cast<int>(std::count_if(v.begin(), v.end(), pred));
}

TEST_F(LinkProtocolTest, ConstructionHalvesTheTimingTableAndRegistersTheLink) {
  ITF_ZT& l = makeLink();
  const auto& t = TimingTable();
  EXPECT_EQ(t.ReceiveWait, 150u);
  EXPECT_EQ(t.PollWindow, 500u);
  EXPECT_EQ(t.WriteAttempts, 2);
  EXPECT_EQ(t.ReadWindow, 500u);
  EXPECT_EQ(t.link, &l);
  EXPECT_TRUE(l.IsConnected());
  link.reset();
  EXPECT_EQ(TimingTable().link, nullptr);
  // A second link in the same process works with the same values.
  makeLink();
  EXPECT_EQ(t.ReceiveWait, 150u);
  EXPECT_EQ(t.WriteAttempts, 2);
  EXPECT_EQ(t.ReadWindow, 500u);
}

// Every write and read advances the 4-bit counter (wrapping 15 -> 0); polls do not.
TEST_F(LinkProtocolTest, SequenceNumbersWrapAndReadsShareTheCounter) {
  ITF_ZT& l = makeLink();
  ASSERT_EQ(l.Sequence, 8);  // the eight start-up exchanges used 1..8
  peer->clear();
  const std::uint8_t payload[4] = {1, 2, 3, 4};
  struct Step {
    bool read;
    std::uint8_t expectedByte1;
  };
  const Step steps[] = {{false, 0x89}, {false, 0x8A}, {true, 0x0B},  {false, 0x8C}, {false, 0x8D},
                        {true, 0x0E},  {false, 0x8F}, {false, 0x80}, {true, 0x01},  {false, 0x82}};
  for (const auto& s : steps) {
    peer->clear();
    std::uint8_t dest[4];
    const bool ok = s.read ? l.ReadCommand(130, dest, 4) : l.WriteCommand(135, nullptr, payload, 4);
    ASSERT_TRUE(ok);
    auto got = peer->received();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0][1], s.expectedByte1);
  }
  EXPECT_EQ(l.Poll(), 1);
  EXPECT_EQ(l.Sequence, 2);
}

TEST_F(LinkProtocolTest, ReadOfNothingIsRefusedWithoutTraffic) {
  ITF_ZT& l = makeLink();
  peer->clear();
  const auto seq = l.Sequence;
  std::uint8_t dest[1500];
  EXPECT_FALSE(l.ReadCommand(130, dest, 0));
  EXPECT_FALSE(l.ReadCommand(130, nullptr, 4));
  // A reply that could not fit the packet buffer is refused the same way.
  EXPECT_FALSE(l.ReadCommand(130, dest, 1500 - 16 + 1));
  EXPECT_EQ(l.Sequence, seq);
  EXPECT_EQ(l.ReadFailures, 0);
  EXPECT_EQ(l.LastFailed, 0);
  EXPECT_TRUE(peer->received().empty());
}

TEST_F(LinkProtocolTest, WritePacketCarriesTheBoardBytesWhateverTheBlock) {
  ITF_ZT& l = makeLink();
  peer->clear();
  const ParameterBlock block = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
  std::vector<std::uint8_t> payload(1024);
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i * 7);
  ASSERT_TRUE(l.WriteCommand(136, &block, payload.data(), 1024));
  auto got = peer->received();
  ASSERT_EQ(got.size(), 1u);
  Bytes expected = hexBytes("88 89 0C 04 11 22 33 44 FE 01 77 88");
  expected.insert(expected.end(), payload.begin(), payload.end());
  EXPECT_EQ(got[0], expected);
}

// Scenarios around a missing acknowledgement. The handler sees each request and the model; it
// decides what the device sends back.
TEST_F(LinkProtocolTest, MissingAcknowledgementIsResolvedByThePoll) {
  struct Case {
    const char* name;
    // Reply to the write under test (attempt = 0, 1) and to polls (with the model's sequence).
    std::function<std::vector<Bytes>(const Bytes&, DeviceModel&, int& writes)> handler;
    bool result;
    int writesSent;
    int pollConfirms;
    int writeFailures;
  };
  const Case cases[] = {
      {"ack lost, poll shows the current sequence",
       [](const Bytes& q, DeviceModel& m, int& writes) -> std::vector<Bytes> {
         if (isWrite(q)) {
           ++writes;
           m.answer(q);
           return {};
         }
         return m.answer(q);
       },
       true, 1, 1, 0},
      {"ack of wrong length",
       [](const Bytes& q, DeviceModel& m, int& writes) -> std::vector<Bytes> {
         if (isWrite(q)) {
           ++writes;
           m.answer(q);
           return {Bytes{q[0], q[1], 0, 0, 0}};
         }
         return m.answer(q);
       },
       true, 1, 1, 0},
      {"ack with another code",
       [](const Bytes& q, DeviceModel& m, int& writes) -> std::vector<Bytes> {
         if (isWrite(q)) {
           ++writes;
           m.answer(q);
           return {Bytes{0x82, q[1], 4, 0}};
         }
         return m.answer(q);
       },
       true, 1, 1, 0},
      {"first packet lost, resend acknowledged",
       [](const Bytes& q, DeviceModel& m, int& writes) -> std::vector<Bytes> {
         if (isWrite(q)) {
           if (++writes == 1) return {};
           return m.answer(q);
         }
         return m.answer(q);
       },
       true, 2, 0, 0},
      {"device never takes the packet",
       [](const Bytes& q, DeviceModel& m, int& writes) -> std::vector<Bytes> {
         if (isWrite(q)) {
           ++writes;
           return {};
         }
         return m.answer(q);
       },
       false, 2, 0, 1},
      {"poll answered only by 4-byte datagrams",
       [](const Bytes& q, DeviceModel&, int& writes) -> std::vector<Bytes> {
         if (isWrite(q)) {
           ++writes;
           return {};
         }
         return {Bytes{0xFF, 0, 0, 0}};
       },
       false, 1, 0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ResetTimingTable();
    peer = std::make_unique<ScriptedPeer>(hostPort);
    peer->withModel([](DeviceModel& m) { m.lastSequence = 0; });
    ITF_ZT& l = makeLink();
    ASSERT_TRUE(l.IsConnected());
    auto writes = std::make_shared<int>(0);
    auto h = c.handler;
    peer->setHandler([h, writes](const Bytes& q, DeviceModel& m) { return h(q, m, *writes); });
    peer->clear();
    // Counted from here: a start-up write held up on a busy machine is confirmed by a poll too.
    const auto confirmsBefore = l.PollConfirms;
    const auto failuresBefore = l.WriteFailures;
    const std::uint8_t payload[4] = {0xA0, 0, 0, 0};
    EXPECT_EQ(l.WriteCommand(135, nullptr, payload, 4), c.result);
    auto got = peer->received();
    std::vector<Bytes> sent;
    std::copy_if(got.begin(), got.end(), std::back_inserter(sent), isWrite);
    ASSERT_EQ(static_cast<int>(sent.size()), c.writesSent);
    for (const auto& s : sent) EXPECT_EQ(s, sent[0]) << "a resend keeps the sequence";
    EXPECT_EQ(l.PollConfirms - confirmsBefore, c.pollConfirms);
    EXPECT_EQ(l.WriteFailures - failuresBefore, c.writeFailures);
    EXPECT_EQ(l.LastFailed, c.result ? 0 : 1);
    link.reset();
  }
}

TEST_F(LinkProtocolTest, AcknowledgementFromAnotherAddressIsNotTaken) {
  ITF_ZT& l = makeLink();
  // A stranger on 127.0.0.2 acknowledges every write before the device's poll reply.
  int stranger = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in from{};
  from.sin_family = AF_INET;
  ::inet_pton(AF_INET, "127.0.0.2", &from.sin_addr);
  ASSERT_EQ(::bind(stranger, reinterpret_cast<sockaddr*>(&from), sizeof from), 0);
  const std::uint16_t port = hostPort;
  peer->setHandler([stranger, port](const Bytes& q, DeviceModel& m) -> std::vector<Bytes> {
    if (isWrite(q)) {
      m.answer(q);
      sockaddr_in to{};
      to.sin_family = AF_INET;
      to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      to.sin_port = htons(port);
      const std::uint8_t ack[4] = {q[0], q[1], 4, 0};
      ::sendto(stranger, ack, 4, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
      return {};
    }
    return m.answer(q);
  });
  const std::uint8_t payload[4] = {};
  const auto confirmsBefore = l.PollConfirms;  // start-up writes may have needed polls too
  EXPECT_TRUE(l.WriteCommand(135, nullptr, payload, 4));
  EXPECT_EQ(l.PollConfirms - confirmsBefore, 1);  // only the device's poll reply confirmed it
  ::close(stranger);
}

// A reply queued before a command starts belongs to an earlier one; it must not stand in for
// the answer to this one.
TEST_F(LinkProtocolTest, StaleRepliesAreNotTakenForNewOnes) {
  ITF_ZT& l = makeLink();
  auto count = std::make_shared<int>(0);
  peer->setHandler([count](const Bytes& q, DeviceModel& m) -> std::vector<Bytes> {
    ++*count;
    if (isWrite(q) && q[0] == 135) {
      // First write: acknowledged twice. Second write: never arrives at the device.
      if (q[12] == 1) {
        auto r = m.answer(q);
        return {r[0], r[0]};
      }
      return {};
    }
    if (q.size() == 4 && q[0] == 136) {
      // Reads: the first is answered twice with 0xAA; the second's first request is lost.
      Bytes reply(static_cast<std::size_t>(q[2] | (q[3] << 8)), 0);
      reply[0] = 136;
      if (*count < 100) {
        *count = 100;
        reply[19] = 0xAA;
        return {reply, reply};
      }
      if (*count == 101) return {};
      reply[19] = 0xBB;
      return {reply};
    }
    return m.answer(q);
  });
  const std::uint8_t first[4] = {1, 0, 0, 0};
  const std::uint8_t second[4] = {2, 0, 0, 0};
  const auto failuresBefore = l.WriteFailures;
  EXPECT_TRUE(l.WriteCommand(135, nullptr, first, 4));
  // The link's socket is a copy of hostSocket: the duplicate shows there once it is queued.
  ASSERT_TRUE(hostSocket.waitReadable(5000));
  EXPECT_FALSE(l.WriteCommand(135, nullptr, second, 4));
  EXPECT_EQ(l.WriteFailures - failuresBefore, 1);

  std::uint8_t value = 0;
  EXPECT_TRUE(l.ReadCommand(136, &value, 1));
  EXPECT_EQ(value, 0xAA);
  ASSERT_TRUE(hostSocket.waitReadable(5000));
  EXPECT_TRUE(l.ReadCommand(136, &value, 1));
  EXPECT_EQ(value, 0xBB);
}

TEST_F(LinkProtocolTest, SilentDeviceFailsInBoundedTimeWithoutResend) {
  ITF_ZT& l = makeLink();
  peer->setHandler([](const Bytes&, DeviceModel&) { return std::vector<Bytes>{}; });
  struct Case {
    const char* name;
    bool read;
    double minSeconds, maxSeconds;
  };
  // The windows are counted on the millisecond tick, so they may close up to a tick early.
  const Case cases[] = {{"write", false, 0.598, 1.3}, {"read", true, 0.498, 1.1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    peer->clear();
    const auto failuresBefore = l.WriteFailures + l.ReadFailures;
    const auto t0 = Clock::now();
    std::uint8_t dest[4];
    const std::uint8_t payload[4] = {};
    const bool ok = c.read ? l.ReadCommand(130, dest, 4) : l.WriteCommand(135, nullptr, payload, 4);
    const double s = secondsSince(t0);
    EXPECT_FALSE(ok);
    EXPECT_GT(s, c.minSeconds);
    EXPECT_LT(s, c.maxSeconds);
    EXPECT_EQ(l.WriteFailures + l.ReadFailures, failuresBefore + 1);
    EXPECT_EQ(l.LastFailed, 1);
    auto got = peer->received();
    // About four passes of 150 ms + 10 ms fit the 500 ms window; a busy machine may stretch the
    // pause enough to leave room for only three.
    const int passes = c.read ? static_cast<int>(got.size()) : countIf(got, isPoll);
    EXPECT_GE(passes, 3);
    EXPECT_LE(passes, 4);
    EXPECT_EQ(countIf(got, isWrite), c.read ? 0 : 1);
  }
}

// A reply one byte off, or with another code, is ignored and the request repeated.
TEST_F(LinkProtocolTest, ReadRepliesOfTheWrongShapeAreIgnored) {
  struct Case {
    const char* name;
    int lengthDelta;
    std::uint8_t code;
  };
  const Case cases[] = {{"one byte short", -1, 136},
                        {"one byte long", +1, 136},
                        {"other code", 0, 130},
                        {"just the header", -1027, 136}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ResetTimingTable();
    peer = std::make_unique<ScriptedPeer>(hostPort);
    ITF_ZT& l = makeLink();
    auto first = std::make_shared<bool>(true);
    peer->setHandler([c, first](const Bytes& q, DeviceModel& m) -> std::vector<Bytes> {
      if (q.size() == 4 && q[0] == 136) {
        const int r = q[2] | (q[3] << 8);
        Bytes reply(static_cast<std::size_t>(r), 0);
        reply[0] = 136;
        for (int i = 19; i < r; ++i)
          reply[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
        if (*first) {
          *first = false;
          reply.resize(static_cast<std::size_t>(r + c.lengthDelta), 0x11);
          reply[0] = c.code;
        }
        return {reply};
      }
      return m.answer(q);
    });
    peer->clear();
    std::vector<std::uint8_t> dest(1024, 0);
    EXPECT_TRUE(l.ReadCommand(136, dest.data(), 1024));
    auto got = peer->received();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], hexBytes("88 09 13 04"));  // R = 1024 + 7 + 12 = 1043
    EXPECT_EQ(got[1], got[0]);
    EXPECT_EQ(dest[0], 19);
    EXPECT_EQ(dest[1023], static_cast<std::uint8_t>(19 + 1023));
    EXPECT_EQ(l.ReadFailures, 0);
    link.reset();
  }
}

// A dead link fails every command at once, counts it, and sends nothing.
TEST_F(LinkProtocolTest, DeadLinkCountsFailuresWithoutTraffic) {
  struct Case {
    const char* name;
    bool holdHostPort;
    const char* address;
    bool bindMessage;
  };
  const Case cases[] = {{"host port taken", true, "127.0.0.1", true},
                        {"address not dotted IPv4", false, "127.0.0.x", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ResetTimingTable();
    op = ScriptedOperator{};
    // Another program's socket on the port the link is told to use.
    LoopbackSocket taken;
    peer->clear();
    const auto t0 = Clock::now();
    ITF_ZT& l = makeLink(c.address, c.holdHostPort ? taken.port() : hostPort);
    EXPECT_EQ(l.LinkDead, 1);
    EXPECT_EQ(l.LastFailed, 1);
    EXPECT_EQ(l.WriteFailures, 1);  // the board announcement
    EXPECT_EQ(l.OwnerFlag, 0);
    EXPECT_TRUE(op.questions.empty());
    EXPECT_EQ(op.messages.size(), c.bindMessage ? 1u : 0u);
    const std::uint8_t payload[2] = {};
    std::uint8_t dest[4];
    EXPECT_FALSE(l.WriteCommand(135, nullptr, payload, 2));
    EXPECT_FALSE(l.ReadCommand(130, dest, 4));
    EXPECT_EQ(l.WriteFailures, 2);
    EXPECT_EQ(l.ReadFailures, 1);
    EXPECT_EQ(l.Poll(), 0);
    EXPECT_LT(secondsSince(t0), 0.9);  // no waiting on the network
    link.reset();
    EXPECT_TRUE(peer->received().empty());
  }
}

}  // namespace
}  // namespace orvana::test
