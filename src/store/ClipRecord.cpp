#include "store/ClipRecord.h"

#include <algorithm>

#include "store/ChipLayout.h"

namespace orvana {

void ClipRecord::pack(std::uint8_t* out) const {
  PutU32(out + 0, StartPage);
  PutU16(out + 4, Width);
  PutU16(out + 6, Height);
  PutU16(out + 8, FrameCount);
  out[10] = Kind;
  out[11] = HasAudio;
  PutU16(out + 12, ClipNumber);
  PutU16(out + 14, SourceFrames);
  std::copy(Reserved.begin(), Reserved.end(), out + 16);
  std::copy(Comment.begin(), Comment.end(), out + 22);
}

ClipRecord ClipRecord::unpack(const std::uint8_t* in) {
  ClipRecord r;
  r.StartPage = GetU32(in + 0);
  r.Width = GetU16(in + 4);
  r.Height = GetU16(in + 6);
  r.FrameCount = GetU16(in + 8);
  r.Kind = in[10];
  r.HasAudio = in[11];
  r.ClipNumber = GetU16(in + 12);
  r.SourceFrames = GetU16(in + 14);
  std::copy(in + 16, in + 22, r.Reserved.begin());
  std::copy(in + 22, in + 72, r.Comment.begin());
  return r;
}

bool ClipRecord::isValid() const {
  return StartPage >= 1 && StartPage < kPageLimit && Width == 1920 && Height == 1080 &&
         FrameCount <= kChipFrames;
}

std::string ClipRecord::commentText() const {
  std::size_t n = 0;
  while (n < kCommentMax && Comment[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(Comment.data()), n);
}

void ClipRecord::setComment(const std::string& text) {
  Comment.fill(0);
  std::size_t n = 0;
  while (n < text.size() && n < kCommentMax && text[n] != '\0') {
    Comment[n] = static_cast<std::uint8_t>(text[n]);
    ++n;
  }
}

}  // namespace orvana
