// The persistent store: what survives a restart and a kill, and what it costs on disk.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include "devsim/DeviceSimulator.h"
#include "devsim/DevsimProcess.h"
#include "devsim/PageStore.h"
#include "devsim/WireHost.h"
#include "support/TempHome.h"

namespace orvana::devsim {
namespace {

using test::Page;

std::uint64_t allocatedBytes(const std::filesystem::path& folder) {
  std::uint64_t total = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    struct stat st {};
    if (::stat(entry.path().c_str(), &st) == 0)
      total += static_cast<std::uint64_t>(st.st_blocks) * 512;
  }
  return total;
}

class StoreTest : public ::testing::Test {
 protected:
  std::unique_ptr<DeviceSimulator> startSim() {
    DeviceSimulatorOptions options;
    options.replyPort = replyPort;
    options.store = store;
    auto sim = std::make_unique<DeviceSimulator>(options);
    EXPECT_TRUE(sim->start()) << sim->error();
    return sim;
  }

  test::TempHome home;
  std::filesystem::path store = home.path() / "devsim";
  test::LoopbackSocket replySocket;  // bound for the whole test
  std::uint16_t replyPort = replySocket.port();
};

TEST_F(StoreTest, PagesAndErasesSurviveARestart) {
  {
    auto sim = startSim();
    test::WireHost host(sim->port(), replySocket);
    ASSERT_EQ(host.programPage(2, 512, test::patternPage(1)), 0xE0);
    ASSERT_EQ(host.programPage(2, 600, test::patternPage(2)), 0xE0);
    ASSERT_EQ(host.programPage(9, 10, test::patternPage(3)), 0xE0);
    ASSERT_EQ(host.eraseBlock(2, 512), 0xE0);  // takes rows 512..767 again
  }
  auto sim = startSim();
  test::WireHost host(sim->port(), replySocket);
  Page page{};
  ASSERT_TRUE(host.readPage(9, 10, page));
  EXPECT_EQ(page, test::patternPage(3));
  ASSERT_TRUE(host.readPage(2, 600, page));
  EXPECT_TRUE(std::all_of(page.begin(), page.end(), [](auto b) { return b == 0xFF; }));
}

TEST_F(StoreTest, EveryAcknowledgedProgramSurvivesSigkill) {
  test::DevsimProcess process;
  ASSERT_TRUE(process.start({"--address", "127.0.0.1", "--port", "0", "--reply-port",
                             std::to_string(replyPort), "--store", store.string()}))
      << process.firstLine();
  const std::uint16_t port = process.port();
  ASSERT_NE(port, 0) << process.firstLine();
  EXPECT_EQ(process.firstLine(), "listening on 127.0.0.1:" + std::to_string(port));
  test::WireHost host(port, replySocket);
  constexpr std::uint32_t kPages = 24;
  for (std::uint32_t i = 0; i < kPages; ++i)
    ASSERT_EQ(host.programPage(static_cast<int>(i % 12), i * 37, test::patternPage(i)), 0xE0);
  process.signal(SIGKILL);
  const int status = process.wait();
  ASSERT_TRUE(WIFSIGNALED(status));

  // The lock dies with the process, so the store opens again at once.
  auto sim = startSim();
  for (std::uint32_t i = 0; i < kPages; ++i) {
    Page page{};
    ASSERT_TRUE(sim->readPage(static_cast<int>(i % 12), i * 37, page.data()));
    EXPECT_EQ(page, test::patternPage(i)) << "page " << i;
  }
}

TEST_F(StoreTest, EmptyChipsCostNothingOnDisk) {
  auto sim = startSim();
  EXPECT_LT(allocatedBytes(store), 64u * 1024) << "twelve 8 GiB chips, all holes";
  test::WireHost host(sim->port(), replySocket);
  for (std::uint32_t row = 0; row < 4; ++row)
    ASSERT_EQ(host.programPage(6, 0x40000 + row, test::patternPage(row)), 0xE0);
  const std::uint64_t used = allocatedBytes(store);
  EXPECT_GE(used, 4u * 8192);
  EXPECT_LT(used, 1024u * 1024);
  // Programming an all-ones page allocates nothing.
  Page ones;
  ones.fill(0xFF);
  ASSERT_EQ(host.programPage(6, 0x80000, ones), 0xE0);
  EXPECT_EQ(allocatedBytes(store), used);
  // The erase gives the space back.
  ASSERT_EQ(host.eraseBlock(6, 0x40000), 0xE0);
  EXPECT_LT(allocatedBytes(store), 64u * 1024);
}

TEST_F(StoreTest, OneServerPerStoreFolder) {
  auto first = startSim();
  DeviceSimulatorOptions options;
  options.store = store;
  DeviceSimulator second(options);
  EXPECT_FALSE(second.start());
  EXPECT_NE(second.error().find("in use"), std::string::npos) << second.error();
}

// Without a folder, erased pages are recycled for later programs: a recycled page has to start
// erased, not with the bytes it held, also across more pages than one allocation holds.
TEST(MemoryStoreTest, RecycledPagesStartErased) {
  PageStore s;
  PageStore::Page zeros{};
  for (std::uint32_t row = 0; row < 300; ++row) ASSERT_TRUE(s.program(0, row, zeros.data()));
  ASSERT_TRUE(s.erase(0, 0));
  ASSERT_TRUE(s.erase(0, 1));

  PageStore::Page pattern;
  pattern.fill(0xF0);
  for (std::uint32_t row = 0; row < 300; ++row)
    ASSERT_TRUE(s.program(5, 9000 + row, pattern.data()));
  PageStore::Page erased;
  erased.fill(0xFF);
  PageStore::Page back{};
  for (std::uint32_t row : {0u, 255u, 299u}) {
    ASSERT_TRUE(s.read(5, 9000 + row, back.data()));
    EXPECT_EQ(back, pattern) << "row " << row;
    ASSERT_TRUE(s.read(0, row, back.data()));
    EXPECT_EQ(back, erased) << "row " << row;
  }
}

TEST(MemoryStoreTest, ReserveGrowsOnlyForAUsedStoreAndStopsAtItsTarget) {
  PageStore s;
  EXPECT_FALSE(s.TopUpReserve(1024)) << "a store nobody programs keeps no memory";
  PageStore::Page data;
  data.fill(0x5A);
  ASSERT_TRUE(s.program(3, 77, data.data()));
  int slabs = 0;
  while (s.TopUpReserve(1024) && slabs < 100) ++slabs;
  EXPECT_GE(s.freePages(), 1024u);
  EXPECT_LT(s.freePages(), 1024u + 256u);
  EXPECT_FALSE(s.TopUpReserve(1024));

  // Pages from the reserve hold exactly what is programmed, also a second time (bits only clear).
  for (std::uint32_t row = 0; row < 600; ++row) ASSERT_TRUE(s.program(4, row, data.data()));
  PageStore::Page second;
  second.fill(0x0F);
  ASSERT_TRUE(s.program(4, 599, second.data()));
  PageStore::Page back{};
  ASSERT_TRUE(s.read(4, 0, back.data()));
  EXPECT_EQ(back, data);
  ASSERT_TRUE(s.read(4, 599, back.data()));
  PageStore::Page both;
  both.fill(0x5A & 0x0F);
  EXPECT_EQ(back, both);
}

TEST_F(StoreTest, FilesNeedNoReserve) {
  PageStore s;
  std::string error;
  ASSERT_TRUE(s.openFolder(store, error)) << error;
  PageStore::Page data;
  data.fill(0x5A);
  ASSERT_TRUE(s.program(0, 1, data.data()));
  EXPECT_FALSE(s.TopUpReserve(1024));
  EXPECT_EQ(s.freePages(), 0u);
}

}  // namespace
}  // namespace orvana::devsim
