// view and export: a clip read back from the device and shown or saved as the view window does.
// `export` has a second mode, the full export (--channel NAME --full, FullExportCommand.cpp);
// without --full it is the view window's "Save video...".
#include <QBuffer>
#include <QByteArray>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "Cli.h"
#include "DeviceStack.h"
#include "StopSignals.h"
#include "TerminalOperator.h"
#include "common/AtomicFile.h"
#include "common/Paths.h"
#include "media/ClipExport.h"
#include "media/ClipPictures.h"
#include "store/ChipLayout.h"
#include "store/ClipStore.h"

namespace orvana::cli {

namespace {

namespace fs = std::filesystem;

constexpr QSize kShown{960, 540};
constexpr QSize kLogoShown{240, 240};

// The device stack only for the read-back; a stop signal cancels it between pages.
struct ReadSession : WithOperator<TerminalOperator>, DeviceStack {
  explicit ReadSession(const Globals& g) : WithOperator(g.yes), DeviceStack(g, op) {
    op.watch(&store.Running);
  }
  ~ReadSession() { op.watch(nullptr); }
};

// The clip file belongs to the view: it goes when the view is done, however it ended.
struct ClipFileOwner {
  fs::path file;
  ~ClipFileOwner() {
    std::error_code ec;
    if (!file.empty()) fs::remove(file, ec);
  }
};

// Reads clip `number` (as the operator counts) of `chip` into the work folder, as `read` does.
// The clip file, or an empty path once the reason has been told. The device is let go before
// the (longer) local work begins.
fs::path readBack(const Globals& g, int chip, int number) {
  ReadSession s(g);
  if (!connectChip(s, chip)) return {};
  const int n = number - 1;
  if (!s.store.IsClipValid(n)) {
    std::fprintf(stderr, "Clip %d is not on chip %d.\n", number, chip);
    return {};
  }
  if (StopRequested()) return {};
  s.store.DisableControls();
  const bool ok = s.store.ReadClipBack(n, {});
  s.store.EnableControls();
  return ok ? ClipStore::ClipFilePath(n, chip) : fs::path{};
}

bool openClip(ClipPictures& clip, const fs::path& file, int chip) {
  if (clip.Open(file, chip)) return true;
  std::fprintf(stderr, "%s\n", clip.Error().c_str());
  return false;
}

struct ViewRequest {
  int chip = 0;
  int number = 1;
  int frame = 0;
  std::string file;
  bool logo = false;
};

int viewFrame(const Globals& g, const ViewRequest& r) {
  ClipFileOwner owner{readBack(g, r.chip, r.number)};
  if (owner.file.empty()) return 1;
  ClipPictures clip;
  if (!openClip(clip, owner.file, r.chip)) return 1;
  if (r.frame < 0 || r.frame >= clip.FrameCount()) {
    std::fprintf(stderr, "Frame %d is not in the clip: it has frames 0 to %d.\n", r.frame,
                 clip.FrameCount() - 1);
    return 1;
  }
  QImage picture;
  if (!clip.DecodeFrame(r.frame, picture, nullptr)) {
    std::fprintf(stderr, "%s\n", clip.Error().c_str());
    return 1;
  }
  const QImage shown = ShownPicture(picture, r.logo ? kLogoShown : kShown);
  QByteArray png;
  QBuffer buffer(&png);
  if (!buffer.open(QIODevice::WriteOnly) || !shown.save(&buffer, "PNG") ||
      !WriteFileAtomically(r.file, std::vector<std::uint8_t>(png.begin(), png.end()))) {
    std::fprintf(stderr, "Cannot write %s\n", r.file.c_str());
    return 1;
  }
  std::printf("%s\n", r.file.c_str());
  return 0;
}

// The options of `export` that only the view's export has.
struct ViewExportRequest {
  int chip = 0;
  std::string wav;
  bool logo = false;
};

int exportView(const Globals& g, const FullExportRequest& shared, const ViewExportRequest& r) {
  AviCodec codec = AviCodec::Mjpeg;
  if (shared.codec == "ffv1")
    codec = AviCodec::Ffv1;
  else if (shared.codec == "utvideo")
    codec = AviCodec::UtVideo;
  else if (shared.codec == "mpeg4")
    codec = AviCodec::Mpeg4;
  ClipFileOwner owner{readBack(g, r.chip, shared.number)};
  if (owner.file.empty()) return 1;
  ClipPictures clip;
  if (!openClip(clip, owner.file, r.chip)) return 1;
  TerminalOperator op(g.yes);
  ClipExportOptions o;
  o.Shown = r.logo ? kLogoShown : kShown;
  o.WorkFolder = paths::workFolder();
  o.Target = shared.file;
  o.Codec = codec;
  o.KeepWav = r.wav;
  o.Cancelled = [] { return StopRequested(); };
  if (!ExportClip(clip, o, op)) return 1;
  std::printf("%s\n", shared.file.c_str());
  return 0;
}

}  // namespace

void addViewCommands(CLI::App& app, Globals& g, int& exitCode) {
  const auto chipRange = CLI::Range(0, kChipCount - 1);
  const auto numberRange = CLI::Range(1, kClipSlots);

  auto vr = std::make_shared<ViewRequest>();
  auto* view = app.add_subcommand("view", "Save one frame of a clip as the view window shows it");
  view->add_option("--chip", vr->chip, "Chip 0..11")->required()->check(chipRange);
  view->add_option("--number", vr->number, "Clip number 1..100")->required()->check(numberRange);
  view->add_option("--frame", vr->frame, "Frame, counted from 0")->required();
  view->add_option("-o", vr->file, "PNG file")->required();
  view->add_flag("--logo", vr->logo, "The logo channel's 240 x 240 view");
  view->callback([&g, &exitCode, vr] { exitCode = viewFrame(g, *vr); });

  auto shared = std::make_shared<FullExportRequest>();
  auto er = std::make_shared<ViewExportRequest>();
  auto* ex = app.add_subcommand(
      "export",
      "Export a clip into an AVI file: as the view window saves it (--chip), or at full "
      "quality from every chip of its channel (--channel NAME --full)");
  auto* chipOpt = ex->add_option("--chip", er->chip, "view export: chip 0..11")->check(chipRange);
  ex->add_option("--number", shared->number, "Clip number 1..100")->required()->check(numberRange);
  ex->add_option("-o", shared->file, "AVI file")->required();
  ex->add_option("--codec", shared->codec,
                 "mjpeg, utvideo, ffv1 or mpeg4 (default: mjpeg for the view export, utvideo for "
                 "--full)")
      ->check(CLI::IsMember({"utvideo", "ffv1", "mjpeg", "mpeg4"}));
  auto* wavOpt = ex->add_option("--wav", er->wav, "view export: also keep the sound as this WAV");
  auto* logoOpt =
      ex->add_flag("--logo", er->logo, "view export: the logo channel's 240 x 240 view");
  addFullExportOptions(*ex, *shared);
  ex->callback([&g, &exitCode, shared, er, chipOpt, wavOpt, logoOpt] {
    if (shared->full || !shared->channel.empty()) {
      if (!shared->full || shared->channel.empty())
        throw CLI::RequiredError("--channel NAME --full");
      if (chipOpt->count() || wavOpt->count() || logoOpt->count())
        throw CLI::ValidationError("--chip, --wav and --logo", "belong to the view export");
      exitCode = runFullExport(g, *shared);
      return;
    }
    if (!chipOpt->count()) throw CLI::RequiredError("--chip (or --channel NAME --full)");
    exitCode = exportView(g, *shared, *er);
  });
}

}  // namespace orvana::cli
