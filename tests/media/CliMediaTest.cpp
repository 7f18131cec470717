#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "media/AviFixture.h"
#include "media/DemoClip.h"
#include "media/FrameBuilder.h"
#include "support/RunCommand.h"

namespace orvana {
namespace {

std::string RunCli(const std::string& args, int& rc) {
  const auto r = test::runCommand(std::string(ORVANA_CLI) + " " + args + " 2>&1");
  rc = r.exitCode;
  return r.out;
}

TEST(CliMediaTest, ProbePrintsInfoLinesAndAudioMessage) {
  test::AviSpec s;
  s.Frames = 25;
  s.AudioRate = 44100;
  const auto file = test::Fixtures::Get("cli25_44k", s);
  int rc = 0;
  const std::string out = RunCli("probe " + file.string(), rc);
  EXPECT_EQ(rc, 0);
  EXPECT_NE(out.find("Res: 64x36, 25 fps\nLength: 25 frames, 1 sec\nOccupied: 50 blocks\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("AUDIO: Incorrect audio rate, must be 48000 hz."), std::string::npos);
  EXPECT_NE(out.find("No audio"), std::string::npos);
  RunCli("probe " + (test::Fixtures::Folder() / "none.avi").string(), rc);
  EXPECT_NE(rc, 0);
}

TEST(CliMediaTest, EncodeWritesTheRecipesPages) {
  test::AviSpec s;
  s.Width = 960;
  s.Height = 540;
  s.Frames = 5;
  s.AudioRate = 48000;
  const auto file = test::Fixtures::Get("cli_qhd", s);
  const auto out = test::Fixtures::Folder() / "pages.bin";
  int rc = 0;
  RunCli("encode --chip 1 --frame 3 --timecode " + file.string() + " -o " + out.string(), rc);
  ASSERT_EQ(rc, 0);
  std::ifstream in(out, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
  ASSERT_EQ(bytes.size(), std::size_t(73) * 8192);

  MediaSources sources;
  sources.CreateSources();
  ASSERT_TRUE(sources.ClipSource->Open(file.string(), 320, 180));
  FrameBuffer buffer;
  FrameBuilder b(sources);
  FramePass pass;
  pass.FramesToWrite = 5;
  pass.Timecode = true;
  ASSERT_TRUE(b.BuildFrame(buffer, 1, 3, pass));
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), reinterpret_cast<const char*>(buffer.data())));
}

// A copy of `from` whose sound format record claims another rate and block alignment: the
// samples stay as they are, only the header lies, as in a damaged or crafted file.
std::filesystem::path WithAudioHeader(const std::filesystem::path& from, const std::string& name,
                                      std::uint32_t rate, std::uint16_t blockAlign) {
  std::ifstream in(from, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
  const std::string text(bytes.begin(), bytes.end());
  const std::size_t auds = text.find("auds");
  const std::size_t strf = auds == std::string::npos ? auds : text.find("strf", auds);
  if (strf == std::string::npos) return {};
  const std::size_t format = strf + 8;  // after the chunk's id and size
  for (int i = 0; i < 4; ++i) bytes[format + 4 + i] = static_cast<char>(rate >> (8 * i));
  for (int i = 0; i < 2; ++i) bytes[format + 12 + i] = static_cast<char>(blockAlign >> (8 * i));
  const auto to = test::Fixtures::Folder() / name;
  std::ofstream(to, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
  return to;
}

// The buffers for a frame's sound are sized from rate and block alignment; a header claiming
// absurd ones used to make them hundreds of megabytes to gigabytes before the format check had a
// say. Now such sound is refused with the check's message and the pictures are used without it.
// The programs run with 600 MB of address space, some times what they need: a regression fails
// instead of filling the machine's memory.
TEST(CliMediaTest, AbsurdSoundFormatIsRefusedWithAMessage) {
  const auto good = test::Fixtures::Folder() / "demo_64x36.avi";
  DemoClipOptions demo;
  demo.Width = 64;
  demo.Height = 36;
  demo.Frames = 25;
  std::string why;
  ASSERT_TRUE(WriteDemoClip(good, demo, &why)) << why;
  auto limited = [](const std::string& args) {
    return test::runCommand(test::memoryCap(600000) + ORVANA_CLI + " " + args + " 2>&1");
  };
  struct Case {
    const char* name;
    std::uint32_t rate;
    std::uint16_t blockAlign;
    const char* message;
  };
  const Case cases[] = {
      {"rate", 0x7FFFFFF0u, 4, "AUDIO: Incorrect audio rate, must be 48000 hz."},
      {"align", 48000, 0xFFFF, "AUDIO: Incorrect block alignment, must be 4 bytes."},
      {"both", 0x7FFFFFF0u, 0xFFFF, "AUDIO: Incorrect audio rate, must be 48000 hz."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto file =
        WithAudioHeader(good, std::string("absurd_") + c.name + ".avi", c.rate, c.blockAlign);
    ASSERT_FALSE(file.empty());
    const auto probe = limited("probe " + file.string());
    EXPECT_EQ(probe.exitCode, 0) << probe.out;
    EXPECT_NE(probe.out.find(c.message), std::string::npos) << probe.out;
    EXPECT_NE(probe.out.find("No audio"), std::string::npos) << probe.out;

    const auto pages = test::Fixtures::Folder() / (std::string("absurd_") + c.name + ".bin");
    const auto r = limited("encode --chip 0 --frame 3 " + file.string() + " -o " + pages.string());
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find(c.message), std::string::npos) << r.out;
    std::error_code ec;
    EXPECT_EQ(std::filesystem::file_size(pages, ec), std::uintmax_t(73) * 8192);
  }
}

}  // namespace
}  // namespace orvana
