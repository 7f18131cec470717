// The orvana-devsim program: its options reach the device, and it stops cleanly on a signal.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>

#include "devsim/DevsimProcess.h"
#include "devsim/WireHost.h"
#include "support/TempHome.h"

namespace orvana::devsim {
namespace {

TEST(DevsimProgram, FaultOptionsReachTheDeviceAndSigtermStopsIt) {
  test::LoopbackSocket reply;
  test::DevsimProcess process;
  ASSERT_TRUE(
      process.start({"--port", "0", "--reply-port", std::to_string(reply.port()), "--busy-reads",
                     "1", "--fail-erase", "0:1", "--fail-program", "3:0", "--flip", "1:5:0:0"}))
      << process.firstLine();
  const std::uint16_t port = process.port();
  ASSERT_NE(port, 0) << process.firstLine();
  EXPECT_EQ(process.firstLine(), "listening on 127.0.0.1:" + std::to_string(port));

  test::WireHost host(port, reply);
  test::Page data{};
  EXPECT_EQ(host.programPage(1, 5, data), 0x80);  // busy once
  EXPECT_EQ(host.status(1), 0xE0);
  test::Page page{};
  ASSERT_TRUE(host.readPage(1, 5, page));
  EXPECT_EQ(page[0], 0x01);
  EXPECT_EQ(host.eraseBlock(0, 256), 0x80);
  EXPECT_EQ(host.status(0), 0xE1);
  EXPECT_EQ(host.programPage(3, 17, data), 0x80);
  EXPECT_EQ(host.status(3), 0xE1);

  process.signal(SIGTERM);
  const int status = process.wait();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(DevsimProgram, SilentAndDelayOptions) {
  test::LoopbackSocket reply;
  const std::string replyPort = std::to_string(reply.port());
  {
    test::DevsimProcess process;
    ASSERT_TRUE(process.start({"--port", "0", "--reply-port", replyPort, "--silent"}));
    ASSERT_NE(process.port(), 0) << process.firstLine();
    test::RawUdpClient client(process.port(), reply);
    EXPECT_FALSE(client.exchange(test::pollPacket(), 200));
  }
  test::DevsimProcess process;
  ASSERT_TRUE(process.start({"--port", "0", "--reply-port", replyPort, "--delay-us", "40000"}));
  ASSERT_NE(process.port(), 0) << process.firstLine();
  test::RawUdpClient client(process.port(), reply);
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_TRUE(client.exchange(test::pollPacket(), 2000));
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(40));
}

TEST(DevsimProgram, BadOptionsAreRefused) {
  const std::vector<std::vector<std::string>> cases = {
      {"--flip", "1:2:3"},        {"--fail-erase", "12:0"}, {"--drop", "1.5"},
      {"--address", "localhost"}, {"--port", "70000"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(args[0] + " " + args[1]);
    test::DevsimProcess process;
    // The first line is the complaint; the program then exits with a failure.
    EXPECT_TRUE(process.start(args));
    const int status = process.wait();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_NE(WEXITSTATUS(status), 0);
  }
}

}  // namespace
}  // namespace orvana::devsim
