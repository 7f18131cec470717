#include "MjpegClip.h"

#include <cmath>
#include <cstdint>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

namespace orvana::bench {

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

constexpr int kRate = 48000;

}  // namespace

bool WriteMjpegClip(const std::filesystem::path& file, int width, int height, int frames) {
  Writer w;
  if (avformat_alloc_output_context2(&w.oc, nullptr, "avi", file.c_str()) < 0) return false;
  const AVCodec* vc = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
  const AVCodec* ac = avcodec_find_encoder(AV_CODEC_ID_PCM_S16LE);
  if (vc == nullptr || ac == nullptr) return false;
  w.vst = avformat_new_stream(w.oc, nullptr);
  w.venc = avcodec_alloc_context3(vc);
  w.venc->width = width;
  w.venc->height = height;
  w.venc->pix_fmt = AV_PIX_FMT_YUVJ422P;
  w.venc->time_base = AVRational{1, 25};
  w.venc->framerate = AVRational{25, 1};
  w.venc->flags |= AV_CODEC_FLAG_QSCALE;
  w.venc->global_quality = FF_QP2LAMBDA * 3;
  if (avcodec_open2(w.venc, vc, nullptr) < 0) return false;
  avcodec_parameters_from_context(w.vst->codecpar, w.venc);
  w.vst->time_base = w.venc->time_base;

  w.ast = avformat_new_stream(w.oc, nullptr);
  w.aenc = avcodec_alloc_context3(ac);
  w.aenc->sample_rate = kRate;
  w.aenc->sample_fmt = AV_SAMPLE_FMT_S16;
  av_channel_layout_default(&w.aenc->ch_layout, 2);
  w.aenc->time_base = AVRational{1, kRate};
  if (avcodec_open2(w.aenc, ac, nullptr) < 0) return false;
  avcodec_parameters_from_context(w.ast->codecpar, w.aenc);
  w.ast->time_base = w.aenc->time_base;

  if (avio_open(&w.oc->pb, file.c_str(), AVIO_FLAG_WRITE) < 0) return false;
  if (avformat_write_header(w.oc, nullptr) < 0) return false;
  w.frame = av_frame_alloc();
  w.pkt = av_packet_alloc();
  std::int64_t samplesDone = 0;
  for (int f = 0; f < frames; ++f) {
    av_frame_unref(w.frame);
    w.frame->format = w.venc->pix_fmt;
    w.frame->width = width;
    w.frame->height = height;
    if (av_frame_get_buffer(w.frame, 0) < 0) return false;
    // A gradient with a moving band and some texture, as camera pictures have.
    for (int y = 0; y < height; ++y) {
      std::uint8_t* luma = w.frame->data[0] + y * w.frame->linesize[0];
      for (int x = 0; x < width; ++x) {
        const int band = ((x + 12 * f) / 64 + y / 64) % 2 ? 60 : 0;
        luma[x] = static_cast<std::uint8_t>(16 + (x * 140 / width + band + ((x * y) & 15)) % 220);
      }
      for (int plane = 1; plane <= 2; ++plane) {
        std::uint8_t* chroma = w.frame->data[plane] + y * w.frame->linesize[plane];
        for (int x = 0; x < width / 2; ++x)
          chroma[x] = static_cast<std::uint8_t>(plane == 1 ? 64 + (y + 4 * f) % 128
                                                           : 64 + (x + 8 * f) % 128);
      }
    }
    w.frame->pts = f;
    if (avcodec_send_frame(w.venc, w.frame) < 0 || !w.Drain(w.venc, w.vst)) return false;

    const std::int64_t end = std::int64_t(f + 1) * kRate / 25;
    const int n = static_cast<int>(end - samplesDone);
    av_frame_unref(w.frame);
    w.frame->format = w.aenc->sample_fmt;
    av_channel_layout_copy(&w.frame->ch_layout, &w.aenc->ch_layout);
    w.frame->sample_rate = kRate;
    w.frame->nb_samples = n;
    if (av_frame_get_buffer(w.frame, 0) < 0) return false;
    auto* samples = reinterpret_cast<std::int16_t*>(w.frame->data[0]);
    for (int s = 0; s < n; ++s) {
      const double t = static_cast<double>(samplesDone + s) / kRate;
      samples[2 * s] = static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 440 * t));
      samples[2 * s + 1] = static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 660 * t));
    }
    w.frame->pts = samplesDone;
    samplesDone = end;
    if (avcodec_send_frame(w.aenc, w.frame) < 0 || !w.Drain(w.aenc, w.ast)) return false;
  }
  avcodec_send_frame(w.venc, nullptr);
  avcodec_send_frame(w.aenc, nullptr);
  if (!w.Drain(w.venc, w.vst) || !w.Drain(w.aenc, w.ast)) return false;
  return av_write_trailer(w.oc) == 0;
}

}  // namespace orvana::bench
