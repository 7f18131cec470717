#include "store/ClipFile.h"

#include "store/ChipLayout.h"

namespace orvana {

std::array<std::uint8_t, ClipStreamHeader::kSize> ClipStreamHeader::pack() const {
  ClipRecord r = Record;
  r.Reserved.fill(0);
  // Only the comment up to its first zero byte, at most 49 characters, goes into the file.
  r.setComment(Record.commentText());
  std::array<std::uint8_t, kSize> out{};
  r.pack(out.data());
  PutU32(out.data(), static_cast<std::uint32_t>(Slot));
  return out;
}

ClipStreamHeader ClipStreamHeader::unpack(const std::uint8_t* in) {
  ClipStreamHeader h;
  h.Record = ClipRecord::unpack(in);
  h.Slot = static_cast<std::int32_t>(h.Record.StartPage);
  h.Record.StartPage = 0;
  return h;
}

}  // namespace orvana
