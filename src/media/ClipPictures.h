#pragma once

// The view's decoding of a clip file: the stored component of one chip, at half the stored
// resolution, as a picture, plus each frame's sound. No window: the view window, the export and
// the command line all draw their pictures from here.

#include <QImage>
#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "store/ClipFile.h"

namespace orvana {

// One group of the line buffer: two pixels sharing U and V.
struct UyvyGroup {
  std::uint8_t U = 0, Y0 = 0, V = 0, Y1 = 0;
};

// Delta start value of a chip's rows (16 luma and keys of logos, 0 keys, 128 colour).
int DeltaStart(int chip);
// One stored row (481 bytes: a lead byte, then 480 bytes of codes) into `groups`.
void DecodeDeltaLine(const std::uint8_t* row, int chip, UyvyGroup* groups, int groupCount);
void DecodeRawLine(const std::uint8_t* row, int chip, UyvyGroup* groups, int groupCount);
// The two pixels of a group as 0x00RRGGBB.
void UyvyToRgb(const UyvyGroup& g, std::uint32_t& pixel0, std::uint32_t& pixel1);

class ClipPictures {
 public:
  static constexpr int kAudioSlot = 7680;  // 1920 stereo 16-bit sample pairs per frame
  static constexpr int kRowBytes = 481;
  static constexpr int kRowsPerPage = 15;

  ClipPictures() = default;
  ~ClipPictures();
  ClipPictures(const ClipPictures&) = delete;
  ClipPictures& operator=(const ClipPictures&) = delete;

  // Opens and checks the clip file. False with Error() set when it is missing, unreadable or its
  // header does not fit the file; the object then shows black pictures and offers no frames.
  bool Open(const std::filesystem::path& file, int chip);
  void Close();

  bool IsOpen() const { return fd_ >= 0; }
  const std::string& Error() const { return error_; }
  const ClipStreamHeader& Header() const { return header_; }
  int FrameCount() const { return IsOpen() ? header_.Record.FrameCount : 0; }
  int ShowWidth() const { return showWidth_; }
  int ShowHeight() const { return showHeight_; }
  int Chip() const { return chip_; }
  // The comment as stored: up to its first zero byte.
  std::string Comment() const { return header_.Record.commentText(); }

  // Decodes frame f into `picture` (ShowWidth x ShowHeight, RGB32, reused when already that
  // size) and its sound into `audio` (kAudioSlot bytes, the frame's one channel in both).
  // False (picture black, audio silent) when f is outside the clip or the file cannot be read.
  bool DecodeFrame(int f, QImage& picture, std::uint8_t* audio);

 private:
  int fd_ = -1;
  int chip_ = 0;
  int showWidth_ = 0;
  int showHeight_ = 0;
  int pagesNeeded_ = 0;  // picture pages holding the rows shown
  ClipStreamHeader header_;
  std::string error_;
  std::vector<std::uint8_t> pages_;  // the lead page and the picture pages read for one frame
  std::vector<UyvyGroup> line_;
};

// The part of a decoded frame the view window shows: its top-left `size`, black where the frame
// is smaller.
QImage ShownPicture(const QImage& frame, QSize size);

}  // namespace orvana
