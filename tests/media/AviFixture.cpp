#include "media/AviFixture.h"

#include <map>
#include <memory>
#include <random>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libswscale/swscale.h>
}

namespace orvana::test {

std::uint32_t FixturePixel(int f, int x, int y) {
  const std::uint32_t r = std::uint32_t(x * 7 + f * 13) & 0xFF;
  const std::uint32_t g =
      x == 0 && y == 0 ? std::uint32_t(f) & 0xFF : std::uint32_t(y * 5 + f) & 0xFF;
  const std::uint32_t b = std::uint32_t(x + y + f * 29) & 0xFF;
  return (r << 16) | (g << 8) | b;
}

std::int16_t FixtureSample(std::int64_t s, int c) {
  const int v = int(s % 30000);
  return std::int16_t(c == 0 ? v : -v);
}

namespace {

struct Writer {
  AVFormatContext* oc = nullptr;
  AVCodecContext* venc = nullptr;
  AVCodecContext* aenc = nullptr;
  AVStream* vst = nullptr;
  AVStream* ast = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* pkt = nullptr;
  ~Writer() {
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&venc);
    avcodec_free_context(&aenc);
    if (oc != nullptr) {
      if (oc->pb != nullptr) avio_closep(&oc->pb);
      avformat_free_context(oc);
    }
  }
  bool Drain(AVCodecContext* enc, AVStream* st) {
    for (;;) {
      const int r = avcodec_receive_packet(enc, pkt);
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
      if (r < 0) return false;
      av_packet_rescale_ts(pkt, enc->time_base, st->time_base);
      pkt->stream_index = st->index;
      if (av_interleaved_write_frame(oc, pkt) < 0) return false;
    }
  }
};

}  // namespace

bool HasEncoder(const std::string& name) {
  return avcodec_find_encoder_by_name(name.c_str()) != nullptr;
}

namespace {

// FFV1 takes the fixture's RGB as it is; other encoders get the first format they list.
AVPixelFormat InputFormat(const AVCodec* vc) {
  if (vc->id == AV_CODEC_ID_FFV1 || vc->pix_fmts == nullptr) return AV_PIX_FMT_0RGB32;
  return vc->pix_fmts[0];
}

}  // namespace

bool WriteAvi(const std::filesystem::path& file, const AviSpec& format) {
  Writer w;
  if (avformat_alloc_output_context2(&w.oc, nullptr, "avi", file.c_str()) < 0) return false;
  const AVCodec* vc = avcodec_find_encoder_by_name(format.Codec.c_str());
  if (vc == nullptr) return false;
  w.vst = avformat_new_stream(w.oc, nullptr);
  w.venc = avcodec_alloc_context3(vc);
  w.venc->width = format.Width;
  w.venc->height = format.Height;
  w.venc->pix_fmt = InputFormat(vc);
  w.venc->time_base = AVRational{1, 25};
  w.venc->framerate = AVRational{25, 1};
  w.venc->gop_size = format.Gop;
  if (format.BFrames > 0) w.venc->max_b_frames = format.BFrames;
  w.venc->thread_count = 1;
  AVDictionary* opts = nullptr;
  if (!format.Options.empty() &&
      av_dict_parse_string(&opts, format.Options.c_str(), "=", ":", 0) < 0) {
    av_dict_free(&opts);
    return false;
  }
  const int opened = avcodec_open2(w.venc, vc, &opts);
  av_dict_free(&opts);
  if (opened < 0) return false;
  std::unique_ptr<SwsContext, decltype(&sws_freeContext)> toCodec(nullptr, &sws_freeContext);
  if (w.venc->pix_fmt != AV_PIX_FMT_0RGB32) {
    toCodec.reset(sws_getContext(format.Width, format.Height, AV_PIX_FMT_0RGB32, format.Width,
                                 format.Height, w.venc->pix_fmt, SWS_BICUBIC, nullptr, nullptr,
                                 nullptr));
    if (!toCodec) return false;
  }
  // The fixture's RGB picture, converted for encoders that want another format.
  std::unique_ptr<AVFrame, void (*)(AVFrame*)> rgbHolder(av_frame_alloc(),
                                                         [](AVFrame* f) { av_frame_free(&f); });
  AVFrame* rgb = rgbHolder.get();
  avcodec_parameters_from_context(w.vst->codecpar, w.venc);
  w.vst->time_base = w.venc->time_base;

  if (format.AudioRate > 0) {
    const AVCodec* ac =
        avcodec_find_encoder(format.AudioBits == 8 ? AV_CODEC_ID_PCM_U8 : AV_CODEC_ID_PCM_S16LE);
    w.ast = avformat_new_stream(w.oc, nullptr);
    w.aenc = avcodec_alloc_context3(ac);
    w.aenc->sample_rate = format.AudioRate;
    w.aenc->sample_fmt = format.AudioBits == 8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16;
    av_channel_layout_default(&w.aenc->ch_layout, format.AudioChannels);
    w.aenc->time_base = AVRational{1, format.AudioRate};
    if (avcodec_open2(w.aenc, ac, nullptr) < 0) return false;
    avcodec_parameters_from_context(w.ast->codecpar, w.aenc);
    w.ast->time_base = w.aenc->time_base;
  }
  if (avio_open(&w.oc->pb, file.c_str(), AVIO_FLAG_WRITE) < 0) return false;
  if (avformat_write_header(w.oc, nullptr) < 0) return false;

  w.frame = av_frame_alloc();
  w.pkt = av_packet_alloc();
  std::int64_t samplesDone = 0;
  for (int f = 0; f < format.Frames; ++f) {
    av_frame_unref(w.frame);
    AVFrame* picture = toCodec ? rgb : w.frame;
    av_frame_unref(picture);
    picture->format = AV_PIX_FMT_0RGB32;
    picture->width = format.Width;
    picture->height = format.Height;
    if (av_frame_get_buffer(picture, 0) < 0) return false;
    for (int y = 0; y < format.Height; ++y) {
      auto* row = reinterpret_cast<std::uint32_t*>(picture->data[0] + y * picture->linesize[0]);
      for (int x = 0; x < format.Width; ++x) row[x] = FixturePixel(f, x, y);
    }
    if (toCodec) {
      w.frame->format = w.venc->pix_fmt;
      w.frame->width = format.Width;
      w.frame->height = format.Height;
      if (av_frame_get_buffer(w.frame, 0) < 0) return false;
      sws_scale(toCodec.get(), rgb->data, rgb->linesize, 0, format.Height, w.frame->data,
                w.frame->linesize);
    }
    w.frame->pts = f;
    if (avcodec_send_frame(w.venc, w.frame) < 0 || !w.Drain(w.venc, w.vst)) return false;

    if (w.aenc != nullptr) {
      const std::int64_t end = std::int64_t(f + 1) * format.AudioRate / 25;
      const int n = int(end - samplesDone);
      av_frame_unref(w.frame);
      w.frame->format = w.aenc->sample_fmt;
      av_channel_layout_copy(&w.frame->ch_layout, &w.aenc->ch_layout);
      w.frame->sample_rate = format.AudioRate;
      w.frame->nb_samples = n;
      if (av_frame_get_buffer(w.frame, 0) < 0) return false;
      for (int s = 0; s < n; ++s) {
        for (int c = 0; c < format.AudioChannels; ++c) {
          const std::int16_t v = FixtureSample(samplesDone + s, c);
          if (format.AudioBits == 8) {
            w.frame->data[0][s * format.AudioChannels + c] = std::uint8_t((v >> 8) + 128);
          } else {
            reinterpret_cast<std::int16_t*>(w.frame->data[0])[s * format.AudioChannels + c] = v;
          }
        }
      }
      w.frame->pts = samplesDone;
      samplesDone = end;
      if (avcodec_send_frame(w.aenc, w.frame) < 0 || !w.Drain(w.aenc, w.ast)) return false;
    }
  }
  avcodec_send_frame(w.venc, nullptr);
  if (!w.Drain(w.venc, w.vst)) return false;
  if (w.aenc != nullptr) {
    avcodec_send_frame(w.aenc, nullptr);
    if (!w.Drain(w.aenc, w.ast)) return false;
  }
  return av_write_trailer(w.oc) == 0;
}

namespace {
struct FixtureFolder {
  std::filesystem::path path;
  std::map<std::string, std::filesystem::path> made;
  FixtureFolder() {
    std::random_device rd;
    path =
        std::filesystem::temp_directory_path() / ("orvana-media-fixtures-" + std::to_string(rd()));
    std::filesystem::create_directories(path);
  }
  ~FixtureFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};
FixtureFolder& Shared() {
  static FixtureFolder f;
  return f;
}
}  // namespace

const std::filesystem::path& Fixtures::Folder() {
  return Shared().path;
}

std::filesystem::path Fixtures::Get(const std::string& name, const AviSpec& format) {
  FixtureFolder& f = Shared();
  auto it = f.made.find(name);
  if (it != f.made.end()) return it->second;
  const std::filesystem::path file = f.path / (name + ".avi");
  if (!WriteAvi(file, format)) return {};
  f.made.emplace(name, file);
  return file;
}

}  // namespace orvana::test
