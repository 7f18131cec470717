#pragma once

#include <QGroupBox>
#include <QImage>
#include <QWidget>

namespace orvana {

// The channel map picture. It shows the map image the store draws, pixel for pixel (doubled
// without smoothing on a high-density display so the cells stay sharp).
class MapSurface : public QWidget {
  Q_OBJECT
 public:
  MapSurface(const QImage* image, QWidget* parent);
  void detach() { image_ = nullptr; }

 signals:
  void pressed(Qt::MouseButton button, QPoint at, QPoint global);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  const QImage* image_;
};

// " Channel ": the map with its legend.
class ChannelMapBox : public QGroupBox {
  Q_OBJECT
 public:
  ChannelMapBox(const QImage* image, QWidget* parent);
  MapSurface* surface() const { return surface_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  MapSurface* surface_;
  QGroupBox* legend_;
};

}  // namespace orvana
