#include "media/MediaController.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace orvana {

PreviewRect PreviewGeometry(int panelWidth, int panelHeight, int width, int height) {
  return {((panelWidth * 6 - width) / 2) / 6, ((panelHeight * 6 - height) / 2) / 6, width / 6,
          height / 6};
}

namespace {

struct FormatCloser {
  void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecFreer {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFreer {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFreer {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwsFreer {
  void operator()(SwsContext* s) const { sws_freeContext(s); }
};
using FormatPtr = std::unique_ptr<AVFormatContext, FormatCloser>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFreer>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;
using SwsPtr = std::unique_ptr<SwsContext, SwsFreer>;

// A chunk larger than this is not a frame or a frame's sound of any file we can use.
constexpr int kMaxPacketBytes = 256 * 1024 * 1024;
// Without an index to find keyframes, jumps up to this far ahead are decoded forward.
constexpr std::int64_t kForwardWithoutIndex = 250;

void QuietLibraries() {
  static std::once_flag once;
  // Broken input files are reported by our results; the libraries' own chatter is not wanted.
  std::call_once(once, [] { av_log_set_level(AV_LOG_FATAL); });
}

// Opens a file with the AVI demuxer only, so that other containers fail like unopenable files.
FormatPtr OpenAvi(const std::string& name) {
  const AVInputFormat* avi = av_find_input_format("avi");
  if (avi == nullptr) return nullptr;
  AVFormatContext* raw = nullptr;
  if (avformat_open_input(&raw, name.c_str(), avi, nullptr) < 0) return nullptr;
  return FormatPtr(raw);
}

bool IsRawPcm(AVCodecID id) {
  switch (id) {
    case AV_CODEC_ID_PCM_S16LE:
    case AV_CODEC_ID_PCM_U8:
    case AV_CODEC_ID_PCM_S24LE:
    case AV_CODEC_ID_PCM_S32LE:
    case AV_CODEC_ID_PCM_F32LE:
    case AV_CODEC_ID_PCM_F64LE:
      return true;
    default:
      return false;
  }
}

}  // namespace

struct MediaController::Impl {
  // Video.
  FormatPtr fmt;
  CodecPtr dec;
  SwsPtr sws;
  SwsPtr swsLower;  // the lower part of a picture converted on a second thread
  bool twoThreads = false;
  PacketPtr pkt{av_packet_alloc()};
  FramePtr cur{av_frame_alloc()};
  FramePtr prev{av_frame_alloc()};
  int vidx = -1;
  AVRational tb{1, 25};
  AVRational frameDuration{1, 25};
  std::int64_t startTs = 0;
  bool open = false;
  bool inputDone = false;  // every packet has gone to the decoder
  bool exhausted = false;  // and every frame has come out of it
  bool atStart = false;    // nothing read since open or since a seek to the start
  bool curValid = false;
  std::int64_t curIdx = -1;  // display index of the frame in `cur`, -1 when not known
  std::int64_t decoded = 0;

  // An AVI file stores frames in decoding order and has no presentation times: every packet is
  // tagged with its chunk number, and the decoder hands each frame back with its own packet's
  // tag. Without reordering the tag is the display index. With reordering, every keyframe starts
  // a group whose display indices are the group's own chunk numbers, so a frame's display index
  // is its group's first chunk plus the frames of that group delivered before it.
  bool reorder = false;
  bool linear = false;  // labels counted from the file start (no usable keyframe index)
  bool faulted = false;
  std::vector<std::int64_t> keys;       // chunk numbers of the keyframes, ascending
  std::vector<std::int8_t> keyLeading;  // -1 not checked, 0 no leading pictures, 1 has some
  std::int64_t lastFed = -1;            // tag of the last packet sent to the decoder
  std::ptrdiff_t restartGop = 0;        // the group decoding last started at
  bool restartUnknown = false;          // that group's pictures cannot be labelled
  std::int64_t skipBelow = -1;          // non-reference pictures before this tag are skipped
  std::ptrdiff_t outGop = -1;
  std::int64_t outCount = 0;  // frames of `outGop` delivered (in linear mode: since the start)
  FormatPtr probe;            // a second demuxer to look at packets after a keyframe

  // Sound: a second demuxer on the same file, so that reading ahead for sound never disturbs
  // the video position.
  FormatPtr afmt;
  PacketPtr apkt{av_packet_alloc()};
  int aidx = -1;
  AVRational atb{1, 48000};
  int sampleRate = 0;
  int blockAlign = 0;
  bool audioRaw = false;
  bool audioEof = false;
  bool audioPositioned = false;
  std::vector<std::uint8_t> abuf;  // decoded sound from sample `abufStart` on
  std::int64_t abufStart = 0;

  // What the last successful seek delivered.
  Picture held;
  std::int64_t heldIdx = -1;
  std::vector<std::uint8_t> heldAudio;

  std::int64_t TagOfTs(std::int64_t ts) const {
    return av_rescale_q_rnd(ts - startTs, tb, frameDuration,
                            AVRounding(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
  }

  std::int64_t TsOfTag(std::int64_t tag) const {
    return startTs + av_rescale_q(tag, frameDuration, tb);
  }

  std::ptrdiff_t GopOf(std::int64_t tag) const {
    return std::upper_bound(keys.begin(), keys.end(), tag) - keys.begin() - 1;
  }

  // Whether pictures after keyframe `g` in file order show before it (an open group: after a
  // jump the decoder drops them, so that group's frames cannot be counted from its start).
  bool HasLeading(std::ptrdiff_t g) {
    if (g <= 0) return false;
    std::int8_t& known = keyLeading[std::size_t(g)];
    if (known >= 0) return known == 1;
    known = 1;  // whatever cannot be checked is taken as open, which is slower but exact
    if (!probe) {
      probe = OpenAvi(fmt->url != nullptr ? fmt->url : "");
      if (!probe || unsigned(vidx) >= probe->nb_streams) return true;
      for (unsigned i = 0; i < probe->nb_streams; ++i) {
        if (int(i) != vidx) probe->streams[i]->discard = AVDISCARD_ALL;
      }
    }
    const AVCodecParameters* par = fmt->streams[vidx]->codecpar;
    std::unique_ptr<AVCodecParserContext, decltype(&av_parser_close)> parser(
        av_parser_init(par->codec_id), &av_parser_close);
    CodecPtr ctx(avcodec_alloc_context3(nullptr));
    if (!parser || !ctx || avcodec_parameters_to_context(ctx.get(), par) < 0) return true;
    parser->flags |= PARSER_FLAG_COMPLETE_FRAMES;
    if (av_seek_frame(probe.get(), vidx, TsOfTag(keys[std::size_t(g)]), AVSEEK_FLAG_BACKWARD) < 0) {
      return true;
    }
    PacketPtr p(av_packet_alloc());
    int seen = 0;
    int nextType = AV_PICTURE_TYPE_NONE;
    while (seen < 2 && av_read_frame(probe.get(), p.get()) >= 0) {
      if (p->stream_index == vidx && p->size > 0) {
        const std::int64_t ts = p->dts != AV_NOPTS_VALUE ? p->dts : p->pts;
        if (seen == 0 && (ts == AV_NOPTS_VALUE || TagOfTs(ts) != keys[std::size_t(g)])) break;
        std::uint8_t* out = nullptr;
        int outSize = 0;
        av_parser_parse2(parser.get(), ctx.get(), &out, &outSize, p->data, p->size, AV_NOPTS_VALUE,
                         AV_NOPTS_VALUE, 0);
        if (seen == 1) nextType = parser->pict_type;
        ++seen;
      }
      av_packet_unref(p.get());
    }
    if (seen == 2 && (nextType == AV_PICTURE_TYPE_I || nextType == AV_PICTURE_TYPE_P)) known = 0;
    return known == 1;
  }

  // The group decoding starts at for display index `target`: its own group when that group is
  // closed, else the one before, whose reference pictures the leading pictures need.
  std::ptrdiff_t RestartGopFor(std::int64_t target) {
    const std::ptrdiff_t g = std::max<std::ptrdiff_t>(0, GopOf(target));
    return HasLeading(g) ? g - 1 : g;
  }

  // Display index of a frame the decoder delivered; -1 when it cannot be known.
  std::int64_t Label(const AVFrame* f) {
    std::int64_t tag = f->pts;
    if (tag == AV_NOPTS_VALUE) tag = f->best_effort_timestamp;
    if (linear) return outCount++;
    if (!reorder) return tag == AV_NOPTS_VALUE ? curIdx + 1 : tag;
    const std::ptrdiff_t g = tag == AV_NOPTS_VALUE ? -1 : GopOf(tag);
    if (g < 0 || g < outGop) {
      faulted = true;
      return -1;
    }
    if (g != outGop) {
      outGop = g;
      outCount = 0;
    }
    const std::int64_t idx = keys[std::size_t(g)] + outCount++;
    if (std::size_t(g) + 1 < keys.size() && idx >= keys[std::size_t(g) + 1]) {
      faulted = true;  // more frames than the group has chunks: the groups are not closed
      return -1;
    }
    if (g == restartGop && restartUnknown) return -1;
    return idx;
  }

  // Pulls the next frame out of the decoder into `cur`; false at the end or on a fault.
  bool PullFrame() {
    for (;;) {
      const int r = avcodec_receive_frame(dec.get(), cur.get());
      if (r == 0) {
        ++decoded;
        curIdx = Label(cur.get());
        if (faulted) return false;
        curValid = true;
        return true;
      }
      if (r == AVERROR_EOF) exhausted = true;
      if (r != AVERROR(EAGAIN) || inputDone) return false;
      atStart = false;
      for (;;) {
        if (av_read_frame(fmt.get(), pkt.get()) < 0) {
          avcodec_send_packet(dec.get(), nullptr);  // drain what the decoder still holds
          inputDone = true;
          break;
        }
        const bool ours = pkt->stream_index == vidx;
        const int size = pkt->size;
        // An empty chunk is a dropped frame (the one before repeats); it must not reach the
        // decoder, which would take it for the end of the stream.
        if (!ours || size == 0) {
          av_packet_unref(pkt.get());
          continue;
        }
        if (size > kMaxPacketBytes) {
          av_packet_unref(pkt.get());
          return false;
        }
        const std::int64_t ts = pkt->dts != AV_NOPTS_VALUE ? pkt->dts : pkt->pts;
        const std::int64_t tag = ts == AV_NOPTS_VALUE ? lastFed + 1 : TagOfTs(ts);
        lastFed = tag;
        pkt->pts = pkt->dts = tag;
        dec->skip_frame = tag < skipBelow ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
        const int s = avcodec_send_packet(dec.get(), pkt.get());
        av_packet_unref(pkt.get());
        if (s < 0 && s != AVERROR(EAGAIN)) continue;  // a damaged packet: try the next one
        break;
      }
    }
  }

  bool SeekTo(std::int64_t tag) {
    if (av_seek_frame(fmt.get(), vidx, TsOfTag(tag), AVSEEK_FLAG_BACKWARD) >= 0) return true;
    return av_seek_frame(fmt.get(), vidx, startTs, AVSEEK_FLAG_BACKWARD) >= 0 && tag == 0;
  }

  void RestartDecoder(std::int64_t from) {
    avcodec_flush_buffers(dec.get());
    inputDone = false;
    exhausted = false;
    curValid = false;
    curIdx = -1;
    lastFed = from - 1;
    outGop = -1;
    outCount = 0;
    restartUnknown = false;
    skipBelow = -1;
    atStart = from == 0;
  }

  bool Reposition(std::int64_t target, int attempt) {
    if (linear || (reorder && attempt == 2)) {
      if (!SeekTo(0)) return false;
      RestartDecoder(0);
      restartGop = 0;
      return true;
    }
    if (reorder) {
      std::ptrdiff_t g = RestartGopFor(target);
      if (attempt == 1) g = std::max<std::ptrdiff_t>(0, g - 1);
      const std::int64_t key = keys[std::size_t(g)];
      if (!SeekTo(key)) return false;
      RestartDecoder(key);
      restartGop = g;
      restartUnknown = key != 0 && HasLeading(g);
      if (restartUnknown && std::size_t(g) + 1 < keys.size()) skipBelow = keys[std::size_t(g) + 1];
      return true;
    }
    // Later attempts start further back, the last from the beginning of the file.
    std::int64_t from = attempt == 0 ? target : attempt == 1 ? target - 50 : 0;
    if (from < 0) from = 0;
    const std::int64_t ts = TsOfTag(from);
    if (av_seek_frame(fmt.get(), vidx, ts, AVSEEK_FLAG_BACKWARD) < 0) {
      if (av_seek_frame(fmt.get(), vidx, startTs, AVSEEK_FLAG_BACKWARD) < 0) return false;
    }
    RestartDecoder(from);
    return true;
  }

  // The index of the nearest keyframe at or before `target`, or -1 when the file has no index.
  std::int64_t KeyframeBefore(std::int64_t target) const {
    AVStream* st = fmt->streams[vidx];
    const int e = av_index_search_timestamp(st, TsOfTag(target), AVSEEK_FLAG_BACKWARD);
    if (e < 0) return -1;
    const AVIndexEntry* entry = avformat_index_get_entry(st, e);
    if (entry == nullptr) return -1;
    return TagOfTs(entry->timestamp);
  }

  bool NeedsReposition(std::int64_t target) {
    if (linear) {
      if (!curValid) return !atStart;
      return curIdx > target || (curIdx < target && exhausted);
    }
    if (reorder) {
      if (!curValid) return !atStart || keys[std::size_t(RestartGopFor(target))] > 0;
      if (curIdx > target) return true;
      if (curIdx == target) return false;
      if (exhausted) return true;
      const std::ptrdiff_t g = RestartGopFor(target);
      // Frames of the group decoding started in carry no index: a target there needs a restart.
      if (restartUnknown && GopOf(target) == restartGop) return true;
      // Restart only when that skips packets; a restart also drops what the threads decoded ahead.
      return keys[std::size_t(g)] > lastFed + 1;
    }
    if (!curValid) {
      if (atStart) return target > kForwardWithoutIndex && KeyframeBefore(target) > 0;
      return true;
    }
    if (curIdx > target) return true;
    if (curIdx == target) return false;
    if (exhausted) return true;
    const std::int64_t key = KeyframeBefore(target);
    if (key < 0) return target - curIdx > kForwardWithoutIndex;
    return key > lastFed + 1;  // a keyframe lies beyond what was sent: starting there is less
  }

  // Converts `rows` source rows of `f` from row y0 on into `outRows` rows of the held picture
  // from row y0 on, with `ctx`, a context made for that conversion. Only a whole picture is
  // scaled (y0 0); the parts of a cut picture keep their row count.
  bool ConvertRows(SwsPtr& ctx, const AVFrame* f, int y0, int rows, int width, int outRows) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(AVPixelFormat(f->format));
    ctx.reset(sws_getCachedContext(
        ctx.release(), f->width, rows, AVPixelFormat(f->format), width, outRows, AV_PIX_FMT_BGR0,
        SWS_POINT | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT | SWS_FULL_CHR_H_INP, nullptr, nullptr,
        nullptr));
    if (!ctx || d == nullptr) return false;
    const std::uint8_t* src[4] = {};
    for (int p = 0; p < 4 && f->data[p] != nullptr; ++p) {
      const int shift = (p == 1 || p == 2) ? d->log2_chroma_h : 0;
      src[p] = f->data[p] + std::ptrdiff_t(y0 >> shift) * f->linesize[p];
    }
    std::uint8_t* dst[4] = {
        reinterpret_cast<std::uint8_t*>(held.Pixels.data() + std::size_t(y0) * std::size_t(width)),
        nullptr, nullptr, nullptr};
    const int dstStride[4] = {4 * width, 0, 0, 0};
    if (sws_scale(ctx.get(), src, f->linesize, 0, rows, dst, dstStride) != outRows) return false;
    std::uint32_t* out = held.Pixels.data() + std::size_t(y0) * std::size_t(width);
    // The fourth byte carries nothing.
    for (std::size_t n = std::size_t(outRows) * std::size_t(width); n-- > 0;) out[n] &= 0x00FFFFFFu;
    return true;
  }

  // The row where the picture is cut for two threads to convert, 0 for one thread. Only where
  // each part converts exactly as the whole would: plain planar or packed pixels, the cut on a
  // whole number of chroma rows, and no scaling (each output row is its own input row).
  int SplitRow(const AVFrame* f, std::int32_t width, std::int32_t height) const {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(AVPixelFormat(f->format));
    constexpr std::uint64_t kAwkward = AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM |
                                       AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BAYER;
    if (!twoThreads || d == nullptr || (d->flags & kAwkward) != 0 || f->width != width ||
        f->height != height || height < 64) {
      return 0;
    }
    const int unit = 2 << d->log2_chroma_h;
    return (height / 2) / unit * unit;
  }

  bool Deliver(const AVFrame* f, std::int32_t width, std::int32_t height) {
    if (f->width <= 0 || f->height <= 0) return false;
    if (held.Width != width || held.Height != height) held.resize(width, height);
    const int split = SplitRow(f, width, height);
    if (split <= 0) return ConvertRows(sws, f, 0, f->height, width, height);
    // A 1080-row picture takes several milliseconds to convert: two threads halve that.
    std::future<bool> lower;
    try {
      lower = std::async(std::launch::async, [&] {
        return ConvertRows(swsLower, f, split, height - split, width, height - split);
      });
    } catch (const std::exception&) {
      return ConvertRows(sws, f, 0, f->height, width, height);  // no thread: one piece then
    }
    const bool upper = ConvertRows(sws, f, 0, split, width, split);
    return lower.get() && upper;
  }

  // Sound of frame `idx`: the samples [idx * rate / 25, (idx + 1) * rate / 25).
  void FetchAudio(std::int64_t idx) {
    heldAudio.clear();
    if (!audioRaw || sampleRate <= 0 || blockAlign <= 0) return;
    const std::int64_t s0 = idx * sampleRate / 25;
    const std::int64_t s1 = (idx + 1) * sampleRate / 25;
    const std::int64_t bufEnd = abufStart + std::int64_t(abuf.size()) / blockAlign;
    if (!audioPositioned || s0 < abufStart || s0 > bufEnd + sampleRate * 2) {
      const std::int64_t ts = av_rescale_q(s0, AVRational{1, sampleRate}, atb);
      if (av_seek_frame(afmt.get(), aidx, ts, AVSEEK_FLAG_BACKWARD) < 0) {
        av_seek_frame(afmt.get(), aidx, 0, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_BYTE);
      }
      abuf.clear();
      audioPositioned = false;
      audioEof = false;
    }
    while (!audioEof &&
           (!audioPositioned || abufStart + std::int64_t(abuf.size()) / blockAlign < s1)) {
      if (av_read_frame(afmt.get(), apkt.get()) < 0) {
        audioEof = true;
        break;
      }
      if (apkt->stream_index != aidx || apkt->size <= 0 || apkt->size > kMaxPacketBytes) {
        av_packet_unref(apkt.get());
        continue;
      }
      const std::int64_t pts = apkt->pts != AV_NOPTS_VALUE ? apkt->pts : apkt->dts;
      std::int64_t pos = pts == AV_NOPTS_VALUE ? abufStart + std::int64_t(abuf.size()) / blockAlign
                                               : av_rescale_q(pts, atb, AVRational{1, sampleRate});
      const std::size_t bytes = std::size_t(apkt->size / blockAlign) * std::size_t(blockAlign);
      if (!audioPositioned) {
        abufStart = pos;
        audioPositioned = true;
      }
      const std::int64_t end = abufStart + std::int64_t(abuf.size()) / blockAlign;
      std::size_t skip = 0;
      if (pos > end) {
        // A gap in the stream is heard as silence; never pad more than the span we need.
        const std::int64_t pad = std::min(pos - end, std::max<std::int64_t>(0, s1 - end));
        abuf.insert(abuf.end(), std::size_t(pad) * std::size_t(blockAlign), 0);
        if (pos - end > pad) {  // jumped beyond what we need: start the buffer afresh
          abuf.clear();
          abufStart = pos;
        }
      } else if (pos < end) {
        skip = std::size_t(end - pos) * std::size_t(blockAlign);
      }
      if (skip < bytes) abuf.insert(abuf.end(), apkt->data + skip, apkt->data + bytes);
      av_packet_unref(apkt.get());
      // Drop what lies before the span, so the buffer holds about one packet at most.
      if (s0 > abufStart) {
        const std::size_t drop =
            std::min(abuf.size(), std::size_t(s0 - abufStart) * std::size_t(blockAlign));
        abuf.erase(abuf.begin(), abuf.begin() + std::ptrdiff_t(drop));
        abufStart += std::int64_t(drop) / blockAlign;
      }
    }
    if (!audioPositioned || s0 < abufStart) return;
    const std::size_t from = std::size_t(s0 - abufStart) * std::size_t(blockAlign);
    const std::size_t want = std::size_t(s1 - s0) * std::size_t(blockAlign);
    if (from >= abuf.size()) return;
    const std::size_t n = std::min(want, abuf.size() - from);
    heldAudio.assign(abuf.begin() + std::ptrdiff_t(from), abuf.begin() + std::ptrdiff_t(from + n));
  }
};

MediaController::MediaController() : impl_(std::make_unique<Impl>()) {
  QuietLibraries();
}
MediaController::~MediaController() = default;

bool MediaController::IsReady() const {
  return impl_ && impl_->pkt && impl_->cur && impl_->prev && impl_->apkt;
}

bool MediaController::IsOpen() const {
  return impl_ && impl_->open;
}
std::int64_t MediaController::HeldFrame() const {
  return impl_ ? impl_->heldIdx : -1;
}
std::int64_t MediaController::DecodedFrames() const {
  return impl_ ? impl_->decoded : 0;
}

bool MediaController::Open(const std::string& fileName, int panelWidth, int panelHeight) {
  if (!IsReady()) return false;
  impl_ = std::make_unique<Impl>();  // a controller opens one file in its life; start clean
  Width = Height = 0;
  LengthFrames = 0;
  FrameRate = 0;
  PlaybackRate = 0.0;
  AudioFormat = WaveFormat{};
  HasAudio = 0;
  Preview = PreviewRect{};
  Impl& m = *impl_;

  m.fmt = OpenAvi(fileName);
  if (!m.fmt || avformat_find_stream_info(m.fmt.get(), nullptr) < 0) return false;
  const AVCodec* codec = nullptr;
  m.vidx = av_find_best_stream(m.fmt.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
  if (m.vidx < 0 || codec == nullptr) return false;
  AVStream* st = m.fmt->streams[m.vidx];
  const AVCodecParameters* par = st->codecpar;
  // Absurd sizes are refused before the decoder allocates anything for them.
  if (par->width <= 0 || par->height <= 0 || par->width > kMaxSourceDimension ||
      par->height > kMaxSourceDimension) {
    return false;
  }
  m.dec.reset(avcodec_alloc_context3(codec));
  if (!m.dec || avcodec_parameters_to_context(m.dec.get(), par) < 0) return false;
  // Both kinds of decoder threading keep frames exact: every frame comes back with its own
  // packet's tag, whatever delay the threads add.
  m.dec->thread_count = DecoderThreads > 0
                            ? DecoderThreads
                            : int(std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
  m.dec->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
  m.twoThreads = m.dec->thread_count > 1;
  if (avcodec_open2(m.dec.get(), codec, nullptr) < 0) return false;
  for (unsigned i = 0; i < m.fmt->nb_streams; ++i) {
    if (int(i) != m.vidx) m.fmt->streams[i]->discard = AVDISCARD_ALL;
  }
  m.tb = st->time_base;
  AVRational rate = st->avg_frame_rate.num > 0 && st->avg_frame_rate.den > 0 ? st->avg_frame_rate
                                                                             : st->r_frame_rate;
  if (rate.num <= 0 || rate.den <= 0) rate = AVRational{25, 1};
  m.frameDuration = av_inv_q(rate);
  m.startTs = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
  m.reorder = par->video_delay > 0 || m.dec->has_b_frames > 0;
  if (m.reorder) {
    const int entries = avformat_index_get_entries_count(st);
    for (int e = 0; e < entries; ++e) {
      const AVIndexEntry* entry = avformat_index_get_entry(st, e);
      if (entry != nullptr && (entry->flags & AVINDEX_KEYFRAME) != 0) {
        const std::int64_t tag = m.TagOfTs(entry->timestamp);
        if (m.keys.empty() || tag > m.keys.back()) m.keys.push_back(tag);
      }
    }
    m.linear = m.keys.empty() || m.keys.front() != 0;
    m.keyLeading.assign(m.keys.size(), -1);
  }
  m.atStart = true;
  m.open = true;

  const bool videoOk = ReadVideoFormat();
  ReadAudioFormat();
  if (!videoOk || !ReadLength()) {
    m.open = false;
    return false;
  }
  Preview = PreviewGeometry(panelWidth, panelHeight, Width, Height);
  // A file whose first frame does not decode (truncated, damaged) is not a usable source.
  if (LengthFrames > 0 && !Seek(0, 0)) {
    m.open = false;
    return false;
  }
  return true;
}

bool MediaController::ReadVideoFormat() {
  if (!IsOpen()) return false;
  const AVCodecParameters* par = impl_->fmt->streams[impl_->vidx]->codecpar;
  FrameRate = 25;
  Width = par->width;
  Height = par->height;
  return Width > 0 && Height > 0;
}

bool MediaController::ReadAudioFormat() {
  AudioFormat = WaveFormat{};
  if (!IsOpen()) return false;
  Impl& m = *impl_;
  const int a = av_find_best_stream(m.fmt.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (a < 0) return false;
  const AVCodecParameters* par = m.fmt->streams[a]->codecpar;
  const int channels = par->ch_layout.nb_channels;
  int bits = av_get_bits_per_sample(par->codec_id);
  if (bits == 0) bits = par->bits_per_coded_sample;
  WaveFormat f;
  if (IsRawPcm(par->codec_id)) {
    f.FormatTag =
        (par->codec_id == AV_CODEC_ID_PCM_F32LE || par->codec_id == AV_CODEC_ID_PCM_F64LE) ? 3 : 1;
  } else {
    f.FormatTag = par->codec_tag != 0 ? std::uint16_t(par->codec_tag & 0xFFFF) : 0xFFFF;
  }
  f.Channels = std::uint16_t(std::clamp(channels, 0, 0xFFFF));
  f.SamplesPerSec = std::uint32_t(std::max(par->sample_rate, 0));
  f.BitsPerSample = std::uint16_t(std::clamp(bits, 0, 0xFFFF));
  f.BlockAlign = std::uint16_t(
      std::clamp(par->block_align > 0 ? par->block_align : channels * bits / 8, 0, 0xFFFF));
  f.AvgBytesPerSec =
      par->bit_rate > 0 ? std::uint32_t(par->bit_rate / 8) : f.SamplesPerSec * f.BlockAlign;
  f.ExtraSize = std::uint16_t(std::clamp(par->extradata_size, 0, 0xFFFF));
  AudioFormat = f;
  HasAudio = 1;

  // Sound is handed out as the file stores it, so only plain PCM is read; the buffers are sized
  // from rate and block alignment, so those must be within what real files use.
  if (IsRawPcm(par->codec_id) && f.BlockAlign > 0 && f.BlockAlign <= kMaxAudioBlockAlign &&
      f.SamplesPerSec > 0 && f.SamplesPerSec <= kMaxAudioRate && !m.afmt) {
    m.afmt = OpenAvi(m.fmt->url != nullptr ? m.fmt->url : "");
    if (m.afmt && unsigned(a) < m.afmt->nb_streams) {
      for (unsigned i = 0; i < m.afmt->nb_streams; ++i) {
        if (int(i) != a) m.afmt->streams[i]->discard = AVDISCARD_ALL;
      }
      m.aidx = a;
      m.atb = m.afmt->streams[a]->time_base;
      m.sampleRate = int(f.SamplesPerSec);
      m.blockAlign = f.BlockAlign;
      m.audioRaw = true;
    } else {
      m.afmt.reset();
    }
  }
  return true;
}

bool MediaController::ReadLength() {
  if (!IsOpen()) return false;
  Impl& m = *impl_;
  PlaybackRate = 1.0;
  AVStream* st = m.fmt->streams[m.vidx];
  std::int64_t n = st->nb_frames;
  // A truncated file claims more frames than its index holds; believe the index.
  const int entries = avformat_index_get_entries_count(st);
  if (entries > 0 && (n <= 0 || entries < n)) n = entries;
  if (n <= 0 && st->duration != AV_NOPTS_VALUE && st->duration > 0) {
    n = av_rescale_q(st->duration, m.tb, m.frameDuration);
  }
  if (n < 0 || n > kMaxSourceFrames) return false;
  LengthFrames = n;
  return true;
}

bool MediaController::Seek(std::int64_t index, int wrap) {
  if (!IsOpen()) return false;
  Impl& m = *impl_;
  if (wrap == 1 && LengthFrames > 0) {
    index %= LengthFrames;
    if (index < 0) index += LengthFrames;
  }
  // Outside the file nothing new is delivered: the held picture and sound stay.
  if (index < 0 || index >= LengthFrames) return false;
  if (index == m.heldIdx) return true;

  for (int attempt = 0; attempt < 3; ++attempt) {
    if (m.NeedsReposition(index) && !m.Reposition(index, attempt)) return false;
    bool prevValid = false;
    std::int64_t prevIdx = -1;
    for (;;) {
      if (!m.curValid || m.curIdx < index) {
        if (m.curValid && m.curIdx >= 0) {
          av_frame_unref(m.prev.get());
          av_frame_move_ref(m.prev.get(), m.cur.get());
          prevIdx = m.curIdx;
          prevValid = true;
        }
        if (!m.PullFrame()) {
          m.curValid = false;
          if (m.faulted) break;
          if (prevValid) {  // keep the decoder's last frame so later seeks can start from it
            av_frame_move_ref(m.cur.get(), m.prev.get());
            m.curIdx = prevIdx;
            m.curValid = true;
          }
          return false;  // the file ends before the frame: keep what we hold
        }
        continue;
      }
      const AVFrame* pick = nullptr;
      if (m.curIdx == index) {
        pick = m.cur.get();
      } else if (prevValid && prevIdx < index) {
        pick = m.prev.get();  // the frame is missing from the stream; the one before repeats
      }
      if (pick == nullptr) break;  // landed beyond the frame: start further back
      if (!m.Deliver(pick, Width, Height)) return false;
      m.heldIdx = index;
      m.FetchAudio(index);
      return true;
    }
    m.curValid = false;
    m.atStart = false;
    if (m.faulted) {
      // The groups do not behave as expected: count frames from the start from now on.
      m.faulted = false;
      if (!m.linear) {
        m.linear = true;
        attempt = -1;
      }
    }
  }
  return false;
}

bool MediaController::GrabFrame(Picture& out) const {
  if (!IsOpen() || impl_->heldIdx < 0) return false;
  out = impl_->held;
  return true;
}

const Picture* MediaController::HeldPicture() const {
  if (!IsOpen() || impl_->heldIdx < 0) return nullptr;
  return &impl_->held;
}

int MediaController::GrabAudio(std::uint8_t* buffer, int length) const {
  if (!IsOpen() || impl_->heldIdx < 0) return 0;
  const std::vector<std::uint8_t>& a = impl_->heldAudio;
  const int size = int(a.size());
  if (size == 0) return 0;
  if (length != 0 && size >= length && buffer != nullptr) {
    std::memcpy(buffer, a.data(), std::size_t(length));
  }
  return size;
}

bool MediaSources::CreateSources() {
  // The FFmpeg libraries need no start-up; every slot gets its decoder.
  ClipSource = std::make_unique<MediaController>();
  AlphaSource = std::make_unique<MediaController>();
  WipeSource = std::make_unique<MediaController>();
  return true;
}

void MediaSources::DestroySources() {
  ClipSource.reset();
  AlphaSource.reset();
  WipeSource.reset();
}

}  // namespace orvana
