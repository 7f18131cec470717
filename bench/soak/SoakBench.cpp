// Soak: one simulated device that drops, repeats and delays 1% of its replies each (a delayed
// reply comes after the link has given up waiting for it; the link's waits are scaled down so a
// cycle takes seconds, not minutes), with program and erase failures put
// into blocks the next write is likely to use. A bounded loop (seconds and cycles) of writes on
// clip 1 and clip 2, each continued after every failure until it completes, read-backs of every
// chip compared with the same source written to a device without faults, deletes and quick
// formats. At the end, with the faults off, every clip that should be there is read back once
// more. Printed: operations, faults, continuations, and clips lost or corrupted (target: none).
//
//   soak_bench [SECONDS=180] [CYCLES=10000] [SEED=1]

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "HostSocket.h"
#include "MjpegClip.h"
#include "common/Paths.h"
#include "common/ScriptedOperator.h"
#include "devsim/DeviceSimulator.h"
#include "link/TimingTable.h"
#include "media/SourceSelection.h"
#include "media/WriteProcess.h"
#include "store/ClipFile.h"
#include "store/StoreStack.h"

using namespace orvana;

namespace {

constexpr int kChannels[] = {0, 1};  // clip 1 and clip 2: two chips each
constexpr int kSourceFrames = 4;
constexpr std::uint32_t kReceiveWaitMs = 20;
constexpr std::uint32_t kLateMicros = 30000;

// Answers every question Yes (a pending directory is completed, a delete or format goes ahead)
// and takes choices from the queue.
class SoakOperator : public ScriptedOperator {
 public:
  bool confirm(const std::string& text) override {
    questions.push_back(text);
    return true;
  }
};

std::vector<std::uint8_t> fileBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// The page contents of a clip file (links and the header's date aside): what must not change.
std::vector<std::uint8_t> contents(const std::vector<std::uint8_t>& file) {
  std::vector<std::uint8_t> out;
  if (file.size() < ClipStreamHeader::kSize) return out;
  for (std::size_t at = ClipStreamHeader::kSize; at + 8192 <= file.size(); at += 8192)
    out.insert(out.end(), file.begin() + static_cast<std::ptrdiff_t>(at),
               file.begin() + static_cast<std::ptrdiff_t>(at + 7220));
  return out;
}

struct Rig {
  Rig(std::uint16_t devicePort, std::uint16_t hostPort, const std::string& source) {
    ResetTimingTable();
    stack = std::make_unique<StoreStack>("127.0.0.1", devicePort, op, hostPort);
    // The link's waits scaled down from 150/500/500 ms, so that a fault costs a soak cycle what
    // it would cost a real one at a seventh of the time; a delayed reply still comes after the
    // link stopped waiting for it (kLateMicros).
    TimingTable().ReceiveWait = kReceiveWaitMs;
    TimingTable().PollWindow = 70;
    TimingTable().ReadWindow = 70;
    store = &stack->store;
    sources.CreateSources();
    selection = std::make_unique<SourceSelection>(sources, op);
    selection->IsConnected = [this] { return stack->link.IsConnected(); };
    selection->Connect1ButtonClick = [this] { store->ConnectChannel(); };
    writer = std::make_unique<WriteProcess>(*store, *selection, sources, op);
    writer->SettleMs = 0;
    writer->Today = [] { return std::string("11.12.2026"); };
    sourceFile = source;
  }
  ~Rig() {
    writer.reset();
    selection.reset();
    stack.reset();
  }
  void UseChannel(int channel) {
    if (selection->Channel != channel || !opened) {
      selection->Channel = channel;
      store->Channel = channel;
      selection->OpenClipFile(sourceFile);
      opened = true;
    }
    if (!store->Connected() || store->Channel != channel) store->ConnectChannel();
  }
  void Forget() {
    op.messages.clear();
    op.events.clear();
    op.questions.clear();
    op.promptAnswers.clear();
    op.chooseAnswers.clear();
  }
  // Clip `slot` (0-based) of `chip` read back into a file; empty when the read failed.
  std::vector<std::uint8_t> ReadBack(int chip, int slot) {
    if (!store->Connected() || store->CurrentChip != chip) store->SelectChip(chip);
    const auto file = paths::workFolder() / "soak.clip";
    std::vector<std::uint8_t> bytes;
    if (store->Connected() && store->ReadClipBack(slot, file)) bytes = fileBytes(file);
    std::error_code ec;
    std::filesystem::remove(file, ec);
    return bytes;
  }

  SoakOperator op;
  std::unique_ptr<StoreStack> stack;
  ClipStore* store = nullptr;
  MediaSources sources;
  std::unique_ptr<SourceSelection> selection;
  std::unique_ptr<WriteProcess> writer;
  std::string sourceFile;
  bool opened = false;
};

struct Tally {
  int cycles = 0, writes = 0, writesCompleted = 0, continuations = 0, writesGivenUp = 0;
  int readBacks = 0, readRetries = 0, unreadable = 0, deletes = 0, formats = 0;
  int injectedPrograms = 0, injectedErases = 0, failuresSeen = 0;
  int corrupted = 0, lost = 0, checkedAtEnd = 0;
};

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 180;
  const int maxCycles = argc > 2 ? std::atoi(argv[2]) : 10000;
  const unsigned seed = argc > 3 ? static_cast<unsigned>(std::atoi(argv[3])) : 1;
  if (seconds <= 0 || maxCycles <= 0) return 2;
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const bool verbose = std::getenv("SOAK_VERBOSE") != nullptr;

  char dirTemplate[] = "/tmp/orvana-soak-XXXXXX";
  if (::mkdtemp(dirTemplate) == nullptr) return 1;
  const std::filesystem::path home = dirTemplate;
  ::setenv("ORVANA_HOME", home.c_str(), 1);
  std::uint16_t hostPort = 0;
  const int hostFd = bench::BindHostSocket(hostPort);
  if (hostFd < 0) return 1;
  const std::string source = (home / "soak.avi").string();
  if (!bench::WriteMjpegClip(source, 720, 576, kSourceFrames)) {
    std::fprintf(stderr, "cannot make the source\n");
    return 1;
  }
  int rc = 0;
  {
    // The reference: the source written to a device without faults, read back per chip.
    std::map<int, std::vector<std::vector<std::uint8_t>>> reference;
    {
      devsim::DeviceSimulatorOptions o;
      o.replyPort = hostPort;
      o.recordTraffic = false;
      devsim::DeviceSimulator clean(o);
      if (!clean.start()) return 1;
      Rig rig(clean.port(), hostPort, source);
      for (const int channel : kChannels) {
        rig.UseChannel(channel);
        for (const int chip : ChannelChips(channel)) {
          rig.store->SelectChip(chip);
          rig.store->FormatChip(false);
        }
        rig.Forget();
        rig.UseChannel(channel);
        rig.op.promptAnswers = {"1", "Soak"};
        rig.writer->WriteButtonClick();
        if (!rig.writer->Completed) {
          std::fprintf(stderr, "the reference write failed: %s\n",
                       rig.op.messages.empty() ? "" : rig.op.messages.back().c_str());
          return 1;
        }
        for (const int chip : ChannelChips(channel))
          reference[channel].push_back(contents(rig.ReadBack(chip, 0)));
      }
    }

    devsim::DeviceSimulatorOptions o;
    o.replyPort = hostPort;
    o.recordTraffic = false;
    devsim::DeviceSimulator device(o);
    if (!device.start()) return 1;
    Rig rig(device.port(), hostPort, source);
    for (const int channel : kChannels) {
      rig.UseChannel(channel);
      for (const int chip : ChannelChips(channel)) {
        rig.store->SelectChip(chip);
        rig.store->FormatChip(false);
      }
    }

    std::mt19937 rng(seed);
    devsim::FaultPlan link;
    link.dropReplyShare = 0.01;
    link.duplicateReplyShare = 0.01;
    link.delayShare = 0.01;
    link.delayMicros = kLateMicros;
    auto withLinkFaults = [&](devsim::FaultPlan plan) {
      plan.dropReplyShare = link.dropReplyShare;
      plan.duplicateReplyShare = link.duplicateReplyShare;
      plan.delayShare = link.delayShare;
      plan.delayMicros = link.delayMicros;
      plan.seed = rng();
      device.setFaults(plan);
    };

    Tally t;
    std::map<int, std::set<int>> present;  // channel -> clip slots (0-based) written whole
    // Reads clip `slot` back from every chip of the channel and compares it with the reference.
    auto check = [&](int channel, int slot, bool final) {
      rig.UseChannel(channel);
      const auto chips = ChannelChips(channel);
      for (std::size_t k = 0; k < chips.size(); ++k) {
        std::vector<std::uint8_t> got;
        for (int attempt = 0; attempt < 3 && got.empty(); ++attempt) {
          if (attempt > 0) ++t.readRetries;
          ++t.readBacks;
          got = rig.ReadBack(chips[k], slot);
        }
        if (got.empty()) {
          if (final) {
            ++t.lost;
            std::printf(
                "  LOST: clip %d of channel %d on chip %d (connected %d, listed %d, %d "
                "frames; last message: %s)\n",
                slot + 1, channel, chips[k], rig.store->Connected() ? 1 : 0,
                rig.store->IsClipValid(slot) ? 1 : 0,
                int(rig.store->ClipDirectory[std::size_t(slot)].FrameCount),
                rig.op.messages.empty() ? "-" : rig.op.messages.back().c_str());
          } else {
            ++t.unreadable;
          }
          return;
        }
        if (contents(got) != reference[channel][k]) {
          ++t.corrupted;
          std::printf("  CORRUPTED: clip %d of channel %d on chip %d\n", slot + 1, channel,
                      chips[k]);
          return;
        }
      }
    };

    const auto t0 = std::chrono::steady_clock::now();
    auto elapsed = [&] {
      return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    };
    while (t.cycles < maxCycles && elapsed() < seconds) {
      ++t.cycles;
      const int channel = kChannels[rng() % 2];
      if (verbose)
        std::printf("  %.0f s: cycle %d on channel %d, %zu clips there\n", elapsed(), t.cycles,
                    channel, present[channel].size());
      std::set<int>& clips = present[channel];
      const auto dice = static_cast<unsigned>(rng() % 100);
      rig.Forget();
      withLinkFaults({});
      if (clips.empty() || dice < 35) {
        // A write, with a failure put into a block of the chip it starts on half the time.
        int slot = 0;
        while (clips.count(slot) != 0) ++slot;
        devsim::FaultPlan chipFaults;
        if (rng() % 2 == 0) {
          const int chip = ChannelChips(channel)[rng() % 2];
          const devsim::BlockRef block{static_cast<std::uint8_t>(chip),
                                       3u + static_cast<std::uint32_t>(rng() % 12)};
          if (rng() % 2 == 0) {
            chipFaults.failProgram.push_back(block);
            ++t.injectedPrograms;
          } else {
            chipFaults.failErase.push_back(block);
            ++t.injectedErases;
          }
        }
        withLinkFaults(chipFaults);
        rig.UseChannel(channel);
        ++t.writes;
        rig.op.promptAnswers = {std::to_string(slot + 1), "Soak"};
        rig.op.chooseAnswers = {0};  // a new write, should an old stop be on record
        rig.writer->WriteButtonClick();
        for (int again = 0; !rig.writer->Completed && again < 8; ++again) {
          ++t.failuresSeen;
          if (verbose)
            std::printf(
                "  write stopped: %s / %s; rejected page transfers %u, failed reads %d, "
                "resent reads %d\n",
                rig.op.messages.empty() ? "-" : rig.op.messages.back().c_str(),
                rig.store->StatusText().c_str(), rig.stack->flash.RejectedReads,
                rig.stack->link.ReadFailures, rig.stack->link.ReadResends);
          withLinkFaults({});  // the failed block works again
          rig.Forget();
          rig.op.chooseAnswers = {1};  // continue
          ++t.continuations;
          rig.writer->WriteButtonClick();
        }
        if (!rig.writer->Completed) {
          ++t.writesGivenUp;
          continue;
        }
        ++t.writesCompleted;
        clips.insert(slot);
        check(channel, slot, false);
      } else if (dice < 65) {
        // A delete of one of the channel's clips, repeated until no chip lists it.
        auto it = clips.begin();
        std::advance(it, static_cast<long>(rng() % clips.size()));
        const int slot = *it;
        rig.UseChannel(channel);
        bool gone = false;
        for (int attempt = 0; attempt < 4 && !gone; ++attempt) {
          rig.store->DeleteFromChannel(slot);
          gone = true;
          for (const int chip : ChannelChips(channel)) {
            rig.store->SelectChip(chip);
            gone = gone && rig.store->Connected() && !rig.store->IsClipValid(slot);
          }
        }
        ++t.deletes;
        if (verbose)
          std::printf("  delete of clip %d on channel %d: %s\n", slot + 1, channel,
                      gone ? "gone" : "still listed");
        if (gone) clips.erase(it);
      } else if (dice < 85) {
        // A quick format of the channel.
        rig.UseChannel(channel);
        rig.store->FormatChannel(true);
        bool empty = true;
        for (const int chip : ChannelChips(channel)) {
          rig.store->SelectChip(chip);
          for (int n = 0; n < kClipSlots && empty; ++n)
            empty = rig.store->Connected() && !rig.store->IsClipValid(n);
        }
        ++t.formats;
        if (verbose)
          std::printf("  quick format of channel %d: %s\n", channel, empty ? "empty" : "not empty");
        if (empty) clips.clear();
      } else {
        // Every clip of the channel read back again.
        for (const int slot : clips) check(channel, slot, false);
      }
    }
    const double soaked = elapsed();
    const devsim::PacketCounts c = device.counts();

    // With the faults off, everything that should be there must read back as written.
    device.setFaults({});
    for (const auto& [channel, clips] : present)
      for (const int slot : clips) {
        ++t.checkedAtEnd;
        check(channel, slot, true);
      }

    std::printf("soak of %.0f s, seed %u: %d cycles\n", soaked, seed, t.cycles);
    std::printf(
        "  operations: %d writes (%d completed, %d given up after 8 continuations), %d "
        "continuations, %d read-backs (%d retried, %d still unreadable under faults), %d deletes, "
        "%d quick formats\n",
        t.writes, t.writesCompleted, t.writesGivenUp, t.continuations, t.readBacks, t.readRetries,
        t.unreadable, t.deletes, t.formats);
    std::printf(
        "  faults: %llu replies dropped, %llu duplicated, %llu delayed of %llu sent; %d program "
        "and %d erase failures put into blocks; %d writes stopped by a failure\n",
        static_cast<unsigned long long>(c.repliesDropped),
        static_cast<unsigned long long>(c.repliesDuplicated),
        static_cast<unsigned long long>(c.repliesDelayed),
        static_cast<unsigned long long>(c.repliesSent), t.injectedPrograms, t.injectedErases,
        t.failuresSeen);
    std::printf("  at the end: %d clips checked, %d lost, %d corrupted (target: none): %s\n",
                t.checkedAtEnd, t.lost, t.corrupted,
                t.lost == 0 && t.corrupted == 0 ? "met" : "NOT met");
    rc = t.lost == 0 && t.corrupted == 0 ? 0 : 1;
  }
  ::close(hostFd);
  std::error_code ec;
  std::filesystem::remove_all(home, ec);
  return rc;
}
