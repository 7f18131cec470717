#include "view/ViewPicture.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QPainter>

namespace orvana {

ViewPicture::ViewPicture(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void ViewPicture::setPicture(const QImage& picture) {
  picture_ = picture;
  update();
}

void ViewPicture::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::black);
  painter.drawImage(0, 0, picture_);
}

void ViewPicture::contextMenuEvent(QContextMenuEvent* event) {
  if (popup_) popup_->popup(event->globalPos());
}

}  // namespace orvana
