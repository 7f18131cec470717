#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "common/ScriptedOperator.h"
#include "link/TUDPSocket.h"
#include "link/TimingTable.h"
#include "support/TempHome.h"

namespace orvana {
namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// A plain socket bound to a loopback address, to send test datagrams from.
struct Sender {
  explicit Sender(const char* from = "127.0.0.1") {
    fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    ::inet_pton(AF_INET, from, &a.sin_addr);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
  ~Sender() { ::close(fd); }
  void send(std::uint16_t port, std::size_t n, std::uint8_t fill) {
    std::vector<std::uint8_t> data(n, fill);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
    ::sendto(fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  }
  int fd;
};

class TransportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetTimingTable(false);
    TimingTable().ReceiveWait = 150;
  }
  test::TempHome home;
  ScriptedOperator op;
};

TEST_F(TransportTest, StoredTimingAndCalibration) {
  auto& t = TimingTable();
  ResetTimingTable(false);
  EXPECT_EQ(t.ReceiveWait, 300u);
  EXPECT_EQ(t.PollWindow, 1000u);
  EXPECT_EQ(t.WriteAttempts, 4);
  EXPECT_EQ(t.ReadWindow, 1000u);
  EXPECT_EQ(t.UnitsPerMs, 0);
  CalibrateDelay();
  EXPECT_GE(t.UnitsPerMs, 50);
  // A second calibration measures afresh rather than adding to the first.
  const auto first = t.UnitsPerMs;
  CalibrateDelay();
  EXPECT_LT(t.UnitsPerMs, 2 * first);
}

TEST_F(TransportTest, DottedAddressesOnly) {
  struct Case {
    const char* text;
    bool valid;
  };
  const Case cases[] = {{"127.0.0.1", true},   {"10.1.2.3", true},        {"1.2.3", false},
                        {"1.2.3.256", false},  {"localhost", false},      {"", false},
                        {" 127.0.0.1", false}, {"127.0.0.1:21248", false}};
  for (const auto& c : cases) EXPECT_EQ(ParseDottedIPv4(c.text).has_value(), c.valid) << c.text;
}

TEST_F(TransportTest, ClosedSocketsDoNothing) {
  TClientUDPSocket client("not.an.address", 21248);
  EXPECT_FALSE(client.IsOpen());
  const std::uint8_t data[4] = {1, 2, 3, 4};
  EXPECT_EQ(client.Send(data, 4), 0);

  const std::uint16_t port = test::freeUdpPort();
  TServerUDPSocket holder(port, op);
  ASSERT_TRUE(holder.IsOpen());
  EXPECT_TRUE(op.messages.empty());
  TServerUDPSocket second(port, op);
  EXPECT_FALSE(second.IsOpen());
  ASSERT_EQ(op.messages.size(), 1u);
  EXPECT_EQ(op.messages[0], "Can't bind to the socket.");

  std::uint8_t buffer[kPacketSize];
  const auto t0 = Clock::now();
  EXPECT_EQ(second.WaitForData(100), 0);
  EXPECT_EQ(second.Receive(buffer), 0);
  EXPECT_LT(msSince(t0), 20.0);
}

TEST_F(TransportTest, PendingDatagramIsReturnedAtOnce) {
  const std::uint16_t port = test::freeUdpPort();
  TServerUDPSocket server(port, op);
  Sender s;
  s.send(port, 17, 0x82);
  ASSERT_EQ(server.WaitForData(1000), 17);
  std::uint8_t buffer[kPacketSize];
  const auto t0 = Clock::now();
  EXPECT_EQ(server.Receive(buffer), 17);
  EXPECT_LT(msSince(t0), 20.0);
  EXPECT_EQ(buffer[0], 0x82);
}

// Datagrams that cannot be replies are dropped; the good one behind them still arrives intact.
TEST_F(TransportTest, ReceiveDropsWhatCannotBeAReply) {
  struct Case {
    const char* name;
    std::size_t junkLength;
    const char* from;
  };
  const Case cases[] = {{"one byte too long", 1501, "127.0.0.1"},
                        {"far too long", 9000, "127.0.0.1"},
                        {"empty", 0, "127.0.0.1"},
                        {"foreign sender", 20, "127.0.0.2"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::uint16_t port = test::freeUdpPort();
    TServerUDPSocket server(port, op);
    in_addr device{};
    ::inet_pton(AF_INET, "127.0.0.1", &device);
    server.AcceptOnlyFrom(device);
    Sender junk(c.from);
    Sender good;
    junk.send(port, c.junkLength, 0xEE);
    good.send(port, 20, 0x82);

    std::vector<std::uint8_t> buffer(kPacketSize + 64, 0x55);
    EXPECT_EQ(server.Receive(buffer.data()), 20);
    EXPECT_EQ(buffer[0], 0x82);
    EXPECT_EQ(buffer[19], 0x82);
    // Nothing written past the packet buffer.
    for (std::size_t i = kPacketSize; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0x55);

    // Junk alone: nothing counts as received.
    junk.send(port, c.junkLength, 0xEE);
    EXPECT_EQ(server.Receive(buffer.data()), 0);
  }
}

TEST_F(TransportTest, WaitTimesOutWithoutBurningTheProcessor) {
  const std::uint16_t port = test::freeUdpPort();
  TServerUDPSocket server(port, op);
  rusage before{}, after{};
  ::getrusage(RUSAGE_THREAD, &before);
  const auto t0 = Clock::now();
  EXPECT_EQ(server.WaitForData(200), 0);
  const double wall = msSince(t0);
  ::getrusage(RUSAGE_THREAD, &after);
  auto cpuMs = [](const rusage& r) {
    return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000.0 +
           static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1000.0;
  };
  EXPECT_GT(wall, 200.0);
  EXPECT_LT(wall, 400.0);
  EXPECT_LT(cpuMs(after) - cpuMs(before), 50.0);
}

TEST_F(TransportTest, WaitWakesWhenADatagramArrivesLater) {
  const std::uint16_t port = test::freeUdpPort();
  TServerUDPSocket server(port, op);
  std::thread later([port] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    Sender s;
    s.send(port, 5, 0xFF);
  });
  const auto t0 = Clock::now();
  EXPECT_EQ(server.WaitForData(1000), 5);
  EXPECT_LT(msSince(t0), 500.0);
  later.join();
}

}  // namespace
}  // namespace orvana
