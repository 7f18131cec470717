#include "media/ClipExport.h"

#include <fcntl.h>
#include <unistd.h>

#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "common/AtomicFile.h"
#include "media/WavFile.h"

namespace orvana {

namespace {

namespace fs = std::filesystem;

constexpr int kPairsPerFrame = ClipPictures::kAudioSlot / 4;

std::atomic<int> wavCounter{0};

bool AllDigits(const std::string& s, std::size_t from, std::size_t to) {
  if (to <= from) return false;
  for (std::size_t i = from; i < to; ++i)
    if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
  return true;
}

fs::path BitmapPath(const fs::path& folder, int frame) {
  return folder / ("file" + std::to_string(frame) + ".bmp");
}

// Saves the picture as a 24-bit bitmap; the reason on failure.
std::string SaveBitmap(const QImage& shown, const fs::path& path) {
  QFile file(QString::fromStdString(path.string()));
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
    return file.errorString().toStdString();
  // The standard 24-bit bitmap: Qt writes an RGB888 image at 24 bits whatever its defaults.
  QImageWriter writer(&file, "bmp");
  if (!writer.write(shown.convertToFormat(QImage::Format_RGB888)))
    return writer.errorString().toStdString();
  if (!file.flush() || file.error() != QFileDevice::NoError)
    return file.errorString().toStdString();
  file.close();
  if (file.error() != QFileDevice::NoError) return file.errorString().toStdString();
  return {};
}

// The sound samples of a WAV file the export wrote: 48 kHz stereo 16-bit PCM, read a frame at a
// time so a long clip's track never sits in memory twice.
class WavSamples {
 public:
  ~WavSamples() {
    if (fd_ >= 0) ::close(fd_);
  }

  bool Open(const fs::path& path, int frames) {
    if (path.empty()) return false;
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return false;
    std::uint8_t riff[12];
    if (!Read(riff, sizeof riff, 0) || std::memcmp(riff, "RIFF", 4) != 0 ||
        std::memcmp(riff + 8, "WAVE", 4) != 0)
      return false;
    off_t at = 12;
    bool format = false;
    // Bounded: a WAV of ours has two chunks, a foreign one a handful.
    for (int chunk = 0; chunk < 64; ++chunk) {
      std::uint8_t head[8];
      if (!Read(head, sizeof head, at)) return false;
      const std::uint32_t size = Le32(head + 4);
      if (std::memcmp(head, "fmt ", 4) == 0) {
        std::uint8_t f[16];
        if (size < sizeof f || !Read(f, sizeof f, at + 8)) return false;
        format = Le16(f) == 1 && Le16(f + 2) == 2 && Le32(f + 4) == 48000 && Le16(f + 14) == 16;
        if (!format) return false;
      } else if (std::memcmp(head, "data", 4) == 0) {
        data_ = at + 8;
        return format && std::uint64_t(size) >= std::uint64_t(frames) * ClipPictures::kAudioSlot;
      }
      at += 8 + static_cast<off_t>(size) + (size & 1);
    }
    return false;
  }

  bool Frame(int f, std::int16_t* pairs) {
    return Read(reinterpret_cast<std::uint8_t*>(pairs), ClipPictures::kAudioSlot,
                data_ + static_cast<off_t>(f) * ClipPictures::kAudioSlot);
  }

 private:
  static std::uint16_t Le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
  }
  static std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(Le16(p)) | static_cast<std::uint32_t>(Le16(p + 2)) << 16;
  }

  bool Read(std::uint8_t* out, std::size_t n, off_t at) {
    while (n > 0) {
      const ssize_t got = ::pread(fd_, out, n, at);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      out += got;
      n -= static_cast<std::size_t>(got);
      at += got;
    }
    return true;
  }

  int fd_ = -1;
  off_t data_ = 0;
};

bool Cancelled(const ClipExportOptions& o) {
  return o.Cancelled && o.Cancelled();
}

// The AVI from the bitmaps and the WAV; false (nothing told yet) on any failure or a cancel.
bool Mux(const ClipExportOptions& o, int frames, const fs::path& wav, Operator& op) {
  WavSamples sound;
  if (!sound.Open(wav, frames)) return false;
  AviWriter avi;
  if (!avi.Open(o.Target, {{o.Shown.width(), o.Shown.height(), o.Codec, false}}, true))
    return false;
  std::vector<std::int16_t> pairs(2 * kPairsPerFrame);
  QImage picture;
  op.setProgressMax(frames - 1);
  for (int i = 0; i < frames; ++i) {
    QImageReader reader(QString::fromStdString(BitmapPath(o.WorkFolder, i).string()), "bmp");
    if (!reader.read(&picture) || picture.size() != o.Shown) return false;
    if (!avi.AddFrame(0, picture)) return false;
    if (!sound.Frame(i, pairs.data()) || !avi.AddAudio(pairs.data(), kPairsPerFrame)) return false;
    op.setProgress(i);
    op.processEvents();
    if (Cancelled(o)) return false;
  }
  return avi.Finish();
}

}  // namespace

bool IsExportWorkFile(const std::string& name) {
  if (name.size() > 8 && name.compare(0, 4, "file") == 0 &&
      name.compare(name.size() - 4, 4, ".bmp") == 0)
    return AllDigits(name, 4, name.size() - 4);
  if (name.size() > 4 && name.compare(name.size() - 4, 4, ".wav") == 0)
    return AllDigits(name, 0, name.size() - 4);
  return false;
}

void ClearWorkFolder(const fs::path& folder) {
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) return;
  std::vector<fs::path> doomed;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    if (IsExportWorkFile(it->path().filename().string())) doomed.push_back(it->path());
  }
  for (const fs::path& p : doomed) fs::remove(p, ec);  // what stays, stays
}

int NextWavNumber() {
  return wavCounter.load();
}

fs::path WriteWav(const fs::path& folder, const std::vector<std::uint8_t>& audio, Operator& op) {
  const fs::path path = folder / (std::to_string(wavCounter.fetch_add(1)) + ".wav");
  const WaveFormat format = PcmStereo48k();
  WavTarget* wav = WavOpen(path, 1, &format);
  if (wav == nullptr) {
    op.message("Cannot create WAV file.");
    return {};
  }
  const std::uint32_t result =
      WavAppend(wav, audio.data(), static_cast<std::uint32_t>(audio.size()));
  WavClose(wav);
  if (result != kWavOk) {
    op.message("Cannot add AUDIO data.");
    return {};
  }
  return path;
}

bool ExportClip(ClipPictures& clip, const ClipExportOptions& o, Operator& op) {
  if (!clip.IsOpen()) {
    op.message(clip.Error().empty() ? "No clip file is open." : clip.Error());
    return false;
  }
  const int frames = clip.FrameCount();
  const fs::path& folder = o.WorkFolder;
  ClearWorkFolder(folder);
  op.setProgressMax(frames - 1);
  std::error_code ec;
  fs::create_directory(folder, ec);

  auto stop = [&] {
    ClearWorkFolder(folder);
    return false;
  };
  std::vector<std::uint8_t> track(std::size_t(frames) * ClipPictures::kAudioSlot);
  QImage frame;
  for (int i = 0; i < frames; ++i) {
    if (!clip.DecodeFrame(i, frame, track.data() + std::size_t(i) * ClipPictures::kAudioSlot)) {
      op.message(clip.Error());
      return stop();
    }
    const QImage shown = ShownPicture(frame, o.Shown);
    const fs::path bitmap = BitmapPath(folder, i);
    if (const std::string why = SaveBitmap(shown, bitmap); !why.empty()) {
      op.message("Cannot save the picture " + bitmap.string() + ": " + why);
      return stop();
    }
    if (o.OnFrame) o.OnFrame(i, shown);
    op.setProgress(i);
    op.processEvents();
    if (Cancelled(o)) return stop();
  }

  const fs::path wav = WriteWav(folder, track, op);
  track = {};
  if (o.BeforeMux) o.BeforeMux(wav);
  if (!Mux(o, frames, wav, op)) {
    if (!Cancelled(o)) op.message("Cannot create media stream.");
    return stop();
  }
  if (!o.KeepWav.empty()) {
    std::vector<std::uint8_t> bytes;
    std::FILE* in = std::fopen(wav.c_str(), "rb");
    bool read = in != nullptr;
    if (in != nullptr) {
      std::uint8_t buffer[1 << 16];
      for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;)
        bytes.insert(bytes.end(), buffer, buffer + n);
      read = std::ferror(in) == 0;
      std::fclose(in);
    }
    if (!read || !WriteFileAtomically(o.KeepWav, bytes)) {
      op.message("Cannot keep the sound as " + o.KeepWav.string() + ".");
      return stop();
    }
  }
  ClearWorkFolder(folder);
  return true;
}

}  // namespace orvana
