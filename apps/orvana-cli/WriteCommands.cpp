// Write commands: write a clip into every chip of a channel, and continue an interrupted write.
#include <cstdio>
#include <optional>
#include <string>

#include "Cli.h"
#include "DeviceStack.h"
#include "StopSignals.h"
#include "TerminalOperator.h"
#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "flash/PageAccess.h"
#include "flash/ZT_FLASH.h"
#include "link/ITF_ZT.h"
#include "media/SourceSelection.h"
#include "media/WriteProcess.h"
#include "store/ClipStore.h"
#include "store/DeviceFlashPort.h"

namespace orvana::cli {

namespace {

// The terminal operator with the write's questions answered from the command line. A stop
// signal is the Cancel button with its question already answered Yes: the frame in progress is
// placed and the pass stops as a confirmed cancel does.
class WriteOperator : public TerminalOperator {
 public:
  using TerminalOperator::TerminalOperator;

  bool prompt(const std::string& text, std::string& value) override {
    if (StopRequested()) return false;
    if (text == "Enter media number (1.. 100)" && number) value = std::to_string(*number);
    if (text == "Enter comment:" && comment) value = *comment;
    std::fprintf(stderr, "%s %s\n", text.c_str(), value.c_str());
    return true;
  }
  int choose(const std::string& text, const std::vector<std::string>& options) override {
    std::fprintf(stderr, "%s: %s\n", text.c_str(),
                 options[static_cast<std::size_t>(choice)].c_str());
    return choice;
  }

  std::optional<int> number;
  std::optional<std::string> comment;
  int choice = 0;
};

struct WriteSession : WithOperator<WriteOperator>, DeviceStack {
  explicit WriteSession(const Globals& g)
      : WithOperator(g.yes),
        DeviceStack(g, op),
        selection(sources, op),
        writer(store, selection, sources, op) {
    op.watch(&store.Running);
    sources.CreateSources();
    selection.IsConnected = [this] { return link.IsConnected(); };
    selection.Connect1ButtonClick = [this] { store.ConnectChannel(); };
  }
  ~WriteSession() { op.watch(nullptr); }

  MediaSources sources;
  SourceSelection selection;
  WriteProcess writer;
};

struct WriteOptions {
  std::string channel;
  std::optional<int> number;
  std::optional<std::string> comment;
  bool loop = false;
  bool noLoop = false;
  bool timecode = false;
  bool overlap = true;  // the next frame is built while the current one is sent
  std::string clip, alpha, wipe;
};

int finish(WriteSession& s) {
  if (s.writer.Completed) {
    std::fprintf(stderr, "Clip %d written.\n", s.store.ClipNumber + 1);
    return 0;
  }
  return 1;
}

int writeClip(const Globals& g, const WriteOptions& o) {
  const int channel = ChannelFromName(o.channel.c_str());
  if (channel < 0) {
    std::fprintf(stderr, "Unknown channel %s.\n", o.channel.c_str());
    return 2;
  }
  WriteSession s(g);
  s.op.number = o.number;
  s.op.comment = o.comment;
  s.op.choice = 0;  // "Write new"
  s.writer.Timecode = o.timecode;
  s.writer.Overlap = o.overlap;
  s.selection.Channel = channel;
  s.selection.LoopChecked = o.loop && !o.noLoop;
  s.selection.OpenClipFile(o.clip);
  if (!s.sources.ClipSource || !s.sources.ClipSource->IsOpen()) {
    std::fprintf(stderr, "Cannot open %s.\n", o.clip.c_str());
    return 1;
  }
  if (!o.alpha.empty()) s.selection.OpenAlphaFile(o.alpha);
  if (!o.wipe.empty()) s.selection.OpenWipeFile(o.wipe);
  s.store.Channel = channel;
  s.store.ConnectChannel();
  if (!s.store.Connected()) {
    std::fprintf(stderr, "Not connected.\n");
    return 1;
  }
  if (StopRequested()) return 1;
  s.writer.WriteButtonClick();
  return finish(s);
}

int continueWrite(const Globals& g, const WriteOptions& o) {
  if (ProfileFile(paths::settingsFile(kMainIni)).readInt("Safe write", "Active", 0) == 0) {
    std::fprintf(stderr, "No interrupted write to continue.\n");
    return 1;
  }
  WriteSession s(g);
  s.op.choice = 1;  // "Continue write process"
  s.writer.Timecode = o.timecode;
  s.writer.Overlap = o.overlap;
  s.selection.LoopChecked = o.loop && !o.noLoop;
  if (StopRequested()) return 1;
  s.writer.WriteButtonClick();
  return finish(s);
}

}  // namespace

void addWriteCommands(CLI::App& app, Globals& g, int& exitCode) {
  auto o = std::make_shared<WriteOptions>();
  CLI::App* w = app.add_subcommand("write", "Write a clip into every chip of a channel");
  w->add_option("--channel", o->channel, "clip1, clip2, wipe or logo")->required();
  w->add_option("--number", o->number, "clip number 1..100 (default: the first free one)");
  w->add_option("--comment", o->comment, "comment (default: No comment)");
  auto* loop = w->add_flag("--loop", o->loop, "the clip loops (no hold frames)");
  w->add_flag("--no-loop", o->noLoop, "the clip holds its last frame (default)")->excludes(loop);
  w->add_flag("--timecode", o->timecode, "burn the timecode into the pictures");
  w->add_flag("--overlap,!--no-overlap", o->overlap,
              "build the next frame while the current one is sent (default)");
  w->add_option("clip", o->clip, "clip AVI file")->required();
  w->add_option("--alpha", o->alpha, "alpha AVI file (super wipe, logo)");
  w->add_option("--wipe", o->wipe, "wipe AVI file (super wipe)");
  w->callback([&g, &exitCode, o] { exitCode = writeClip(g, *o); });

  auto c = std::make_shared<WriteOptions>();
  CLI::App* k = app.add_subcommand("continue", "Continue an interrupted write");
  auto* cloop = k->add_flag("--loop", c->loop, "the interrupted write had Loop checked");
  k->add_flag("--no-loop", c->noLoop, "the interrupted write had Loop unchecked (default)")
      ->excludes(cloop);
  k->add_flag("--timecode", c->timecode, "the interrupted write burnt the timecode in");
  k->add_flag("--overlap,!--no-overlap", c->overlap,
              "build the next frame while the current one is sent (default)");
  k->callback([&g, &exitCode, c] { exitCode = continueWrite(g, *c); });
}

}  // namespace orvana::cli
