// Write commands: write a clip into every chip of a channel, and continue an interrupted write.
#include <cstdio>
#include <optional>
#include <string>

#include "Cli.h"
#include "DeviceStack.h"
#include "Json.h"
#include "StopSignals.h"
#include "TerminalOperator.h"
#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "flash/PageAccess.h"
#include "flash/ZT_FLASH.h"
#include "link/ITF_ZT.h"
#include "media/ClipCopy.h"
#include "media/ClipVerify.h"
#include "media/SourceSelection.h"
#include "media/WriteProcess.h"
#include "store/ClipStore.h"
#include "store/DeviceFlashPort.h"
#include "store/Journal.h"

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
  bool overlap = true;   // the next frame is built while the current one is sent
  bool verify = false;   // every frame's pages read back and compared after programming
  bool journal = false;  // verify against the journal's digests instead of the source
  bool json = false;     // verify's outcome as one JSON object
  std::string clip, alpha, wipe;
};

// The channel, the loop box and the source files as the write (or its check) takes them.
bool openSources(WriteSession& s, const WriteOptions& o, int channel) {
  s.selection.Channel = channel;
  s.selection.LoopChecked = o.loop && !o.noLoop;
  s.selection.OpenClipFile(o.clip);
  if (!s.sources.ClipSource || !s.sources.ClipSource->IsOpen()) {
    std::fprintf(stderr, "Cannot open %s.\n", o.clip.c_str());
    return false;
  }
  if (!o.alpha.empty()) s.selection.OpenAlphaFile(o.alpha);
  if (!o.wipe.empty()) s.selection.OpenWipeFile(o.wipe);
  s.store.Channel = channel;
  return true;
}

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
  if (!openSources(s, o, channel)) return 1;
  s.store.VerifyPrograms = o.verify;
  s.store.ConnectChannel();
  if (!s.store.Connected()) {
    std::fprintf(stderr, "Not connected.\n");
    return 1;
  }
  if (StopRequested()) return 1;
  s.writer.WriteButtonClick();
  return finish(s);
}

// The outcome as text, or as one JSON object with --json; the exit code.
int reportVerify(const WriteOptions& o, const VerifyResult& r, const std::string& against,
                 const std::string& recordedAt) {
  const bool identical = r.Result == VerifyResult::Outcome::Identical;
  const bool different = r.Result == VerifyResult::Outcome::Different;
  if (o.json) {
    auto orNull = [](int v) { return v >= 0 ? std::optional<int>(v) : std::nullopt; };
    json::Writer w;
    w.beginObject()
        .field("channel", o.channel)
        .field("number", *o.number)
        .field("against", against);
    if (!recordedAt.empty()) w.field("recorded_at", recordedAt);
    w.field("result", identical   ? "identical"
                      : different ? "different"
                                  : "failed")
        .field("chip", identical ? std::nullopt : orNull(r.Chip))
        .field("frame", orNull(r.Frame))
        .field("page", orNull(r.Page))
        .field("row", r.Frame >= 0 ? std::optional<std::uint32_t>(r.Row) : std::nullopt)
        .field("what", r.What)
        .field("chips_compared", r.ChipsCompared)
        .field("frames_compared", r.FramesCompared)
        .endObject();
    json::print(w);
    if (r.Result == VerifyResult::Outcome::Failed && !r.What.empty())
      std::fprintf(stderr, "Verify failed: %s\n", r.What.c_str());
    return identical ? 0 : 1;
  }
  if (identical) {
    std::printf("Clip %d of %s is identical to %s: %d chips, %d frames compared.\n", *o.number,
                o.channel.c_str(),
                against == "journal" ? ("what was written at " + recordedAt).c_str() : "its source",
                r.ChipsCompared, r.FramesCompared);
    return 0;
  }
  if (different) {
    if (r.Frame >= 0)
      std::printf("First difference: chip %d, frame %d, page %d (row %u): %s.\n", r.Chip, r.Frame,
                  r.Page, static_cast<unsigned>(r.Row), r.What.c_str());
    else
      std::printf("First difference: chip %d: %s.\n", r.Chip, r.What.c_str());
    return 1;
  }
  std::fprintf(stderr, "Verify failed%s%s\n", r.What.empty() ? "." : ": ", r.What.c_str());
  return 1;
}

// Each chip's chain read back and hashed, against what the journal recorded when the clip was
// written; `recordedAt` gets the time of that write.
VerifyResult checkAgainstJournal(DeviceStack& s, int channel, int number, std::string& recordedAt) {
  std::vector<std::string> warnings;
  const std::vector<JournalEntry> entries = ReadJournal(&warnings);
  for (const std::string& w : warnings) std::fprintf(stderr, "%s\n", w.c_str());
  RecordedClip recorded;
  VerifyResult r;
  if (!FindRecordedClip(entries, s.store.DeviceName, ChannelName(channel), number, recorded,
                        r.What))
    return r;
  recordedAt = recorded.Time;
  for (const int chip : ChannelChips(channel)) {
    r.Chip = chip;
    if (!connectChip(s, chip)) {
      r.What = "chip " + std::to_string(chip) + " is not connected";
      return r;
    }
    const auto d = recorded.Digests.find(chip);
    if (d == recorded.Digests.end()) {
      r.What = "the journal has no digest of chip " + std::to_string(chip);
      return r;
    }
    std::string got;
    if (s.store.IsClipValid(number - 1)) {
      got = s.store.ReadClipDigest(number - 1, recorded.ChainFrames);
      if (got.empty()) {
        r.What = "chip " + std::to_string(chip) + " could not be read";
        return r;
      }
    }
    if (got != d->second) {
      r.Result = VerifyResult::Outcome::Different;
      r.What = got.empty() ? "clip " + std::to_string(number) + " is not on the chip"
                           : "its pages are not those written at " + recorded.Time;
      return r;
    }
    ++r.ChipsCompared;
    r.FramesCompared += recorded.ChainFrames;
  }
  r.Result = VerifyResult::Outcome::Identical;
  r.Chip = -1;
  return r;
}

int verifyAgainstJournal(const Globals& g, const WriteOptions& o, int channel) {
  WithOperator<TerminalOperator> op(g.yes);
  DeviceStack s(g, op.op);
  std::string recordedAt;
  const VerifyResult r = checkAgainstJournal(s, channel, *o.number, recordedAt);
  return reportVerify(o, r, "journal", recordedAt);
}

int verifyClip(const Globals& g, const WriteOptions& o) {
  const int channel = ChannelFromName(o.channel.c_str());
  if (channel < 0) {
    std::fprintf(stderr, "Unknown channel %s.\n", o.channel.c_str());
    return 2;
  }
  if (!o.number || *o.number < 1 || *o.number > kClipSlots) {
    std::fprintf(stderr, "--number must be 1..%d.\n", kClipSlots);
    return 2;
  }
  if (o.journal) return verifyAgainstJournal(g, o, channel);
  if (o.clip.empty()) {
    std::fprintf(stderr, "verify needs the clip's AVI file, or --journal.\n");
    return 2;
  }
  WriteSession s(g);
  if (!openSources(s, o, channel)) return 1;
  VerifyRequest request;
  request.Slot = *o.number - 1;
  request.Comment = o.comment;
  request.Timecode = o.timecode;
  request.Overlap = o.overlap;
  ClipVerifier verifier(s.store, s.selection, s.sources, s.op);
  const VerifyResult r = verifier.Run(request);
  if (StopRequested()) return 1;
  return reportVerify(o, r, "source", "");
}

struct CopyOptions {
  std::string from, to, channel;
  std::optional<std::uint16_t> fromHostPort, toHostPort;
  int number = 0;
  std::optional<int> as;
};

int copyClip(const Globals& g, const CopyOptions& o) {
  const int channel = ChannelFromName(o.channel.c_str());
  if (channel < 0) {
    std::fprintf(stderr, "Unknown channel %s.\n", o.channel.c_str());
    return 2;
  }
  const int as = o.as.value_or(o.number);
  if (o.number < 1 || o.number > kClipSlots || as < 1 || as > kClipSlots) {
    std::fprintf(stderr, "--number and --as must be 1..%d.\n", kClipSlots);
    return 2;
  }
  Globals gf = g, gt = g;
  gf.device = o.from;
  gt.device = o.to;
  if (o.fromHostPort) gf.hostPort = o.fromHostPort;
  if (o.toHostPort) gt.hostPort = o.toHostPort;
  const DeviceEndpoint from = gf.endpoint(), to = gt.endpoint();
  if (from.address == to.address && from.port == to.port) {
    std::fprintf(stderr, "--from and --to name the same device (%s:%u).\n", to.address.c_str(),
                 static_cast<unsigned>(to.port));
    return 2;
  }
  if (from.hostPort == to.hostPort) {
    std::fprintf(stderr,
                 "The two devices must reply to different local ports: give --from-host-port "
                 "and --to-host-port.\n");
    return 2;
  }

  // The source is only ever read: without a device name its store does not even offer to
  // complete a directory rewrite that was cut short there.
  WithOperator<TerminalOperator> sourceOp(g.yes);
  DeviceStack source(gf, sourceOp.op);
  source.store.DeviceName.clear();
  CopyPlan plan;
  std::string why;
  if (!PlanCopy(source.store, channel, o.number - 1, plan, why)) {
    std::fprintf(stderr, "Cannot copy: %s.\n", why.c_str());
    return 1;
  }
  WriteSession t(gt);
  t.op.number = as;
  t.op.choice = 0;
  const bool done =
      CopyClip(source.store, plan, channel, as - 1, t.writer, t.selection, t.store, t.op);
  if (!done) {
    if (!t.link.IsConnected())
      std::fprintf(stderr, "No answer from %s:%u.\n", to.address.c_str(),
                   static_cast<unsigned>(to.port));
    return 1;
  }

  // Checked as verify --journal would: every chip's chain on the target against the digests of
  // the pages the copy sent.
  std::string recordedAt;
  const VerifyResult r = checkAgainstJournal(t, channel, as, recordedAt);
  if (!r.identical()) {
    std::fprintf(stderr, "The copy does not read back as written: chip %d: %s.\n", r.Chip,
                 r.What.c_str());
    return 1;
  }
  std::printf(
      "Clip %d of %s copied from %s:%u to %s:%u as clip %d and verified: %d chips, %d "
      "frames.\n",
      o.number, o.channel.c_str(), from.address.c_str(), static_cast<unsigned>(from.port),
      to.address.c_str(), static_cast<unsigned>(to.port), as, r.ChipsCompared, r.FramesCompared);
  return 0;
}

int continueWrite(const Globals& g, const WriteOptions& o) {
  if (ProfileFile(paths::settingsFile(kMainIni)).readInt("Safe write", "Active", 0) == 0) {
    std::fprintf(stderr, "No interrupted write to continue.\n");
    return 1;
  }
  WriteSession s(g);
  s.op.choice = 1;  // "Continue write process"
  s.store.VerifyPrograms = o.verify;
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
  w->add_flag("--verify", o->verify,
              "read every frame back after programming it; a difference stops the write "
              "(continue it as after any write error)");
  w->callback([&g, &exitCode, o] { exitCode = writeClip(g, *o); });

  auto cp = std::make_shared<CopyOptions>();
  CLI::App* cc = app.add_subcommand(
      "copy", "Copy a clip from one device into the same channel of another, verified");
  cc->add_option("--from", cp->from, "source device ADDR[:PORT] (only read)")->required();
  cc->add_option("--to", cp->to, "target device ADDR[:PORT]")->required();
  cc->add_option("--from-host-port", cp->fromHostPort, "local port the source replies to");
  cc->add_option("--to-host-port", cp->toHostPort, "local port the target replies to");
  cc->add_option("--channel", cp->channel, "clip1, clip2, wipe or logo")->required();
  cc->add_option("--number", cp->number, "clip number 1..100 on the source")->required();
  cc->add_option("--as", cp->as, "clip number on the target (default: the same)");
  cc->callback([&g, &exitCode, cp] { exitCode = copyClip(g, *cp); });

  auto v = std::make_shared<WriteOptions>();
  CLI::App* vc = app.add_subcommand(
      "verify", "Compare a clip on the device page by page with a new encoding of its source");
  vc->add_option("--channel", v->channel, "clip1, clip2, wipe or logo")->required();
  vc->add_option("--number", v->number, "clip number 1..100")->required();
  vc->add_option("--comment", v->comment,
                 "the comment given to the write (default: the comment is not compared)");
  auto* vloop = vc->add_flag("--loop", v->loop, "the clip was written with Loop checked");
  vc->add_flag("--no-loop", v->noLoop, "the clip was written with Loop unchecked (default)")
      ->excludes(vloop);
  vc->add_flag("--timecode", v->timecode, "the write burnt the timecode in");
  vc->add_flag("--overlap,!--no-overlap", v->overlap,
               "encode the next frame while the current one is read (default)");
  vc->add_flag("--journal", v->journal,
               "compare with the digests the journal recorded when the clip was written "
               "(no source needed)");
  vc->add_flag("--json", v->json, "the outcome as one JSON object");
  vc->add_option("clip", v->clip, "clip AVI file");
  vc->add_option("--alpha", v->alpha, "alpha AVI file (super wipe, logo)");
  vc->add_option("--wipe", v->wipe, "wipe AVI file (super wipe)");
  vc->callback([&g, &exitCode, v] { exitCode = verifyClip(g, *v); });

  auto c = std::make_shared<WriteOptions>();
  CLI::App* k = app.add_subcommand("continue", "Continue an interrupted write");
  auto* cloop = k->add_flag("--loop", c->loop, "the interrupted write had Loop checked");
  k->add_flag("--no-loop", c->noLoop, "the interrupted write had Loop unchecked (default)")
      ->excludes(cloop);
  k->add_flag("--timecode", c->timecode, "the interrupted write burnt the timecode in");
  k->add_flag("--overlap,!--no-overlap", c->overlap,
              "build the next frame while the current one is sent (default)");
  k->add_flag("--verify", c->verify, "read every frame back after programming it");
  k->callback([&g, &exitCode, c] { exitCode = continueWrite(g, *c); });
}

}  // namespace orvana::cli
