#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "media/AviFixture.h"
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

}  // namespace
}  // namespace orvana
