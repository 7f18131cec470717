#include "store/ChannelView.h"

#include <QPainter>

#include "store/ChannelMap.h"

namespace orvana {

ChannelView::ChannelView(ClipStore& store) : store_(store) {
  MapImage.fill(Qt::white);
  store_.SetListener(this);
}

ChannelView::~ChannelView() {
  store_.SetListener(nullptr);
}

void ChannelView::ChannelCleared() {
  Timeline.Clear();
  MapImage.fill(Qt::white);
  if (onMapChanged) onMapChanged();
}

void ChannelView::DirectoryLoaded() {
  MapHint = store_.FreeSpaceHint();
  FillTimeline();
}

void ChannelView::ChipShown(int chip) {
  ChannelCaption = "Chip " + std::to_string(chip);
}

void ChannelView::CancelOffered(bool offered) {
  CancelShown = offered;
}

void ChannelView::FillTimeline() {
  Timeline.Clear();
  for (int n = 0; n < kClipSlots; ++n) AddTimelineEntry(n);
  DrawChannelMap();
}

void ChannelView::AddTimelineEntry(int n) {
  const ClipRecord& r = store_.ClipDirectory[n];
  if (r.StartPage == 0) return;
  QImage thumb = store_.ThumbnailImage(n);
  if (r.HasAudio && !AudioMark.isNull()) {
    QPainter p(&thumb);
    p.drawImage(1, 1, AudioMark);
  } else if (r.HasAudio) {
    // A small loudspeaker marks clips with sound.
    QPainter p(&thumb);
    p.fillRect(1, 1, 12, 10, Qt::black);
    p.fillRect(3, 4, 3, 4, Qt::yellow);
    const QPoint cone[] = {{6, 4}, {10, 2}, {10, 9}, {6, 7}};
    p.setPen(Qt::yellow);
    p.setBrush(Qt::yellow);
    p.drawPolygon(cone, 4);
  }
  Timeline.AddItem(thumb, n, static_cast<int>(r.StartPage), r.Kind,
                   r.FrameCount != 0 ? r.SourceFrames : 0, r.Height, r.Width, r.ClipNumber);
}

int ChannelView::SelectedClipNumber() const {
  const int sel = Timeline.SelectedIndex();
  return sel >= 0 ? Timeline.item(sel).Index : -1;
}

void ChannelView::DrawChannelMap() {
  const int chip = store_.CurrentChip;
  store_.SelectedClip[chip] = SelectedClipNumber();
  ChannelMap::Draw(MapImage, store_.CellMap.data(), store_.SelectedClip[chip]);
  if (onMapChanged) onMapChanged();
}

void ChannelView::Image3MouseDown(MouseButton button, int x, int y) {
  if (!store_.flash().IsConnected() || button != MouseButton::Left) return;
  const int cell = ChannelMap::CellAt(x, y, MapImage.width(), MapImage.height());
  if (cell < 0) return;
  const CellState s = store_.CellMap[cell];
  if (!(s & kCellAllocated) || (s & (kCellUnusable | kCellSystem))) return;
  if (Timeline.FindByIndex(CellClip(s))) {
    Timeline.SelectByIndex(CellClip(s));
    Timeline.Paint();
    DrawChannelMap();
  }
}

void ChannelView::PaintBox1MouseDown(MouseButton button, int x, int y) {
  FlashPort& flash = store_.flash();
  if (!flash.IsConnected()) return;
  if (button == MouseButton::Left) {
    Timeline.ToggleAt(x, y);
    const int n = SelectedClipNumber();
    if (n >= 0) flash.SelectClip(store_.CurrentChip, n);
  } else if (button == MouseButton::Right) {
    Timeline.SelectAt(x, y);
  }
  DrawChannelMap();
}

}  // namespace orvana
