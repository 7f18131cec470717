#pragma once

#include <QGroupBox>
#include <QWidget>

class QScrollBar;

namespace orvana {

class TScrollBase;

// The thumbnail strip's drawing surface: paints the strip model and hands mouse presses and
// moves to whoever handles them (the window, which asks the store).
class StripSurface : public QWidget {
  Q_OBJECT
 public:
  StripSurface(TScrollBase* model, QWidget* parent);
  // The model goes before the window does; nothing is painted from it after this.
  void detach() { model_ = nullptr; }

 signals:
  void pressed(Qt::MouseButton button, QPoint at, QPoint global);
  void moved(QPoint at);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  TScrollBase* model_;
};

// " Preview  ": the strip of clip thumbnails and its scroll bar.
class PreviewStrip : public QGroupBox {
  Q_OBJECT
 public:
  PreviewStrip(TScrollBase* model, QWidget* parent);
  void detach();

  StripSurface* surface() const { return surface_; }
  QScrollBar* scrollBar() const { return scroll_; }
  // Follows the model: scroll range and a repaint.
  void refresh();

 private:
  TScrollBase* model_;
  StripSurface* surface_;
  QScrollBar* scroll_;
};

}  // namespace orvana
