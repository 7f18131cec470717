#pragma once

// A clip copied from one device to another: the frames are read page by page from every chip of
// the source's channel and handed to the write process, which places, links and records them on
// the target exactly as a write of the source would (hold frames, loop target, record, thumbnail,
// cell map, resume). Nothing is ever programmed or erased on the source.

#include <map>
#include <memory>
#include <string>

#include "common/Operator.h"
#include "media/SourceSelection.h"
#include "media/WriteProcess.h"
#include "store/ClipRecord.h"

namespace orvana {

class ClipStore;

// What a copy of clip `Slot` of a channel needs to know of the source.
struct CopyPlan {
  int Slot = 0;
  int FrameCount = 0;  // the record's frames (hold frames not counted)
  int SourceFrames = 0;
  bool Loop = false;                  // the last frame links back to the first (no hold frames)
  std::map<int, ClipRecord> Records;  // per chip of the channel
};

// Reads the clip's record on every chip of the channel and follows the first chip's chain to
// tell a looping clip from one that holds its last frame. False with `why` when the clip is not
// on every chip alike or a chip could not be read.
bool PlanCopy(ClipStore& from, int channel, int slot, CopyPlan& plan, std::string& why);

// Frames of the plan's clip from the source store, chip by chip; the thumbnail comes along at the
// frame the write fills it.
std::unique_ptr<WriteFrameSource> MakeDeviceFrameSource(ClipStore& from, const CopyPlan& plan);

// Writes the plan's clip from `from` into the same channel of the writer's store as clip
// `asSlot` + 1 (the operator's number prompt is asked for it): a copy stopped earlier is
// continued, another interrupted write is given up only when the operator confirms. True when
// every chip of the channel is done.
bool CopyClip(ClipStore& from, const CopyPlan& plan, int channel, int asSlot, WriteProcess& writer,
              SourceSelection& selection, ClipStore& to, Operator& op);

}  // namespace orvana
