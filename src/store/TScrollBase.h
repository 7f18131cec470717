#pragma once

#include <QColor>
#include <QImage>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QPainter;

namespace orvana {

// One tile of the preview strip. The tile is drawn once, when the item is added.
struct TimelineItem {
  QImage TileBitmap;
  std::uint8_t Selected = 0;
  std::int32_t Index = -1;  // directory slot (clip number); -1 when the entry is not in use
  std::int32_t ClipNumber = 0;
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  std::int32_t ShownFrames = 0;
  std::int32_t Kind = 0;
};

// Model and painter of the strip of clip thumbnails (horizontal arrangement). The window gives
// it a paint device in its paint event and forwards the scroll bar; `onPaint` asks for that
// repaint whenever the model says the strip must be painted.
class TScrollBase {
 public:
  TScrollBase(int viewWidth, int viewHeight, int tileWidth);

  void AddItem(const QImage& thumbnail, int index, int startPage, int kind, int shownFrames,
               int height, int width, int clipNumber);
  void Clear();
  void RemoveItem(int position);
  // Asks for a repaint (through onPaint); PaintOn draws the strip.
  void Paint();
  void PaintOn(QPainter& painter) const;

  // mode 0 select, 1 toggle, 2 none; the item hit or nullptr.
  TimelineItem* HitTest(int x, int y, int mode);
  TimelineItem* ToggleAt(int x, int y);
  TimelineItem* SelectAt(int x, int y);
  TimelineItem* ItemAt(int x, int y);
  int SelectedIndex() const;
  TimelineItem* SelectByIndex(int clipNumber);
  TimelineItem* FindByIndex(int clipNumber);

  int count() const { return count_; }
  int Capacity() const { return static_cast<int>(items_.size()); }
  TimelineItem& item(int position) { return items_[position]; }
  const TimelineItem& item(int position) const { return items_[position]; }

  // The scroll bar: position is the first visible item, 0..maximum (= count).
  int scrollPosition() const { return scrollPosition_; }
  int scrollMaximum() const { return count_; }
  void setScrollPosition(int position);

  std::function<void()> onPaint;
  int paintRequests = 0;

  const std::int32_t ViewWidth;
  const std::int32_t ViewHeight;
  const std::int32_t TileWidth;
  const std::int32_t TileHeight;
  const std::int32_t Margin = 16;
  QColor background{255, 255, 255};

 private:
  void drawTile(TimelineItem& item, const QImage& thumbnail) const;

  std::vector<TimelineItem> items_;
  int count_ = 0;
  int scrollPosition_ = 0;
};

}  // namespace orvana
