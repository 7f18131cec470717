#include "shell/ChannelMapBox.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>

namespace orvana {

MapSurface::MapSurface(const QImage* image, QWidget* parent) : QWidget(parent), image_(image) {
  setObjectName(QStringLiteral("Image3"));
  setCursor(Qt::PointingHandCursor);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void MapSurface::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::white);
  p.setRenderHint(QPainter::SmoothPixmapTransform, false);
  if (image_ != nullptr) p.drawImage(QRect(QPoint(0, 0), image_->size()), *image_);
}

void MapSurface::mousePressEvent(QMouseEvent* event) {
  emit pressed(event->button(), event->position().toPoint(), event->globalPosition().toPoint());
}

namespace {

// A legend entry: a 9 x 9 swatch and its text.
void addLegendEntry(QWidget* legend, int y, const QColor& colour, const QString& text) {
  auto* swatch = new QLabel(legend);
  swatch->setGeometry(8, y + 3, 9, 9);
  swatch->setAutoFillBackground(true);
  swatch->setStyleSheet(
      QStringLiteral("background: %1; border: 1px solid #202020;").arg(colour.name()));
  auto* label = new QLabel(text, legend);
  label->setGeometry(21, y, 66, 15);
}

}  // namespace

ChannelMapBox::ChannelMapBox(const QImage* image, QWidget* parent)
    : QGroupBox(QStringLiteral(" Channel "), parent) {
  setObjectName(QStringLiteral("GroupBox1"));
  setProperty("accent", true);
  surface_ = new MapSurface(image, this);
  surface_->setGeometry(10, 20, 1024, 128);

  legend_ = new QGroupBox(QStringLiteral(" Legend "), this);
  legend_->setObjectName(QStringLiteral("GroupBox2"));
  // Swatches in the order and colours of the map's cell states (selected shows silver here).
  const struct {
    QColor colour;
    const char* text;
  } entries[] = {{QColor(0, 128, 0), "- System"},
                 {QColor(255, 0, 0), "- Allocated"},
                 {QColor(255, 255, 255), "- Free"},
                 {QColor(192, 192, 192), "- Selected"},
                 {QColor(0, 0, 255), "- Unused"}};
  int y = 22;
  for (const auto& e : entries) {
    addLegendEntry(legend_, y, e.colour, QString::fromLatin1(e.text));
    y += 22;
  }
}

void ChannelMapBox::resizeEvent(QResizeEvent* event) {
  QGroupBox::resizeEvent(event);
  // Aligned right, 90 wide, below the title.
  legend_->setGeometry(width() - 90 - 2, 14, 90, height() - 16);
}

}  // namespace orvana
