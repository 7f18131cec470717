#include "media/WavFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>
#include <vector>

namespace orvana {

namespace {

constexpr std::uint32_t kPcmTag = 1;
// RIFF sizes are 32 bits; the header and a pad byte must still fit.
constexpr std::uint64_t kMaxData = 0xFFFFFFFFull - 64;

// Little-endian fields written at a running offset.
class HeaderBytes {
 public:
  void Tag(const char* tag) {
    for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<std::uint8_t>(tag[i]));
  }
  void U16(std::uint32_t v) {
    bytes_.push_back(static_cast<std::uint8_t>(v & 0xFF));
    bytes_.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
  }
  void U32(std::uint32_t v) {
    U16(v & 0xFFFF);
    U16(v >> 16);
  }
  std::vector<std::uint8_t> Take() { return std::move(bytes_); }

 private:
  std::vector<std::uint8_t> bytes_;
};

// PCM keeps the 16-byte record other programs expect; any other tag gets the extra size field
// (zero: the extra bytes themselves are not ours to invent).
std::uint32_t FormatChunkSize(const WaveFormat& f) {
  return f.FormatTag == kPcmTag ? 16 : 18;
}

std::uint32_t DataOffset(const WaveFormat& f) {
  return 12 + 8 + FormatChunkSize(f) + 8;
}

std::vector<std::uint8_t> Header(const WaveFormat& f, std::uint32_t dataBytes) {
  const std::uint32_t pad = dataBytes & 1;
  HeaderBytes h;
  h.Tag("RIFF");
  h.U32(DataOffset(f) - 8 + dataBytes + pad);
  h.Tag("WAVE");
  h.Tag("fmt ");
  h.U32(FormatChunkSize(f));
  h.U16(f.FormatTag);
  h.U16(f.Channels);
  h.U32(f.SamplesPerSec);
  h.U32(f.AvgBytesPerSec);
  h.U16(f.BlockAlign);
  h.U16(f.BitsPerSample);
  if (FormatChunkSize(f) == 18) h.U16(0);
  h.Tag("data");
  h.U32(dataBytes);
  return h.Take();
}

bool WriteAll(int fd, const void* data, std::size_t n) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

bool WriteAt(int fd, const std::vector<std::uint8_t>& bytes, off_t at) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t w =
        ::pwrite(fd, bytes.data() + done, bytes.size() - done, at + static_cast<off_t>(done));
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    done += static_cast<std::size_t>(w);
  }
  return true;
}

}  // namespace

WaveFormat PcmStereo48k() {
  WaveFormat f;
  f.FormatTag = kPcmTag;
  f.Channels = 2;
  f.SamplesPerSec = 48000;
  f.BitsPerSample = 16;
  f.BlockAlign = 4;
  f.AvgBytesPerSec = 48000 * 4;
  return f;
}

WavTarget* WavOpen(const std::filesystem::path& path, std::uint32_t period,
                   const WaveFormat* format) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  auto* t = new WavTarget;
  t->File = fd;
  if (format != nullptr) t->Format = *format;
  t->AudioStream = format != nullptr;
  t->Period = period;
  return t;
}

std::uint32_t WavAppend(WavTarget* target, const void* data, std::uint32_t bytes) {
  if (target == nullptr) return kWavNoTarget;
  if (data == nullptr || bytes == 0) return kWavBadData;
  if (target->StickyError) return kWavSticky;
  const WaveFormat& f = target->Format;
  if (f.Channels == 0 || f.BitsPerSample == 0) return kWavBadFormat;
  const std::uint64_t samples = std::uint64_t(bytes) * 8 / f.BitsPerSample;
  if (samples * f.BitsPerSample / 8 != bytes) return kWavBadData;

  auto fault = [&] {
    target->StickyError = true;
    return kWavWriteFault;
  };
  if (!target->StreamCreated) {
    const std::vector<std::uint8_t> head = Header(f, 0);
    if (!WriteAll(target->File, head.data(), head.size())) return fault();
    target->StreamCreated = true;
  }
  if (target->DataBytes + bytes > kMaxData) return fault();
  if (!WriteAll(target->File, data, bytes)) return fault();
  target->DataBytes += bytes;
  target->SamplesWritten += static_cast<std::uint32_t>(samples);
  return kWavOk;
}

std::uint32_t WavClose(WavTarget* target) {
  if (target == nullptr) return kWavNoTarget;
  // A file without a stream stays empty: nothing says what its samples would have been.
  if (target->StreamCreated && !target->StickyError) {
    const auto dataBytes = static_cast<std::uint32_t>(target->DataBytes);
    bool ok = true;
    if (dataBytes & 1) {
      const std::uint8_t pad = 0;
      ok = WriteAll(target->File, &pad, 1);
    }
    if (ok) WriteAt(target->File, Header(target->Format, dataBytes), 0);
  }
  ::close(target->File);
  delete target;
  return kWavOk;
}

}  // namespace orvana
