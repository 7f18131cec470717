#pragma once

// A plain reader of one chip's clip store: the directory record of a slot and the frame chain
// behind it, followed link by link through the pages themselves. Used by tests as an oracle.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "reference/ReferenceEncoder.h"

namespace orvana::reference {

struct DirectoryEntry {
  std::uint32_t StartPage = 0;
  std::uint16_t Width = 0;
  std::uint16_t Height = 0;
  std::uint16_t FrameCount = 0;
  std::uint8_t Kind = 0;
  std::uint8_t HasAudio = 0;
  std::uint16_t ClipNumber = 0;
  std::uint16_t SourceFrames = 0;
  std::string Comment;
  bool Valid = false;
};

struct ChainedClip {
  DirectoryEntry Entry;
  std::vector<std::uint32_t> LeadPages;      // frame k's lead page, in play order
  std::vector<FramePages> Frames;            // content of each frame's 73 pages
  int LoopTo = -1;                           // frame the last one links back to
  std::vector<std::uint8_t> LastFrameMarks;  // LastFrameMark of each frame's last page
  std::string Error;                         // empty when every link obeyed the layout
};

class ReferenceReader {
 public:
  // Reads raw page `row` (8192 bytes as stored) of the chip; false when it cannot.
  using RawPage = std::function<bool(std::uint32_t row, std::uint8_t* out8192)>;
  explicit ReferenceReader(RawPage read) : read_(std::move(read)) {}

  // The 7280 payload bytes of a page written with page ECC; empty on a read failure.
  std::vector<std::uint8_t> Payload(std::uint32_t row);
  DirectoryEntry Entry(int slot);
  // Walks slot's chain until a frame links back to one already read (at most maxFrames).
  ChainedClip Read(int slot, int maxFrames = 8186);

 private:
  RawPage read_;
};

}  // namespace orvana::reference
