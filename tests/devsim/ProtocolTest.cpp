// The simulated device's wire behaviour, checked with raw datagrams on loopback.

#include <gtest/gtest.h>

#include "devsim/DeviceSimulator.h"
#include "devsim/WireHost.h"
#include "support/TempHome.h"

namespace orvana::devsim {
namespace {

using test::Bytes;
using test::pollPacket;
using test::readRequest;
using test::writePacket;

class ProtocolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DeviceSimulatorOptions options;
    options.replyPort = replyPort;
    sim = std::make_unique<DeviceSimulator>(options);
    ASSERT_TRUE(sim->start()) << sim->error();
    host = std::make_unique<test::WireHost>(sim->port(), replySocket);
    ASSERT_TRUE(host->client().ok());
  }
  test::RawUdpClient& client() { return host->client(); }

  test::LoopbackSocket replySocket;  // bound for the whole test
  std::uint16_t replyPort = replySocket.port();
  std::unique_ptr<DeviceSimulator> sim;
  std::unique_ptr<test::WireHost> host;
};

TEST_F(ProtocolTest, AcknowledgementPollAndReadShapes) {
  // Before any write the poll reports 0, which no host uses for its first write.
  auto poll = client().exchange(pollPacket());
  ASSERT_TRUE(poll);
  EXPECT_EQ(*poll, (Bytes{0xFF, 0x00, 0x05, 0x00, 0x00}));

  auto ack = client().exchange(writePacket(128, 1, {0x01, 0x00}));
  ASSERT_TRUE(ack);
  EXPECT_EQ(*ack, (Bytes{0x80, 0x81, 0x04, 0x00}));
  EXPECT_EQ(client().exchange(pollPacket())->at(4), 1);

  // The documented start-up exchange: set the read offset, then read one register byte.
  sim->setRegister(2, 0x5A);
  ack = client().exchange(writePacket(130, 2, {}, 1, 2));
  ASSERT_TRUE(ack);
  EXPECT_EQ(*ack, (Bytes{0x82, 0x82, 0x04, 0x00}));
  auto reply = client().exchange(readRequest(130, 3, 17));
  ASSERT_TRUE(reply);
  ASSERT_EQ(reply->size(), 17u);
  EXPECT_EQ((*reply)[0], 0x82);
  EXPECT_EQ((*reply)[16], 0x5A);
  // A read does not change the sequence the poll reports: only writes are remembered.
  EXPECT_EQ(client().exchange(pollPacket())->at(4), 2);

  // Sequence 15 and the wrap to 0 are reported as sent.
  client().exchange(writePacket(130, 15, {7}, 1, 100));
  EXPECT_EQ(client().exchange(pollPacket())->at(4), 15);
  client().exchange(writePacket(130, 0, {8}, 1, 101));
  EXPECT_EQ(client().exchange(pollPacket())->at(4), 0);
  EXPECT_EQ(client().pendingOnSendSocket(), 0) << "replies belong on the reply port only";
}

TEST_F(ProtocolTest, RegisterImageRoundTrip) {
  ASSERT_TRUE(host->write(130, {0x03, 0x01}, 1, 800));
  EXPECT_EQ(sim->reg(800), 0x03);
  EXPECT_EQ(sim->reg(801), 0x01);
  ASSERT_TRUE(host->write(130, {0x01}, 1, 0));
  sim->setRegister(1439, 0xC3);

  // The whole image in one 1456-byte reply.
  ASSERT_TRUE(host->write(130, {}, 1, 0));
  auto image = host->read(130, 1440, 16);
  ASSERT_TRUE(image);
  auto expected = sim->registers();
  EXPECT_TRUE(std::equal(image->begin(), image->end(), expected.begin()));
  EXPECT_EQ((*image)[0], 0x01);
  EXPECT_EQ((*image)[800], 0x03);
  EXPECT_EQ((*image)[1439], 0xC3);

  // The last byte alone.
  ASSERT_TRUE(host->write(130, {}, 1, 1439));
  auto last = host->read(130, 1, 16);
  ASSERT_TRUE(last);
  EXPECT_EQ((*last)[0], 0xC3);
}

TEST_F(ProtocolTest, MalformedPacketsAreNeitherExecutedNorAnswered) {
  ASSERT_TRUE(host->write(130, {0x11}, 1, 10));  // sequence 1 accepted
  Bytes badLength = writePacket(130, 2, {0x22}, 1, 10);
  badLength[2] = 14;
  Bytes badBoard = writePacket(130, 2, {0x22}, 1, 10);
  badBoard[9] = 2;
  badBoard[8] = 0xFD;
  Bytes missingComplement = writePacket(130, 2, {0x22}, 1, 10);
  missingComplement[8] = 0;
  Bytes highSequenceBits = writePacket(130, 2, {0x22}, 1, 10);
  highSequenceBits[1] = 0x92;
  Bytes eightCycles =
      test::cycleList(2, 0, {{1, 0}, {2, 0}, {2, 0}, {2, 0}, {2, 0}, {2, 0}, {1, 0x30}, {1, 0x70}});
  Bytes reservedControl = writePacket(135, 2, {1, 1, 1, 0});
  Bytes tooLong(1501, 0);
  auto shortRead = readRequest(136, 2, 1042);

  const struct {
    const char* name;
    Bytes packet;
  } cases[] = {
      {"length field disagrees", badLength},
      {"another board", badBoard},
      {"board complement missing", missingComplement},
      {"sequence above 15", highSequenceBits},
      {"unknown write code", writePacket(131, 2, {0x22}, 1, 10)},
      {"register write past the image", writePacket(130, 2, {1, 2}, 1, 1439)},
      {"register write with access kind 0", writePacket(130, 2, {0x22}, 0, 10)},
      {"read offset past the image", writePacket(130, 2, {}, 1, 1440)},
      {"board announcement of board 2", writePacket(128, 2, {0x02, 0x00})},
      {"board announcement too short", writePacket(128, 2, {0x01})},
      {"eight cycles", eightCycles},
      {"chip select 0", test::cycleList(2, -1, {})},
      {"chip select 13", test::cycleList(2, 12, {})},
      {"cycle kind 3", test::cycleList(2, 0, {{3, 0x70}})},
      {"control word reserved byte", reservedControl},
      {"control word flag bit 2", test::cycleList(2, 0, {}, 0x05)},
      {"odd cycle bytes", writePacket(135, 2, {1, 0, 1, 0, 1})},
      {"flash data of 1023 bytes", writePacket(136, 2, Bytes(1023, 0))},
      {"flash data with an offset", writePacket(136, 2, Bytes(1024, 0), 0, 4)},
      {"flash read of 1022 data bytes", shortRead},
      {"flash read of 2 bytes", readRequest(136, 2, 21)},
      {"register read past the image", readRequest(130, 2, 1457)},
      {"read of an unknown code", readRequest(129, 2, 17)},
      {"poll with a sequence", Bytes{0xFF, 0x01, 0x05, 0x00}},
      {"poll asking 6 bytes", Bytes{0xFF, 0x00, 0x06, 0x00}},
      {"three bytes", Bytes{0xFF, 0x00, 0x05}},
      {"oversized datagram", tooLong},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto before = sim->counts().rejected;
    // The server answers in order, so the poll's reply coming first proves no other reply.
    client().send(c.packet);
    auto next = client().exchange(pollPacket());
    ASSERT_TRUE(next);
    EXPECT_EQ(next->size(), 5u);
    EXPECT_EQ(sim->counts().rejected, before + 1);
  }
  EXPECT_EQ(sim->reg(10), 0x11);
  EXPECT_EQ(sim->flashControl(), (std::array<std::uint8_t, 4>{1, 0, 1, 0}));
  EXPECT_EQ(client().exchange(pollPacket())->at(4), 1) << "no rejected write was remembered";
}

TEST_F(ProtocolTest, RepeatedWriteIsAcknowledgedButNotExecutedTwice) {
  // A program whose fourth data piece arrives twice (as after a lost acknowledgement and a
  // resend): the page must still hold the pieces in order.
  const test::Page page = test::patternPage(7);
  ASSERT_TRUE(host->cycles(0, {{1, 0x80}, {2, 0}, {2, 0}, {2, 5}, {2, 0}, {2, 0}}));
  for (std::size_t piece = 0; piece < 8; ++piece) {
    const std::uint8_t seq = host->nextSequence();
    Bytes chunk(page.begin() + static_cast<long>(piece * 1024),
                page.begin() + static_cast<long>((piece + 1) * 1024));
    const Bytes packet = writePacket(136, seq, chunk);
    ASSERT_TRUE(client().exchange(packet));
    if (piece == 3) {
      auto again = client().exchange(packet);
      ASSERT_TRUE(again);
      EXPECT_EQ(*again, (Bytes{0x88, static_cast<std::uint8_t>(0x80 | seq), 4, 0}));
    }
  }
  ASSERT_TRUE(host->cycles(0, {{1, 0x10}}));
  EXPECT_EQ(host->status(0), 0xE0);
  EXPECT_EQ(sim->counts().duplicateWrites, 1u);
  test::Page stored{};
  ASSERT_TRUE(sim->readPage(0, 5, stored.data()));
  EXPECT_EQ(stored, page);

  // The same bytes after a read in between are a new command and run again.
  ASSERT_TRUE(client().exchange(writePacket(130, 9, {}, 1, 0)));
  ASSERT_TRUE(client().exchange(readRequest(130, 10, 17)));
  ASSERT_TRUE(client().exchange(writePacket(130, 10, {}, 1, 0)));
  EXPECT_EQ(sim->counts().duplicateWrites, 1u);
}

TEST_F(ProtocolTest, TrafficLogKeepsEveryDatagramUntilCleared) {
  client().exchange(pollPacket());
  const Bytes write = writePacket(128, 1, {1, 0});
  client().exchange(write);
  client().send(Bytes{1, 2, 3});
  ASSERT_EQ(client().exchange(pollPacket())->size(), 5u);
  auto log = sim->traffic();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[0], pollPacket());
  EXPECT_EQ(log[1], write);
  EXPECT_EQ(log[2], (Bytes{1, 2, 3}));
  const auto counts = sim->counts();
  EXPECT_EQ(counts.received, 4u);
  EXPECT_EQ(counts.polls, 2u);
  EXPECT_EQ(counts.writes, 1u);
  EXPECT_EQ(counts.rejected, 1u);
  EXPECT_EQ(counts.repliesSent, 3u);
  sim->clearTraffic();
  EXPECT_TRUE(sim->traffic().empty());
}

TEST(DeviceSimulatorLifecycle, StartReportsBadAddressAndTakenPort) {
  DeviceSimulatorOptions bad;
  bad.address = "127.0.0.300";
  DeviceSimulator badSim(bad);
  EXPECT_FALSE(badSim.start());
  EXPECT_FALSE(badSim.error().empty());

  DeviceSimulator first;
  ASSERT_TRUE(first.start()) << first.error();
  DeviceSimulatorOptions same;
  same.port = first.port();
  DeviceSimulator second(same);
  EXPECT_FALSE(second.start());

  // Stop and start again: the same object serves again, on a port it reports.
  first.stop();
  EXPECT_FALSE(first.running());
  ASSERT_TRUE(first.start());
  EXPECT_NE(first.port(), 0);
}

}  // namespace
}  // namespace orvana::devsim
