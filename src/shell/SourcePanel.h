#pragma once

#include <QFrame>
#include <QImage>
#include <QRect>
#include <QString>
#include <string>
#include <vector>

#include "media/SourceSelection.h"

class QLabel;
class QListWidget;
class QToolButton;

namespace orvana {

class MediaController;

// The preview of one source: the held frame at one sixth of its size, placed where the source
// says, or the panel's caption while nothing is shown. It paints a copy taken on the UI thread,
// never the decoder, which a write may be using from its worker thread.
class SourcePreview : public QFrame {
  Q_OBJECT
 public:
  SourcePreview(const QString& name, const QString& caption, QWidget* parent);
  void showFrame(const MediaController* source);
  const QImage& picture() const { return picture_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString caption_;
  QImage picture_;
  QRect placed_;
};

// Object names of one source panel's controls.
struct SourcePanelNames {
  QString Container, Preview, PreviewCaption, Image, Bevel, VideoList, AudioList, FileLabel;
};

// One source (clip, alpha or wipe): preview, the picture that opens a file, info lists and file
// name, in a sunken container. The window has three.
class SourcePanel : public QFrame {
  Q_OBJECT
 public:
  SourcePanel(const SourcePanelNames& names, QWidget* parent);

  // Places the container and its children as the channel layout says.
  void applyLayout(const Rect& container, const Rect& preview, int bevelTop, int listTop);
  void showInfo(const std::string& fileName, const std::vector<std::string>& video,
                const std::vector<std::string>* audio);
  SourcePreview* preview() const { return preview_; }
  QToolButton* openImage() const { return image_; }

 signals:
  void openClicked();

 private:
  SourcePreview* preview_;
  QToolButton* image_;
  QFrame* bevel_;
  QListWidget* videoList_;
  QListWidget* audioList_ = nullptr;
  QLabel* fileLabel_;
};

}  // namespace orvana
