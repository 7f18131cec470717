// Backup and restore of a channel's system areas (directory, cell map, thumbnails of every chip):
// what an operator keeps before risky work, and what brings a channel's clips back into view when
// a chip's directory has been lost.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "Cli.h"
#include "DeviceStack.h"
#include "StopSignals.h"
#include "TerminalOperator.h"
#include "store/ChipLayout.h"
#include "store/ClipStore.h"
#include "store/Journal.h"
#include "store/SystemAreaBackup.h"

namespace orvana::cli {

namespace {

struct Session : WithOperator<TerminalOperator>, DeviceStack {
  explicit Session(const Globals& g) : WithOperator(g.yes), DeviceStack(g, op) {}
};

int clipsListed(const ClipStore& store) {
  int n = 0;
  for (int slot = 0; slot < kClipSlots; ++slot) n += store.IsClipValid(slot) ? 1 : 0;
  return n;
}

int backup(const Globals& g, const std::string& channelName, const std::string& file) {
  const int channel = ChannelFromName(channelName.c_str());
  Session s(g);
  SystemAreaBackup b;
  b.Channel = channel;
  for (int chip : ChannelChips(channel)) {
    if (StopRequested()) return 1;  // nothing written yet
    s.store.SelectChip(chip);
    if (!s.store.Connected()) {
      std::fprintf(stderr, "Chip %d: its directory could not be read; nothing was saved.\n", chip);
      return 1;
    }
    b.Chips.push_back(chip);
    b.Images.push_back(s.store.BuildSystemArea());
    std::fprintf(stderr, "Chip %d: %d clips\n", chip, clipsListed(s.store));
  }
  if (!WriteBackupFile(file, b)) {
    std::fprintf(stderr, "Cannot write %s\n", file.c_str());
    return 1;
  }
  return 0;
}

int restore(const Globals& g, const std::string& channelName, const std::string& file) {
  const int channel = ChannelFromName(channelName.c_str());
  SystemAreaBackup b;
  std::string why;
  if (!ReadBackupFile(file, b, &why)) {
    std::fprintf(stderr, "%s %s.\n", file.c_str(), why.c_str());
    return 1;
  }
  const auto chips = ChannelChips(channel);
  if (b.Channel != channel || b.Chips != std::vector<int>(chips.begin(), chips.end())) {
    std::fprintf(stderr, "%s holds another channel.\n", file.c_str());
    return 1;
  }
  Session s(g);
  if (!s.op.confirm("The directories of " + channelName + " are replaced by those of " + file +
                    "; clips written since then disappear from view. Restore?"))
    return 1;
  ClipStore& store = s.store;
  FlashPort& flash = store.flash();
  // The journal names the chips whose directories were replaced, and the file they came from.
  JournalEntry journal;
  journal.Device = store.DeviceName;
  journal.Operation = "restore";
  journal.Channel = channelName;
  journal.Comment = std::filesystem::absolute(file).string();
  const auto t0 = std::chrono::steady_clock::now();
  auto record = [&](const char* result) {
    if (journal.Chips.empty()) return;
    journal.Result = result;
    journal.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (!AppendJournal(journal)) std::fprintf(stderr, "Cannot write the journal.\n");
  };
  for (std::size_t i = 0; i < b.Chips.size(); ++i) {
    // Each chip's restore is whole; a stop comes between two of them.
    if (StopRequested()) {
      std::fprintf(stderr, "Stopped before chip %d; restore again to put back the rest.\n",
                   b.Chips[i]);
      record("cancelled");
      return 1;
    }
    journal.Chips.push_back(b.Chips[i]);
    // Selected without loading: a chip whose directory is lost must still be restorable.
    store.CurrentChip = b.Chips[i];
    flash.SetChipSelect(store.CurrentChip);
    flash.BeginFlashAccess();
    const bool ok = store.RestoreSystemArea(b.Images[i]);
    flash.EndFlashAccess();
    if (!ok) {
      std::fprintf(stderr, "Chip %d: the restore failed; connect again to complete it.\n",
                   b.Chips[i]);
      record("failed");
      return 1;
    }
    std::fprintf(stderr, "Chip %d: %d clips\n", b.Chips[i], clipsListed(store));
  }
  store.SelectChip(b.Chips.front());
  record(store.Connected() ? "completed" : "failed");
  return store.Connected() ? 0 : 1;
}

}  // namespace

void addBackupCommands(CLI::App& app, Globals& g, int& exitCode) {
  const auto channelNames = CLI::IsMember({"clip1", "clip2", "wipe", "logo"});
  auto bo = std::make_shared<std::pair<std::string, std::string>>();
  auto* b = app.add_subcommand("backup", "Save the directories of a channel's chips to a file");
  b->add_option("--channel", bo->first, "clip1, clip2, wipe or logo")
      ->required()
      ->check(channelNames);
  b->add_option("-o", bo->second, "backup file")->required();
  b->callback([&g, &exitCode, bo] { exitCode = backup(g, bo->first, bo->second); });

  auto ro = std::make_shared<std::pair<std::string, std::string>>();
  auto* r = app.add_subcommand("restore", "Put a channel's saved directories back on its chips");
  r->add_option("--channel", ro->first, "clip1, clip2, wipe or logo")
      ->required()
      ->check(channelNames);
  r->add_option("file", ro->second, "backup file")->required();
  r->callback([&g, &exitCode, ro] { exitCode = restore(g, ro->first, ro->second); });
}

}  // namespace orvana::cli
