#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "common/ScriptedOperator.h"
#include "link/ITF_ZT.h"
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

// The port a socket asked to bind port 0 was given by the system.
std::uint16_t boundPort(const TUDPSocket& s) {
  sockaddr_in a{};
  socklen_t n = sizeof a;
  if (::getsockname(s.Handle(), reinterpret_cast<sockaddr*>(&a), &n) != 0) return 0;
  return ntohs(a.sin_port);
}

class TransportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetTimingTable();
    TimingTable().ReceiveWait = 150;
  }
  test::TempHome home;
  ScriptedOperator op;
};

TEST_F(TransportTest, StoredTiming) {
  auto& t = TimingTable();
  ResetTimingTable();
  EXPECT_EQ(t.ReceiveWait, 300u);
  EXPECT_EQ(t.PollWindow, 1000u);
  EXPECT_EQ(t.WriteAttempts, 4);
  EXPECT_EQ(t.ReadWindow, 1000u);
}

// The pauses are what the chip needs whatever the machine is doing: never shorter than asked,
// and ready to use without a measurement beforehand. Only the lower bound is exact; the upper
// one just catches a pause gone wildly wrong on a loaded machine.
TEST_F(TransportTest, PausesLastWhatTheyPromiseOnTheClock) {
  struct Case {
    const char* name;
    void (*pause)();
    double atLeastMs;
  };
  const Case cases[] = {
      {"DelayTick", [] { DelayTick(); }, 0.1},
      {"DelayMs(1)", [] { DelayMs(1); }, 1.0},
      {"DelayMs(4)", [] { DelayMs(4); }, 4.0},
      {"DelayMs(10)", [] { DelayMs(10); }, 10.0},
  };
  for (const Case& c : cases) {
    double shortest = 1e9;
    for (int i = 0; i < 5; ++i) {
      const auto t0 = Clock::now();
      c.pause();
      const double ms = msSince(t0);
      EXPECT_GE(ms, c.atLeastMs) << c.name;
      shortest = std::min(shortest, ms);
    }
    EXPECT_LT(shortest, c.atLeastMs + 250.0) << c.name;
  }
  const auto t0 = Clock::now();
  DelayMs(0);
  DelayMs(-3);
  EXPECT_LT(msSince(t0), 250.0);
}

// What a datagram means to the command outstanding, by its exact length and first byte only.
TEST(ReplyReading, LengthCodeAndSequenceDecide) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> datagram;  // empty: nothing came
    bool ack135;                         // acknowledges a write of 135
    int pollFor3;                        // verdict for sequence 3
    bool read130of4;                     // reply to a read of 4 register bytes (R = 20)
  };
  std::vector<std::uint8_t> read130(20, 0);
  read130[0] = 130;
  for (std::size_t i = 16; i < 20; ++i) read130[i] = static_cast<std::uint8_t>(i);
  std::vector<std::uint8_t> readShort(read130.begin(), read130.end() - 1);
  std::vector<std::uint8_t> readLong = read130;
  readLong.push_back(0);
  std::vector<std::uint8_t> readOtherCode = read130;
  readOtherCode[0] = 136;
  const Case cases[] = {
      {"nothing", {}, false, -1, false},
      {"acknowledgement", {135, 0x83, 4, 0}, true, -1, false},
      {"acknowledgement of another code", {136, 0x83, 4, 0}, false, -1, false},
      {"acknowledgement one byte long", {135, 0x83, 4, 0, 0}, false, -1, false},
      {"poll naming the sequence", {0xFF, 0, 0, 0, 3}, false, 1, false},
      {"poll naming another", {0xFF, 0, 0, 0, 2}, false, 0, false},
      {"poll one byte short", {0xFF, 0, 0, 3}, false, -1, false},
      {"poll of another code", {0xFE, 0, 0, 0, 3}, false, -1, false},
      {"read reply", read130, false, -1, true},
      {"read reply one byte short", readShort, false, -1, false},
      {"read reply one byte long", readLong, false, -1, false},
      {"read reply of another code", readOtherCode, false, -1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int got = static_cast<int>(c.datagram.size());
    const std::uint8_t* d = c.datagram.data();
    EXPECT_EQ(IsAcknowledgement(d, got, 135), c.ack135);
    EXPECT_EQ(PollReplyVerdict(d, got, 3), c.pollFor3);
    std::uint8_t data[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(TakeReadReply(d, got, 130, data, 4), c.read130of4);
    if (c.read130of4) {
      EXPECT_EQ(data[0], 16);
      EXPECT_EQ(data[3], 19);
    } else {
      EXPECT_EQ(data[0], 0xEE) << "nothing copied";
    }
  }
  // A read whose reply could not fit a packet takes nothing, even of that length.
  std::vector<std::uint8_t> huge(kPacketSize + 1, 136);
  std::vector<std::uint8_t> sink(kPacketSize);
  EXPECT_FALSE(TakeReadReply(huge.data(), kPacketSize + 1, 136, sink.data(), kPacketSize - 18));
  EXPECT_FALSE(TakeReadReply(huge.data(), 19, 136, sink.data(), 0));
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

  TServerUDPSocket holder(0, op);
  ASSERT_TRUE(holder.IsOpen());
  EXPECT_TRUE(op.messages.empty());
  TServerUDPSocket second(boundPort(holder), op);
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
  TServerUDPSocket server(0, op);
  const std::uint16_t port = boundPort(server);
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
    TServerUDPSocket server(0, op);
    const std::uint16_t port = boundPort(server);
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
  TServerUDPSocket server(0, op);
  ASSERT_TRUE(server.IsOpen());
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
  TServerUDPSocket server(0, op);
  const std::uint16_t port = boundPort(server);
  // Sent once the wait has had time to fall asleep in the kernel; how late the sender runs does
  // not matter, the wait is measured from the moment of sending.
  std::atomic<std::int64_t> sentAt{0};
  std::thread later([port, &sentAt] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    Sender s;
    sentAt = Clock::now().time_since_epoch().count();
    s.send(port, 5, 0xFF);
  });
  EXPECT_EQ(server.WaitForData(10000), 5);
  const auto woke = Clock::now();
  later.join();
  const auto sent = Clock::time_point(Clock::duration(sentAt.load()));
  const double latencyMs = std::chrono::duration<double, std::milli>(woke - sent).count();
  EXPECT_LT(latencyMs, 500.0);
}

// A socket the parent bound and listed in ORVANA_HOST_SOCKETS is received on when its port is
// asked for; nothing else listed is ever taken, and the port is then bound as usual (here it
// fails, because the lent socket holds it).
TEST_F(TransportTest, InheritedHostSocketIsTakenOnlyForItsOwnPort) {
  test::LoopbackSocket lent;
  test::LoopbackSocket otherPort;
  ASSERT_GE(lent.fd(), 0);
  // A stream socket with the same port number, and a file that is no socket at all.
  const int stream = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(lent.port());
  ASSERT_EQ(::bind(stream, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  const int file = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(file, 0);
  const std::string fd = std::to_string(lent.fd());
  struct Case {
    std::string list;
    bool taken;
  };
  const Case cases[] = {
      {fd, true},
      {"x,-4,99999999999," + std::to_string(file) + "," + fd, true},
      {std::to_string(otherPort.fd()), false},
      {std::to_string(stream) + "," + std::to_string(file), false},
      {fd + "x", false},
      {"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("ORVANA_HOST_SOCKETS=" + c.list);
    op = ScriptedOperator{};
    ::setenv("ORVANA_HOST_SOCKETS", c.list.c_str(), 1);
    TServerUDPSocket server(lent.port(), op);
    ::unsetenv("ORVANA_HOST_SOCKETS");
    EXPECT_EQ(server.IsOpen(), c.taken);
    EXPECT_EQ(op.messages.size(), c.taken ? 0u : 1u);
    if (!c.taken) continue;
    EXPECT_NE(server.Handle(), lent.fd()) << "a copy, closed with the server";
    Sender s;
    s.send(lent.port(), 9, 0x82);
    std::uint8_t buffer[kPacketSize];
    EXPECT_EQ(server.Receive(buffer), 9);
    EXPECT_EQ(buffer[0], 0x82);
  }
  // The copies are closed, and the lent socket is as it was for its other holders: nothing to
  // read (a shutdown through a copy would make it report an end at once) until a datagram comes.
  EXPECT_FALSE(lent.waitReadable(0));
  Sender s;
  s.send(lent.port(), 3, 0x11);
  EXPECT_TRUE(lent.waitReadable(5000));
  ::close(stream);
  ::close(file);
}

}  // namespace
}  // namespace orvana
