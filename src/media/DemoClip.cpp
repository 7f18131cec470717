#include "media/DemoClip.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <system_error>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswscale/swscale.h>
}

namespace orvana {

namespace {

constexpr std::uint32_t Rgb(std::uint32_t r, std::uint32_t g, std::uint32_t b) {
  return (r << 16) | (g << 8) | b;
}

// 75% bars, as a studio bar signal has them; the strip below mirrors them as in the usual
// pattern, so a swapped colour channel shows at once.
constexpr std::uint32_t kBars[7] = {Rgb(191, 191, 191), Rgb(191, 191, 0), Rgb(0, 191, 191),
                                    Rgb(0, 191, 0),     Rgb(191, 0, 191), Rgb(191, 0, 0),
                                    Rgb(0, 0, 191)};
constexpr std::uint32_t kReversed[7] = {Rgb(0, 0, 191),   0, Rgb(191, 0, 191),  0,
                                        Rgb(0, 191, 191), 0, Rgb(191, 191, 191)};
constexpr std::uint32_t kWhite = Rgb(255, 255, 255);
constexpr std::uint32_t kUnlit = Rgb(48, 48, 48);
constexpr int kCounterBits = 16;
constexpr int kSweepFrames = 2 * kDemoFrameRate;

std::string AvError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

// Everything one write holds; released in any order the write stops.
struct Writer {
  AVFormatContext* oc = nullptr;
  AVCodecContext* venc = nullptr;
  AVCodecContext* aenc = nullptr;
  AVStream* vst = nullptr;
  AVStream* ast = nullptr;
  AVFrame* picture = nullptr;
  AVFrame* sound = nullptr;
  AVPacket* pkt = nullptr;
  SwsContext* sws = nullptr;
  std::string shownName;  // the file as the caller named it, for messages
  std::string error;

  ~Writer() {
    sws_freeContext(sws);
    av_frame_free(&picture);
    av_frame_free(&sound);
    av_packet_free(&pkt);
    avcodec_free_context(&venc);
    avcodec_free_context(&aenc);
    if (oc != nullptr) {
      if (oc->pb != nullptr) avio_closep(&oc->pb);
      avformat_free_context(oc);
    }
  }

  bool Fail(const std::string& what, int code = 0) {
    error = code < 0 ? what + ": " + AvError(code) : what;
    return false;
  }

  bool Drain(AVCodecContext* enc, AVStream* st) {
    for (;;) {
      const int r = avcodec_receive_packet(enc, pkt);
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
      if (r < 0) return Fail("Encoding failed", r);
      av_packet_rescale_ts(pkt, enc->time_base, st->time_base);
      pkt->stream_index = st->index;
      const int w = av_interleaved_write_frame(oc, pkt);
      if (w < 0) return Fail("Cannot write " + shownName, w);
    }
  }

  bool Send(AVCodecContext* enc, AVStream* st, const AVFrame* frame) {
    const int r = avcodec_send_frame(enc, frame);
    if (r < 0) return Fail("Encoding failed", r);
    return Drain(enc, st);
  }

  bool OpenVideo(const DemoClipOptions& o) {
    const bool mjpeg = o.Codec == DemoVideoCodec::Mjpeg;
    const AVCodec* codec = avcodec_find_encoder(mjpeg ? AV_CODEC_ID_MJPEG : AV_CODEC_ID_FFV1);
    if (codec == nullptr) return Fail("The FFmpeg libraries have no encoder for the picture");
    vst = avformat_new_stream(oc, nullptr);
    venc = avcodec_alloc_context3(codec);
    if (vst == nullptr || venc == nullptr) return Fail("Out of memory");
    venc->width = o.Width;
    venc->height = o.Height;
    venc->time_base = AVRational{1, kDemoFrameRate};
    venc->framerate = AVRational{kDemoFrameRate, 1};
    venc->sample_aspect_ratio = AVRational{1, 1};
    if (mjpeg) {
      // Full-range 4:2:2 at the finest quantiser: bars stay clean and still compress well.
      venc->pix_fmt = AV_PIX_FMT_YUV422P;
      venc->color_range = AVCOL_RANGE_JPEG;
      venc->flags |= AV_CODEC_FLAG_QSCALE;
      venc->global_quality = FF_QP2LAMBDA * 2;
    } else {
      venc->pix_fmt = AV_PIX_FMT_0RGB32;  // our own pixel words, so nothing is converted
    }
    if (oc->oformat->flags & AVFMT_GLOBALHEADER) venc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int r = avcodec_open2(venc, codec, nullptr);
    if (r < 0) return Fail("Cannot open the picture encoder", r);
    r = avcodec_parameters_from_context(vst->codecpar, venc);
    if (r < 0) return Fail("Cannot set up the picture stream", r);
    vst->time_base = venc->time_base;
    vst->avg_frame_rate = venc->framerate;

    picture = av_frame_alloc();
    if (picture == nullptr) return Fail("Out of memory");
    picture->format = venc->pix_fmt;
    picture->width = o.Width;
    picture->height = o.Height;
    picture->color_range = venc->color_range;
    r = av_frame_get_buffer(picture, 0);
    if (r < 0) return Fail("Cannot allocate a picture", r);
    if (mjpeg) {
      sws = sws_getContext(o.Width, o.Height, AV_PIX_FMT_0RGB32, o.Width, o.Height,
                           AV_PIX_FMT_YUV422P, SWS_BILINEAR | SWS_ACCURATE_RND, nullptr, nullptr,
                           nullptr);
      if (sws == nullptr) return Fail("Cannot set up the colour conversion");
      // Full range on both sides: the JPEG convention the decoder assumes.
      const int* bt601 = sws_getCoefficients(SWS_CS_ITU601);
      sws_setColorspaceDetails(sws, bt601, 1, bt601, 1, 0, 1 << 16, 1 << 16);
    }
    return true;
  }

  bool OpenSound() {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PCM_S16LE);
    if (codec == nullptr) return Fail("The FFmpeg libraries have no PCM encoder");
    ast = avformat_new_stream(oc, nullptr);
    aenc = avcodec_alloc_context3(codec);
    if (ast == nullptr || aenc == nullptr) return Fail("Out of memory");
    aenc->sample_rate = kDemoSampleRate;
    aenc->sample_fmt = AV_SAMPLE_FMT_S16;
    av_channel_layout_default(&aenc->ch_layout, 2);
    aenc->time_base = AVRational{1, kDemoSampleRate};
    int r = avcodec_open2(aenc, codec, nullptr);
    if (r < 0) return Fail("Cannot open the sound encoder", r);
    r = avcodec_parameters_from_context(ast->codecpar, aenc);
    if (r < 0) return Fail("Cannot set up the sound stream", r);
    ast->time_base = aenc->time_base;

    sound = av_frame_alloc();
    if (sound == nullptr) return Fail("Out of memory");
    sound->format = aenc->sample_fmt;
    sound->sample_rate = kDemoSampleRate;
    sound->nb_samples = kDemoSamplesPerFrame;
    r = av_channel_layout_copy(&sound->ch_layout, &aenc->ch_layout);
    if (r >= 0) r = av_frame_get_buffer(sound, 0);
    if (r < 0) return Fail("Cannot allocate sound", r);
    return true;
  }

  bool WritePicture(int index, const std::vector<std::uint32_t>& rgb, int width, int height) {
    // The encoder may still hold the last buffer; never draw into it.
    int r = av_frame_make_writable(picture);
    if (r < 0) return Fail("Cannot allocate a picture", r);
    if (sws != nullptr) {
      const std::uint8_t* src[4] = {reinterpret_cast<const std::uint8_t*>(rgb.data()), nullptr,
                                    nullptr, nullptr};
      const int srcStride[4] = {4 * width, 0, 0, 0};
      if (sws_scale(sws, src, srcStride, 0, height, picture->data, picture->linesize) != height)
        return Fail("Colour conversion failed");
    } else {
      for (int y = 0; y < height; ++y)
        std::memcpy(picture->data[0] + std::ptrdiff_t(y) * picture->linesize[0],
                    rgb.data() + std::size_t(y) * std::size_t(width), std::size_t(width) * 4);
    }
    picture->pts = index;
    picture->quality = venc->global_quality;
    return Send(venc, vst, picture);
  }

  bool WriteSound(int index, double amplitude, double hz) {
    int r = av_frame_make_writable(sound);
    if (r < 0) return Fail("Cannot allocate sound", r);
    const std::int64_t first = std::int64_t(index) * kDemoSamplesPerFrame;
    auto* out = reinterpret_cast<std::int16_t*>(sound->data[0]);
    for (int s = 0; s < kDemoSamplesPerFrame; ++s) {
      // The phase comes from the absolute sample number, so the tone runs on across frames.
      const double t = double(first + s) / kDemoSampleRate;
      const auto v = std::int16_t(std::lround(amplitude * std::sin(2 * std::numbers::pi * hz * t)));
      out[2 * s] = v;
      out[2 * s + 1] = v;
    }
    sound->pts = first;
    return Send(aenc, ast, sound);
  }

  bool Write(const std::string& file, const DemoClipOptions& o) {
    int r = avformat_alloc_output_context2(&oc, nullptr, "avi", file.c_str());
    if (r < 0 || oc == nullptr) return Fail("Cannot set up an AVI file", r);
    if (!OpenVideo(o) || !OpenSound()) return false;
    r = avio_open(&oc->pb, file.c_str(), AVIO_FLAG_WRITE);
    if (r < 0) return Fail("Cannot create " + shownName, r);
    r = avformat_write_header(oc, nullptr);
    if (r < 0) return Fail("Cannot write the AVI header", r);

    pkt = av_packet_alloc();
    if (pkt == nullptr) return Fail("Out of memory");
    std::vector<std::uint32_t> rgb(std::size_t(o.Width) * std::size_t(o.Height));
    const double amplitude = 32767.0 * std::pow(10.0, o.ToneDbfs / 20.0);
    for (int f = 0; f < o.Frames; ++f) {
      if (o.Stopped && o.Stopped())
        return Fail("Stopped before the clip was complete; no file is left");
      DrawDemoFrame(f, o.Width, o.Height, rgb.data());
      if (!WritePicture(f, rgb, o.Width, o.Height) || !WriteSound(f, amplitude, o.ToneHz))
        return false;
    }
    if (!Send(venc, vst, nullptr) || !Send(aenc, ast, nullptr)) return false;
    r = av_write_trailer(oc);
    if (r < 0) return Fail("Cannot finish the AVI file", r);
    r = avio_closep(&oc->pb);
    if (r < 0) return Fail("Cannot write " + shownName, r);
    return true;
  }
};

void FillRow(std::uint32_t* row, int width, const std::uint32_t (&colours)[7]) {
  for (int x = 0; x < width; ++x) row[x] = colours[x * 7 / width];
}

}  // namespace

std::string CheckDemoClipOptions(const DemoClipOptions& o) {
  if (o.Width < 16 || o.Height < 16 || o.Width > 8192 || o.Height > 8192 || o.Width % 2 != 0 ||
      o.Height % 2 != 0)
    return "The picture size must be even, from 16 to 8192 on each side";
  if (o.Frames < 1 || o.Frames >= (1 << kCounterBits))
    return "The clip must have 1 to 65535 frames";
  if (!(o.ToneHz > 0 && o.ToneHz < kDemoSampleRate / 2.0))
    return "The tone must lie between 0 and 24000 Hz";
  if (!(o.ToneDbfs <= 0 && o.ToneDbfs > -120)) return "The tone level must be 0 dBFS or lower";
  return {};
}

void DrawDemoFrame(int index, int width, int height, std::uint32_t* pixels) {
  const auto w = std::size_t(width);
  auto row = [&](int y) { return pixels + std::size_t(y) * w; };
  auto repeat = [&](int from, int to) {  // copies row `from` down to `to` (exclusive)
    for (int y = from + 1; y < to; ++y) std::memcpy(row(y), row(from), w * 4);
  };
  const int barsEnd = height * 2 / 3;
  const int reversedEnd = height * 3 / 4;
  const int trackEnd = height * 7 / 8;

  FillRow(row(0), width, kBars);
  repeat(0, barsEnd);
  FillRow(row(barsEnd), width, kReversed);
  repeat(barsEnd, reversedEnd);

  const int markerWidth = std::max(2, width / 24);
  const int markerX = (index % kSweepFrames) * (width - markerWidth) / (kSweepFrames - 1);
  std::fill_n(row(reversedEnd), w, 0u);
  std::fill_n(row(reversedEnd) + markerX, markerWidth, kWhite);
  repeat(reversedEnd, trackEnd);

  const int cell = width / kCounterBits;
  const int margin = cell / 8;
  const int blockTop = trackEnd + (height - trackEnd) / 6;
  const int blockBottom = height - (height - trackEnd) / 6;
  std::fill_n(row(trackEnd), w, 0u);
  for (int b = 0; b < kCounterBits; ++b) {
    const bool lit = (index >> (kCounterBits - 1 - b)) & 1;
    std::fill_n(row(trackEnd) + b * cell + margin, cell - 2 * margin, lit ? kWhite : kUnlit);
  }
  repeat(trackEnd, height);
  // Black above and below the blocks, so they read as separate squares.
  for (int y = trackEnd; y < height; ++y)
    if (y < blockTop || y >= blockBottom) std::fill_n(row(y), w, 0u);
}

bool WriteDemoClip(const std::filesystem::path& file, const DemoClipOptions& o,
                   std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error != nullptr) *error = why;
    return false;
  };
  if (const std::string bad = CheckDemoClipOptions(o); !bad.empty()) return fail(bad);
  av_log_set_level(AV_LOG_FATAL);  // failures are reported through *error

  // Written beside the target and renamed when complete, so a failed write leaves nothing and
  // never spoils a file that was there.
  std::filesystem::path part = file;
  part += ".part";
  std::string why;
  {
    Writer w;
    w.shownName = file.string();
    if (!w.Write(part.string(), o)) why = w.error.empty() ? "Cannot write the clip" : w.error;
  }
  std::error_code ec;
  if (why.empty()) {
    std::filesystem::rename(part, file, ec);
    if (!ec) return true;
    why = "Cannot rename " + part.string() + " to " + file.string() + ": " + ec.message();
  }
  std::filesystem::remove(part, ec);
  return fail(why);
}

}  // namespace orvana
