#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Cli.h"
#include "Json.h"
#include "TerminalOperator.h"
#include "common/AtomicFile.h"
#include "media/FrameBuilder.h"
#include "media/SourceSelection.h"

namespace orvana::cli {

namespace {

struct EncodeOptions {
  int chip = 0;
  long long frame = 0;
  bool loop = false;
  bool noLoop = false;
  bool timecode = false;
  std::string clip, alpha, wipe, output;
};

bool OpenInto(std::unique_ptr<MediaController>& slot, const std::string& name, const char* what) {
  if (name.empty()) return true;
  slot = std::make_unique<MediaController>();
  if (slot->Open(name, 320, 180)) return true;
  std::cerr << "Cannot open " << what << " file: " << name << "\n";
  return false;
}

int Encode(const EncodeOptions& o, bool assumeYes) {
  const int channel = ChannelOfChip(o.chip);
  if (channel < 0) {
    std::cerr << "Chip " << o.chip << " belongs to no channel.\n";
    return 2;
  }
  TerminalOperator op(assumeYes);
  MediaSources sources;
  if (!OpenInto(sources.ClipSource, o.clip, "clip") ||
      !OpenInto(sources.AlphaSource, o.alpha, "alpha") ||
      !OpenInto(sources.WipeSource, o.wipe, "wipe")) {
    return 1;
  }
  MediaController& clip = *sources.ClipSource;
  if (!CheckAudio(clip, op)) clip.HasAudio = 0;
  const bool loop = o.loop && !o.noLoop;
  const int n = int(clip.LengthFrames & 0xFFFFFFFF);
  FramePass pass;
  pass.FramesToWrite = ShortLoopFrames(channel, loop, n);
  const ClipKind kind = KindOfChannel(channel);
  const bool holdFrames = (kind == ClipKind::Clip && !loop) || kind == ClipKind::SuperWipe;
  pass.Wrap = holdFrames ? 0 : 1;
  pass.Timecode = o.timecode;
  pass.ClipSourceWidth = clip.Width;
  pass.ClipSourceHeight = clip.Height;
  FrameBuffer buffer;
  FrameBuilder builder(sources);
  if (!builder.BuildFrame(buffer, o.chip, o.frame, pass)) return 1;
  if (!WriteFileAtomically(o.output, std::vector<std::uint8_t>(
                                         buffer.data(), buffer.data() + kFramePages * kPageSize))) {
    std::cerr << "Cannot write " << o.output << "\n";
    return 1;
  }
  return 0;
}

// What the source lists show of an AVI file; with `json`, the same as one object, with the sound's
// format even when the check refuses it (the reason then in "problem"), so a script can tell.
int Probe(const std::string& file, bool json, bool assumeYes) {
  TerminalOperator op(assumeYes);
  MediaController m;
  if (!m.Open(file, 320, 180)) {
    std::cerr << "Cannot open " << file << "\n";
    return 1;
  }
  const bool hasAudio = m.HasAudio != 0;
  const bool audioUsable = CheckAudio(m, op);
  if (!audioUsable) m.HasAudio = 0;
  if (!json) {
    std::vector<std::string> video, audio;
    ShowSourceInfo(m, &video, &audio);
    for (const auto& l : video) std::cout << l << "\n";
    for (const auto& l : audio) std::cout << l << "\n";
    return 0;
  }
  json::Writer w;
  w.beginObject()
      .field("file", file)
      .field("width", m.Width)
      .field("height", m.Height)
      .field("frame_rate", m.FrameRate)
      .field("frames", m.LengthFrames)
      .field("blocks", 2 * m.LengthFrames)
      .key("audio");
  if (hasAudio) {
    const WaveFormat& f = m.AudioFormat;
    w.beginObject()
        .field("format_tag", f.FormatTag)
        .field("rate", f.SamplesPerSec)
        .field("bits", f.BitsPerSample)
        .field("channels", f.Channels)
        .field("block_align", f.BlockAlign)
        .field("usable", audioUsable)
        .field("problem", audioUsable ? std::nullopt : std::optional<std::string>(op.lastMessage()))
        .endObject();
  } else {
    w.null();
  }
  json::print(w.endObject());
  return 0;
}

}  // namespace

void addMediaCommands(CLI::App& app, Globals& g, int& exitCode) {
  struct ProbeOptions {
    std::string file;
    bool json = false;
  };
  auto po = std::make_shared<ProbeOptions>();
  auto* probe = app.add_subcommand("probe", "Show what an AVI file holds, as the source lists do");
  probe->add_option("FILE", po->file, "AVI file")->required();
  probe->add_flag("--json", po->json, "Print one JSON object");
  probe->callback([po, &g, &exitCode] { exitCode = Probe(po->file, po->json, g.yes); });

  auto* encode = app.add_subcommand(
      "encode", "Write the 73 pages one chip stores of one frame (payload before links and ECC)");
  auto o = std::make_shared<EncodeOptions>();
  encode->add_option("--chip", o->chip, "Chip 0 to 10")->required()->check(CLI::Range(0, 10));
  encode->add_option("--frame", o->frame, "Frame index")->required()->check(CLI::NonNegativeNumber);
  auto* loop = encode->add_flag("--loop", o->loop, "The clip loops (no hold frames)");
  encode->add_flag("--no-loop", o->noLoop, "The clip ends in hold frames (default)")
      ->excludes(loop);
  encode->add_flag("--timecode", o->timecode, "Stamp the timecode on the clip picture");
  encode->add_option("CLIP", o->clip, "Clip AVI file")->required();
  encode->add_option("--alpha", o->alpha, "Alpha AVI file");
  encode->add_option("--wipe", o->wipe, "Wipe AVI file");
  encode->add_option("-o,--output", o->output, "Pages file")->required();
  encode->callback([o, &g, &exitCode] { exitCode = Encode(*o, g.yes); });
}

}  // namespace orvana::cli
