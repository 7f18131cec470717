#include "media/SourceSelection.h"

#include <gtest/gtest.h>

#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "common/ScriptedOperator.h"
#include "media/AviFixture.h"
#include "support/TempHome.h"

namespace orvana {
namespace {

using test::AviSpec;
using test::Fixtures;

std::string Clip(int frames, int rate = 48000, int channels = 2, int bits = 16) {
  AviSpec s;
  s.Width = 32;
  s.Height = 18;
  s.Frames = frames;
  s.AudioRate = rate;
  s.AudioChannels = channels;
  s.AudioBits = bits;
  return Fixtures::Get("sel" + std::to_string(frames) + "_" + std::to_string(rate) + "_" +
                           std::to_string(channels) + "_" + std::to_string(bits),
                       s)
      .string();
}

std::string Setting(const std::string& key) {
  return ProfileFile(paths::settingsFile(kMainIni)).readString("CurrDir", key, "<none>");
}

struct Fixture : ::testing::Test {
  test::TempHome home;
  ScriptedOperator op;
  MediaSources sources;
  SourceSelection sel{sources, op};
  void SetUp() override { sources.CreateSources(); }
};

TEST_F(Fixture, ShortLoopExtension) {
  for (auto [n, expect] : {std::pair{1, 51}, {10, 60}, {25, 75}, {49, 98}, {50, 50}, {0, 0}}) {
    EXPECT_EQ(ShortLoopFrames(0, true, n), expect) << n;
  }
  const struct {
    int channel;
    bool loop;
    int expect;
  } cases[] = {{1, true, 60}, {1, false, 30}, {2, true, 30}, {3, false, 60}, {0, true, 60}};
  for (const auto& c : cases) {
    sel.Channel = c.channel;
    sel.LoopChecked = c.loop;
    sel.OpenClipFile(Clip(30));
    EXPECT_EQ(sel.FramesToWrite, c.expect) << c.channel << " " << c.loop;
    EXPECT_EQ(sel.ClipSourceFrames, 30);
    EXPECT_EQ(sel.TrackBarMax, 29);
    EXPECT_EQ(sel.TrackBarPosition, 14);
  }
  sel.Channel = 3;
  sel.OpenClipFile(Clip(50));
  EXPECT_EQ(sel.FramesToWrite, 50);
}

TEST_F(Fixture, ClipOfNoFramesIsLeftForTheWriteToRefuse) {
  sel.Channel = 3;
  sel.OpenClipFile(Clip(0, 0));
  EXPECT_EQ(sel.FramesToWrite, 0);
  EXPECT_EQ(sel.ClipSourceWidth, 32);
}

TEST_F(Fixture, CheckAudioOrderAndInfoLines) {
  sel.OpenClipFile(Clip(10, 44100));
  ASSERT_EQ(op.messages.size(), 1u);
  EXPECT_EQ(op.messages[0], "AUDIO: Incorrect audio rate, must be 48000 hz.");
  EXPECT_EQ(sel.ListBoxAudio, std::vector<std::string>{"No audio"});
  EXPECT_EQ(sources.ClipSource->HasAudio, 0);

  op.messages.clear();
  sel.OpenClipFile(Clip(10, 48000, 1, 8));
  EXPECT_EQ(op.messages, std::vector<std::string>{"AUDIO: Incorrect bits per sample, must be 16."});

  op.messages.clear();
  sel.OpenClipFile(Clip(10, 48000, 1, 16));
  EXPECT_EQ(op.messages, std::vector<std::string>{"AUDIO: Incorrect audio channels, must be 2."});

  op.messages.clear();
  MediaController fake;
  fake.HasAudio = 1;
  fake.AudioFormat.FormatTag = 0x55;
  EXPECT_FALSE(CheckAudio(fake, op));
  EXPECT_EQ(op.messages,
            std::vector<std::string>{"AUDIO: Incorrect data format, must be uncompressed."});

  op.messages.clear();
  sel.OpenClipFile(Clip(10));
  EXPECT_TRUE(op.messages.empty());
  EXPECT_EQ(sel.ListBoxClip,
            (std::vector<std::string>{"Res: 32x18, 25 fps", "Length: 10 frames, 0 sec",
                                      "Occupied: 20 blocks"}));
  EXPECT_EQ(sel.ListBoxAudio,
            (std::vector<std::string>{"Rate: 48000 hz", "Bits: 16", "Channels: 2 (stereo)"}));
}

TEST(ShowSourceInfoTest, Lines) {
  MediaController m;
  m.Width = 1920;
  m.Height = 1080;
  m.FrameRate = 25;
  m.LengthFrames = 250;
  m.HasAudio = 1;
  m.AudioFormat.SamplesPerSec = 48000;
  m.AudioFormat.BitsPerSample = 16;
  m.AudioFormat.Channels = 1;
  std::vector<std::string> v, a;
  ShowSourceInfo(m, &v, &a);
  EXPECT_EQ(v, (std::vector<std::string>{"Res: 1920x1080, 25 fps", "Length: 250 frames, 10 sec",
                                         "Occupied: 500 blocks"}));
  EXPECT_EQ(a[2], "Channels: 1 (mono)");
  m.FrameRate = 0;
  ShowSourceInfo(m, &v, nullptr);
  EXPECT_EQ(v[1], "Length: 250 frames,  sec");
}

TEST_F(Fixture, SettingsKeysPerChannel) {
  sel.Channel = 0;
  sel.OpenAlphaFile(Clip(10));
  EXPECT_EQ(Setting("ClipAlphaFile"), "<none>");
  sel.OpenWipeFile(Clip(10));
  EXPECT_EQ(Setting("WipeFile"), Clip(10));
  sel.OpenClipFile(Clip(10));
  EXPECT_EQ(Setting("ClipFile"), Clip(10));
  sel.Channel = 3;
  sel.OpenClipFile(Clip(25));
  sel.OpenAlphaFile(Clip(25));
  EXPECT_EQ(Setting("LogoFile"), Clip(25));
  EXPECT_EQ(Setting("LogoAlphaFile"), Clip(25));
  sel.OpenClipButtonClick(Clip(49));
  EXPECT_EQ(Setting("Dir"), Fixtures::Folder().string() + "/");
  EXPECT_EQ(sel.SourceFolder, Fixtures::Folder().string() + "/");
}

TEST_F(Fixture, FailedOpenClearsFigures) {
  sel.OpenClipFile(Clip(10));
  sel.OpenClipFile((Fixtures::Folder() / "gone.avi").string());
  EXPECT_EQ(sel.FramesToWrite, 0);
  EXPECT_EQ(sel.ClipSourceFrames, 0);
  EXPECT_EQ(sel.ClipSourceWidth, 0);
  EXPECT_EQ(sel.ClipSourceHeight, 0);
  EXPECT_EQ(sel.Label7, "");
  EXPECT_TRUE(op.messages.empty());
  // An empty name empties the slot and leaves the figures alone.
  sel.OpenClipFile(Clip(10));
  sel.OpenClipFile("");
  EXPECT_EQ(sources.ClipSource, nullptr);
  EXPECT_EQ(sel.FramesToWrite, 10);
}

TEST_F(Fixture, ChannelSwitchReopensRememberedFiles) {
  int connects = 0;
  sel.IsConnected = [] { return true; };
  sel.Connect1ButtonClick = [&] { ++connects; };
  sel.Channel = 2;
  sel.OpenClipFile(Clip(30));
  sel.OpenAlphaFile(Clip(25));
  sel.OpenWipeFile(Clip(10));
  sel.SelectChannel(ChannelRadio::Clip2Radio);
  EXPECT_EQ(sel.Channel, 1);
  EXPECT_EQ(connects, 1);
  EXPECT_EQ(sel.Label7, Clip(30));
  EXPECT_FALSE(sel.Layout.AlphaVisible);
  EXPECT_TRUE(sel.Layout.LoopVisible);
  sel.LoopCheckBoxClick(true);
  EXPECT_EQ(sel.FramesToWrite, 60);
  sel.Channel = 2;
  sel.SelectStoredChannel();
  ASSERT_NE(sources.AlphaSource, nullptr);
  ASSERT_NE(sources.WipeSource, nullptr);
  EXPECT_EQ(sel.FramesToWrite, 30);
  EXPECT_EQ(sel.Layout.TrackBar1.Width, 3 * 326 - 12 - sel.CancelButtonWidth);
  // The trackbar seeks every open slot to the same frame.
  sel.TrackBarPosition = 7;
  sel.TrackBar1Change();
  sel.TrackBarPosition = 12;
  sel.TrackBar1Change();
  EXPECT_EQ(sel.Label1, "12");
  EXPECT_EQ(sources.ClipSource->HeldFrame(), 12);
  EXPECT_EQ(sources.AlphaSource->HeldFrame(), 12);
  EXPECT_EQ(sources.WipeSource->HeldFrame(), 7);  // past its end: keeps the frame it had
  sel.SelectChannel(ChannelRadio::LogoRadio);
  EXPECT_EQ(sel.PanelClipWidth, 80);
  EXPECT_EQ(sel.Layout.Bevel1Top, 8 + 188);
}

}  // namespace
}  // namespace orvana
