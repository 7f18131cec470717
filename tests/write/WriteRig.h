#pragma once

// One simulated device on loopback with the whole write stack on top of it, as the main window
// holds it: link, sequencer, page access, clip store, the three sources, source selection and
// the write process.

#include <gtest/gtest.h>

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "common/ScriptedOperator.h"
#include "devsim/DeviceSimulator.h"
#include "link/TimingTable.h"
#include "media/SourceSelection.h"
#include "media/WriteProcess.h"
#include "store/StoreStack.h"
#include "support/TempHome.h"

namespace orvana::test {

using Page = std::vector<std::uint8_t>;

// The system area (rows 0..767) of a freshly formatted chip. A full format erases every block and
// then writes the same empty directory, map and thumbnails on any chip; a fresh simulator's blocks
// are already erased, so this image gives the formatted state without the 4096 erases per chip.
inline const std::vector<Page>& FormattedSystemArea() {
  static const std::vector<Page> image = [] {
    std::vector<Page> rows;
    ResetTimingTable();
    HostSocket hostSocket;
    const std::uint16_t host = hostSocket.port();
    devsim::DeviceSimulatorOptions options;
    options.replyPort = host;
    options.recordTraffic = false;
    devsim::DeviceSimulator sim(options);
    EXPECT_TRUE(sim.start()) << sim.error();
    SilentOperator op;
    StoreStack stack("127.0.0.1", sim.port(), op, host);
    ClipStore& store = stack.store;
    store.SelectChip(0);
    EXPECT_TRUE(store.FormatChip(false));
    for (std::uint32_t row = 0; row < kSystemCells * kPagesPerCell; ++row) {
      rows.emplace_back(kPageSize);
      EXPECT_TRUE(sim.readPage(0, row, rows.back().data()));
    }
    return rows;
  }();
  return image;
}

// Puts the formatted image on the chips of a fresh simulator.
inline void SeedFormatted(devsim::DeviceSimulator& sim, std::span<const int> chips) {
  const auto& rows = FormattedSystemArea();
  for (int chip : chips)
    for (std::uint32_t row = 0; row < rows.size(); ++row)
      ASSERT_TRUE(sim.writePage(chip, row, rows[row].data()));
}

// A simulated device on loopback replying to `replyPort`, every chip formatted; null when it
// could not start.
inline std::unique_ptr<devsim::DeviceSimulator> FormattedDevice(std::uint16_t replyPort) {
  devsim::DeviceSimulatorOptions options;
  options.replyPort = replyPort;
  options.recordTraffic = false;
  auto d = std::make_unique<devsim::DeviceSimulator>(options);
  if (!d->start()) return nullptr;
  static constexpr int kAll[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  SeedFormatted(*d, kAll);
  return d;
}

inline int safeWrite(const std::string& key) {
  return ProfileFile(paths::settingsFile(kMainIni)).readInt("Safe write", key, -1);
}

struct WriteRig {
  explicit WriteRig(std::filesystem::path storeFolder = {}) {
    ResetTimingTable();
    devsim::DeviceSimulatorOptions options;
    options.replyPort = hostPort;
    options.recordTraffic = false;
    options.store = std::move(storeFolder);
    sim = std::make_unique<devsim::DeviceSimulator>(options);
    EXPECT_TRUE(sim->start()) << sim->error();
    stack = std::make_unique<StoreStack>("127.0.0.1", sim->port(), op, hostPort);
    store = &stack->store;
    sources.CreateSources();
    selection = std::make_unique<SourceSelection>(sources, op);
    selection->IsConnected = [this] { return stack->link.IsConnected(); };
    selection->Connect1ButtonClick = [this] { store->ConnectChannel(); };
    writer = std::make_unique<WriteProcess>(*store, *selection, sources, op);
    writer->SettleMs = 0;
    writer->Today = [] { return std::string("08.12.2026"); };
  }
  ~WriteRig() {
    writer.reset();
    selection.reset();
    stack.reset();
    sim.reset();
  }

  // Formats the channel's chips and opens the sources as the open buttons would.
  void Prepare(int channel, const std::string& clip, bool loop = false,
               const std::string& alpha = {}, const std::string& wipe = {}) {
    selection->Channel = channel;
    selection->LoopChecked = loop;
    store->Channel = channel;
    SeedFormatted(*sim, ChannelChips(channel));
    if (!clip.empty()) selection->OpenClipFile(clip);
    if (!alpha.empty()) selection->OpenAlphaFile(alpha);
    if (!wipe.empty()) selection->OpenWipeFile(wipe);
    store->ConnectChannel();
  }

  // Write with the number and comment prompts answered.
  void Write(const std::string& number, const std::string& comment = "") {
    op.promptAnswers = {number, comment.empty() ? std::string("No comment") : comment};
    writer->WriteButtonClick();
  }
  void Continue() {
    op.chooseAnswers = {1};
    writer->WriteButtonClick();
  }

  Page Raw(int chip, std::uint32_t row) {
    Page p(8192);
    EXPECT_TRUE(sim->readPage(chip, row, p.data()));
    return p;
  }
  // The ECC payload of a page as stored: 910 groups of 8 data bytes and a check byte.
  Page Payload(int chip, std::uint32_t row) {
    const Page r = Raw(chip, row);
    Page out(7280);
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = r[i / 8 * 9 + i % 8];
    return out;
  }

  ScriptedOperator op;
  HostSocket hostSocket;  // the link receives on it
  std::uint16_t hostPort = hostSocket.port();
  std::unique_ptr<devsim::DeviceSimulator> sim;
  std::unique_ptr<StoreStack> stack;
  ClipStore* store = nullptr;
  MediaSources sources;
  std::unique_ptr<SourceSelection> selection;
  std::unique_ptr<WriteProcess> writer;
};

// Every raw page of rows [0, rows) of the chips, for comparing two devices.
inline std::vector<Page> Snapshot(WriteRig& rig, std::initializer_list<int> chips,
                                  std::uint32_t rows) {
  std::vector<Page> out;
  for (int chip : chips)
    for (std::uint32_t row = 0; row < rows; ++row) out.push_back(rig.Raw(chip, row));
  return out;
}

inline int CountDifferences(const std::vector<Page>& a, const std::vector<Page>& b,
                            std::uint32_t rowsPerChip) {
  if (a.size() != b.size()) return -1;
  int n = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] == b[i]) continue;
    if (++n <= 3) {
      std::size_t at = 0;
      while (a[i][at] == b[i][at]) ++at;
      ADD_FAILURE() << "chip index " << i / rowsPerChip << " row " << i % rowsPerChip
                    << " differs from byte " << at;
    }
  }
  return n;
}

}  // namespace orvana::test
