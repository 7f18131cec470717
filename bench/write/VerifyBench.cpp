// Verification against the simulated device (in this process, replies at once): the write of a
// looping clip on "Clip 1" plain and with every frame read back (--verify), then the same clip
// read back into clip files, verified against a new encoding of its source, hashed for the
// journal's check, and copied to a second simulated device. Printed in frames per second over
// both chips, with verify's ratio to the read-back of the same clip in the same run (target: at
// least 90%) and the checked write's and the copy's ratios to the plain write.
//
//   verify_bench [FRAMES=50]

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "HostSocket.h"
#include "MjpegClip.h"
#include "common/Paths.h"
#include "common/ScriptedOperator.h"
#include "devsim/DeviceSimulator.h"
#include "link/TimingTable.h"
#include "media/ClipCopy.h"
#include "media/ClipVerify.h"
#include "media/SourceSelection.h"
#include "media/WriteProcess.h"
#include "store/StoreStack.h"

using namespace orvana;

namespace {

constexpr int kChips[] = {0, 1};

double seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

class YesOperator : public ScriptedOperator {
 public:
  bool confirm(const std::string&) override { return true; }
};

struct Rig {
  Rig(std::uint16_t devicePort, std::uint16_t hostPort) {
    ResetTimingTable();
    stack = std::make_unique<StoreStack>("127.0.0.1", devicePort, op, hostPort);
    store = &stack->store;
    sources.CreateSources();
    selection = std::make_unique<SourceSelection>(sources, op);
    selection->IsConnected = [this] { return stack->link.IsConnected(); };
    selection->Connect1ButtonClick = [this] { store->ConnectChannel(); };
    writer = std::make_unique<WriteProcess>(*store, *selection, sources, op);
    writer->SettleMs = 0;
    writer->Overlap = true;
  }
  ~Rig() {
    writer.reset();
    selection.reset();
    stack.reset();
  }
  // Seconds the write of clip `number` took, or a negative figure when it failed.
  double Write(int number, bool verify) {
    store->VerifyPrograms = verify;
    op.promptAnswers = {std::to_string(number), "Bench"};
    op.chooseAnswers = {0};
    const double t0 = seconds();
    writer->WriteButtonClick();
    const double t = seconds() - t0;
    store->VerifyPrograms = false;
    return writer->Completed ? t : -1;
  }

  YesOperator op;
  std::unique_ptr<StoreStack> stack;
  ClipStore* store = nullptr;
  MediaSources sources;
  std::unique_ptr<SourceSelection> selection;
  std::unique_ptr<WriteProcess> writer;
};

}  // namespace

int main(int argc, char** argv) {
  const int frames = argc > 1 ? std::atoi(argv[1]) : 50;
  if (frames < 2 || frames > 4000) return 2;
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::random_device rd;
  const auto dir =
      std::filesystem::temp_directory_path() / ("orvana-verify-bench-" + std::to_string(rd()));
  std::filesystem::create_directories(dir);
  ::setenv("ORVANA_HOME", dir.c_str(), 1);
  ::setenv("ORVANA_DEVICE", "127.0.0.1", 1);
  std::uint16_t hostPort = 0;
  const int hostFd = bench::BindHostSocket(hostPort);
  if (hostFd < 0) return 1;

  std::uint16_t targetHostPort = 0;
  const int targetFd = bench::BindHostSocket(targetHostPort);
  if (targetFd < 0) return 1;

  devsim::DeviceSimulatorOptions o;
  o.replyPort = hostPort;
  o.recordTraffic = false;
  devsim::DeviceSimulator device(o);
  o.replyPort = targetHostPort;
  devsim::DeviceSimulator targetDevice(o);  // the copies go here
  if (!device.start() || !targetDevice.start()) {
    std::fprintf(stderr, "simulated device did not start: %s\n", device.error().c_str());
    return 1;
  }
  std::printf(
      "simulated device in this process, replies at once; \"Clip 1\" with Loop, %d "
      "frames on chips 0 and 1 (figures over both chips)\n",
      frames);
  int number = 1;
  for (const auto& [w, h] : {std::pair{720, 576}, std::pair{1920, 1080}}) {
    const auto source = dir / ("source-" + std::to_string(w) + ".avi");
    if (!bench::WriteMjpegClip(source, w, h, frames)) {
      std::fprintf(stderr, "cannot write the source\n");
      return 1;
    }
    Rig rig(device.port(), hostPort);
    ClipStore& store = *rig.store;
    for (int chip : kChips) {
      store.SelectChip(chip);
      if (!store.FormatChip(false)) {
        std::fprintf(stderr, "format of chip %d failed\n", chip);
        return 1;
      }
    }
    rig.selection->Channel = 0;
    rig.selection->LoopChecked = true;
    store.Channel = 0;
    rig.selection->OpenClipFile(source.string());
    store.ConnectChannel();
    // A short looping clip is repeated whole up to the length a write takes.
    const int chain = rig.selection->FramesToWrite;
    const double all = 2.0 * chain;

    const double plain = rig.Write(number, false);
    const double checked = rig.Write(number + 1, true);
    if (plain < 0 || checked < 0) {
      std::fprintf(stderr, "a write failed: %s\n",
                   rig.op.messages.empty() ? "-" : rig.op.messages.back().c_str());
      return 1;
    }
    const int slot = number - 1;
    number += 2;

    double t0 = seconds();
    for (int chip : kChips) {
      store.SelectChip(chip);
      if (!store.ReadClipBack(slot, dir / "bench.clip")) {
        std::fprintf(stderr, "read-back of chip %d failed\n", chip);
        return 1;
      }
    }
    const double readBack = seconds() - t0;

    ClipVerifier verifier(store, *rig.selection, rig.sources, rig.op);
    VerifyRequest request;
    request.Slot = slot;
    t0 = seconds();
    const VerifyResult r = verifier.Run(request);
    const double verify = seconds() - t0;
    if (!r.identical()) {
      std::fprintf(stderr, "verify found a difference: %s\n", r.What.c_str());
      return 1;
    }

    t0 = seconds();
    for (int chip : kChips) {
      store.SelectChip(chip);
      if (store.ReadClipDigest(slot, chain).empty()) {
        std::fprintf(stderr, "digest of chip %d failed\n", chip);
        return 1;
      }
    }
    const double digest = seconds() - t0;

    // The clip copied to the second device, into its formatted chips.
    double copy = -1;
    {
      Rig target(targetDevice.port(), targetHostPort);
      for (int chip : kChips) {
        target.store->SelectChip(chip);
        target.store->FormatChip(false);
      }
      CopyPlan plan;
      std::string why;
      t0 = seconds();
      target.op.promptAnswers = {std::to_string(slot + 1)};
      if (PlanCopy(store, 0, slot, plan, why) &&
          CopyClip(store, plan, 0, slot, *target.writer, *target.selection, *target.store,
                   target.op))
        copy = seconds() - t0;
      else
        std::fprintf(stderr, "the copy failed: %s\n", why.c_str());
    }

    const double ratio = readBack / verify;
    std::printf("source %dx%d Motion JPEG, %d frames written:\n", w, h, chain);
    std::printf("  write            %6.1f frames/s\n", all / plain);
    std::printf("  write --verify   %6.1f frames/s, %.0f%% of the plain write\n", all / checked,
                100 * plain / checked);
    std::printf("  read-back        %6.1f frames/s\n", all / readBack);
    std::printf("  verify           %6.1f frames/s, %.0f%% of the read-back (target >= 90%%: %s)\n",
                all / verify, 100 * ratio, ratio >= 0.9 ? "met" : "NOT met");
    if (copy > 0)
      std::printf(
          "  copy             %6.1f frames/s (read from one device, written to the other), "
          "%.0f%% of the plain write\n",
          all / copy, 100 * plain / copy);
    std::printf(
        "  verify --journal %6.1f frames/s (chain read and hashed), %.0f%% of the "
        "read-back\n",
        all / digest, 100 * readBack / digest);
  }
  device.stop();
  targetDevice.stop();
  ::close(hostFd);
  ::close(targetFd);
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return 0;
}
