// export --channel NAME --number N --full -o FILE.avi: a clip recovered at full quality from
// every chip of its channel.
#include <cstdio>
#include <string>

#include "Cli.h"
#include "DeviceStack.h"
#include "StopSignals.h"
#include "TerminalOperator.h"
#include "media/FullExport.h"
#include "store/ChipLayout.h"
#include "store/ClipStore.h"

namespace orvana::cli {

namespace {

// A stop signal cancels the read-back or the export at its next page or frame, as a confirmed
// Cancel does; no file is left behind.
struct FullExportSession : WithOperator<TerminalOperator>, DeviceStack {
  explicit FullExportSession(const Globals& g) : WithOperator(g.yes), DeviceStack(g, op) {
    op.watch(&store.Running);
  }
  ~FullExportSession() { op.watch(nullptr); }
};

bool codecOf(const std::string& name, AviCodec& codec) {
  if (name.empty() || name == "utvideo")
    codec = AviCodec::UtVideo;
  else if (name == "ffv1")
    codec = AviCodec::Ffv1;
  else if (name == "mjpeg")
    codec = AviCodec::Mjpeg;
  else if (name == "mpeg4")
    codec = AviCodec::Mpeg4;
  else
    return false;
  return true;
}

}  // namespace

int runFullExport(const Globals& g, const FullExportRequest& r) {
  const int channel = ChannelFromName(r.channel.c_str());
  if (channel < 0) {
    std::fprintf(stderr, "Unknown channel %s.\n", r.channel.c_str());
    return 2;
  }
  AviCodec codec = AviCodec::UtVideo;
  if (!codecOf(r.codec, codec)) {
    std::fprintf(stderr, "Unknown codec %s (utvideo, ffv1, mjpeg or mpeg4).\n", r.codec.c_str());
    return 2;
  }
  if (r.number < 1 || r.number > kClipSlots) {
    std::fprintf(stderr, "Invalid clip number.\n");
    return 2;
  }
  if (r.file.empty()) {
    std::fprintf(stderr, "No target file (-o FILE.avi).\n");
    return 2;
  }
  FullExportSession s(g);
  s.store.Channel = channel;
  if (StopRequested()) return 1;
  FullExport exporter(s.store, s.op);
  if (exporter.Export(channel, r.number - 1, r.file, codec)) {
    std::printf("%s\n", r.file.c_str());
    return 0;
  }
  if (!s.link.IsConnected())
    std::fprintf(stderr, "No answer from the device at %s:%u.\n", s.endpoint.address.c_str(),
                 static_cast<unsigned>(s.endpoint.port));
  return 1;
}

void addFullExportOptions(CLI::App& command, FullExportRequest& r) {
  command.add_option("--channel", r.channel, "full export: clip1, clip2, wipe or logo")
      ->check(CLI::IsMember({"clip1", "clip2", "wipe", "logo"}));
  command.add_flag("--full", r.full,
                   "full export: every chip of the channel decoded at full size, with sound and "
                   "keys (lossless Ut Video unless --codec says otherwise)");
}

}  // namespace orvana::cli
