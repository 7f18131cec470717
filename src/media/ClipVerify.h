#pragma once

// Proof that a channel holds exactly what a write of a source would have put there: the source is
// encoded again frame by frame, as the write encodes it, and every page of the clip's chain on
// every chip of the channel is read and compared with it, hold frames and the loop link included,
// together with the record, the thumbnail and the cells the clip holds. The window, the command
// line and the tests drive the same object.

#include <cstdint>
#include <optional>
#include <string>

#include "common/Operator.h"
#include "media/MediaController.h"
#include "media/SourceSelection.h"

namespace orvana {

class ClipStore;

struct VerifyRequest {
  int Slot = 0;  // clip number - 1
  // The operator's part of the comment ("<date> - <comment>"); unset: the comment is not compared.
  std::optional<std::string> Comment;
  bool Timecode = false;
  // Encode the next frame on a worker thread while the current one is read.
  bool Overlap = true;
};

struct VerifyResult {
  enum class Outcome { Identical, Different, Failed };
  Outcome Result = Outcome::Failed;
  // Where the first difference is. Frame and Page are -1 for the record, the thumbnail and the
  // cell map; Page counts within the frame (0 the lead page, 1..72 the picture pages).
  int Chip = -1;
  int Frame = -1;
  int Page = -1;
  std::uint32_t Row = 0;
  std::string What;  // the difference, or why the comparison could not be made
  int ChipsCompared = 0;
  int FramesCompared = 0;  // over all chips, hold frames included
  bool identical() const { return Result == Outcome::Identical; }
};

class ClipVerifier {
 public:
  // The selection's channel, loop box and open sources describe the write being checked.
  ClipVerifier(ClipStore& store, SourceSelection& selection, MediaSources& sources, Operator& op);

  VerifyResult Run(const VerifyRequest& request);

 private:
  ClipStore& store_;
  SourceSelection& selection_;
  MediaSources& sources_;
  Operator& op_;
};

}  // namespace orvana
