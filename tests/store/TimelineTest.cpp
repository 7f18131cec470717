// The preview strip: growth, hit areas, selection rules, painting and the tile texts.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QPainter>
#include <memory>

#include "store/TScrollBase.h"

namespace orvana {
namespace {

class TimelineTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!QCoreApplication::instance()) {
      static int argc = 1;
      static char name[] = "store_tests";
      static char* argv[] = {name, nullptr};
      app_ = std::make_unique<QGuiApplication>(argc, argv);
    }
  }
  // Gone before static destruction, where Qt can no longer tear it down.
  static void TearDownTestSuite() { app_.reset(); }
  void add(int n, int index, int kind = 0, int frames = 10, int clipNumber = 0) {
    QImage thumb(90, 72, QImage::Format_RGB16);
    thumb.fill(QColor(0, 255, 0));
    for (int i = 0; i < n; ++i)
      strip.AddItem(thumb, index + i, 768, kind, frames, 1080, 1920, clipNumber);
  }
  QImage paint() {
    QImage img(strip.ViewWidth, strip.ViewHeight, QImage::Format_RGB32);
    img.fill(Qt::magenta);
    QPainter p(&img);
    strip.PaintOn(p);
    return img;
  }
  static bool hasColour(const QImage& img, QRect r, QRgb c) {
    for (int y = r.top(); y <= r.bottom(); ++y)
      for (int x = r.left(); x <= r.right(); ++x)
        if (img.pixel(x, y) == c) return true;
    return false;
  }

  static inline std::unique_ptr<QGuiApplication> app_;
  TScrollBase strip{1118, 113, 110};
};

TEST_F(TimelineTest, GrowsOneEntryAtATimeAndDropsTheSelection) {
  add(8, 0);
  EXPECT_EQ(strip.Capacity(), 8);
  strip.SelectByIndex(3);
  add(1, 8);
  EXPECT_EQ(strip.Capacity(), 9);
  EXPECT_EQ(strip.count(), 9);
  EXPECT_EQ(strip.SelectedIndex(), -1);
  EXPECT_EQ(strip.scrollMaximum(), 9);
  strip.Clear();
  EXPECT_EQ(strip.count(), 0);
  EXPECT_EQ(strip.Capacity(), 9);
  EXPECT_EQ(strip.item(0).Index, -1);
}

TEST_F(TimelineTest, HitAreasAreTheTilesAsPainted) {
  add(3, 4);
  struct Case {
    int x;
    int position;  // -1: none
  };
  for (const Case& c : {Case{5, -1}, Case{15, -1}, Case{16, 0}, Case{115, 0}, Case{125, 0},
                        Case{126, 1}, Case{345, 2}, Case{346, -1}}) {
    TimelineItem* it = strip.ItemAt(c.x, 10);
    EXPECT_EQ(it ? static_cast<int>(it - &strip.item(0)) : -1, c.position) << c.x;
  }
  strip.setScrollPosition(1);
  EXPECT_EQ(strip.ItemAt(16, 0)->Index, 5);
}

TEST_F(TimelineTest, ClicksToggleSelectAndClear) {
  add(3, 0);
  const int paints = strip.paintRequests;
  EXPECT_EQ(strip.ToggleAt(130, 0)->Index, 1);
  EXPECT_EQ(strip.SelectedIndex(), 1);
  strip.ToggleAt(130, 0);  // second click on the selected tile deselects
  EXPECT_EQ(strip.SelectedIndex(), -1);
  EXPECT_EQ(strip.paintRequests, paints + 2);
  strip.ToggleAt(130, 0);
  EXPECT_EQ(strip.ToggleAt(5, 0), nullptr);  // the margin clears without repainting
  EXPECT_EQ(strip.SelectedIndex(), -1);
  strip.SelectAt(20, 0);
  EXPECT_EQ(strip.SelectAt(900, 0), nullptr);  // beyond the last tile
  EXPECT_EQ(strip.SelectedIndex(), -1);
  EXPECT_EQ(strip.paintRequests, paints + 4);
  strip.SelectAt(20, 0);
  EXPECT_EQ(strip.SelectAt(20, 0)->Selected, 1);  // select mode never toggles off
  EXPECT_EQ(strip.SelectByIndex(2)->Index, 2);
  EXPECT_EQ(strip.SelectedIndex(), 2);
  EXPECT_EQ(strip.SelectByIndex(42), nullptr);
  EXPECT_EQ(strip.SelectedIndex(), -1);
}

TEST_F(TimelineTest, RemovingAnItemShiftsTheRest) {
  add(3, 10);
  strip.SelectByIndex(12);
  strip.RemoveItem(0);
  EXPECT_EQ(strip.count(), 2);
  EXPECT_EQ(strip.item(0).Index, 11);
  EXPECT_EQ(strip.item(1).Index, 12);
  EXPECT_EQ(strip.item(2).Index, -1);
  EXPECT_EQ(strip.SelectedIndex(), -1);
}

TEST_F(TimelineTest, PaintPlacesTilesFrom16AndFillsTheRestWhite) {
  add(3, 0);
  strip.SelectByIndex(1);
  const QImage img = paint();
  const QRgb white = qRgb(255, 255, 255), green = qRgb(0, 255, 0), black = qRgb(0, 0, 0);
  EXPECT_EQ(img.pixel(5, 50), white);
  // Thumbnails stretched to (16,16)-(94,81) inside each tile.
  for (int x0 : {16, 126, 236}) {
    EXPECT_EQ(img.pixel(x0 + 15, 50), white) << x0;
    EXPECT_EQ(img.pixel(x0 + 16, 50), green) << x0;
    EXPECT_EQ(img.pixel(x0 + 93, 80), green) << x0;
    EXPECT_EQ(img.pixel(x0 + 94, 50), white) << x0;
  }
  EXPECT_EQ(img.pixel(126, 50), black);  // outline of the selected tile
  EXPECT_EQ(img.pixel(200, 0), black);
  EXPECT_EQ(img.pixel(16, 50), white);
  EXPECT_EQ(img.pixel(346, 50), white);
  EXPECT_EQ(img.pixel(1117, 112), white);
  strip.setScrollPosition(3);  // scrolled past the last item: blank strip
  EXPECT_FALSE(hasColour(paint(), QRect(0, 0, 1118, 113), green));
}

TEST_F(TimelineTest, TileTextsNameNumberFramesAndKind) {
  const QRgb blue = qRgb(0, 0, 255);
  struct Case {
    int kind;
    int frames;
  };
  // Every kind prints three blue lines: the top, the band below the picture and the bottom.
  for (const Case& c : {Case{0, 1}, Case{1, 2}, Case{2, 0}, Case{7, 3}}) {
    strip.Clear();
    add(1, 4, c.kind, c.frames, 4);
    const QImage& tile = strip.item(0).TileBitmap;
    EXPECT_TRUE(hasColour(tile, QRect(0, 0, 110, 15), blue)) << c.kind;
    EXPECT_TRUE(hasColour(tile, QRect(0, 81, 110, 15), blue)) << c.kind;
    EXPECT_TRUE(hasColour(tile, QRect(0, 97, 110, 16), blue)) << c.kind;
  }
  // "5 (5)" on a super wipe is wider than "5" on a clip.
  auto width = [&](int kind) {
    strip.Clear();
    add(1, 4, kind, 1, 4);
    const QImage& t = strip.item(0).TileBitmap;
    int left = 110, right = -1;
    for (int y = 0; y < 15; ++y)
      for (int x = 0; x < 110; ++x)
        if (t.pixel(x, y) == blue) left = std::min(left, x), right = std::max(right, x);
    return right - left;
  };
  EXPECT_GT(width(1), width(0) + 10);
}

}  // namespace
}  // namespace orvana
