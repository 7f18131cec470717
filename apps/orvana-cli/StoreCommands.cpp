// Clip store commands: list, map, delete, format, read and select on the device's chips.
#include <QBuffer>
#include <QByteArray>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "Cli.h"
#include "DeviceStack.h"
#include "Json.h"
#include "StopSignals.h"
#include "TerminalOperator.h"
#include "common/AtomicFile.h"
#include "common/Text1252.h"
#include "flash/PageAccess.h"
#include "flash/ZT_FLASH.h"
#include "link/ITF_ZT.h"
#include "store/ChannelView.h"
#include "store/ChipLayout.h"
#include "store/ClipStore.h"
#include "store/DeviceFlashPort.h"

namespace orvana::cli {

namespace {

// Passes everything to the terminal and remembers whether the last question got a Yes, so a
// command can tell "declined" from "done".
class AnsweringOperator : public TerminalOperator {
 public:
  using TerminalOperator::TerminalOperator;
  bool confirm(const std::string& text) override {
    lastAnswer = TerminalOperator::confirm(text);
    return lastAnswer;
  }
  bool lastAnswer = false;
};

// One device stack for the life of a command. A stop signal cancels a read-back between pages;
// delete and format finish what they began, so no chip of a channel is left out.
struct StoreSession : WithOperator<AnsweringOperator>, DeviceStack {
  explicit StoreSession(const Globals& g) : WithOperator(g.yes), DeviceStack(g, op), view(store) {
    op.watch(&store.Running);
  }
  ~StoreSession() { op.watch(nullptr); }
  // The strip and map a window would show; the map and the delete's selection come from it.
  ChannelView view;
};

const char* kindName(int kind) {
  switch (kind) {
    case 0:
      return "clip";
    case 1:
      return "super wipe";
    case 2:
      return "logo";
    default:
      return "unknown";
  }
}

int listClips(const Globals& g, std::optional<int> chip, const std::string& channelName,
              bool json) {
  int c = chip.value_or(0);
  if (!chip) {
    const int channel = ChannelFromName(channelName.c_str());
    if (channel < 0) return 2;
    c = ChannelChips(channel).front();
  }
  StoreSession s(g);
  if (!connectChip(s, c)) return 1;
  json::Writer w;
  w.beginArray();
  for (int n = 0; n < kClipSlots; ++n) {
    const ClipRecord& r = s.store.ClipDirectory[n];
    if (!r.isValid()) continue;
    const std::string comment = cp1252ToUtf8(r.commentText());
    if (json) {
      w.beginObject()
          .field("number", n + 1)
          .field("frames", r.FrameCount)
          .field("source_frames", r.SourceFrames)
          .field("kind", r.Kind)
          .field("has_audio", r.HasAudio != 0)
          .field("comment", comment)
          .field("start_page", r.StartPage)
          .endObject();
    } else {
      std::printf("%3d  %5d frames  (source %5d)  %-10s %s  page %7u  %s\n", n + 1, r.FrameCount,
                  r.SourceFrames, kindName(r.Kind), r.HasAudio ? "audio" : "     ", r.StartPage,
                  comment.c_str());
    }
  }
  if (json)
    json::print(w.endArray());
  else
    std::printf("%s\n", s.view.MapHint.c_str());
  return 0;
}

int saveMap(const Globals& g, int chip, const std::string& file) {
  StoreSession s(g);
  if (!connectChip(s, chip)) return 1;
  QByteArray png;
  QBuffer buffer(&png);
  if (!buffer.open(QIODevice::WriteOnly) || !s.view.MapImage.save(&buffer, "PNG") ||
      !WriteFileAtomically(file, std::vector<std::uint8_t>(png.begin(), png.end()))) {
    std::fprintf(stderr, "Cannot write %s\n", file.c_str());
    return 1;
  }
  return 0;
}

int deleteClip(const Globals& g, int channel, int number) {
  StoreSession s(g);
  s.store.Channel = channel;
  const int first = ChannelChips(channel).front();
  if (!connectChip(s, first)) return 1;
  const int n = number - 1;
  if (!s.view.Timeline.FindByIndex(n)) {
    std::fprintf(stderr, "Clip %d is not on chip %d.\n", number, first);
    return 1;
  }
  s.store.DeleteFromChannel(n);
  if (!s.op.lastAnswer) return 1;
  return s.store.Connected() && s.store.CurrentChip == first && !s.store.IsClipValid(n) ? 0 : 1;
}

int formatChannel(const Globals& g, int channel, bool quick) {
  StoreSession s(g);
  s.store.Channel = channel;
  // Each chip of the group is selected by the format itself.
  s.store.FormatChannel(quick);
  if (!s.op.lastAnswer) return 1;
  return s.store.Connected() && s.store.CurrentChip == ChannelChips(channel).front() &&
                 s.store.FirstFreeClipNumber() == 0
             ? 0
             : 1;
}

// Connects to the chip and finds clip `number` (as the operator counts) on it: its slot, or -1
// once the reason has been told.
int connectToClip(StoreSession& s, int chip, int number) {
  if (!connectChip(s, chip)) return -1;
  const int n = number - 1;
  if (!s.store.IsClipValid(n)) {
    std::fprintf(stderr, "Clip %d is not on chip %d.\n", number, chip);
    return -1;
  }
  return n;
}

int readClip(const Globals& g, int chip, int number, const std::string& file) {
  StoreSession s(g);
  const int n = connectToClip(s, chip, number);
  if (n < 0 || StopRequested()) return 1;
  s.store.DisableControls();
  const bool ok = s.store.ReadClipBack(n, file);
  s.store.EnableControls();
  if (ok) {
    const auto path = file.empty() ? ClipStore::ClipFilePath(n, chip) : std::filesystem::path(file);
    std::printf("%s\n", path.c_str());
  }
  return ok ? 0 : 1;
}

int selectClip(const Globals& g, int chip, int number) {
  StoreSession s(g);
  const int n = connectToClip(s, chip, number);
  if (n < 0) return 1;
  return s.port.SelectClip(chip, n) ? 0 : 1;
}

}  // namespace

void addStoreCommands(CLI::App& app, Globals& g, int& exitCode) {
  const auto chipRange = CLI::Range(0, kChipCount - 1);
  const auto numberRange = CLI::Range(1, kClipSlots);
  const auto channelNames = CLI::IsMember({"clip1", "clip2", "wipe", "logo"});

  struct ListOptions {
    std::optional<int> chip;
    std::string channel;
    bool json = false;
  };
  auto lo = std::make_shared<ListOptions>();
  auto* list = app.add_subcommand("list", "List the clips of a chip");
  auto* chipOpt = list->add_option("--chip", lo->chip, "Chip 0..11")->check(chipRange);
  auto* channelOpt =
      list->add_option("--channel", lo->channel, "clip1, clip2, wipe or logo")->check(channelNames);
  chipOpt->excludes(channelOpt);
  list->add_flag("--json", lo->json, "Print a JSON array");
  list->callback([&g, &exitCode, lo, chipOpt, channelOpt] {
    if (!chipOpt->count() && !channelOpt->count()) throw CLI::RequiredError("--chip or --channel");
    exitCode = listClips(g, lo->chip, lo->channel, lo->json);
  });

  struct ChipFile {
    int chip = 0;
    int number = 1;
    std::string file;
    std::string channel;
    bool quick = false;
  };
  auto mo = std::make_shared<ChipFile>();
  auto* map = app.add_subcommand("map", "Save the channel map of a chip as PNG");
  map->add_option("--chip", mo->chip, "Chip 0..11")->required()->check(chipRange);
  map->add_option("-o", mo->file, "PNG file")->required();
  map->callback([&g, &exitCode, mo] { exitCode = saveMap(g, mo->chip, mo->file); });

  auto dl = std::make_shared<ChipFile>();
  auto* del = app.add_subcommand("delete", "Delete a clip from every chip of a channel");
  del->add_option("--channel", dl->channel, "clip1, clip2, wipe or logo")
      ->required()
      ->check(channelNames);
  del->add_option("--number", dl->number, "Clip number 1..100")->required()->check(numberRange);
  del->callback([&g, &exitCode, dl] {
    exitCode = deleteClip(g, ChannelFromName(dl->channel.c_str()), dl->number);
  });

  auto fo = std::make_shared<ChipFile>();
  auto* fmt = app.add_subcommand("format", "Format every chip of a channel");
  fmt->add_option("--channel", fo->channel, "clip1, clip2, wipe or logo")
      ->required()
      ->check(channelNames);
  fmt->add_flag("--quick", fo->quick, "Quick format (no block erases)");
  fmt->callback([&g, &exitCode, fo] {
    exitCode = formatChannel(g, ChannelFromName(fo->channel.c_str()), fo->quick);
  });

  auto ro = std::make_shared<ChipFile>();
  auto* rd = app.add_subcommand("read", "Read a clip back into a clip file");
  rd->add_option("--chip", ro->chip, "Chip 0..11")->required()->check(chipRange);
  rd->add_option("--number", ro->number, "Clip number 1..100")->required()->check(numberRange);
  rd->add_option("-o", ro->file, "Clip file (default: the work folder)");
  rd->callback([&g, &exitCode, ro] { exitCode = readClip(g, ro->chip, ro->number, ro->file); });

  auto so = std::make_shared<ChipFile>();
  auto* sel = app.add_subcommand("select", "Cue a clip on the device");
  sel->add_option("--chip", so->chip, "Chip 0..11")->required()->check(chipRange);
  sel->add_option("--number", so->number, "Clip number 1..100")->required()->check(numberRange);
  sel->callback([&g, &exitCode, so] { exitCode = selectClip(g, so->chip, so->number); });
}

}  // namespace orvana::cli
