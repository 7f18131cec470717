// The clip file as the view opens and decodes it: its 72-byte header (untrusted) and the pages
// of its frames, from a file written from the input.
//
// Input: chip (1, signed, taken modulo 14 so that chips off the device come up too), mode (1),
// the header (72), then the body. Mode bit 0 clear: the body is written as it is, so the file
// is usually shorter or longer than its header claims. Set: the header's frame count becomes 1
// or 2 and the body is repeated to fill exactly that many frames, so decoding is reached.
#include <QImage>
#include <QSize>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "media/ClipPictures.h"
#include "store/ClipFile.h"

using namespace orvana;

namespace {

std::filesystem::path gFile;

bool writeFile(const std::vector<std::uint8_t>& head, const std::uint8_t* body, std::size_t size,
               std::uint64_t fill) {
  std::FILE* f = std::fopen(gFile.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = std::fwrite(head.data(), 1, head.size(), f) == head.size();
  if (fill == 0) {
    ok = ok && (size == 0 || std::fwrite(body, 1, size, f) == size);
  } else {
    std::vector<std::uint8_t> chunk(65536);
    for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = size ? body[i % size] : 0;
    for (std::uint64_t left = fill; ok && left > 0;) {
      const std::size_t n = left < chunk.size() ? static_cast<std::size_t>(left) : chunk.size();
      ok = std::fwrite(chunk.data(), 1, n, f) == n;
      left -= n;
    }
  }
  return std::fclose(f) == 0 && ok;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string folder =
      (std::filesystem::exists("/dev/shm") ? std::string("/dev/shm")
                                           : std::filesystem::temp_directory_path().string()) +
      "/orvana-fuzz-clip-XXXXXX";
  if (::mkdtemp(folder.data()) == nullptr) std::abort();
  gFile = std::filesystem::path(folder) / "fuzz.clip";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2 + ClipStreamHeader::kSize) return 0;
  const int chip = static_cast<std::int8_t>(data[0]) % 14;
  const bool whole = (data[1] & 1) != 0;
  std::vector<std::uint8_t> head(data + 2, data + 2 + ClipStreamHeader::kSize);
  const std::uint8_t* body = data + 2 + ClipStreamHeader::kSize;
  const std::size_t bodySize = size - 2 - ClipStreamHeader::kSize;
  std::uint64_t fill = 0;
  if (whole) {
    const int frames = 1 + (head[8] & 1);
    head[8] = static_cast<std::uint8_t>(frames);
    head[9] = 0;
    fill = static_cast<std::uint64_t>(frames) * ClipStreamHeader::kFrameBytes;
  }
  (void)ClipStreamHeader::unpack(head.data()).pack();
  if (!writeFile(head, body, bodySize, fill)) return 0;

  ClipPictures clip;
  if (!clip.Open(gFile, chip)) {
    if (clip.Error().empty() || clip.FrameCount() != 0) __builtin_trap();
    return 0;
  }
  QImage picture;
  std::vector<std::uint8_t> audio(ClipPictures::kAudioSlot);
  const int last = clip.FrameCount() - 1;
  for (int f : {0, last, last + 1, -1}) {
    const bool decoded = clip.DecodeFrame(f, picture, audio.data());
    if (decoded != (f >= 0 && f <= last)) __builtin_trap();
    if (picture.width() != std::max(clip.ShowWidth(), 1)) __builtin_trap();
  }
  (void)ShownPicture(picture, QSize(data[1] * 8, data[0] * 4));
  return 0;
}
