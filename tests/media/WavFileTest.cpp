// The WAV writer's result codes and the file it leaves.
#include "media/WavFile.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <fstream>
#include <iterator>
#include <ostream>
#include <vector>

#include "support/TempHome.h"

namespace orvana {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> Bytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

struct AppendCase {
  const char* name;
  bool target;  // a target at all
  int format;   // 0: none given, 1: the export's PCM, 2: PCM with no channels
  bool sticky;  // an earlier write failed
  std::uint32_t bytes;
  bool data;  // a buffer is passed
  std::uint32_t expected;
};
void PrintTo(const AppendCase& c, std::ostream* os) {
  *os << c.name;
}

class WavAppendCodes : public ::testing::TestWithParam<AppendCase> {
 protected:
  test::TempHome home;
};

TEST_P(WavAppendCodes, AreCheckedInOrder) {
  const AppendCase& c = GetParam();
  WaveFormat format = PcmStereo48k();
  if (c.format == 2) format.Channels = 0;
  WavTarget* t = nullptr;
  if (c.target) {
    t = WavOpen(home.path() / "a.wav", 1, c.format == 0 ? nullptr : &format);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->AudioStream, c.format != 0);
    if (c.format == 0) {
      EXPECT_EQ(t->Format.FormatTag, 0);
      EXPECT_EQ(t->Format.Channels, 0);
    }
    t->StickyError = c.sticky;
  }
  const std::vector<std::uint8_t> buffer(std::max<std::uint32_t>(c.bytes, 1), 0x11);
  EXPECT_EQ(WavAppend(t, c.data ? buffer.data() : nullptr, c.bytes), c.expected)
      << std::hex << WavAppend(t, c.data ? buffer.data() : nullptr, c.bytes);
  if (t != nullptr) {
    EXPECT_EQ(t->SamplesWritten, c.expected == kWavOk ? c.bytes / 2 : 0u);
    EXPECT_EQ(WavClose(t), kWavOk);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Codes, WavAppendCodes,
    ::testing::Values(AppendCase{"WholeFrame", true, 1, false, 7680, true, kWavOk},
                      AppendCase{"OneSample", true, 1, false, 2, true, kWavOk},
                      AppendCase{"HalfASample", true, 1, false, 7681, true, 0x8004406A},
                      AppendCase{"NoBytes", true, 1, false, 0, true, 0x8004406A},
                      AppendCase{"NoBuffer", true, 1, false, 7680, false, 0x8004406A},
                      AppendCase{"NoTarget", false, 1, false, 7680, true, 0x8004406C},
                      AppendCase{"NoTargetBeforeNoBytes", false, 1, false, 0, true, 0x8004406C},
                      AppendCase{"NoChannels", true, 2, false, 7680, true, 0x80044066},
                      AppendCase{"NoFormatGiven", true, 0, false, 7680, true, 0x80044066},
                      AppendCase{"NoBytesBeforeNoChannels", true, 2, false, 0, true, 0x8004406A},
                      AppendCase{"Sticky", true, 1, true, 7680, true, 0x800440C7},
                      AppendCase{"StickyBeforeNoChannels", true, 2, true, 7680, true, 0x800440C7},
                      AppendCase{"StickyBeforeHalfASample", true, 1, true, 7681, true, 0x800440C7},
                      AppendCase{"NoBytesBeforeSticky", true, 1, true, 0, true, 0x8004406A},
                      AppendCase{"NoChannelsBeforeHalfASample", true, 2, false, 7681, true,
                                 0x80044066}),
    [](const ::testing::TestParamInfo<AppendCase>& c) { return std::string(c.param.name); });

TEST(WavFileTest, ANullTargetClosesWithItsCodeAndAMissingFolderOpensNothing) {
  EXPECT_EQ(WavClose(nullptr), 0x8004406Cu);
  const WaveFormat f = PcmStereo48k();
  EXPECT_EQ(WavOpen("/nonexistent-folder/x.wav", 1, &f), nullptr);
}

TEST(WavFileTest, AFailedStreamCreationSticks) {
  const WaveFormat f = PcmStereo48k();
  WavTarget* t = WavOpen("/dev/full", 1, &f);
  ASSERT_NE(t, nullptr);
  const std::vector<std::uint8_t> frame(7680, 1);
  EXPECT_EQ(WavAppend(t, frame.data(), 7680), kWavWriteFault);
  EXPECT_TRUE(t->StickyError);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(WavAppend(t, frame.data(), 7680), 0x800440C7u);
  EXPECT_EQ(t->SamplesWritten, 0u);
  EXPECT_EQ(WavClose(t), kWavOk);
}

// The headers go out, then the samples hit the file size limit part way.
TEST(WavFileTest, AFailedDataWriteSticks) {
  test::TempHome home;
  const WaveFormat f = PcmStereo48k();
  WavTarget* t = WavOpen(home.path() / "cut.wav", 1, &f);
  ASSERT_NE(t, nullptr);
  const std::vector<std::uint8_t> frame(7680, 1);
  ASSERT_EQ(WavAppend(t, frame.data(), 7680), kWavOk);
  rlimit old{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 44 + 7680 + 100;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const std::uint32_t cut = WavAppend(t, frame.data(), 7680);
  ::setrlimit(RLIMIT_FSIZE, &old);
  ::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(cut, kWavWriteFault);
  EXPECT_TRUE(t->StickyError);
  EXPECT_EQ(WavAppend(t, frame.data(), 4), 0x800440C7u);
  EXPECT_EQ(t->SamplesWritten, 3840u);
  EXPECT_EQ(WavClose(t), kWavOk);
}

TEST(WavFileTest, HeaderDescribesStereo48kAndTheDataWritten) {
  test::TempHome home;
  const fs::path file = home.path() / "track.wav";
  const WaveFormat f = PcmStereo48k();
  WavTarget* t = WavOpen(file, 1, &f);
  ASSERT_NE(t, nullptr);
  std::vector<std::uint8_t> samples(3 * 7680);
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<std::uint8_t>(i * 7);
  // Appends of different lengths add up.
  ASSERT_EQ(WavAppend(t, samples.data(), 7680), kWavOk);
  ASSERT_EQ(WavAppend(t, samples.data() + 7680, 2 * 7680 - 4), kWavOk);
  ASSERT_EQ(WavAppend(t, samples.data() + 3 * 7680 - 4, 4), kWavOk);
  EXPECT_EQ(t->SamplesWritten, 3u * 3840u);
  ASSERT_EQ(WavClose(t), kWavOk);

  const std::vector<std::uint8_t> bytes = Bytes(file);
  ASSERT_EQ(bytes.size(), 44u + samples.size());
  const std::uint8_t header[44] = {'R',  'I',  'F', 'F', 0x24, 0x5A, 0,   0,  // 36 + 23040
                                   'W',  'A',  'V', 'E', 'f',  'm',  't', ' ',
                                   16,   0,    0,   0,   1,    0,  // PCM
                                   2,    0,                        // stereo
                                   0x80, 0xBB, 0,   0,             // 48000 Hz
                                   0x00, 0xEE, 2,   0,             // 192000 bytes per second
                                   4,    0,                        // block align
                                   16,   0,                        // bits per sample
                                   'd',  'a',  't', 'a', 0x00, 0x5A, 0,   0};  // 23040 bytes
  EXPECT_TRUE(std::equal(header, header + 44, bytes.begin()));
  EXPECT_TRUE(std::equal(samples.begin(), samples.end(), bytes.begin() + 44));
}

}  // namespace
}  // namespace orvana
