// Every codec family an operator meets in AVI files: the picture delivered for a display index
// must be the one FFmpeg's decoder gives for that index when it decodes the file from the start.

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <vector>

#include "media/AviFixture.h"
#include "media/MediaController.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace orvana {
namespace {

using test::AviSpec;
using test::Fixtures;

using Pixels = std::vector<std::uint32_t>;

std::uint64_t Hash(const Pixels& p) {
  std::uint64_t h = 1469598103934665603ull;
  for (const std::uint32_t v : p) h = (h ^ v) * 1099511628211ull;
  return h;
}

// Decodes the whole file in one pass with a single-threaded decoder, frames in the order the
// decoder gives them, through the same conversion as the controller.
struct StraightDecode {
  std::vector<std::uint64_t> hashes;    // of every frame, by display index
  std::map<std::int64_t, Pixels> kept;  // the frames asked for
};

bool DecodeStraight(const std::filesystem::path& file, const std::set<std::int64_t>& keep,
                    StraightDecode& out) {
  AVFormatContext* raw = nullptr;
  if (avformat_open_input(&raw, file.c_str(), av_find_input_format("avi"), nullptr) < 0) {
    return false;
  }
  std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> fmt(
      raw, [](AVFormatContext* c) { avformat_close_input(&c); });
  if (avformat_find_stream_info(fmt.get(), nullptr) < 0) return false;
  const AVCodec* codec = nullptr;
  const int v = av_find_best_stream(fmt.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
  if (v < 0) return false;
  std::unique_ptr<AVCodecContext, void (*)(AVCodecContext*)> dec(
      avcodec_alloc_context3(codec), [](AVCodecContext* c) { avcodec_free_context(&c); });
  avcodec_parameters_to_context(dec.get(), fmt->streams[v]->codecpar);
  dec->thread_count = 1;
  if (avcodec_open2(dec.get(), codec, nullptr) < 0) return false;
  AVPacket* pkt = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  SwsContext* sws = nullptr;
  const auto take = [&] {
    while (avcodec_receive_frame(dec.get(), frame) == 0) {
      const int w = frame->width, h = frame->height;
      sws = sws_getCachedContext(
          sws, w, h, AVPixelFormat(frame->format), w, h, AV_PIX_FMT_BGR0,
          SWS_POINT | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT | SWS_FULL_CHR_H_INP, nullptr, nullptr,
          nullptr);
      Pixels p(std::size_t(w) * std::size_t(h));
      std::uint8_t* dst[4] = {reinterpret_cast<std::uint8_t*>(p.data()), nullptr, nullptr, nullptr};
      const int stride[4] = {4 * w, 0, 0, 0};
      sws_scale(sws, frame->data, frame->linesize, 0, h, dst, stride);
      for (std::uint32_t& px : p) px &= 0x00FFFFFFu;
      const auto index = std::int64_t(out.hashes.size());
      out.hashes.push_back(Hash(p));
      if (keep.count(index) != 0) out.kept[index] = std::move(p);
    }
  };
  while (av_read_frame(fmt.get(), pkt) >= 0) {
    if (pkt->stream_index == v && pkt->size > 0) avcodec_send_packet(dec.get(), pkt);
    av_packet_unref(pkt);
    take();
  }
  avcodec_send_packet(dec.get(), nullptr);
  take();
  sws_freeContext(sws);
  av_frame_free(&frame);
  av_packet_free(&pkt);
  return true;
}

AviSpec Fixture(const char* codec, int frames, int gop, int bframes, const char* options = "") {
  AviSpec s;
  s.Width = 320;
  s.Height = 240;
  s.Frames = frames;
  s.AudioRate = 48000;
  s.Gop = gop;
  s.Codec = codec;
  s.BFrames = bframes;
  s.Options = options;
  return s;
}

struct CodecCase {
  const char* name;
  AviSpec format;
  // Seeks in this order: first frame, around keyframes, mid-group, backwards, the last frame.
  std::vector<std::int64_t> seeks;
};

std::vector<CodecCase> Cases() {
  return {
      // Open groups: the B-frames coded after each I show before it.
      {"mpeg4_b2", Fixture("mpeg4", 60, 12, 2), {0, 11, 12, 13, 30, 5, 59, 23, 10, 58}},
      {"mpeg2_b2", Fixture("mpeg2video", 90, 15, 2), {0, 14, 15, 16, 47, 89, 1, 44, 46, 88}},
      // FFmpeg's default x264 settings (3 B-frames, pyramid), one long group and part of one.
      {"h264_b3_gop250", Fixture("libx264", 300, 250, 3), {0, 200, 299, 137, 250, 249, 251, 3}},
      {"h264_open_gop",
       Fixture("libx264", 120, 40, 3, "x264-params=open-gop=1"),
       {0, 39, 40, 41, 79, 119, 2, 60, 118}},
      {"mjpeg_intra", Fixture("mjpeg", 60, 1, 0), {0, 37, 12, 59}},
      {"utvideo_lossless", Fixture("utvideo", 60, 1, 0), {0, 37, 12, 59}},
  };
}

void PrintTo(const CodecCase& c, std::ostream* os) {
  *os << c.name;
}

class CodecTable : public ::testing::TestWithParam<CodecCase> {};

TEST_P(CodecTable, DeliversTheDisplayFrameForEachIndex) {
  const CodecCase& c = GetParam();
  if (!test::HasEncoder(c.format.Codec)) GTEST_SKIP() << c.format.Codec << " not in this FFmpeg";
  const auto file = Fixtures::Get(std::string("codec_") + c.name, c.format);
  ASSERT_FALSE(file.empty());
  StraightDecode ref;
  ASSERT_TRUE(DecodeStraight(file, {c.seeks.begin(), c.seeks.end()}, ref));
  ASSERT_EQ(std::int64_t(ref.hashes.size()), c.format.Frames);

  MediaController m;
  ASSERT_TRUE(m.Open(file.string(), 320, 180));
  EXPECT_EQ(m.LengthFrames, c.format.Frames);
  Picture p;
  for (const std::int64_t i : c.seeks) {
    ASSERT_TRUE(m.Seek(i, 0)) << i;
    ASSERT_TRUE(m.GrabFrame(p));
    ASSERT_EQ(p.Pixels.size(), ref.kept[i].size());
    EXPECT_TRUE(p.Pixels == ref.kept[i]) << "frame " << i;
    std::vector<std::uint8_t> sound(7680);
    ASSERT_EQ(m.GrabAudio(sound.data(), 7680), 7680) << i;
    const auto first = std::int16_t(sound[0] | (sound[1] << 8));
    EXPECT_EQ(first, test::FixtureSample(i * 1920, 0)) << "sound of frame " << i;
  }
  // Past the end nothing changes; with wrap the index is taken modulo the length.
  const std::int64_t last = c.seeks.back();
  EXPECT_FALSE(m.Seek(c.format.Frames, 0));
  EXPECT_EQ(m.HeldFrame(), last);
  ASSERT_TRUE(m.GrabFrame(p));
  EXPECT_TRUE(p.Pixels == ref.kept[last]);
  ASSERT_TRUE(m.Seek(c.format.Frames + c.seeks[1], 1));
  ASSERT_TRUE(m.GrabFrame(p));
  EXPECT_TRUE(p.Pixels == ref.kept[c.seeks[1]]);
}

TEST_P(CodecTable, SequentialSeeksDecodeEachFrameOnceInDisplayOrder) {
  const CodecCase& c = GetParam();
  if (!test::HasEncoder(c.format.Codec)) GTEST_SKIP() << c.format.Codec << " not in this FFmpeg";
  const auto file = Fixtures::Get(std::string("codec_") + c.name, c.format);
  ASSERT_FALSE(file.empty());
  StraightDecode ref;
  ASSERT_TRUE(DecodeStraight(file, {}, ref));
  MediaController m;
  ASSERT_TRUE(m.Open(file.string(), 320, 180));
  Picture p;
  for (std::int64_t i = 0; i < c.format.Frames; ++i) {
    ASSERT_TRUE(m.Seek(i, 1)) << i;
    ASSERT_TRUE(m.GrabFrame(p));
    ASSERT_EQ(Hash(p.Pixels), ref.hashes[std::size_t(i)]) << "frame " << i;
  }
  EXPECT_EQ(m.DecodedFrames(), c.format.Frames);
}

INSTANTIATE_TEST_SUITE_P(Codecs, CodecTable, ::testing::ValuesIn(Cases()),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace orvana
