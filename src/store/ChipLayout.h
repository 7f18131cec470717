#pragma once

// Byte layout of one chip as the device plays it. The system area (blocks 0..2) holds the clip
// directory, the cell map and the thumbnails; the rest holds frames as chains of pages whose last
// payload bytes name the page that follows. Every multi-byte field is little-endian.
//
//   pages   0..99   directory page n = ClipRecord n (+ PageLink into the clip), with ECC
//   pages 200..207  cell map, 2048 little-endian CellState words per page, with ECC
//   pages 256..455  thumbnail slot n in pages 256+2n, 257+2n, raw (no ECC)
//   cells 12..      frame slots: 2 cells = 128 pages, the first 73 used (lead + 72 picture pages)

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace orvana {

inline constexpr std::size_t kPageSize = 8192;
inline constexpr std::size_t kPayloadSize = 7280;
inline constexpr int kPagesPerCell = 64;
inline constexpr int kCellsPerBlock = 4;
inline constexpr int kPagesPerBlock = kPagesPerCell * kCellsPerBlock;
inline constexpr int kCellCount = 16384;
inline constexpr int kBlockCount = kCellCount / kCellsPerBlock;
inline constexpr int kSystemCells = 12;
inline constexpr std::uint32_t kPageLimit = 0x100000;  // rows 0..1,048,575

inline constexpr int kClipSlots = 100;
inline constexpr int kMapFirstPage = 200;
inline constexpr int kMapPages = 8;
inline constexpr std::size_t kMapBytesPerPage = 4096;
inline constexpr int kThumbFirstPage = 256;
// Pages of a system area image: records, map pages, thumbnail pages.
inline constexpr int kSystemAreaPages = 100 + kMapPages + 200;
inline constexpr std::size_t kThumbSlotBytes = 16384;
inline constexpr int kThumbWidth = 90;
inline constexpr int kThumbHeight = 72;
inline constexpr std::size_t kThumbRowBytes = kThumbWidth * 2;

inline constexpr int kFramePages = 73;  // lead page + 72 picture pages
inline constexpr int kPicturePages = 72;
inline constexpr int kFrameCells = 2;
// Frames one chip holds at most, hold frames included: every frame takes two cells of its own.
inline constexpr int kChipFrames = (kCellCount - kSystemCells) / kFrameCells;
// The first page a frame can start on; below it lies the system area.
inline constexpr std::uint32_t kFirstDataPage = kSystemCells * kPagesPerCell;
inline constexpr int kHoldFrames = 30;

inline constexpr std::size_t kPageLinkOffset = 7220;
inline constexpr std::uint8_t kFrameEndMark = 0xFF;
inline constexpr std::uint8_t kLastFrameMarkValue = 0xA5;

inline constexpr int kChipCount = 12;
inline constexpr int kChannelCount = 4;

// ---- CellState: one 16-bit word per cell ----
using CellState = std::uint16_t;
inline constexpr CellState kCellAllocated = 0x0001;
inline constexpr CellState kCellUnusable = 0x0002;
inline constexpr CellState kCellSystem = 0x0004;
inline constexpr CellState kCellClipMask = 0x0FF0;

inline int CellClip(CellState s) {
  return (s >> 4) & 0xFF;
}
inline CellState WithCellClip(CellState s, int clip) {
  return static_cast<CellState>((s & ~kCellClipMask) | ((clip & 0xFF) << 4));
}
// Bit 3 and bits 12..15 take no part: a cell is empty when flags and clip field are clear.
inline bool IsCellEmpty(CellState s) {
  return (s & (kCellClipMask | 0x0007)) == 0;
}
inline void ClearCell(CellState& s) {
  s = 0;
}

// ---- PageLink: payload offsets 7220..7225 of every frame and directory page ----
void SetPageLink(std::uint8_t* page, std::uint32_t nextPage, std::uint8_t lastFrameMark,
                 std::uint8_t frameEnd);
std::uint32_t GetPageLink(const std::uint8_t* page);

// ---- little-endian helpers ----
inline void PutU16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline std::uint16_t GetU16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t GetU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// ---- channels and their chip groups ----
// Chips of a channel's group in order (the first is the one shown after Connect).
std::span<const int> ChannelChips(int channel);
// The group that holds `chip`; chip 11 (and anything out of range) stands alone.
std::span<const int> GroupOfChip(int chip);
// Kind written by a channel: 0 clip, 1 super wipe, 2 logo.
int ChannelKind(int channel);
// Channel from its command-line name: clip1, clip2, wipe, logo; -1 when unknown.
int ChannelFromName(const char* name);
// The command-line name of a channel; empty when there is none.
std::string ChannelName(int channel);

}  // namespace orvana
