// orvana-cli view and export against an in-process simulated device: a clip written with
// `write`, read back by each command and shown or exported as the view window does.
#include <gtest/gtest.h>

#include <QImage>
#include <cstring>
#include <filesystem>
#include <memory>

#include "common/Paths.h"
#include "media/AviDecode.h"
#include "media/AviFixture.h"
#include "media/ClipPictures.h"
#include "store/ClipStore.h"
#include "support/RunCommand.h"
#include "write/WriteRig.h"

namespace orvana {
namespace {

namespace fs = std::filesystem;

class CliViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim = test::FormattedDevice(host.port());
    ASSERT_NE(sim, nullptr);
    test::AviSpec s;
    s.Width = 320;
    s.Height = 180;
    s.Frames = 3;
    s.AudioRate = 48000;
    const fs::path clip = test::Fixtures::Get("view3", s);
    int rc = -1;
    const std::string out =
        Run("write --channel clip1 --number 3 --comment View " + clip.string(), rc);
    ASSERT_EQ(rc, 0) << out;
  }

  std::string Run(const std::string& args, int& rc) {
    const auto r = test::runCommand(
        std::string(ORVANA_CLI) + " --device 127.0.0.1:" + std::to_string(sim->port()) +
        " --host-port " + std::to_string(host.port()) + " " + args + " 2>&1");
    rc = r.exitCode;
    return r.out;
  }

  // What the view window shows of the clip on `chip`, from a clip file read with `read`.
  std::vector<QImage> Shown(int chip, QSize size, std::vector<std::int16_t>* sound = nullptr) {
    const fs::path file = home.path() / "reference.clip";
    int rc = -1;
    const std::string out =
        Run("read --chip " + std::to_string(chip) + " --number 3 -o " + file.string(), rc);
    EXPECT_EQ(rc, 0) << out;
    ClipPictures clip;
    EXPECT_TRUE(clip.Open(file, chip)) << clip.Error();
    std::vector<QImage> shown;
    QImage picture;
    std::vector<std::uint8_t> audio(ClipPictures::kAudioSlot);
    for (int f = 0; f < clip.FrameCount(); ++f) {
      EXPECT_TRUE(clip.DecodeFrame(f, picture, audio.data()));
      shown.push_back(ShownPicture(picture, size));
      if (sound != nullptr) {
        const auto* s = reinterpret_cast<const std::int16_t*>(audio.data());
        sound->insert(sound->end(), s, s + ClipPictures::kAudioSlot / 2);
      }
    }
    return shown;
  }

  // The work folder holds nothing of the commands once they are done.
  void ExpectWorkFolderEmpty() {
    for (const auto& e : fs::directory_iterator(paths::workFolder()))
      ADD_FAILURE() << "left behind: " << e.path();
  }

  test::TempHome home;
  test::HostSocket host;  // the commands' reply port, held for the test's life
  std::unique_ptr<devsim::DeviceSimulator> sim;
};

TEST_F(CliViewTest, ViewSavesTheShownPictureOfAFrame) {
  struct Case {
    int chip;
    const char* flags;
    QSize size;
  };
  for (const Case& c : {Case{1, "", {960, 540}}, Case{0, " --logo", {240, 240}}}) {
    SCOPED_TRACE(c.flags);
    const std::vector<QImage> expected = Shown(c.chip, c.size);
    ASSERT_EQ(expected.size(), 3u);
    const fs::path png = home.path() / "frame.png";
    int rc = -1;
    const std::string out = Run("view --chip " + std::to_string(c.chip) +
                                    " --number 3 --frame 1 -o " + png.string() + c.flags,
                                rc);
    ASSERT_EQ(rc, 0) << out;
    const QImage saved = QImage(QString::fromStdString(png.string()));
    ASSERT_EQ(saved.size(), c.size);
    EXPECT_EQ(saved.convertToFormat(QImage::Format_RGB32), expected[1]);
    // The small source sits in the middle of the frame: only the full view tells frames apart.
    if (c.size.width() == 960) {
      EXPECT_NE(saved.convertToFormat(QImage::Format_RGB32), expected[0]);
    }
    ExpectWorkFolderEmpty();
  }
}

TEST_F(CliViewTest, ViewRefusesAFrameOutsideTheClipAndAMissingClip) {
  const fs::path png = home.path() / "frame.png";
  int rc = -1;
  std::string out = Run("view --chip 0 --number 3 --frame 3 -o " + png.string(), rc);
  EXPECT_EQ(rc, 1);
  EXPECT_NE(out.find("Frame 3 is not in the clip: it has frames 0 to 2."), std::string::npos)
      << out;
  out = Run("view --chip 0 --number 4 --frame 0 -o " + png.string(), rc);
  EXPECT_EQ(rc, 1);
  EXPECT_NE(out.find("Clip 4 is not on chip 0."), std::string::npos) << out;
  EXPECT_FALSE(fs::exists(png));
  ExpectWorkFolderEmpty();
}

TEST_F(CliViewTest, ExportWritesTheAviAndKeepsTheWav) {
  std::vector<std::int16_t> sound;
  const std::vector<QImage> expected = Shown(1, {960, 540}, &sound);
  const fs::path avi = home.path() / "clip.avi";
  const fs::path wav = home.path() / "clip.wav";
  int rc = -1;
  std::string out = Run(
      "export --chip 1 --number 3 --codec ffv1 -o " + avi.string() + " --wav " + wav.string(), rc);
  ASSERT_EQ(rc, 0) << out;
  const test::DecodedAvi decoded = test::DecodeAvi(avi);
  ASSERT_EQ(decoded.Error, "");
  ASSERT_EQ(decoded.Videos.size(), 1u);
  EXPECT_EQ(decoded.Videos[0].Codec, "ffv1");
  EXPECT_EQ(decoded.Videos[0].Frames, expected);
  EXPECT_EQ(decoded.AudioRate, 48000);
  EXPECT_EQ(decoded.Samples, sound);
  EXPECT_EQ(fs::file_size(wav), 44u + 3 * 7680);
  ExpectWorkFolderEmpty();

  // The default codec is the one every player has.
  out = Run("export --chip 0 --number 3 -o " + avi.string(), rc);
  ASSERT_EQ(rc, 0) << out;
  const test::DecodedAvi mjpeg = test::DecodeAvi(avi);
  ASSERT_EQ(mjpeg.Videos.size(), 1u);
  EXPECT_EQ(mjpeg.Videos[0].Codec, "mjpeg");
  EXPECT_EQ(mjpeg.Videos[0].Frames.size(), 3u);
  EXPECT_EQ(mjpeg.Videos[0].Width, 960);
  ExpectWorkFolderEmpty();

  // A clip that is not there: no file, and the old one stays.
  const auto before = fs::file_size(avi);
  out = Run("export --chip 0 --number 9 -o " + avi.string(), rc);
  EXPECT_EQ(rc, 1);
  EXPECT_NE(out.find("Clip 9 is not on chip 0."), std::string::npos) << out;
  EXPECT_EQ(fs::file_size(avi), before);
}

}  // namespace
}  // namespace orvana
