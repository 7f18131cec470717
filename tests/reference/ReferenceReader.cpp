#include "reference/ReferenceReader.h"

#include <algorithm>

#include "flash/HammingCode.h"

namespace orvana::reference {

namespace {

constexpr std::uint32_t kPageBytes = 8192;
constexpr std::uint32_t kPayloadBytes = 7280;
constexpr std::size_t kLinkAt = 7220;

std::uint16_t U16(const std::uint8_t* p) {
  return std::uint16_t(p[0] | (p[1] << 8));
}
std::uint32_t U32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
         (std::uint32_t(p[3]) << 24);
}

struct Link {
  std::uint32_t Next = 0;
  std::uint8_t FrameEnd = 0;
  std::uint8_t LastFrameMark = 0;
};
Link LinkOf(const std::vector<std::uint8_t>& payload) {
  return {U32(&payload[kLinkAt]), payload[kLinkAt + 4], payload[kLinkAt + 5]};
}

}  // namespace

std::vector<std::uint8_t> ReferenceReader::Payload(std::uint32_t row) {
  std::vector<std::uint8_t> page(kPageBytes);
  if (!read_(row, page.data())) return {};
  HammingCode ecc;
  ecc.DecodePage(page.data());
  page.resize(kPayloadBytes);
  return page;
}

DirectoryEntry ReferenceReader::Entry(int slot) {
  DirectoryEntry e;
  const std::vector<std::uint8_t> p = Payload(std::uint32_t(slot));
  if (p.empty()) return e;
  e.StartPage = U32(&p[0]);
  e.Width = U16(&p[4]);
  e.Height = U16(&p[6]);
  e.FrameCount = U16(&p[8]);
  e.Kind = p[10];
  e.HasAudio = p[11];
  e.ClipNumber = U16(&p[12]);
  e.SourceFrames = U16(&p[14]);
  for (std::size_t k = 22; k < 72 && p[k] != 0; ++k) e.Comment.push_back(char(p[k]));
  e.Valid = e.StartPage >= 1 && e.StartPage < 0x100000 && e.Width == 1920 && e.Height == 1080;
  return e;
}

ChainedClip ReferenceReader::Read(int slot, int maxFrames) {
  ChainedClip clip;
  clip.Entry = Entry(slot);
  if (!clip.Entry.Valid) {
    clip.Error = "slot " + std::to_string(slot) + " holds no valid record";
    return clip;
  }
  const Link head = LinkOf(Payload(std::uint32_t(slot)));
  if (head.Next != clip.Entry.StartPage || head.FrameEnd != 0xFF || head.LastFrameMark != 0) {
    clip.Error = "directory page link does not lead to the start page";
    return clip;
  }

  std::uint32_t lead = clip.Entry.StartPage;
  while (int(clip.Frames.size()) < maxFrames) {
    const auto seen = std::find(clip.LeadPages.begin(), clip.LeadPages.end(), lead);
    if (seen != clip.LeadPages.end()) {
      clip.LoopTo = int(seen - clip.LeadPages.begin());
      return clip;
    }
    const int k = int(clip.Frames.size());
    clip.LeadPages.push_back(lead);
    FramePages frame;
    std::uint32_t page = lead;
    for (int m = 0; m < kFramePages; ++m) {
      if (m > 0 && page != lead + std::uint32_t(m)) {
        clip.Error = "frame " + std::to_string(k) + " page " + std::to_string(m) +
                     " is not next to its lead page";
        return clip;
      }
      const std::vector<std::uint8_t> payload = Payload(page);
      if (payload.empty()) {
        clip.Error = "page " + std::to_string(page) + " unreadable";
        return clip;
      }
      const Link link = LinkOf(payload);
      const bool last = m == kFramePages - 1;
      if (link.FrameEnd != (last ? 0xFF : 0) || (!last && link.LastFrameMark != 0)) {
        clip.Error = "frame " + std::to_string(k) + " page " + std::to_string(m) +
                     " carries wrong frame marks";
        return clip;
      }
      if (!std::all_of(payload.begin() + kLinkAt + 6, payload.end(),
                       [](std::uint8_t b) { return b == 0; })) {
        clip.Error = "frame " + std::to_string(k) + " page " + std::to_string(m) +
                     " has bytes after its link";
        return clip;
      }
      frame.emplace_back(payload.begin(), payload.begin() + kContentBytes);
      if (last) clip.LastFrameMarks.push_back(link.LastFrameMark);
      page = link.Next;
    }
    clip.Frames.push_back(std::move(frame));
    lead = page;
  }
  clip.Error = "chain longer than " + std::to_string(maxFrames) + " frames";
  return clip;
}

}  // namespace orvana::reference
