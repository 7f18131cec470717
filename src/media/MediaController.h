#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "media/Picture.h"

namespace orvana {

// The source's sound format as a wave format record would give it.
struct WaveFormat {
  std::uint16_t FormatTag = 0;  // 1 integer PCM, 3 float PCM, else the file's own tag
  std::uint16_t Channels = 0;
  std::uint32_t SamplesPerSec = 0;
  std::uint32_t AvgBytesPerSec = 0;
  std::uint16_t BlockAlign = 0;
  std::uint16_t BitsPerSample = 0;
  std::uint16_t ExtraSize = 0;
};

// Where the one-sixth preview of a picture sits inside its panel.
struct PreviewRect {
  int Left = 0, Top = 0, Width = 0, Height = 0;
};
PreviewRect PreviewGeometry(int panelWidth, int panelHeight, int width, int height);

// Limits beyond which a file is treated as unopenable rather than decoded.
inline constexpr int kMaxSourceDimension = 8192;
inline constexpr std::int64_t kMaxSourceFrames = 0x7FFFFFFF;
// Sound beyond these is not read (its format is still reported): a frame's share of it would
// take more memory than any real file needs, whatever the header claims.
inline constexpr std::uint32_t kMaxAudioRate = 384000;
inline constexpr std::uint16_t kMaxAudioBlockAlign = 64;

// One AVI source: opens the file, reports its size, length and sound, and positions itself on a
// frame by index, holding that frame's picture and sound until the next successful seek.
// Sequential seeks decode forward from where the decoder stands; only a jump backwards or far
// ahead goes back to a keyframe.
class MediaController {
 public:
  MediaController();
  ~MediaController();
  MediaController(const MediaController&) = delete;
  MediaController& operator=(const MediaController&) = delete;

  bool IsReady() const;
  // Opens an AVI file; the panel size places the preview (see Preview).
  bool Open(const std::string& fileName, int panelWidth, int panelHeight);
  // Positions on frame `index`; with wrap 1 the index is taken modulo the length. An index
  // outside the file returns false and keeps the picture and sound last delivered.
  bool Seek(std::int64_t index, int wrap);
  // The held picture at the file's own size.
  bool GrabFrame(Picture& out) const;
  // The same without a copy; null before the first successful seek. Valid until the next Seek.
  const Picture* HeldPicture() const;
  // Bytes of sound that belong to the held frame; copies the first `length` of them into
  // `buffer` only when at least that many are available.
  int GrabAudio(std::uint8_t* buffer, int length) const;
  bool ReadVideoFormat();
  bool ReadAudioFormat();
  bool ReadLength();

  bool IsOpen() const;
  // Index of the frame held, -1 before the first successful seek.
  std::int64_t HeldFrame() const;
  // Frames decoded since Open (to show that sequential seeks decode each frame once).
  std::int64_t DecodedFrames() const;

  // Decoder threads for the next Open; 0 takes one per core (up to 8). With more than one, the
  // colour conversion of a picture is shared by two threads as well.
  std::int32_t DecoderThreads = 0;

  std::int32_t Width = 0;
  std::int32_t Height = 0;
  std::int64_t LengthFrames = 0;
  std::int32_t FrameRate = 0;
  double PlaybackRate = 0.0;
  WaveFormat AudioFormat;
  std::uint8_t HasAudio = 0;
  PreviewRect Preview;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The three source slots; the main window owns them for its lifetime.
struct MediaSources {
  std::unique_ptr<MediaController> ClipSource;
  std::unique_ptr<MediaController> AlphaSource;
  std::unique_ptr<MediaController> WipeSource;

  bool CreateSources();
  void DestroySources();
};

}  // namespace orvana
