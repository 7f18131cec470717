// The full export from clip files on disk: every stream decoded by FFmpeg equals what the plain
// decoder makes of the stored lines, for codes that step past 0 and 255; lossy codecs stay close
// to the lossless picture; a failed or cancelled export leaves the target as it was.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <set>

#include "common/ScriptedOperator.h"
#include "media/AviDecode.h"
#include "media/ClipFileFixture.h"
#include "media/DemoClip.h"
#include "media/FrameEncoder.h"
#include "media/FullExport.h"
#include "media/FullFrameOracle.h"
#include "store/ChipLayout.h"
#include "support/TempHome.h"

namespace orvana {
namespace {

using test::oracle::Pages;

constexpr std::size_t kFrameBytes = ClipStreamHeader::kFrameBytes;

// Frame f of a clip file as the oracle takes it.
Pages FramePagesOf(const std::filesystem::path& file, int f) {
  std::ifstream in(file, std::ios::binary);
  in.seekg(std::streamoff(ClipStreamHeader::kSize + std::uint64_t(f) * kFrameBytes));
  Pages pages(73, std::vector<std::uint8_t>(8192));
  for (auto& p : pages) in.read(reinterpret_cast<char*>(p.data()), 8192);
  EXPECT_TRUE(in.good()) << file;
  return pages;
}

std::set<std::string> FolderNames(const std::filesystem::path& folder) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    names.insert(e.path().filename().string());
  return names;
}

std::string FileText(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class FullExportFiles : public ::testing::Test {
 protected:
  // One clip file per chip of the channel, `frames` frames, pages from `fill(chip, f, frame)`.
  std::vector<std::filesystem::path> MakeFiles(
      int channel, int frames, const std::function<void(int, int, std::uint8_t*)>& fill) {
    std::vector<std::filesystem::path> files;
    for (int chip : ChannelChips(channel)) {
      test::ClipFileShape layout;
      layout.Slot = 4;
      layout.Frames = frames;
      layout.Kind = ChannelKind(channel);
      files.push_back(home.path() / ("4." + std::to_string(chip)));
      EXPECT_TRUE(test::WriteClipFile(files.back(), layout,
                                      [&](int f, std::uint8_t* frame) { fill(chip, f, frame); }));
    }
    return files;
  }

  bool Export(int channel, const std::vector<std::filesystem::path>& files, AviCodec codec,
              std::function<bool()> keepGoing = {}) {
    FullExportJob job;
    job.Channel = channel;
    job.Files = files;
    job.Target = target;
    job.Codec = codec;
    job.KeepGoing = std::move(keepGoing);
    return WriteFullExport(job, op, error);
  }

  test::TempHome home;
  std::filesystem::path target = home.path() / "out" / "full.avi";
  ScriptedOperator op;
  std::string error;
};

// Random codes in every line byte and random sound: the reconstruction runs past both ends of
// 0..255 and must wrap as the coder's own does.
void RandomFrame(int chip, int f, std::uint8_t* frame) {
  std::mt19937 random(std::uint32_t(1000 * chip + f));
  for (int s = 0; s < 1920 * 2; ++s) frame[s] = std::uint8_t(random());
  for (int line = 0; line < 1080; ++line) {
    std::uint8_t* row = test::StoredRow(frame, line);
    for (int j = 1; j <= 480; ++j) row[j] = std::uint8_t(random());
  }
}

struct ChannelCase {
  const char* name;
  int channel;
  int width;
  int keys;
  bool sound;
};

void PrintTo(const ChannelCase& c, std::ostream* os) {
  *os << c.name;
}

class FullExportChannels : public FullExportFiles,
                           public ::testing::WithParamInterface<ChannelCase> {};

TEST_P(FullExportChannels, EveryStreamEqualsThePlainDecodeOfTheStoredLines) {
  const ChannelCase& c = GetParam();
  std::filesystem::create_directories(target.parent_path());
  const int frames = 2;
  const auto files = MakeFiles(c.channel, frames, RandomFrame);
  ASSERT_TRUE(Export(c.channel, files, FullExportJob{}.Codec)) << error;

  const test::DecodedAvi avi = test::DecodeAvi(target);
  ASSERT_EQ(avi.Error, "");
  ASSERT_EQ(int(avi.Videos.size()), 1 + c.keys);
  for (std::size_t v = 0; v < avi.Videos.size(); ++v) {
    SCOPED_TRACE("stream " + std::to_string(v));
    EXPECT_EQ(avi.Videos[v].Codec, "utvideo");
    EXPECT_EQ(avi.Videos[v].PixelFormat, "gbrp");
    EXPECT_EQ(avi.Videos[v].Width, c.width);
    EXPECT_EQ(avi.Videos[v].Height, 1080);
    EXPECT_DOUBLE_EQ(avi.Videos[v].FrameRate, 25.0);
    ASSERT_EQ(int(avi.Videos[v].Frames.size()), frames);
  }
  for (int f = 0; f < frames; ++f) {
    SCOPED_TRACE("frame " + std::to_string(f));
    std::vector<Pages> chip;
    for (const auto& file : files) chip.push_back(FramePagesOf(file, f));
    const bool logo = c.channel == 3;
    const QImage colour =
        logo ? test::oracle::LogoColour(chip[0], chip[1]) : test::oracle::Colour(chip[0], chip[1]);
    EXPECT_EQ(test::oracle::FirstDifference(avi.Videos[0].Frames[std::size_t(f)], colour), "");
    for (int k = 0; k < c.keys; ++k) {
      const QImage key = logo ? test::oracle::LogoKey(chip[2]) : test::oracle::Key(chip[2 + k]);
      EXPECT_EQ(
          test::oracle::FirstDifference(avi.Videos[std::size_t(1 + k)].Frames[std::size_t(f)], key),
          "")
          << "key stream " << k;
    }
    if (!c.sound) continue;
    for (int s = 0; s < 1920; ++s) {
      const std::size_t at = std::size_t(2 * (1920 * f + s));
      ASSERT_LT(at + 1, avi.Samples.size());
      ASSERT_EQ(avi.Samples[at], test::oracle::LeadSample(chip[0], s)) << "left, sample " << s;
      ASSERT_EQ(avi.Samples[at + 1], test::oracle::LeadSample(chip[1], s)) << "right, sample " << s;
    }
  }
  if (c.sound) {
    EXPECT_EQ(avi.AudioRate, 48000);
    EXPECT_EQ(avi.AudioChannels, 2);
    EXPECT_EQ(avi.Samples.size(), std::size_t(2 * 1920 * frames));
  } else {
    EXPECT_EQ(avi.AudioChannels, 0);
  }
  EXPECT_EQ(FolderNames(target.parent_path()), std::set<std::string>{"full.avi"});
}

const ChannelCase kChannels[] = {
    {"Clip2", 1, 1920, 0, true},
    {"SuperWipe", 2, 1920, 2, true},
    {"Logo", 3, 480, 1, false},
};

INSTANTIATE_TEST_SUITE_P(Channels, FullExportChannels, ::testing::ValuesIn(kChannels),
                         [](const auto& p) { return std::string(p.param.name); });

// Colour bars as the encoder stores them on the clip 1 chips.
void BarsFrame(int chip, int f, std::uint8_t* frame) {
  static Picture bars;
  if (bars.Width != 1920) {
    bars.resize(1920, 1080);
    DrawDemoFrame(0, 1920, 1080, bars.Pixels.data());
  }
  (void)f;
  FrameBuffer buffer;
  EncodePicture(buffer, bars, chip == 0 ? kLineLuma : kLineChroma, LineCoding::FourBit);
  std::memcpy(frame + 8192, buffer.page(1), std::size_t(72) * 8192);
}

TEST_F(FullExportFiles, SmallerCodecsStayCloseToTheLosslessPicture) {
  const auto files = MakeFiles(0, 1, BarsFrame);
  const QImage lossless =
      test::oracle::Colour(FramePagesOf(files[0], 0), FramePagesOf(files[1], 0));
  std::filesystem::create_directories(target.parent_path());
  const struct {
    AviCodec codec;
    const char* name;
  } codecs[] = {{AviCodec::Mjpeg, "mjpeg"}, {AviCodec::Mpeg4, "mpeg4"}};
  for (const auto& c : codecs) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(Export(0, files, c.codec)) << error;
    const test::DecodedAvi avi = test::DecodeAvi(target);
    ASSERT_EQ(avi.Error, "");
    ASSERT_EQ(avi.Videos.size(), 1u);
    EXPECT_EQ(avi.Videos[0].Codec, c.name);
    ASSERT_EQ(avi.Videos[0].Frames.size(), 1u);
    const double psnr = test::oracle::Psnr(avi.Videos[0].Frames[0], lossless, 1920);
    std::printf("%s against the lossless export: %.2f dB\n", c.name, psnr);
    EXPECT_GT(psnr, 35.0);
  }
}

TEST_F(FullExportFiles, FailuresNameTheCauseAndKeepTheTarget) {
  const auto good = [](int, int, std::uint8_t*) {};
  struct Case {
    const char* name;
    std::function<void(std::vector<std::filesystem::path>&)> spoil;
    const char* says;
  };
  const Case cases[] = {
      {"missing file", [](auto& files) { std::filesystem::remove(files[1]); },
       "The clip file of chip 1"},
      {"short file",
       [](auto& files) {
         std::filesystem::resize_file(files[1], std::filesystem::file_size(files[1]) - 1);
       },
       "is shorter than its 2 frames"},
      {"other frame count",
       [&](auto& files) {
         test::ClipFileShape layout;
         layout.Frames = 3;
         ASSERT_TRUE(test::WriteClipFile(files[1], layout));
       },
       "has 3 frames, chip 0 has 2"},
      {"other kind",
       [&](auto& files) {
         test::ClipFileShape layout;
         layout.Frames = 2;
         layout.Kind = 2;
         ASSERT_TRUE(test::WriteClipFile(files[0], layout));
       },
       "holds another kind of clip"},
      {"one file too few", [](auto& files) { files.pop_back(); }, "one clip file for every chip"},
  };
  std::filesystem::create_directories(target.parent_path());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    {
      std::ofstream keep(target);
      keep << "keep";
    }
    auto files = MakeFiles(0, 2, good);
    c.spoil(files);
    EXPECT_FALSE(Export(0, files, FullExportJob{}.Codec));
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
    EXPECT_EQ(FileText(target), "keep");
    EXPECT_EQ(FolderNames(target.parent_path()), std::set<std::string>{"full.avi"});
  }

  // A target folder that does not exist.
  const auto files = MakeFiles(0, 2, good);
  target = home.path() / "none" / "full.avi";
  EXPECT_FALSE(Export(0, files, FullExportJob{}.Codec));
  EXPECT_NE(error, "");
  EXPECT_FALSE(std::filesystem::exists(target.parent_path()));
}

TEST_F(FullExportFiles, ACancelAfterAFrameDropsTheFileAndKeepsTheTarget) {
  std::filesystem::create_directories(target.parent_path());
  {
    std::ofstream keep(target);
    keep << "keep";
  }
  const auto files = MakeFiles(2, 3, RandomFrame);
  int asked = 0;
  EXPECT_FALSE(Export(2, files, FullExportJob{}.Codec, [&] { return ++asked < 2; }));
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(error, "") << "a cancel is no failure";
  EXPECT_EQ(FileText(target), "keep");
  EXPECT_EQ(FolderNames(target.parent_path()), std::set<std::string>{"full.avi"});
}

}  // namespace
}  // namespace orvana
