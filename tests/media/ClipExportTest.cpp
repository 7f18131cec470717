// The view's export on small clip files: its working files, its messages, and the AVI FFmpeg
// reads back.
#include "media/ClipExport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <ostream>
#include <random>
#include <set>

#include "common/ScriptedOperator.h"
#include "media/AviDecode.h"
#include "media/ClipFileFixture.h"
#include "support/TempHome.h"

namespace orvana {
namespace {

namespace fs = std::filesystem;

std::string Bytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::set<std::string> Names(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
  return names;
}

std::int16_t LeadSample(int f, int s) {
  return static_cast<std::int16_t>((f * 1920 + s) * 97 % 65536 - 32768);
}

// Luma rows of a small random walk (codes -1/+1), with a bright band that moves with the frame,
// so every frame differs and a lossy codec stays close.
void FillLuma(int f, std::uint8_t* frame) {
  std::mt19937 random(static_cast<unsigned>(f + 1));
  for (int r = 0; r < 540; ++r) {
    std::uint8_t* row = test::StoredRow(frame, r);
    const bool band = r >= 40 + 100 * f && r < 80 + 100 * f;
    for (int i = 1; i <= 480; ++i) {
      const auto lo = static_cast<std::uint8_t>(2 + (random() & 1));
      const auto hi = static_cast<std::uint8_t>(2 + (random() & 1));
      row[i] = band && i < 30 ? 0x55 : static_cast<std::uint8_t>(hi << 4 | lo);
    }
  }
  for (int s = 0; s < 1920; ++s) test::PutLeadSample(frame, s, LeadSample(f, s));
}

// What the window shows of each frame, and the sound, straight from the clip file.
struct Expected {
  std::vector<QImage> shown;
  std::vector<std::int16_t> pairs;
};

Expected Decode(const fs::path& file, int chip, QSize size) {
  Expected e;
  ClipPictures clip;
  EXPECT_TRUE(clip.Open(file, chip)) << clip.Error();
  QImage picture;
  std::vector<std::uint8_t> audio(ClipPictures::kAudioSlot);
  for (int f = 0; f < clip.FrameCount(); ++f) {
    EXPECT_TRUE(clip.DecodeFrame(f, picture, audio.data()));
    e.shown.push_back(ShownPicture(picture, size));
    const auto* s = reinterpret_cast<const std::int16_t*>(audio.data());
    e.pairs.insert(e.pairs.end(), s, s + 3840);
  }
  return e;
}

int MaxDifference(const QImage& a, const QImage& b) {
  int worst = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) {
      const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
      worst = std::max({worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                        std::abs(qBlue(p) - qBlue(q))});
    }
  return worst;
}

class ClipExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The clip being viewed lies in the work folder, as the read-back leaves it.
    fs::create_directories(work);
    ASSERT_TRUE(test::WriteClipFile(clipFile, shape, FillLuma));
    options.WorkFolder = work;
    options.Target = target;
  }

  bool Run() {
    if (!clip.IsOpen()) {
      EXPECT_TRUE(clip.Open(clipFile, 0)) << clip.Error();
    }
    return ExportClip(clip, options, op);
  }

  test::TempHome home;
  fs::path work = home.path() / "avistream";
  fs::path clipFile = work / "5.0";
  fs::path target = home.path() / "clip.avi";
  test::ClipFileShape shape{4, 1920, 1080, 3, 0, "three"};
  ClipExportOptions options;
  ClipPictures clip;
  ScriptedOperator op;
};

struct CodecCase {
  const char* name;
  AviCodec codec;
  const char* ffmpegName;
  int tolerance;  // per colour component; 0: exact
};
void PrintTo(const CodecCase& c, std::ostream* os) {
  *os << c.name;
}

class ClipExportCodecs : public ClipExportTest, public ::testing::WithParamInterface<CodecCase> {};

TEST_P(ClipExportCodecs, ThreeFramesGoThroughBitmapsAndAWavIntoTheAvi) {
  const CodecCase& c = GetParam();
  const Expected expected = Decode(clipFile, 0, {960, 540});
  options.Codec = c.codec;
  options.KeepWav = home.path() / "kept.wav";
  const int wavNumber = NextWavNumber();
  const std::string wavName = std::to_string(wavNumber) + ".wav";

  std::vector<int> shownFrames;
  options.OnFrame = [&](int f, const QImage& shown) {
    shownFrames.push_back(f);
    EXPECT_EQ(shown, expected.shown[static_cast<std::size_t>(f)]) << "frame " << f;
    EXPECT_EQ(op.progress, f - 1 < 0 ? 0 : f - 1);  // moved after the observer
  };
  std::string wavBytes;
  bool muxReached = false;
  options.BeforeMux = [&](const fs::path& wav) {
    muxReached = true;
    EXPECT_EQ(wav, work / wavName);
    EXPECT_EQ(Names(work),
              (std::set<std::string>{"5.0", "file0.bmp", "file1.bmp", "file2.bmp", wavName}));
    wavBytes = Bytes(wav);
    ASSERT_EQ(wavBytes.size(), 44u + 3 * 7680);
    EXPECT_EQ(std::memcmp(wavBytes.data() + 44, expected.pairs.data(), 3 * 7680), 0);
    for (int f = 0; f < 3; ++f) {
      const fs::path bmp = work / ("file" + std::to_string(f) + ".bmp");
      const std::string head = Bytes(bmp);
      ASSERT_GT(head.size(), 54u);
      EXPECT_EQ(head.substr(0, 2), "BM");
      EXPECT_EQ(head[28], 24) << "bits per pixel of " << bmp;
      EXPECT_EQ(QImage(QString::fromStdString(bmp.string())).convertToFormat(QImage::Format_RGB32),
                expected.shown[static_cast<std::size_t>(f)]);
    }
  };

  ASSERT_TRUE(Run()) << (op.messages.empty() ? "" : op.messages.front());
  EXPECT_TRUE(op.messages.empty());
  EXPECT_TRUE(muxReached);
  EXPECT_EQ(shownFrames, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(op.progressMax, 2);
  EXPECT_EQ(op.progress, 2);
  EXPECT_EQ(NextWavNumber(), wavNumber + 1);
  EXPECT_EQ(Names(work), std::set<std::string>{"5.0"});  // the viewed clip stays
  EXPECT_EQ(Bytes(options.KeepWav), wavBytes);

  const test::DecodedAvi avi = test::DecodeAvi(target);
  ASSERT_EQ(avi.Error, "");
  ASSERT_EQ(avi.Videos.size(), 1u);
  const test::DecodedVideo& v = avi.Videos[0];
  EXPECT_EQ(v.Codec, c.ffmpegName);
  EXPECT_EQ(v.Width, 960);
  EXPECT_EQ(v.Height, 540);
  EXPECT_DOUBLE_EQ(v.FrameRate, 25.0);
  ASSERT_EQ(v.Frames.size(), 3u);
  for (std::size_t f = 0; f < 3; ++f) {
    if (c.tolerance == 0) {
      EXPECT_EQ(v.Frames[f], expected.shown[f]) << "frame " << f;
    } else {
      EXPECT_LE(MaxDifference(v.Frames[f], expected.shown[f]), c.tolerance) << "frame " << f;
    }
    // The moving band tells the frames apart by far more than the codec's error.
    if (f > 0) {
      EXPECT_GT(MaxDifference(v.Frames[f], expected.shown[f - 1]), 60);
    }
  }
  EXPECT_EQ(avi.AudioCodec, "pcm_s16le");
  EXPECT_EQ(avi.AudioRate, 48000);
  EXPECT_EQ(avi.AudioChannels, 2);
  ASSERT_EQ(avi.Samples.size(), 3u * 3840);
  for (int f = 0; f < 3; ++f)
    for (int s = 0; s < 1920; ++s)
      for (int ch = 0; ch < 2; ++ch)
        ASSERT_EQ(avi.Samples[std::size_t(f * 3840 + 2 * s + ch)], LeadSample(f, s))
            << "frame " << f << " sample " << s << " channel " << ch;
}

INSTANTIATE_TEST_SUITE_P(Codecs, ClipExportCodecs,
                         ::testing::Values(CodecCase{"Mjpeg", AviCodec::Mjpeg, "mjpeg", 10},
                                           CodecCase{"Ffv1", AviCodec::Ffv1, "ffv1", 0}),
                         [](const ::testing::TestParamInfo<CodecCase>& c) {
                           return std::string(c.param.name);
                         });

TEST_F(ClipExportTest, AOneFrameLogoExportsAt240Square) {
  // A logo: raw rows of the logo's colour chip, shown as the window's 240 x 240 corner. The only
  // view in colour, so a swapped component on the way through the bitmaps shows here.
  shape = {0, 1920, 1080, 1, 2, "logo"};
  ASSERT_TRUE(test::WriteClipFile(clipFile, shape, [](int, std::uint8_t* frame) {
    for (int r = 0; r < 540; ++r)
      for (int i = 1; i <= 480; ++i)
        test::StoredRow(frame, r)[i] = static_cast<std::uint8_t>(16 + (r + i) % 200);
  }));
  ASSERT_TRUE(clip.Open(clipFile, 9)) << clip.Error();
  const Expected expected = Decode(clipFile, 9, {240, 240});
  int coloured = 0;
  for (int y = 0; y < 240; ++y)
    for (int x = 0; x < 240; ++x)
      coloured += qRed(expected.shown[0].pixel(x, y)) != qBlue(expected.shown[0].pixel(x, y));
  ASSERT_GT(coloured, 240 * 240 / 4);
  options.Shown = {240, 240};
  options.Codec = AviCodec::Ffv1;
  const std::string wavName = std::to_string(NextWavNumber()) + ".wav";
  options.BeforeMux = [&](const fs::path&) {
    EXPECT_EQ(Names(work), (std::set<std::string>{"5.0", "file0.bmp", wavName}));
  };
  op.setProgressMax(99);
  ASSERT_TRUE(Run());
  EXPECT_EQ(op.progressMax, 0);
  const test::DecodedAvi avi = test::DecodeAvi(target);
  ASSERT_EQ(avi.Videos.size(), 1u);
  EXPECT_EQ(avi.Videos[0].Width, 240);
  EXPECT_EQ(avi.Videos[0].Height, 240);
  ASSERT_EQ(avi.Videos[0].Frames.size(), 1u);
  EXPECT_EQ(avi.Videos[0].Frames[0], expected.shown[0]);
  EXPECT_EQ(avi.Samples.size(), 3840u);
}

TEST(ClipExportWorkFolder, ClearsOnlyTheExportsOwnFiles) {
  test::TempHome home;
  const fs::path work = home.path() / "avistream";
  fs::create_directories(work);
  const std::vector<std::string> removed = {"file0.bmp", "file12.bmp", "0.wav", "123.wav"};
  const std::vector<std::string> kept = {
      "5.0",        "12.3.part", "file.bmp",  "fileA.bmp", "file1.bmp.part",
      "xfile1.bmp", "file1.BMP", "1.wav.bak", "a1.wav",    ".wav",
      "file1a.bmp", "notes.txt", "7.wavx",    "-1.wav",    "file-1.bmp"};
  for (const auto& name : removed) std::ofstream(work / name) << "x";
  for (const auto& name : kept) std::ofstream(work / name) << "x";
  // A working name that cannot be removed stays, without a word.
  fs::create_directories(work / "file3.bmp" / "inside");
  ClearWorkFolder(work);
  std::set<std::string> expected(kept.begin(), kept.end());
  expected.insert("file3.bmp");
  EXPECT_EQ(Names(work), expected);
  ClearWorkFolder(home.path() / "missing");  // nothing to do, nothing thrown
}

TEST_F(ClipExportTest, AWavThatCannotBeCreatedStillAdvancesTheCounter) {
  const int first = NextWavNumber();
  // The WAV's name is taken by a folder the clearing cannot remove.
  fs::create_directories(work / (std::to_string(first) + ".wav") / "inside");
  EXPECT_FALSE(Run());
  EXPECT_EQ(op.messages,
            (std::vector<std::string>{"Cannot create WAV file.", "Cannot create media stream."}));
  EXPECT_EQ(NextWavNumber(), first + 1);
  EXPECT_FALSE(fs::exists(target));
  EXPECT_EQ(Names(work), (std::set<std::string>{"5.0", std::to_string(first) + ".wav"}));

  // The next export takes the next number and succeeds.
  op.messages.clear();
  options.BeforeMux = [&](const fs::path& wav) {
    EXPECT_EQ(wav.filename(), std::to_string(first + 1) + ".wav");
  };
  EXPECT_TRUE(Run());
  EXPECT_TRUE(op.messages.empty());
  EXPECT_EQ(NextWavNumber(), first + 2);
}

TEST_F(ClipExportTest, ABitmapThatCannotBeSavedStopsBeforeTheSound) {
  const int wavNumber = NextWavNumber();
  fs::create_directories(work / "file1.bmp" / "inside");
  bool muxReached = false;
  options.BeforeMux = [&](const fs::path&) { muxReached = true; };
  EXPECT_FALSE(Run());
  ASSERT_EQ(op.messages.size(), 1u);
  EXPECT_NE(op.messages[0].find((work / "file1.bmp").string()), std::string::npos)
      << op.messages[0];
  EXPECT_NE(op.messages[0].find("directory"), std::string::npos) << op.messages[0];
  EXPECT_FALSE(muxReached);
  EXPECT_EQ(NextWavNumber(), wavNumber);
  EXPECT_EQ(Names(work), (std::set<std::string>{"5.0", "file1.bmp"}));
  EXPECT_FALSE(fs::exists(target));
}

struct MuxFailure {
  const char* name;
  std::function<void(const fs::path& work, const fs::path& wav, fs::path& target)> spoil;
};
void PrintTo(const MuxFailure& c, std::ostream* os) {
  *os << c.name;
}

class ClipExportMuxFailures : public ClipExportTest,
                              public ::testing::WithParamInterface<MuxFailure> {};

TEST_P(ClipExportMuxFailures, LeaveTheOldTargetAsItWas) {
  std::ofstream(target, std::ios::binary) << "yesterday's export";
  options.BeforeMux = [&](const fs::path& wav) { GetParam().spoil(work, wav, options.Target); };
  EXPECT_FALSE(Run());
  EXPECT_EQ(op.messages, std::vector<std::string>{"Cannot create media stream."});
  EXPECT_EQ(Bytes(target), "yesterday's export");
  EXPECT_EQ(Names(work), std::set<std::string>{"5.0"});
  for (const auto& e : fs::directory_iterator(target.parent_path()))
    EXPECT_EQ(e.path().filename().string().find(".part"), std::string::npos) << e.path();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ClipExportMuxFailures,
    ::testing::Values(
        MuxFailure{"WavRemoved",
                   [](const fs::path&, const fs::path& wav, fs::path&) { fs::remove(wav); }},
        MuxFailure{"WavCutShort", [](const fs::path&, const fs::path& wav,
                                     fs::path&) { fs::resize_file(wav, fs::file_size(wav) - 2); }},
        MuxFailure{"WavNotRiff",
                   [](const fs::path&, const fs::path& wav, fs::path&) {
                     std::fstream f(wav, std::ios::in | std::ios::out | std::ios::binary);
                     f << "JUNK";
                   }},
        MuxFailure{"BitmapMissing", [](const fs::path& work, const fs::path&,
                                       fs::path&) { fs::remove(work / "file2.bmp"); }},
        MuxFailure{"BitmapOfAnotherSize",
                   [](const fs::path& work, const fs::path&, fs::path&) {
                     QImage(100, 100, QImage::Format_RGB888)
                         .save(QString::fromStdString((work / "file1.bmp").string()), "BMP");
                   }},
        MuxFailure{"TargetFolderMissing",
                   [](const fs::path&, const fs::path&, fs::path& target) {
                     target = target.parent_path() / "gone" / "clip.avi";
                   }}),
    [](const ::testing::TestParamInfo<MuxFailure>& c) { return std::string(c.param.name); });

TEST_F(ClipExportTest, DamagedClipFilesAreRefusedWithTheirReason) {
  struct Case {
    const char* name;
    std::function<void()> damage;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {"no frames",
       [&] {
         test::WriteClipFile(clipFile, {4, 1920, 1080, 0, 0, ""});
       },
       "no frames"},
      {"cut short", [&] { fs::resize_file(clipFile, fs::file_size(clipFile) - 1); }, "shorter"},
      {"bad size",
       [&] {
         test::WriteClipFile(clipFile, {4, 1920, 4000, 3, 0, ""});
       },
       "picture size"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(test::WriteClipFile(clipFile, shape, FillLuma));
    c.damage();
    op.messages.clear();
    ClipPictures damaged;
    EXPECT_FALSE(damaged.Open(clipFile, 0));
    EXPECT_FALSE(ExportClip(damaged, options, op));
    ASSERT_EQ(op.messages.size(), 1u);
    EXPECT_EQ(op.messages[0], damaged.Error());
    EXPECT_NE(op.messages[0].find(c.reason), std::string::npos) << op.messages[0];
    EXPECT_FALSE(fs::exists(target));
  }
}

TEST_F(ClipExportTest, ACancelStopsQuietlyAndClearsUp) {
  int shown = 0;
  options.OnFrame = [&](int, const QImage&) { ++shown; };
  options.Cancelled = [&] { return shown == 2; };
  EXPECT_FALSE(Run());
  EXPECT_TRUE(op.messages.empty());
  EXPECT_EQ(shown, 2);
  EXPECT_EQ(Names(work), std::set<std::string>{"5.0"});
  EXPECT_FALSE(fs::exists(target));
}

}  // namespace
}  // namespace orvana
