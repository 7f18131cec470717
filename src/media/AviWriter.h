#pragma once

// Writes an AVI file with the FFmpeg libraries: one or more video streams at 25 frames per
// second and optionally 48 kHz stereo 16-bit PCM sound. The file is written under a temporary
// name beside the target and renamed into place only by Finish(), so a failed or abandoned
// export never touches an existing file of that name.

#include <QImage>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace orvana {

enum class AviCodec {
  Mjpeg,  // plays everywhere; the view export's default
  Ffv1,     // lossless, smallest, but its encoder reserves about 320 MiB per 1080p stream
  Mpeg4,    // smaller, lossy
  UtVideo,  // lossless planar RGB with a small working set; a grey stream has three equal planes
};

class AviWriter {
 public:
  struct VideoStream {
    int Width = 0;
    int Height = 0;
    AviCodec Codec = AviCodec::Mjpeg;
    bool Grey = false;  // a key picture: one grey component
  };

  AviWriter();
  ~AviWriter();  // abandons an unfinished file
  AviWriter(const AviWriter&) = delete;
  AviWriter& operator=(const AviWriter&) = delete;

  // False with Error() set when the file or an encoder cannot be opened.
  bool Open(const std::filesystem::path& target, const std::vector<VideoStream>& videos,
            bool withAudio);
  // The next frame of video stream `stream` (RGB32 0x00RRGGBB, or Grayscale8 / the blue
  // component for a grey stream), at the stream's size.
  bool AddFrame(int stream, const QImage& picture);
  // Interleaved stereo 16-bit samples, `sampleFrames` pairs.
  bool AddAudio(const std::int16_t* interleaved, int sampleFrames);
  // Flushes the encoders, writes the index, syncs and renames the file into place.
  bool Finish();
  // Drops the temporary file; the target is left as it was.
  void Abandon();

  const std::string& Error() const { return error_; }

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::string error_;
};

}  // namespace orvana
