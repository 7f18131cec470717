#include "media/ClipFileFixture.h"

#include <cstdio>
#include <vector>

namespace orvana::test {

ClipStreamHeader ClipHeader(const ClipFileShape& shape) {
  ClipStreamHeader h;
  h.Slot = shape.Slot;
  h.Record.Width = static_cast<std::uint16_t>(shape.Width);
  h.Record.Height = static_cast<std::uint16_t>(shape.Height);
  h.Record.FrameCount = static_cast<std::uint16_t>(shape.Frames);
  h.Record.Kind = static_cast<std::uint8_t>(shape.Kind);
  h.Record.HasAudio = 1;
  h.Record.ClipNumber = static_cast<std::uint16_t>(shape.Slot);
  h.Record.SourceFrames = static_cast<std::uint16_t>(shape.Frames);
  h.Record.setComment(shape.Comment);
  return h;
}

bool WriteClipFile(const std::filesystem::path& file, const ClipFileShape& shape,
                   const FillFrame& fill) {
  std::FILE* out = std::fopen(file.c_str(), "wb");
  if (!out) return false;
  const auto head = ClipHeader(shape).pack();
  bool ok = std::fwrite(head.data(), 1, head.size(), out) == head.size();
  std::vector<std::uint8_t> frame(ClipStreamHeader::kFrameBytes);
  for (int f = 0; ok && f < shape.Frames; ++f) {
    std::fill(frame.begin(), frame.end(), 0);
    if (fill) fill(f, frame.data());
    ok = std::fwrite(frame.data(), 1, frame.size(), out) == frame.size();
  }
  return std::fclose(out) == 0 && ok;
}

std::uint8_t* StoredRow(std::uint8_t* frame, int r) {
  return frame + 8192 * (1 + r / 15) + 481 * (r % 15);
}

void PutLeadSample(std::uint8_t* frame, int s, std::int16_t value) {
  const auto u = static_cast<std::uint16_t>(value);
  frame[2 * s] = static_cast<std::uint8_t>(u & 0xFF);
  frame[2 * s + 1] = static_cast<std::uint8_t>(u >> 8);
}

}  // namespace orvana::test
