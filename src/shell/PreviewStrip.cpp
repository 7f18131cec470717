#include "shell/PreviewStrip.h"

#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include "store/TScrollBase.h"

namespace orvana {

StripSurface::StripSurface(TScrollBase* model, QWidget* parent) : QWidget(parent), model_(model) {
  setObjectName(QStringLiteral("PaintBox1"));
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void StripSurface::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::white);
  if (model_ != nullptr) model_->PaintOn(p);
}

void StripSurface::mousePressEvent(QMouseEvent* event) {
  emit pressed(event->button(), event->position().toPoint(), event->globalPosition().toPoint());
}

void StripSurface::mouseMoveEvent(QMouseEvent* event) {
  emit moved(event->position().toPoint());
}

PreviewStrip::PreviewStrip(TScrollBase* model, QWidget* parent)
    : QGroupBox(QStringLiteral(" Preview  "), parent), model_(model) {
  setObjectName(QStringLiteral("GroupBox5"));
  setProperty("accent", true);
  surface_ = new StripSurface(model, this);
  scroll_ = new QScrollBar(Qt::Horizontal, this);
  scroll_->setObjectName(QStringLiteral("ScrollBar1"));
  scroll_->setRange(0, 0);
  scroll_->setPageStep(1);
  connect(scroll_, &QScrollBar::valueChanged, this, [this](int value) {
    if (model_ != nullptr) model_->setScrollPosition(value);
    surface_->update();
  });
  // The surface fills the group above a 20-pixel scroll bar.
  surface_->setGeometry(2, 15, 1118, 113);
  scroll_->setGeometry(2, 15 + 113, 1118, 20);
}

void PreviewStrip::detach() {
  model_ = nullptr;
  surface_->detach();
}

void PreviewStrip::refresh() {
  if (model_ != nullptr) {
    if (scroll_->maximum() != model_->scrollMaximum()) scroll_->setMaximum(model_->scrollMaximum());
    if (scroll_->value() != model_->scrollPosition()) {
      const QSignalBlocker quiet(scroll_);
      scroll_->setValue(model_->scrollPosition());
    }
  }
  surface_->update();
}

}  // namespace orvana
