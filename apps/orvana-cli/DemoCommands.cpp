// Demo command: makes a clip of colour bars and a tone to try the store with.
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "Cli.h"
#include "StopSignals.h"
#include "media/DemoClip.h"

namespace orvana::cli {

namespace {

// Every usage error of this command exits with 2, also those CLI11 would give its own codes.
constexpr int kUsage = 2;
constexpr int kMaxSeconds = 600;

struct DemoOptions {
  std::string output;
  std::string seconds = "4";
  std::string size = "1920x1080";
  std::string codec = "mjpeg";
};

bool parseInt(std::string_view text, int& value) {
  const char* end = text.data() + text.size();
  const auto [p, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc{} && p == end;
}

bool parseSize(const std::string& text, int& width, int& height) {
  const auto x = text.find_first_of("xX");
  if (x == std::string::npos) return false;
  return parseInt(std::string_view(text).substr(0, x), width) &&
         parseInt(std::string_view(text).substr(x + 1), height);
}

int makeDemoClip(const DemoOptions& d, const std::vector<std::string>& extras) {
  DemoClipOptions o;
  int seconds = 0;
  if (!extras.empty())
    throw CLI::ExtrasError("The following argument was not expected: " + extras.front(), kUsage);
  if (d.output.empty()) throw CLI::RequiredError("-o is required", kUsage);
  if (!parseInt(d.seconds, seconds) || seconds < 1 || seconds > kMaxSeconds)
    throw CLI::ValidationError("--seconds: a whole number from 1 to " + std::to_string(kMaxSeconds),
                               kUsage);
  if (!parseSize(d.size, o.Width, o.Height))
    throw CLI::ValidationError("--size: expected WxH, e.g. 1920x1080", kUsage);
  if (d.codec == "ffv1")
    o.Codec = DemoVideoCodec::Ffv1;
  else if (d.codec != "mjpeg")
    throw CLI::ValidationError("--codec: mjpeg or ffv1", kUsage);
  o.Frames = seconds * kDemoFrameRate;
  if (const std::string bad = CheckDemoClipOptions(o); !bad.empty())
    throw CLI::ValidationError(bad, kUsage);

  o.Stopped = [] { return StopRequested(); };
  std::string error;
  if (!WriteDemoClip(d.output, o, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  std::error_code ec;
  const auto bytes = std::filesystem::file_size(d.output, ec);
  std::printf("%s: %d frames of %dx%d at %d fps, 1 kHz tone, %.1f MB\n", d.output.c_str(), o.Frames,
              o.Width, o.Height, kDemoFrameRate, ec ? 0.0 : double(bytes) / 1e6);
  return 0;
}

}  // namespace

void addDemoCommands(CLI::App& app, Globals&, int& exitCode) {
  auto d = std::make_shared<DemoOptions>();
  auto* demo = app.add_subcommand(
      "demo-clip", "Make an AVI of colour bars with a moving marker and a 1 kHz tone at -18 dBFS");
  // Values are checked by the command itself so that every usage error exits with 2.
  demo->add_option("-o,--output", d->output, "AVI file to write (required)")->type_name("FILE");
  demo->add_option("--seconds", d->seconds, "length in seconds, 1 to 600 (default 4)")
      ->type_name("N");
  demo->add_option("--size", d->size, "picture size (default 1920x1080)")->type_name("WxH");
  demo->add_option("--codec", d->codec,
                   "mjpeg (default) or ffv1 (lossless, smaller, slower to make)")
      ->type_name("NAME");
  demo->allow_extras();
  demo->callback([d, demo, &exitCode] { exitCode = makeDemoClip(*d, demo->remaining()); });
}

}  // namespace orvana::cli
