#include "media/AviWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

namespace orvana {

namespace {

constexpr int kFrameRate = 25;
constexpr int kSampleRate = 48000;
constexpr int kIoBuffer = 1 << 16;
// Fixed quantisers: 2 keeps MJPEG close to the source, 3 is MPEG-4's usual "high quality".
constexpr int kMjpegQuality = 2;
constexpr int kMpeg4Quality = 3;

std::string AvError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

const char* CodecName(AviCodec c) {
  switch (c) {
    case AviCodec::Mjpeg:
      return "MJPEG";
    case AviCodec::Ffv1:
      return "FFV1";
    case AviCodec::Mpeg4:
      return "MPEG-4";
    case AviCodec::UtVideo:
      return "Ut Video";
  }
  return "?";
}

// Planar G, B, R (FFmpeg's order) from 32-bit pixel words 0x..RRGGBB, or a grey plane copied
// into all three.
void SplitPlanes(const std::uint8_t* src, int srcStride, bool grey, AVFrame& frame) {
  const int w = frame.width;
  for (int y = 0; y < frame.height; ++y) {
    const std::uint8_t* in = src + std::ptrdiff_t(y) * srcStride;
    std::uint8_t* g = frame.data[0] + std::ptrdiff_t(y) * frame.linesize[0];
    std::uint8_t* b = frame.data[1] + std::ptrdiff_t(y) * frame.linesize[1];
    std::uint8_t* r = frame.data[2] + std::ptrdiff_t(y) * frame.linesize[2];
    if (grey) {
      std::memcpy(g, in, std::size_t(w));
      std::memcpy(b, in, std::size_t(w));
      std::memcpy(r, in, std::size_t(w));
      continue;
    }
    const auto* words = reinterpret_cast<const std::uint32_t*>(in);
    for (int x = 0; x < w; ++x) {
      const std::uint32_t p = words[x];
      b[x] = static_cast<std::uint8_t>(p);
      g[x] = static_cast<std::uint8_t>(p >> 8);
      r[x] = static_cast<std::uint8_t>(p >> 16);
    }
  }
}

// The file written through our own descriptor, so that Finish() can sync it and a write error
// keeps its errno for the message.
struct FileSink {
  int fd = -1;
  int lastErrno = 0;

  static int Write(void* opaque, std::uint8_t* buf, int size) {
    auto* self = static_cast<FileSink*>(opaque);
    int left = size;
    while (left > 0) {
      const ssize_t n = ::write(self->fd, buf, static_cast<std::size_t>(left));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        self->lastErrno = n < 0 ? errno : EIO;
        return AVERROR(self->lastErrno);
      }
      buf += n;
      left -= static_cast<int>(n);
    }
    return size;
  }

  static std::int64_t Seek(void* opaque, std::int64_t offset, int whence) {
    auto* self = static_cast<FileSink*>(opaque);
    if (whence & AVSEEK_SIZE) {
      struct stat st {};
      if (::fstat(self->fd, &st) != 0) return AVERROR(errno);
      return st.st_size;
    }
    const off_t at = ::lseek(self->fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
    if (at < 0) {
      self->lastErrno = errno;
      return AVERROR(errno);
    }
    return at;
  }
};

struct VideoEncoder {
  AviWriter::VideoStream Format;
  AVCodecContext* Enc = nullptr;
  AVStream* Stream = nullptr;
  AVFrame* Frame = nullptr;
  SwsContext* Sws = nullptr;  // null when the picture goes in as it is
  AVPixelFormat Source = AV_PIX_FMT_NONE;
  std::vector<std::uint8_t> Grey;  // a grey stream's plane taken from an RGB32 picture
  std::int64_t NextPts = 0;
};

}  // namespace

struct AviWriter::Impl {
  std::filesystem::path Target;
  std::filesystem::path Temp;
  FileSink Sink;
  AVFormatContext* Oc = nullptr;
  std::vector<VideoEncoder> Videos;
  AVCodecContext* AudioEnc = nullptr;
  AVStream* AudioStream = nullptr;
  AVFrame* Sound = nullptr;
  std::int64_t NextSample = 0;
  AVPacket* Pkt = nullptr;
  bool HeaderWritten = false;
  bool Failed = false;
  std::string Error;

  ~Impl() { Drop(); }

  // The first failure is the one reported; later calls only repeat it.
  bool Fail(const std::string& what, int code = 0) {
    if (!Failed) {
      if (code < 0 && Sink.lastErrno != 0)
        Error = what + ": " + std::strerror(Sink.lastErrno) + ".";
      else if (code < 0)
        Error = what + ": " + AvError(code) + ".";
      else
        Error = what + ".";
    }
    Failed = true;
    return false;
  }

  void Release() {
    for (VideoEncoder& v : Videos) {
      sws_freeContext(v.Sws);
      av_frame_free(&v.Frame);
      avcodec_free_context(&v.Enc);
    }
    Videos.clear();
    av_frame_free(&Sound);
    avcodec_free_context(&AudioEnc);
    av_packet_free(&Pkt);
    if (Oc != nullptr) {
      if (Oc->pb != nullptr) {
        av_freep(&Oc->pb->buffer);
        avio_context_free(&Oc->pb);
      }
      avformat_free_context(Oc);
      Oc = nullptr;
    }
    if (Sink.fd >= 0) ::close(Sink.fd);
    Sink.fd = -1;
  }

  // Frees everything and removes the temporary file, if any.
  void Drop() {
    Release();
    if (!Temp.empty()) ::unlink(Temp.c_str());
    Temp.clear();
  }

  // A new name beside the target, created exclusively, so two exports to one target never
  // share a file and the umask applies as to any file the user makes.
  bool CreateTemp() {
    static constexpr char kLetters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device seed;
    std::mt19937_64 random((std::uint64_t(seed()) << 32) ^ seed() ^ std::uint64_t(::getpid()));
    int lastErrno = EEXIST;
    for (int attempt = 0; attempt < 100 && lastErrno == EEXIST; ++attempt) {
      std::string name = Target.string() + ".part-";
      for (int i = 0; i < 6; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
      const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd >= 0) {
        Sink.fd = fd;
        Temp = name;
        return true;
      }
      lastErrno = errno;
    }
    return Fail("Cannot create a file beside " + Target.string() + ": " + std::strerror(lastErrno));
  }

  bool Drain(AVCodecContext* enc, AVStream* st) {
    for (;;) {
      const int r = avcodec_receive_packet(enc, Pkt);
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
      if (r < 0) return Fail("Encoding failed", r);
      av_packet_rescale_ts(Pkt, enc->time_base, st->time_base);
      Pkt->stream_index = st->index;
      const int w = av_interleaved_write_frame(Oc, Pkt);
      if (w < 0) return Fail("Cannot write " + Target.string(), w);
    }
  }

  bool Send(AVCodecContext* enc, AVStream* st, const AVFrame* frame) {
    const int r = avcodec_send_frame(enc, frame);
    if (r < 0) return Fail("Encoding failed", r);
    return Drain(enc, st);
  }

  bool OpenVideo(const VideoStream& format) {
    if (format.Width < 1 || format.Height < 1 || format.Width > 16384 || format.Height > 16384)
      return Fail("A picture of " + std::to_string(format.Width) + " x " +
                  std::to_string(format.Height) + " cannot be written");
    VideoEncoder& v = Videos.emplace_back();
    v.Format = format;
    AVCodecID id = AV_CODEC_ID_MJPEG;
    AVPixelFormat pix = AV_PIX_FMT_YUVJ420P;
    int quality = 0;
    switch (format.Codec) {
      case AviCodec::Mjpeg:
        // The JPEG encoder has no grey format: a key goes in as luma with neutral colour.
        quality = kMjpegQuality;
        break;
      case AviCodec::Ffv1:
        id = AV_CODEC_ID_FFV1;
        // Our own pixel words (bgr0 in memory) or one grey plane: decoding gives them back.
        pix = format.Grey ? AV_PIX_FMT_GRAY8 : AV_PIX_FMT_0RGB32;
        break;
      case AviCodec::Mpeg4:
        id = AV_CODEC_ID_MPEG4;
        pix = AV_PIX_FMT_YUV420P;
        quality = kMpeg4Quality;
        break;
      case AviCodec::UtVideo:
        // Planar G, B, R filled by our own loops below: exact, and a key shows as grey anywhere.
        id = AV_CODEC_ID_UTVIDEO;
        pix = AV_PIX_FMT_GBRP;
        break;
    }
    const AVCodec* codec = avcodec_find_encoder(id);
    if (codec == nullptr)
      return Fail(std::string("The FFmpeg libraries have no ") + CodecName(format.Codec) +
                  " encoder");
    v.Stream = avformat_new_stream(Oc, nullptr);
    v.Enc = avcodec_alloc_context3(codec);
    if (v.Stream == nullptr || v.Enc == nullptr) return Fail("Out of memory");
    AVCodecContext* e = v.Enc;
    e->width = format.Width;
    e->height = format.Height;
    e->time_base = AVRational{1, kFrameRate};
    e->framerate = AVRational{kFrameRate, 1};
    e->sample_aspect_ratio = AVRational{1, 1};
    e->pix_fmt = pix;
    e->max_b_frames = 0;  // AVI has no presentation times of its own
    if (format.Codec == AviCodec::Mjpeg) e->color_range = AVCOL_RANGE_JPEG;
    if (format.Codec != AviCodec::Mpeg4) e->gop_size = 1;
    if (quality > 0) {
      e->flags |= AV_CODEC_FLAG_QSCALE;
      e->global_quality = FF_QP2LAMBDA * quality;
    }
    if (Oc->oformat->flags & AVFMT_GLOBALHEADER) e->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* options = nullptr;
    if (format.Codec == AviCodec::UtVideo) av_dict_set(&options, "pred", "median", 0);
    int r = avcodec_open2(e, codec, &options);
    av_dict_free(&options);
    if (r < 0)
      return Fail(std::string("Cannot open the ") + CodecName(format.Codec) + " encoder", r);
    r = avcodec_parameters_from_context(v.Stream->codecpar, e);
    if (r < 0) return Fail("Cannot set up a picture stream", r);
    v.Stream->time_base = e->time_base;
    v.Stream->avg_frame_rate = e->framerate;
    v.Stream->r_frame_rate = e->framerate;

    v.Frame = av_frame_alloc();
    if (v.Frame == nullptr) return Fail("Out of memory");
    v.Frame->format = pix;
    v.Frame->width = format.Width;
    v.Frame->height = format.Height;
    v.Frame->color_range = e->color_range;
    r = av_frame_get_buffer(v.Frame, 0);
    if (r < 0) return Fail("Cannot allocate a picture", r);
    v.Source = format.Grey ? AV_PIX_FMT_GRAY8 : AV_PIX_FMT_0RGB32;
    if (v.Source != pix && pix != AV_PIX_FMT_GBRP) {
      v.Sws = sws_getContext(format.Width, format.Height, v.Source, format.Width, format.Height,
                             pix, SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
      if (v.Sws == nullptr) return Fail("Cannot set up the colour conversion");
      const int* bt601 = sws_getCoefficients(SWS_CS_ITU601);
      const int fullOut = format.Codec == AviCodec::Mjpeg ? 1 : 0;
      sws_setColorspaceDetails(v.Sws, bt601, 1, bt601, fullOut, 0, 1 << 16, 1 << 16);
    }
    if (format.Grey) v.Grey.resize(static_cast<std::size_t>(format.Width) * format.Height);
    return true;
  }

  bool OpenAudio() {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PCM_S16LE);
    if (codec == nullptr) return Fail("The FFmpeg libraries have no PCM encoder");
    AudioStream = avformat_new_stream(Oc, nullptr);
    AudioEnc = avcodec_alloc_context3(codec);
    if (AudioStream == nullptr || AudioEnc == nullptr) return Fail("Out of memory");
    AudioEnc->sample_rate = kSampleRate;
    AudioEnc->sample_fmt = AV_SAMPLE_FMT_S16;
    av_channel_layout_default(&AudioEnc->ch_layout, 2);
    AudioEnc->time_base = AVRational{1, kSampleRate};
    int r = avcodec_open2(AudioEnc, codec, nullptr);
    if (r < 0) return Fail("Cannot open the sound encoder", r);
    r = avcodec_parameters_from_context(AudioStream->codecpar, AudioEnc);
    if (r < 0) return Fail("Cannot set up the sound stream", r);
    AudioStream->time_base = AudioEnc->time_base;
    Sound = av_frame_alloc();
    if (Sound == nullptr) return Fail("Out of memory");
    return true;
  }

  bool Open(const std::filesystem::path& target, const std::vector<VideoStream>& videos,
            bool withAudio) {
    Target = target;
    if (videos.empty()) return Fail("An AVI file needs a picture stream");
    if (!CreateTemp()) return false;
    int r = avformat_alloc_output_context2(&Oc, nullptr, "avi", nullptr);
    if (r < 0 || Oc == nullptr) return Fail("Cannot set up an AVI file", r);
    for (const VideoStream& v : videos)
      if (!OpenVideo(v)) return false;
    if (withAudio && !OpenAudio()) return false;

    auto* buffer = static_cast<std::uint8_t*>(av_malloc(kIoBuffer));
    if (buffer == nullptr) return Fail("Out of memory");
    Oc->pb =
        avio_alloc_context(buffer, kIoBuffer, 1, &Sink, nullptr, &FileSink::Write, &FileSink::Seek);
    if (Oc->pb == nullptr) {
      av_free(buffer);
      return Fail("Out of memory");
    }
    Oc->flags |= AVFMT_FLAG_CUSTOM_IO;
    r = avformat_write_header(Oc, nullptr);
    if (r < 0) return Fail("Cannot write the AVI header of " + Target.string(), r);
    HeaderWritten = true;
    Pkt = av_packet_alloc();
    if (Pkt == nullptr) return Fail("Out of memory");
    return true;
  }

  bool AddFrame(int stream, const QImage& picture) {
    if (Failed) return false;
    if (stream < 0 || stream >= static_cast<int>(Videos.size()))
      return Fail("There is no picture stream " + std::to_string(stream));
    VideoEncoder& v = Videos[static_cast<std::size_t>(stream)];
    if (picture.width() != v.Format.Width || picture.height() != v.Format.Height)
      return Fail("A picture of " + std::to_string(picture.width()) + " x " +
                  std::to_string(picture.height()) + " does not fit the stream's " +
                  std::to_string(v.Format.Width) + " x " + std::to_string(v.Format.Height));
    const int w = v.Format.Width, h = v.Format.Height;

    // The source plane: 32-bit pixel words, or one grey byte per pixel.
    QImage words;
    const std::uint8_t* src = nullptr;
    int srcStride = 0;
    if (v.Format.Grey && picture.format() == QImage::Format_Grayscale8) {
      src = picture.constBits();
      srcStride = static_cast<int>(picture.bytesPerLine());
    } else {
      words = picture.format() == QImage::Format_RGB32 || picture.format() == QImage::Format_ARGB32
                  ? picture
                  : picture.convertToFormat(QImage::Format_RGB32);
      src = words.constBits();
      srcStride = static_cast<int>(words.bytesPerLine());
      if (v.Format.Grey) {
        for (int y = 0; y < h; ++y) {
          const auto* in =
              reinterpret_cast<const std::uint32_t*>(src + std::ptrdiff_t(y) * srcStride);
          std::uint8_t* out = v.Grey.data() + std::size_t(y) * std::size_t(w);
          for (int x = 0; x < w; ++x) out[x] = static_cast<std::uint8_t>(in[x] & 0xFF);
        }
        src = v.Grey.data();
        srcStride = w;
      }
    }

    // The encoder may still hold the last buffer; never draw into it.
    int r = av_frame_make_writable(v.Frame);
    if (r < 0) return Fail("Cannot allocate a picture", r);
    if (v.Sws != nullptr) {
      const std::uint8_t* planes[4] = {src, nullptr, nullptr, nullptr};
      const int strides[4] = {srcStride, 0, 0, 0};
      if (sws_scale(v.Sws, planes, strides, 0, h, v.Frame->data, v.Frame->linesize) != h)
        return Fail("Colour conversion failed");
    } else if (v.Frame->format == AV_PIX_FMT_GBRP) {
      SplitPlanes(src, srcStride, v.Format.Grey, *v.Frame);
    } else {
      const std::size_t rowBytes = std::size_t(w) * (v.Format.Grey ? 1 : 4);
      for (int y = 0; y < h; ++y)
        std::memcpy(v.Frame->data[0] + std::ptrdiff_t(y) * v.Frame->linesize[0],
                    src + std::ptrdiff_t(y) * srcStride, rowBytes);
    }
    v.Frame->pts = v.NextPts++;
    v.Frame->quality = v.Enc->global_quality;
    return Send(v.Enc, v.Stream, v.Frame);
  }

  bool AddAudio(const std::int16_t* interleaved, int sampleFrames) {
    if (Failed) return false;
    if (AudioEnc == nullptr) return Fail("The file was opened without sound");
    if (sampleFrames <= 0) return true;
    if (interleaved == nullptr) return Fail("No sound was given");
    av_frame_unref(Sound);
    Sound->format = AudioEnc->sample_fmt;
    Sound->sample_rate = kSampleRate;
    Sound->nb_samples = sampleFrames;
    int r = av_channel_layout_copy(&Sound->ch_layout, &AudioEnc->ch_layout);
    if (r >= 0) r = av_frame_get_buffer(Sound, 0);
    if (r < 0) return Fail("Cannot allocate sound", r);
    std::memcpy(Sound->data[0], interleaved, std::size_t(sampleFrames) * 4);
    Sound->pts = NextSample;
    NextSample += sampleFrames;
    return Send(AudioEnc, AudioStream, Sound);
  }

  bool Finish() {
    if (Failed) return false;
    if (Oc == nullptr || !HeaderWritten) return Fail("The AVI file was not opened");
    for (VideoEncoder& v : Videos)
      if (!Send(v.Enc, v.Stream, nullptr)) return false;
    if (AudioEnc != nullptr && !Send(AudioEnc, AudioStream, nullptr)) return false;
    int r = av_write_trailer(Oc);
    if (r < 0) return Fail("Cannot finish " + Target.string(), r);
    avio_flush(Oc->pb);
    if (Oc->pb->error < 0) return Fail("Cannot write " + Target.string(), Oc->pb->error);
    if (::fsync(Sink.fd) != 0) {
      Sink.lastErrno = errno;
      return Fail("Cannot write " + Target.string(), AVERROR(errno));
    }
    const int fd = Sink.fd;
    Sink.fd = -1;
    if (::close(fd) != 0) {
      Sink.lastErrno = errno;
      return Fail("Cannot write " + Target.string(), AVERROR(errno));
    }
    if (::rename(Temp.c_str(), Target.c_str()) != 0)
      return Fail("Cannot rename " + Temp.string() + " to " + Target.string() + ": " +
                  std::strerror(errno));
    Temp.clear();
    // The new name lasts only once its folder is on disk too.
    std::filesystem::path folder = Target.parent_path();
    if (folder.empty()) folder = ".";
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
      ::fsync(dir);
      ::close(dir);
    }
    Release();
    return true;
  }
};

AviWriter::AviWriter() = default;

AviWriter::~AviWriter() {
  Abandon();
}

bool AviWriter::Open(const std::filesystem::path& target, const std::vector<VideoStream>& videos,
                     bool withAudio) {
  Abandon();
  error_.clear();
  av_log_set_level(AV_LOG_FATAL);  // failures are reported through Error()
  impl_ = std::make_unique<Impl>();
  if (impl_->Open(target, videos, withAudio)) return true;
  error_ = impl_->Error;
  impl_.reset();
  return false;
}

bool AviWriter::AddFrame(int stream, const QImage& picture) {
  if (!impl_) {
    error_ = "The AVI file is not open.";
    return false;
  }
  if (impl_->AddFrame(stream, picture)) return true;
  error_ = impl_->Error;
  return false;
}

bool AviWriter::AddAudio(const std::int16_t* interleaved, int sampleFrames) {
  if (!impl_) {
    error_ = "The AVI file is not open.";
    return false;
  }
  if (impl_->AddAudio(interleaved, sampleFrames)) return true;
  error_ = impl_->Error;
  return false;
}

bool AviWriter::Finish() {
  if (!impl_) {
    error_ = "The AVI file is not open.";
    return false;
  }
  const bool ok = impl_->Finish();
  if (!ok) error_ = impl_->Error;
  impl_.reset();  // removes the temporary file when it was not renamed
  return ok;
}

void AviWriter::Abandon() {
  impl_.reset();
}

}  // namespace orvana
