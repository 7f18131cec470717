// orvana-cli export --full against a simulated device holding clips put there by the product's
// own write: the file FFmpeg reads back equals, frame for frame and sample for sample, a plain
// decode of the pages the reference reader follows on flash; the sound is the source's. Also the
// refusals of the command and a cancel in either phase of the export.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>

#include "media/AviDecode.h"
#include "media/AviFixture.h"
#include "media/FrameBuilder.h"
#include "media/FrameEncoder.h"
#include "media/FullExport.h"
#include "media/FullFrameOracle.h"
#include "reference/ReferenceReader.h"
#include "store/StoreFixture.h"
#include "write/WriteRig.h"

extern char** environ;

namespace orvana {
namespace {

using namespace std::chrono_literals;
using test::oracle::Pages;

// Starts orvana-cli with `args` against the device; its standard output and error go to `log`.
pid_t StartCli(std::uint16_t devicePort, std::uint16_t hostPort,
               const std::vector<std::string>& args, const std::filesystem::path& log) {
  std::vector<std::string> all{ORVANA_CLI, "--device", "127.0.0.1:" + std::to_string(devicePort),
                               "--host-port", std::to_string(hostPort)};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  EXPECT_EQ(rc, 0);
  return rc == 0 ? pid : -1;
}

// The exit code, or -1 when the program did not exit within a minute (it is killed then).
int WaitCli(pid_t pid) {
  const int status = test::waitForExit(pid, 60s);
  if (status == -1 && pid > 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
  return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int RunCli(std::uint16_t devicePort, std::uint16_t hostPort, const std::vector<std::string>& args,
           const std::filesystem::path& log) {
  return WaitCli(StartCli(devicePort, hostPort, args, log));
}

std::string FileText(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Names in the work folder: a full export leaves nothing there.
std::vector<std::string> WorkFiles() {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(paths::workFolder()))
    names.push_back(e.path().filename().string());
  return names;
}

// The fixture's frame as a picture, fitted to the frame as the encoder fits it.
QImage SourceFrame(const test::AviSpec& format, int f, ClipKind kind) {
  Picture decoded;
  decoded.resize(format.Width, format.Height);
  for (int y = 0; y < format.Height; ++y)
    for (int x = 0; x < format.Width; ++x) decoded.row(y)[x] = test::FixturePixel(f, x, y);
  Picture frame;
  FitFrame(frame, decoded, kind);
  QImage out(frame.Width, frame.Height, QImage::Format_RGB32);
  for (int y = 0; y < frame.Height; ++y)
    for (int x = 0; x < frame.Width; ++x)
      reinterpret_cast<std::uint32_t*>(out.scanLine(y))[x] = frame.row(y)[x] | 0xFF000000u;
  return out;
}

test::AviSpec Source(int width, int height, int frames, bool sound) {
  test::AviSpec s;
  s.Width = width;
  s.Height = height;
  s.Frames = frames;
  s.AudioRate = sound ? 48000 : 0;
  return s;
}

// Places the sources' frames on the chips of the channel as clip 2, built by the frame builder and
// placed by the store as the write process builds and places them, but without the hold frames a
// super wipe gets and the repeats that make a logo at least 50 frames long: they are not part of
// the clip's frame count, so the export never reads them, and they would cost 120 and 150 frame
// writes.
void PlaceFrames(test::WriteRig& rig, int channel, int frames) {
  constexpr int kSlot = 1;
  const int kind = ChannelKind(channel);
  FrameBuilder builder(rig.sources);
  FrameBuffer buffer;
  FramePass pass;
  pass.FramesToWrite = frames;
  pass.Wrap = kind == 2 ? 1 : 0;
  ClipStore& store = *rig.store;
  store.hooks.LoopChecked = [] { return true; };
  for (int chip : ChannelChips(channel)) {
    store.SelectChip(chip);
    ASSERT_TRUE(store.Connected());
    store.ClearPendingMap();
    store.ClipNumber = kSlot;
    for (int i = 0; i < frames; ++i) {
      // The page ECC leaves its layout in the buffer; the write process clears the page tails.
      for (int m = 0; m < kFramePages; ++m)
        std::memset(buffer.page(m) + kPageLinkOffset, 0, kPageSize - kPageLinkOffset);
      ASSERT_TRUE(builder.BuildFrame(buffer, chip, i, pass));
      ASSERT_EQ(store.WriteFrame(buffer.data(), kSlot, kind, frames, i), 0);
    }
    store.SetClipRecord(kSlot, 1920, 1080, kind, kind == 2 ? 0 : 1, "Full", frames, frames, kSlot,
                        std::uint32_t(store.ClipStartPage));
    ASSERT_TRUE(store.SaveDirectory());
  }
}

struct DeviceCase {
  const char* name;
  int channel;
  const char* channelName;
  bool writeProcess;  // written by the write process, else placed by PlaceFrames
  test::AviSpec clip, alpha, wipe;
};

void PrintTo(const DeviceCase& c, std::ostream* os) {
  *os << c.name;
}

class FullExportDevice : public ::testing::TestWithParam<DeviceCase> {
 protected:
  test::TempHome home;
  std::filesystem::path log = home.path() / "cli.log";
};

TEST_P(FullExportDevice, TheFileHoldsWhatTheChipsHold) {
  const DeviceCase& c = GetParam();
  const auto file = [&](const char* role, const test::AviSpec& format) -> std::string {
    if (format.Frames == 0) return {};
    return test::Fixtures::Get(std::string("full-") + c.name + "-" + role, format).string();
  };
  test::WriteRig rig;
  rig.Prepare(c.channel, file("clip", c.clip), false, file("alpha", c.alpha), file("wipe", c.wipe));
  if (c.writeProcess) {
    rig.Write("2", "Full");
    ASSERT_TRUE(rig.writer->Completed);
  } else {
    PlaceFrames(rig, c.channel, c.clip.Frames);
  }
  // The command line takes the reply port next.
  rig.writer.reset();
  rig.selection.reset();
  rig.stack.reset();

  // What the chips hold, as the reference reader follows clip 2's chains.
  std::vector<std::vector<Pages>> stored;  // [chip][frame]
  int frames = 0;
  for (int chip : ChannelChips(c.channel)) {
    reference::ReferenceReader reader(
        [&](std::uint32_t row, std::uint8_t* out) { return rig.sim->readPage(chip, row, out); });
    const int count = reader.Entry(1).FrameCount;
    ASSERT_GT(count, 0) << "chip " << chip;
    frames = count;
    const reference::ChainedClip read = reader.Read(1, count);
    ASSERT_EQ(int(read.Frames.size()), count) << read.Error;
    stored.push_back(read.Frames);
  }

  const auto target = home.path() / "full.avi";
  ASSERT_EQ(RunCli(rig.sim->port(), rig.hostPort,
                   {"export", "--channel", c.channelName, "--number", "2", "--full", "-o",
                    target.string()},
                   log),
            0)
      << FileText(log);
  EXPECT_NE(FileText(log).find(target.string()), std::string::npos);
  EXPECT_EQ(WorkFiles(), std::vector<std::string>{}) << "the clip files are gone";

  const test::DecodedAvi avi = test::DecodeAvi(target);
  ASSERT_EQ(avi.Error, "");
  const bool logo = c.channel == 3;
  const std::size_t streams = c.channel == 2 ? 3 : logo ? 2 : 1;
  ASSERT_EQ(avi.Videos.size(), streams);
  for (const auto& v : avi.Videos) {
    EXPECT_EQ(v.Codec, "utvideo");
    ASSERT_EQ(int(v.Frames.size()), frames);
  }
  const ClipKind kind = KindOfChannel(c.channel);
  std::printf("%s: PSNR of each recovered frame against its fitted source frame:", c.name);
  for (int f = 0; f < frames; ++f) {
    SCOPED_TRACE("frame " + std::to_string(f));
    const auto& chip = [&](int k) -> const Pages& {
      return stored[std::size_t(k)][std::size_t(f)];
    };
    const QImage& colour = avi.Videos[0].Frames[std::size_t(f)];
    const QImage want =
        logo ? test::oracle::LogoColour(chip(0), chip(1)) : test::oracle::Colour(chip(0), chip(1));
    EXPECT_EQ(test::oracle::FirstDifference(colour, want), "");
    for (std::size_t k = 1; k < streams; ++k) {
      const QImage key =
          logo ? test::oracle::LogoKey(chip(2)) : test::oracle::Key(chip(int(1 + k)));
      EXPECT_EQ(test::oracle::FirstDifference(avi.Videos[k].Frames[std::size_t(f)], key), "")
          << "grey stream " << k;
    }
    std::printf(" %.2f", test::oracle::Psnr(colour, SourceFrame(c.clip, f, kind), colour.width()));
  }
  std::printf(" dB\n");

  if (logo) {
    EXPECT_EQ(avi.AudioChannels, 0);
    return;
  }
  ASSERT_EQ(avi.AudioChannels, 2);
  ASSERT_EQ(avi.Samples.size(), std::size_t(2 * 1920 * frames));
  for (int f = 0; f < frames; ++f) {
    // A super wipe's last frame is silent.
    const bool silent = c.channel == 2 && f == frames - 1;
    for (int s = 0; s < 1920; ++s) {
      const std::size_t at = std::size_t(2 * (1920 * f + s));
      const std::int64_t n = std::int64_t(1920) * f + s;
      for (int side = 0; side < 2; ++side) {
        ASSERT_EQ(avi.Samples[at + std::size_t(side)],
                  test::oracle::LeadSample(stored[std::size_t(side)][std::size_t(f)], s))
            << "frame " << f << " sample " << s << " side " << side;
        ASSERT_EQ(avi.Samples[at + std::size_t(side)], silent ? 0 : test::FixtureSample(n, side))
            << "frame " << f << " sample " << s << " side " << side;
      }
    }
  }
}

// Clip 1 goes through the whole write process; its source fills the frame (960 x 540 doubles to
// 1920 x 1080). The wipe's three sources differ in size so that a stream taken from the wrong chip
// shows; the logo is wider than the 480 columns it keeps.
const DeviceCase kDeviceCases[] = {
    {"Clip1", 0, "clip1", true, Source(960, 540, 4, true), {}, {}},
    {"SuperWipe", 2, "wipe", false, Source(64, 36, 3, true), Source(48, 40, 3, false),
     Source(80, 30, 3, false)},
    {"Logo", 3, "logo", false, Source(520, 60, 3, false), Source(200, 50, 3, false), {}},
};

INSTANTIATE_TEST_SUITE_P(Channels, FullExportDevice, ::testing::ValuesIn(kDeviceCases),
                         [](const auto& p) { return std::string(p.param.name); });

// A device whose clip 1 chips hold clip 2 (two frames) on both chips and clip 3 only on chip 0,
// placed by the store as the write process places frames.
class FullExportRefusalsAndStops : public ::testing::Test {
 protected:
  void SetUp() override {
    sim = test::FormattedDevice(hostPort);
    ASSERT_NE(sim, nullptr);
    ResetTimingTable();
    SilentOperator silent;
    StoreStack stack("127.0.0.1", sim->port(), silent, hostPort);
    ClipStore& store = stack.store;
    store.hooks.LoopChecked = [] { return true; };
    for (int chip : {0, 1}) {
      store.SelectChip(chip);
      store.ClearPendingMap();
      for (const int slot : {1, 2}) {
        const int frames = slot == 1 ? 2 : chip == 0 ? 1 : 0;
        std::vector<std::uint8_t> frame;
        for (int i = 0; i < frames; ++i) {
          test::fillFrame(frame, slot, i);
          ASSERT_EQ(store.WriteFrame(frame.data(), slot, 0, frames, i), 0);
        }
        if (frames > 0)
          store.SetClipRecord(slot, 1920, 1080, 0, 0, "", frames, frames, slot,
                              std::uint32_t(store.ClipStartPage));
      }
      ASSERT_TRUE(store.SaveDirectory());
    }
  }

  test::TempHome home;
  test::HostSocket hostSocket;  // the links of the test and of its commands receive on it
  std::uint16_t hostPort = hostSocket.port();
  std::unique_ptr<devsim::DeviceSimulator> sim;
  std::filesystem::path target = home.path() / "full.avi";
  std::filesystem::path log = home.path() / "cli.log";
};

TEST_F(FullExportRefusalsAndStops, TheCommandSaysWhyAndKeepsTheTarget) {
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    const char* says;
  };
  const std::string out = target.string();
  const Case cases[] = {
      {{"export", "--channel", "clip1", "--number", "4", "--full", "-o", out},
       1,
       "Clip 4 is not on chip 0."},
      {{"export", "--channel", "clip1", "--number", "3", "--full", "-o", out},
       1,
       "Clip 3 is not on chip 1."},
      // Usage errors.
      {{"export", "--channel", "clip7", "--number", "2", "--full", "-o", out}, 2, "clip7"},
      {{"export", "--channel", "clip1", "--number", "2", "--full", "--codec", "h264", "-o", out},
       2,
       "h264"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    {
      std::ofstream keep(target);
      keep << "keep";
    }
    EXPECT_EQ(RunCli(sim->port(), hostPort, c.args, log), c.exitCode);
    EXPECT_NE(FileText(log).find(c.says), std::string::npos) << FileText(log);
    EXPECT_EQ(FileText(target), "keep");
    EXPECT_EQ(WorkFiles(), std::vector<std::string>{});
  }
}

// Cancel in the read-back or in the writing: nothing is left, the target stays, the operator is
// told, and the channel shows the chip it showed before.
TEST_F(FullExportRefusalsAndStops, ACancelInEitherPhaseLeavesNothingBehind) {
  // The Cancel is confirmed once the title starts so.
  for (const std::string phase : {"Reading", "Exporting"}) {
    SCOPED_TRACE(phase);
    {
      std::ofstream keep(target);
      keep << "keep";
    }
    ResetTimingTable();
    ScriptedOperator op;
    StoreStack stack("127.0.0.1", sim->port(), op, hostPort);
    stack.store.Channel = 0;
    stack.store.SelectChip(1);
    ASSERT_TRUE(stack.store.Connected());
    op.onProcessEvents = [&] {
      if (op.title.rfind(phase, 0) == 0) stack.store.Running = false;
    };
    FullExport exporter(stack.store, op);
    EXPECT_FALSE(exporter.Export(0, 1, target));
    EXPECT_TRUE(exporter.Canceled());
    EXPECT_EQ(op.messages, std::vector<std::string>{"Process canceled."});
    EXPECT_EQ(FileText(target), "keep");
    EXPECT_EQ(WorkFiles(), std::vector<std::string>{});
    EXPECT_TRUE(stack.store.Connected());
    EXPECT_EQ(stack.store.CurrentChip, 1);
    EXPECT_TRUE(op.controlsEnabled);
  }
}

// Ctrl-C half way through the command's device traffic (counted on an uninterrupted run, which
// also shows --codec at work): the command stops as a confirmed Cancel does and leaves nothing
// behind.
TEST_F(FullExportRefusalsAndStops, CtrlCStopsTheCommandWithoutAFile) {
  const std::vector<std::string> args{"export", "--channel", "clip1", "--number", "2",
                                      "--full", "--codec",   "mjpeg", "-o",       target.string()};
  std::atomic<std::uint64_t> datagrams{0};
  sim->setDatagramHook([&](std::uint64_t, const std::uint8_t*, std::size_t) { ++datagrams; });
  ASSERT_EQ(RunCli(sim->port(), hostPort, args, log), 0) << FileText(log);
  const std::uint64_t half = datagrams / 2;
  ASSERT_GT(half, 0u);
  const test::DecodedAvi avi = test::DecodeAvi(target);
  ASSERT_EQ(avi.Error, "");
  ASSERT_EQ(avi.Videos.size(), 1u);
  EXPECT_EQ(avi.Videos[0].Codec, "mjpeg");
  EXPECT_EQ(avi.Videos[0].Frames.size(), 2u);

  {
    std::ofstream keep(target);
    keep << "keep";
  }
  datagrams = 0;
  std::atomic<pid_t> child{-1};
  std::atomic<bool> sent{false};
  sim->setDatagramHook([&](std::uint64_t, const std::uint8_t*, std::size_t) {
    if (++datagrams >= half && child > 0 && !sent.exchange(true)) ::kill(child, SIGINT);
  });
  child = StartCli(sim->port(), hostPort, args, log);
  EXPECT_EQ(WaitCli(child), 130) << FileText(log);
  sim->setDatagramHook(nullptr);
  EXPECT_TRUE(sent);
  EXPECT_NE(FileText(log).find("Process canceled."), std::string::npos) << FileText(log);
  EXPECT_EQ(FileText(target), "keep");
  EXPECT_EQ(WorkFiles(), std::vector<std::string>{});
}

}  // namespace
}  // namespace orvana
