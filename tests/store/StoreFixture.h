#pragma once

// Shared helpers of the store suites: a frame with recognisable content, and a whole write of a
// clip as the write process drives it (pending map cleared, frames placed, record, system area).

#include <cstdint>
#include <string>
#include <vector>

#include "store/ChipLayout.h"
#include "store/ClipStore.h"

namespace orvana::test {

inline std::uint8_t contentByte(int clip, int frame, int page, std::size_t offset) {
  return static_cast<std::uint8_t>(clip * 31 + frame * 7 + page * 3 + offset);
}

inline void fillFrame(std::vector<std::uint8_t>& frame, int clip, int index) {
  frame.assign(static_cast<std::size_t>(kFramePages) * kPageSize, 0);
  for (int m = 0; m < kFramePages; ++m)
    for (std::size_t o = 0; o < kPageLinkOffset; o += 97)
      frame[m * kPageSize + o] = contentByte(clip, index, m, o);
}

inline int totalFramesFor(int kind, bool loop, int frames) {
  return (kind == 2 || (kind == 0 && loop)) ? frames : frames + kHoldFrames;
}

// 0 on success, else WriteFrame's code, or -9 when SaveDirectory failed.
inline int writeClip(ClipStore& s, int clip, int kind, int frames, bool loop,
                     const std::string& comment = "", int hasAudio = 0) {
  s.hooks.LoopChecked = [loop] { return loop; };
  const int total = totalFramesFor(kind, loop, frames);
  s.ClearPendingMap();
  s.ClipNumber = clip;
  std::vector<std::uint8_t> frame;
  for (int i = 0; i < total; ++i) {
    fillFrame(frame, clip, i);
    if (const int rc = s.WriteFrame(frame.data(), clip, kind, total, i); rc != 0) return rc;
  }
  s.SetClipRecord(clip, 1920, 1080, kind, hasAudio, comment, frames + 5, frames, clip,
                  static_cast<std::uint32_t>(s.ClipStartPage));
  return s.SaveDirectory() ? 0 : -9;
}

}  // namespace orvana::test
