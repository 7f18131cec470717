#include "store/TScrollBase.h"

#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <algorithm>

namespace orvana {

TScrollBase::TScrollBase(int viewWidth, int viewHeight, int tileWidth)
    : ViewWidth(viewWidth), ViewHeight(viewHeight), TileWidth(tileWidth), TileHeight(viewHeight) {
  items_.resize(8);
}

void TScrollBase::AddItem(const QImage& thumbnail, int index, int /*startPage*/, int kind,
                          int shownFrames, int height, int width, int clipNumber) {
  if (count_ == Capacity()) {
    // Grows one entry at a time; the copies lose their selection.
    std::vector<TimelineItem> grown(items_.size() + 1);
    for (int i = 0; i < count_; ++i) {
      grown[i] = items_[i];
      grown[i].Selected = 0;
    }
    items_.swap(grown);
  }
  TimelineItem& it = items_[count_];
  it.Selected = 0;
  it.Index = index;
  it.ClipNumber = clipNumber;
  it.Width = width;
  it.Height = height;
  it.ShownFrames = shownFrames;
  it.Kind = kind;
  drawTile(it, thumbnail);
  ++count_;
  Paint();
}

void TScrollBase::Clear() {
  for (int n = count_; n > 0; --n) RemoveItem(0);
  scrollPosition_ = 0;
  Paint();
}

void TScrollBase::RemoveItem(int position) {
  if (position < 0 || position >= count_) return;
  for (int a = position; a < count_ - 1; ++a) {
    items_[a] = items_[a + 1];
    items_[a].Selected = 0;
  }
  TimelineItem& last = items_[count_ - 1];
  last.TileBitmap = QImage();
  last.Selected = 0;
  last.Index = -1;
  --count_;
  scrollPosition_ = std::min(scrollPosition_, count_);
}

void TScrollBase::Paint() {
  ++paintRequests;
  if (onPaint) onPaint();
}

void TScrollBase::PaintOn(QPainter& p) const {
  int n = ViewWidth / TileWidth + (ViewWidth % TileWidth ? 1 : 0);
  n = std::min(n, count_);
  p.fillRect(0, 0, Margin, ViewHeight, background);
  int x = Margin;
  for (int i = 0; i < n; ++i) {
    const int k = scrollPosition_ + i;
    if (k >= count_) break;
    p.drawImage(x, 0, items_[k].TileBitmap);
    if (items_[k].Selected) {
      p.setPen(QPen(Qt::black, 1));
      p.setBrush(Qt::NoBrush);
      // The outline covers x..x+TileWidth-1, the tile's own pixels.
      p.drawRect(x, 0, TileWidth - 1, TileHeight - 1);
    }
    x += TileWidth;
  }
  if (x < ViewWidth) p.fillRect(x, 0, ViewWidth - x, ViewHeight, background);
}

TimelineItem* TScrollBase::HitTest(int x, int /*y*/, int mode) {
  int before = -1;
  for (int i = 0; i < count_; ++i)
    if (items_[i].Selected) {
      items_[i].Selected = 0;
      before = i;
      break;
    }
  if (x < Margin) return nullptr;
  const int k = (x - Margin) / TileWidth + scrollPosition_;
  if (k >= count_) return nullptr;
  if (mode == 0 || (mode == 1 && k != before)) items_[k].Selected = 1;
  return &items_[k];
}

TimelineItem* TScrollBase::ToggleAt(int x, int y) {
  TimelineItem* it = HitTest(x, y, 1);
  if (it) Paint();
  return it;
}

TimelineItem* TScrollBase::SelectAt(int x, int y) {
  TimelineItem* it = HitTest(x, y, 0);
  if (it) Paint();
  return it;
}

TimelineItem* TScrollBase::ItemAt(int x, int /*y*/) {
  if (x < Margin) return nullptr;
  const int k = (x - Margin) / TileWidth + scrollPosition_;
  return k < count_ ? &items_[k] : nullptr;
}

int TScrollBase::SelectedIndex() const {
  for (int i = 0; i < count_; ++i)
    if (items_[i].Selected) return i;
  return -1;
}

TimelineItem* TScrollBase::SelectByIndex(int clipNumber) {
  const int sel = SelectedIndex();
  if (sel >= 0) items_[sel].Selected = 0;
  TimelineItem* it = FindByIndex(clipNumber);
  if (it) it->Selected = 1;
  return it;
}

TimelineItem* TScrollBase::FindByIndex(int clipNumber) {
  for (int i = 0; i < count_; ++i)
    if (items_[i].Index == clipNumber) return &items_[i];
  return nullptr;
}

void TScrollBase::setScrollPosition(int position) {
  scrollPosition_ = std::clamp(position, 0, count_);
}

void TScrollBase::drawTile(TimelineItem& it, const QImage& thumbnail) const {
  const int m = Margin;
  it.TileBitmap = QImage(TileWidth, TileHeight, QImage::Format_RGB32);
  it.TileBitmap.fill(background);
  QPainter p(&it.TileBitmap);
  // The thumbnail fills (m, m) to (TileWidth - m, TileHeight - 2m), right and bottom exclusive.
  p.drawImage(QRect(m, m, TileWidth - 2 * m, TileHeight - 3 * m), thumbnail);
  // Text needs the font database, which only exists with a GUI application object; without one
  // (plain command-line use) the tile keeps its picture only.
  if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return;
  QFont font("Arial");
  font.setPointSize(10);
  p.setFont(font);
  p.setPen(QColor(0, 0, 255));
  const QFontMetrics fm(font);
  auto line = [&](const std::string& s, int y) {
    const QString text = QString::fromStdString(s);
    p.drawText((TileWidth - fm.horizontalAdvance(text)) / 2, y + fm.ascent(), text);
  };
  std::string first = std::to_string(it.Index + 1);
  if (it.Kind == 1) first += " (" + std::to_string(it.ClipNumber + 1) + ")";
  const std::string frames =
      std::to_string(it.ShownFrames) + " frame" + (it.ShownFrames > 1 ? "s" : "");
  const char* kinds[] = {"Clip", "Super wipe", "Logo"};
  line(first, 0);
  line(frames, TileHeight - 2 * m);
  line(it.Kind >= 0 && it.Kind <= 2 ? kinds[it.Kind] : frames, TileHeight - m);
}

}  // namespace orvana
