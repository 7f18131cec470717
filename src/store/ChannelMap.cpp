#include "store/ChannelMap.h"

#include <QPainter>

namespace orvana {

QColor ChannelMap::CellColour(CellState s, int selectedClip) {
  if (IsCellEmpty(s)) return QColor(255, 255, 255);
  if (s & kCellSystem) return QColor(0, 128, 0);
  if (s & kCellUnusable) return QColor(0, 0, 255);
  if (CellClip(s) == selectedClip) return QColor(128, 128, 128);
  return QColor(255, 0, 0);
}

QImage ChannelMap::Render(const CellState* map, int selectedClip) {
  QImage img(kColumns, kRows, QImage::Format_RGB32);
  for (int y = 0; y < kRows; ++y) {
    auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
    for (int x = 0; x < kColumns; ++x)
      line[x] = CellColour(map[kColumns * y + x], selectedClip).rgb();
  }
  return img;
}

void ChannelMap::Draw(QImage& target, const CellState* map, int selectedClip) {
  target.fill(Qt::white);
  const int w = target.width();
  const int h = target.height();
  QPainter p(&target);
  p.drawImage(QRect(0, 0, w, h), Render(map, selectedClip));
  p.setPen(QPen(QColor(192, 192, 192), 1));
  // A map narrower than 256 (or lower than 64) pixels gets no grid rather than a zero step.
  const int s = w / kColumns;
  const int t = h / kRows;
  if (s > 0)
    for (int x = 0; x < w; x += s) p.drawLine(x, 0, x, h - 1);
  if (t > 0)
    for (int y = 0; y < h; y += t) p.drawLine(0, y, w - 1, y);
}

int ChannelMap::CellAt(int x, int y, int width, int height) {
  const float cw = static_cast<float>(width) * 0.00390625f;
  const float ch = static_cast<float>(height) * 0.015625f;
  if (x < 0 || y < 0 || cw <= 0.0f || ch <= 0.0f) return -1;
  const int column = static_cast<int>(static_cast<float>(x) / cw);
  const int row = static_cast<int>(static_cast<float>(y) / ch);
  if (column >= kColumns || row >= kRows) return -1;
  return kColumns * row + column;
}

}  // namespace orvana
