#pragma once

// Full-quality recovery of a clip: every chip of the channel's group is read back and the frames
// are decoded whole (both fields, luma and colour, keys) into an AVI file, with the sound of the
// two lead pages as one stereo track. Headless: the command line drives it, and so can the view
// window.
//
// What the file holds, per channel:
//   clip1, clip2  stream 0: 1920 x 1080 colour; stereo sound (left: luma chip, right: colour chip)
//   wipe          stream 0: colour, 1: key (chip 6), 2: wipe (chip 7), both grey; stereo sound
//   logo          stream 0: 480 x 1080 colour (the columns a logo stores), 1: its key; no sound

#include <QImage>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "media/AviWriter.h"
#include "store/ClipFile.h"

namespace orvana {

class ClipStore;
class Operator;

// The streams of a channel's full export.
struct FullExportLayout {
  int Width = 0;
  int Height = 0;
  int KeyStreams = 0;  // grey streams after the colour stream
  bool Sound = false;
};
// False for a channel out of range.
bool FullExportLayoutOf(int channel, FullExportLayout& layout);

// One clip read back from every chip of a channel (one clip file per chip, in ChannelChips
// order), decoded frame by frame. Memory: one frame of each chip and the decoded pictures.
class FullClipFrames {
 public:
  FullClipFrames() = default;
  ~FullClipFrames();
  FullClipFrames(const FullClipFrames&) = delete;
  FullClipFrames& operator=(const FullClipFrames&) = delete;

  // False with Error() set when a file is missing, damaged or does not belong with the others.
  bool Open(int channel, const std::vector<std::filesystem::path>& files);
  void Close();

  const std::string& Error() const { return error_; }
  const FullExportLayout& Layout() const { return layout_; }
  int FrameCount() const { return frames_; }

  // Decodes frame f into Colour(), Key(k) and Sound(); false with Error() set when it cannot be
  // read.
  bool Decode(int f);
  const QImage& Colour() const { return colour_; }
  const QImage& Key(int k) const { return keys_[std::size_t(k)]; }
  // The frame's 1920 stereo sample pairs, interleaved (empty for a logo).
  const std::vector<std::int16_t>& Sound() const { return sound_; }

 private:
  int channel_ = -1;
  int frames_ = 0;
  FullExportLayout layout_;
  std::vector<int> fds_;
  std::vector<std::vector<std::uint8_t>> pages_;  // one frame (73 pages) per chip
  QImage colour_;
  std::vector<QImage> keys_;
  std::vector<std::int16_t> sound_;
  std::string error_;
};

// What WriteFullExport makes.
struct FullExportJob {
  int Channel = 0;
  std::vector<std::filesystem::path> Files;  // one clip file per chip, in ChannelChips order
  std::filesystem::path Target;
  AviCodec Codec = AviCodec::UtVideo;
  std::string StatusPrefix;  // status panel 0 shows it before the export's own progress
  // Asked after every frame (after the operator's processEvents); false cancels.
  std::function<bool()> KeepGoing;
};

// Writes the full export of a channel's clip files. The target is replaced only once the whole
// file is written. False with `error` set, or with `error` empty when cancelled.
bool WriteFullExport(const FullExportJob& job, Operator& op, std::string& error);

// Reads clip n of a channel back from every chip of its group into temporary clip files in the
// work folder (removed afterwards, whatever happens) and writes the full export from them.
class FullExport {
 public:
  FullExport(ClipStore& store, Operator& op);

  // n: the slot (0..99). The chip shown before is shown again afterwards. Failures and a
  // confirmed cancel ("Process canceled.") are told to the operator and return false; the target
  // is then left as it was.
  bool Export(int channel, int n, const std::filesystem::path& target,
              AviCodec codec = AviCodec::UtVideo);

  // True when the last Export stopped on a confirmed cancel.
  bool Canceled() const { return canceled_; }

 private:
  bool ReadChips(int channel, int n, const std::vector<std::filesystem::path>& files);

  ClipStore& store_;
  Operator& op_;
  bool canceled_ = false;
};

}  // namespace orvana
