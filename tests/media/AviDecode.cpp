#include "media/AviDecode.h"

#include <cstring>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace orvana::test {

namespace {

struct Decoder {
  AVCodecContext* Ctx = nullptr;
  int Video = -1;  // index into DecodedAvi::Videos, or -1 for the sound
  SwsContext* Sws = nullptr;
  ~Decoder() {
    sws_freeContext(Sws);
    avcodec_free_context(&Ctx);
  }
};

QImage ToImage(Decoder& d, const AVFrame* frame) {
  const int w = frame->width, h = frame->height;
  const auto format = static_cast<AVPixelFormat>(frame->format);
  if (format == AV_PIX_FMT_GRAY8) {
    QImage grey(w, h, QImage::Format_Grayscale8);
    for (int y = 0; y < h; ++y)
      std::memcpy(grey.scanLine(y), frame->data[0] + std::ptrdiff_t(y) * frame->linesize[0],
                  std::size_t(w));
    return grey;
  }
  QImage rgb(w, h, QImage::Format_RGB32);
  if (format == AV_PIX_FMT_BGR0 || format == AV_PIX_FMT_BGRA) {
    // Lossless streams come back word for word.
    for (int y = 0; y < h; ++y) {
      auto* out = reinterpret_cast<std::uint32_t*>(rgb.scanLine(y));
      const auto* in = reinterpret_cast<const std::uint32_t*>(
          frame->data[0] + std::ptrdiff_t(y) * frame->linesize[0]);
      for (int x = 0; x < w; ++x) out[x] = in[x] | 0xFF000000u;
    }
    return rgb;
  }
  if (format == AV_PIX_FMT_GBRP) {
    // Planar G, B, R put back together by hand, so nothing can round.
    for (int y = 0; y < h; ++y) {
      auto* out = reinterpret_cast<std::uint32_t*>(rgb.scanLine(y));
      const std::uint8_t* g = frame->data[0] + std::ptrdiff_t(y) * frame->linesize[0];
      const std::uint8_t* b = frame->data[1] + std::ptrdiff_t(y) * frame->linesize[1];
      const std::uint8_t* r = frame->data[2] + std::ptrdiff_t(y) * frame->linesize[2];
      for (int x = 0; x < w; ++x) out[x] = 0xFF000000u | (r[x] << 16) | (g[x] << 8) | b[x];
    }
    return rgb;
  }
  d.Sws = sws_getCachedContext(d.Sws, w, h, format, w, h, AV_PIX_FMT_BGR0,
                               SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr,
                               nullptr, nullptr);
  if (d.Sws == nullptr) return {};
  std::uint8_t* dst[4] = {rgb.bits(), nullptr, nullptr, nullptr};
  const int stride[4] = {static_cast<int>(rgb.bytesPerLine()), 0, 0, 0};
  sws_scale(d.Sws, frame->data, frame->linesize, 0, h, dst, stride);
  for (int y = 0; y < h; ++y) {
    auto* row = reinterpret_cast<std::uint32_t*>(rgb.scanLine(y));
    for (int x = 0; x < w; ++x) row[x] |= 0xFF000000u;
  }
  return rgb;
}

}  // namespace

DecodedAvi DecodeAvi(const std::filesystem::path& file) {
  DecodedAvi out;
  AVFormatContext* raw = nullptr;
  if (avformat_open_input(&raw, file.c_str(), nullptr, nullptr) < 0) {
    out.Error = "cannot open " + file.string();
    return out;
  }
  std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> fc(
      raw, [](AVFormatContext* c) { avformat_close_input(&c); });
  out.Format = fc->iformat->name;
  if (avformat_find_stream_info(fc.get(), nullptr) < 0) {
    out.Error = "no stream information";
    return out;
  }
  std::vector<std::unique_ptr<Decoder>> decoders(fc->nb_streams);
  for (unsigned i = 0; i < fc->nb_streams; ++i) {
    const AVStream* st = fc->streams[i];
    const AVCodecParameters* par = st->codecpar;
    if (par->codec_type != AVMEDIA_TYPE_VIDEO && par->codec_type != AVMEDIA_TYPE_AUDIO) continue;
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    if (codec == nullptr) {
      out.Error = "no decoder for stream " + std::to_string(i);
      return out;
    }
    auto d = std::make_unique<Decoder>();
    d->Ctx = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(d->Ctx, par);
    d->Ctx->thread_count = 1;
    if (avcodec_open2(d->Ctx, codec, nullptr) < 0) {
      out.Error = "cannot open the decoder of stream " + std::to_string(i);
      return out;
    }
    if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
      DecodedVideo v;
      v.Codec = codec->name;
      const char* pix = av_get_pix_fmt_name(static_cast<AVPixelFormat>(par->format));
      v.PixelFormat = pix != nullptr ? pix : "";
      v.Width = par->width;
      v.Height = par->height;
      v.FrameRate = av_q2d(st->avg_frame_rate);
      d->Video = static_cast<int>(out.Videos.size());
      out.Videos.push_back(v);
    } else {
      out.AudioCodec = codec->name;
      out.AudioRate = par->sample_rate;
      out.AudioChannels = par->ch_layout.nb_channels;
    }
    decoders[i] = std::move(d);
  }

  AVPacket* pkt = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  auto take = [&](Decoder& d) {
    while (avcodec_receive_frame(d.Ctx, frame) == 0) {
      if (d.Video >= 0) {
        out.Videos[static_cast<std::size_t>(d.Video)].Frames.push_back(ToImage(d, frame));
      } else if (frame->format == AV_SAMPLE_FMT_S16) {
        const auto* s = reinterpret_cast<const std::int16_t*>(frame->data[0]);
        out.Samples.insert(out.Samples.end(), s,
                           s + std::size_t(frame->nb_samples) * frame->ch_layout.nb_channels);
      } else {
        out.Error = "sound is not 16-bit interleaved";
      }
      av_frame_unref(frame);
    }
  };
  while (av_read_frame(fc.get(), pkt) >= 0) {
    Decoder* d = decoders[static_cast<std::size_t>(pkt->stream_index)].get();
    if (d != nullptr && avcodec_send_packet(d->Ctx, pkt) < 0) out.Error = "a packet was refused";
    av_packet_unref(pkt);
    if (d != nullptr) take(*d);
  }
  for (auto& d : decoders) {
    if (d == nullptr) continue;
    avcodec_send_packet(d->Ctx, nullptr);
    take(*d);
  }
  av_frame_free(&frame);
  av_packet_free(&pkt);
  return out;
}

}  // namespace orvana::test
