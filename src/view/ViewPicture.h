#pragma once

#include <QImage>
#include <QWidget>

class QMenu;

namespace orvana {

// The view window's picture: paints the frame it is given and offers the export popup.
class ViewPicture : public QWidget {
  Q_OBJECT
 public:
  explicit ViewPicture(QWidget* parent);
  void setPicture(const QImage& picture);
  const QImage& picture() const { return picture_; }
  void setPopup(QMenu* menu) { popup_ = menu; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  QImage picture_;
  QMenu* popup_ = nullptr;
};

}  // namespace orvana
