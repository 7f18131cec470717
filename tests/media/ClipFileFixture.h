#pragma once

// Clip files made in tests: a header and frames whose pages a callback fills.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "store/ClipFile.h"

namespace orvana::test {

struct ClipFileShape {
  int Slot = 0;
  int Width = 1920;
  int Height = 1080;
  int Frames = 1;
  int Kind = 0;
  std::string Comment;
};

// Frame f's 73 pages (lead page first) as one buffer of 73 x 8192 bytes, zeroed before the call.
using FillFrame = std::function<void(int f, std::uint8_t* frame)>;

ClipStreamHeader ClipHeader(const ClipFileShape& shape);
bool WriteClipFile(const std::filesystem::path& file, const ClipFileShape& shape,
                   const FillFrame& fill = {});

// Stored row r of a frame buffer: its lead byte, then 480 bytes of line data.
std::uint8_t* StoredRow(std::uint8_t* frame, int r);
// Sample s (one channel) of the frame's lead page.
void PutLeadSample(std::uint8_t* frame, int s, std::int16_t value);

}  // namespace orvana::test
