// The service commands of orvana-cli (page read/write, erase, status) against an in-process
// simulated device.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "devsim/DeviceSimulator.h"
#include "support/RunCommand.h"
#include "support/TempHome.h"

namespace orvana {
namespace {

constexpr std::size_t kPage = 8192;
constexpr std::size_t kPayload = 7280;

class CliFlashTest : public ::testing::Test {
 protected:
  void SetUp() override {
    devsim::DeviceSimulatorOptions options;
    options.replyPort = hostPort;
    options.recordTraffic = false;
    // A weak bit in the page the ECC round trip uses, and a block that cannot be erased.
    options.faults.flips.push_back({3, 700, 100, 5});
    options.faults.failErase.push_back({3, 9});
    sim = std::make_unique<devsim::DeviceSimulator>(options);
    ASSERT_TRUE(sim->start()) << sim->error();
  }

  test::CommandResult cli(const std::string& args) {
    return test::runCommand(std::string(ORVANA_CLI) +
                            " --device 127.0.0.1:" + std::to_string(sim->port()) + " --host-port " +
                            std::to_string(hostPort) + " " + args + " 2>&1");
  }

  std::filesystem::path file(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    auto p = home.path() / name;
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return p;
  }

  static std::vector<std::uint8_t> slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  test::TempHome home;
  test::HostSocket hostSocket;  // inherited by the command, which receives on it
  std::uint16_t hostPort = hostSocket.port();
  std::unique_ptr<devsim::DeviceSimulator> sim;
};

TEST_F(CliFlashTest, EccRoundTripCorrectsAWeakBitAndRawReadShowsTheEncodedPage) {
  std::mt19937 rng(7);
  std::vector<std::uint8_t> payload(kPayload);
  for (auto& b : payload) b = static_cast<std::uint8_t>(rng());
  const auto in = file("payload.bin", payload);

  auto r = cli("page write --chip 3 --row 700 --ecc " + in.string());
  ASSERT_EQ(r.exitCode, 0) << r.out;
  const auto back = home.path() / "back.bin";
  r = cli("page read --chip 3 --row 700 --ecc -o " + back.string());
  ASSERT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(slurp(back), payload);
  EXPECT_NE(r.out.find("Corrected bits: 1"), std::string::npos) << r.out;

  // Without the ECC the command shows the page as the chip delivers it: the stored (encoded)
  // page, weak bit included.
  const auto raw = home.path() / "raw.bin";
  ASSERT_EQ(cli("page read --chip 3 --row 700 -o " + raw.string()).exitCode, 0);
  std::vector<std::uint8_t> stored(kPage);
  ASSERT_TRUE(sim->readPage(3, 700, stored.data()));
  EXPECT_NE(std::vector<std::uint8_t>(stored.begin(), stored.begin() + kPayload), payload);
  stored[100] ^= 1u << 5;
  EXPECT_EQ(slurp(raw), stored);
}

TEST_F(CliFlashTest, EraseStatusAndRefusals) {
  const std::vector<std::uint8_t> zeros(kPage, 0);
  ASSERT_EQ(cli("page write --chip 2 --row 512 " + file("zeros.bin", zeros).string()).exitCode, 0);
  auto r = cli("erase --chip 2 --row 600");  // row 600 lies in block 2, with row 512
  EXPECT_EQ(r.exitCode, 0) << r.out;
  std::vector<std::uint8_t> page(kPage);
  ASSERT_TRUE(sim->readPage(2, 512, page.data()));
  EXPECT_EQ(page, std::vector<std::uint8_t>(kPage, 0xFF));

  r = cli("status --chip 2");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("0xe0 ready"), std::string::npos) << r.out;

  // An injected erase failure is a failure; a file of the wrong size is refused before any
  // traffic; an unanswered device is a failure.
  EXPECT_NE(cli("erase --chip 3 --row " + std::to_string(9 * 256)).exitCode, 0);
  EXPECT_NE(cli("page write --chip 2 --row 1 " + file("short.bin", {1, 2, 3}).string()).exitCode,
            0);
  ASSERT_TRUE(sim->readPage(2, 1, page.data()));
  EXPECT_EQ(page, std::vector<std::uint8_t>(kPage, 0xFF));
  devsim::FaultPlan silent;
  silent.silent = true;
  sim->setFaults(silent);
  EXPECT_NE(cli("status --chip 0").exitCode, 0);
}

}  // namespace
}  // namespace orvana
