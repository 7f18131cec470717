// Byte layout of records, map words, page links and the clip file header, checked on buffers.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "store/ChannelMap.h"
#include "store/ChipLayout.h"
#include "store/ClipFile.h"
#include "store/ClipRecord.h"

namespace orvana {
namespace {

ClipRecord sample() {
  ClipRecord r;
  r.StartPage = 0x000ABCDE;
  r.Width = 1920;
  r.Height = 1080;
  r.FrameCount = 0x0102;
  r.Kind = 1;
  r.HasAudio = 1;
  r.ClipNumber = 0x0063;
  r.SourceFrames = 0x0304;
  r.setComment("Hello");
  return r;
}

TEST(ClipRecordTest, PacksEveryFieldLittleEndianAtItsOffset) {
  std::array<std::uint8_t, 72> b{};
  sample().pack(b.data());
  const std::vector<std::uint8_t> head(b.begin(), b.begin() + 22);
  EXPECT_EQ(head, (std::vector<std::uint8_t>{0xDE, 0xBC, 0x0A, 0x00, 0x80, 0x07, 0x38, 0x04,
                                             0x02, 0x01, 1,    1,    0x63, 0x00, 0x04, 0x03,
                                             0,    0,    0,    0,    0,    0}));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&b[22])), "Hello");
  for (int i = 27; i < 72; ++i) EXPECT_EQ(b[i], 0) << i;
  EXPECT_EQ(ClipRecord::unpack(b.data()), sample());
}

TEST(ClipRecordTest, ValidityFollowsStartPageAndPictureSize) {
  struct Case {
    std::uint32_t start;
    std::uint16_t w, h;
    bool valid;
  };
  for (const Case& c : {Case{1, 1920, 1080, true}, Case{0xFFFFF, 1920, 1080, true},
                        Case{0, 1920, 1080, false}, Case{0x100000, 1920, 1080, false},
                        Case{768, 1919, 1080, false}, Case{768, 1920, 1081, false}}) {
    ClipRecord r;
    r.StartPage = c.start;
    r.Width = c.w;
    r.Height = c.h;
    EXPECT_EQ(r.isValid(), c.valid) << c.start << " " << c.w << "x" << c.h;
  }
}

TEST(ClipRecordTest, CommentIsCutTo49CharactersWithATerminator) {
  ClipRecord r;
  r.setComment(std::string(60, 'x'));
  EXPECT_EQ(r.commentText(), std::string(49, 'x'));
  EXPECT_EQ(r.Comment[48], 'x');
  EXPECT_EQ(r.Comment[49], 0);
  r.setComment(std::string("ab\0cd", 5));
  EXPECT_EQ(r.commentText(), "ab");
  EXPECT_EQ(r.Comment[3], 0);
  // An unterminated comment read from flash never runs past 49 characters.
  std::array<std::uint8_t, 72> b{};
  std::fill(b.begin() + 22, b.end(), 'z');
  EXPECT_EQ(ClipRecord::unpack(b.data()).commentText().size(), 49u);
}

TEST(CellStateTest, EmptinessIgnoresReservedBits) {
  struct Case {
    CellState s;
    bool empty;
  };
  for (const Case& c : {Case{0x0000, true}, Case{0x0008, true}, Case{0xF000, true},
                        Case{0xF008, true}, Case{kCellAllocated, false}, Case{kCellUnusable, false},
                        Case{kCellSystem, false}, Case{0x0010, false}, Case{0x0FF0, false}}) {
    EXPECT_EQ(IsCellEmpty(c.s), c.empty) << std::hex << c.s;
  }
  EXPECT_EQ(WithCellClip(0xF00B, 0x63), 0xF63B);
  EXPECT_EQ(CellClip(0x0631), 0x63);
}

TEST(PageLinkTest, LinkSitsAtPayloadOffset7220) {
  std::vector<std::uint8_t> page(kPageSize, 0);
  SetPageLink(page.data(), 0x00012345, kLastFrameMarkValue, kFrameEndMark);
  EXPECT_EQ(page[7220], 0x45);
  EXPECT_EQ(page[7221], 0x23);
  EXPECT_EQ(page[7222], 0x01);
  EXPECT_EQ(page[7223], 0x00);
  EXPECT_EQ(page[7224], 0xFF);
  EXPECT_EQ(page[7225], 0xA5);
  EXPECT_EQ(page[7219], 0);
  EXPECT_EQ(page[7226], 0);
  EXPECT_EQ(GetPageLink(page.data()), 0x00012345u);
}

TEST(ClipFileTest, HeaderCarriesSlotAndZeroReservedBytes) {
  ClipStreamHeader h;
  h.Slot = 9;
  h.Record = sample();
  h.Record.Reserved = {1, 2, 3, 4, 5, 6};
  h.Record.setComment(std::string(49, 'c'));
  const auto b = h.pack();
  EXPECT_EQ(b[0], 9);
  EXPECT_EQ(b[1] | b[2] | b[3], 0);
  EXPECT_EQ(b[4], 0x80);
  EXPECT_EQ(b[8], 0x02);
  for (int i = 16; i < 22; ++i) EXPECT_EQ(b[i], 0) << i;
  EXPECT_EQ(b[22 + 48], 'c');
  EXPECT_EQ(b[22 + 49], 0);
  EXPECT_EQ(h.fileSize(), 72u + 0x102u * 598016u);
}

TEST(ChannelMapTest, HitTestMapsPixelsToCells) {
  struct Case {
    int x, y, w, h, cell;
  };
  for (const Case& c :
       {Case{0, 0, 1024, 128, 0}, Case{1023, 0, 1024, 128, 255}, Case{1023, 127, 1024, 128, 16383},
        Case{4, 2, 1024, 128, 257}, Case{3, 1, 1024, 128, 0}, Case{1024, 0, 1024, 128, -1},
        Case{-1, 0, 1024, 128, -1}, Case{511, 63, 512, 64, 16383}, Case{10, 10, 0, 0, -1}}) {
    EXPECT_EQ(ChannelMap::CellAt(c.x, c.y, c.w, c.h), c.cell) << c.x << "," << c.y;
  }
}

TEST(ChannelMapTest, ColoursFollowTheLegendOrder) {
  EXPECT_EQ(ChannelMap::CellColour(0x0008, 3), QColor(255, 255, 255));
  EXPECT_EQ(ChannelMap::CellColour(kCellSystem | kCellUnusable, 3), QColor(0, 128, 0));
  EXPECT_EQ(ChannelMap::CellColour(kCellUnusable | kCellAllocated, 3), QColor(0, 0, 255));
  EXPECT_EQ(ChannelMap::CellColour(WithCellClip(kCellAllocated, 3), 3), QColor(128, 128, 128));
  EXPECT_EQ(ChannelMap::CellColour(WithCellClip(kCellAllocated, 4), 3), QColor(255, 0, 0));
  // Clip 0 cells are grey only when clip 0 is the selected one.
  EXPECT_EQ(ChannelMap::CellColour(kCellAllocated, -1), QColor(255, 0, 0));
  EXPECT_EQ(ChannelMap::CellColour(kCellAllocated, 0), QColor(128, 128, 128));
}

TEST(ChannelMapTest, StretchedMapShowsThreeByOnePixelsPerCellInsideTheGrid) {
  std::vector<CellState> map(kCellCount, 0);
  for (int c = 0; c < kSystemCells; ++c) map[c] = kCellSystem;
  map[257] = WithCellClip(kCellAllocated, 5);
  QImage img(1024, 128, QImage::Format_RGB32);
  ChannelMap::Draw(img, map.data(), -1);
  const QRgb silver = qRgb(192, 192, 192);
  EXPECT_EQ(img.pixel(0, 0), silver);  // grid
  EXPECT_EQ(img.pixel(1, 1), qRgb(0, 128, 0));
  EXPECT_EQ(img.pixel(47, 1), qRgb(0, 128, 0));      // cell 11
  EXPECT_EQ(img.pixel(49, 1), qRgb(255, 255, 255));  // cell 12
  EXPECT_EQ(img.pixel(5, 3), qRgb(255, 0, 0));       // cell 257 = column 1, row 1
  EXPECT_EQ(img.pixel(7, 3), qRgb(255, 0, 0));
  EXPECT_EQ(img.pixel(8, 3), silver);
  EXPECT_EQ(img.pixel(5, 4), silver);
  EXPECT_EQ(img.pixel(1023, 127), qRgb(255, 255, 255));
  // A map too small for a grid still draws.
  QImage tiny(100, 30, QImage::Format_RGB32);
  ChannelMap::Draw(tiny, map.data(), -1);
  EXPECT_NE(tiny.pixel(0, 0), silver);
}

TEST(ChannelGroupTest, GroupsAndKinds) {
  EXPECT_EQ(std::vector<int>(ChannelChips(2).begin(), ChannelChips(2).end()),
            (std::vector<int>{4, 5, 6, 7}));
  EXPECT_EQ(GroupOfChip(6).front(), 4);
  EXPECT_EQ(GroupOfChip(10).size(), 3u);
  EXPECT_EQ(std::vector<int>(GroupOfChip(11).begin(), GroupOfChip(11).end()),
            (std::vector<int>{11}));
  EXPECT_TRUE(GroupOfChip(12).empty());
  EXPECT_EQ(ChannelKind(0), 0);
  EXPECT_EQ(ChannelKind(2), 1);
  EXPECT_EQ(ChannelKind(3), 2);
  EXPECT_EQ(ChannelFromName("wipe"), 2);
  EXPECT_EQ(ChannelFromName("Clip1"), -1);
}

}  // namespace
}  // namespace orvana
