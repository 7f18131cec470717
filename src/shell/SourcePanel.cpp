#include "shell/SourcePanel.h"

#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QToolButton>

#include "media/MediaController.h"
#include "shell/Style.h"

namespace orvana {

SourcePreview::SourcePreview(const QString& name, const QString& caption, QWidget* parent)
    : QFrame(parent), caption_(caption) {
  setObjectName(name);
  setFrameStyle(QFrame::Panel | QFrame::Raised);
}

void SourcePreview::showFrame(const MediaController* source) {
  picture_ = QImage();
  Picture frame;
  if (source != nullptr && source->IsOpen() && source->GrabFrame(frame) && !frame.empty()) {
    const QImage whole(reinterpret_cast<const uchar*>(frame.Pixels.data()), frame.Width,
                       frame.Height, frame.Width * 4, QImage::Format_RGB32);
    const PreviewRect& r = source->Preview;
    if (r.Width > 0 && r.Height > 0) {
      placed_ = QRect(r.Left, r.Top, r.Width, r.Height);
      // scaled() copies, so the picture no longer refers to the decoder's buffer.
      picture_ = whole.scaled(r.Width, r.Height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
  }
  update();
}

void SourcePreview::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  QPainter p(this);
  if (picture_.isNull()) {
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(rect(), Qt::AlignCenter, caption_);
    return;
  }
  p.fillRect(contentsRect(), Qt::black);
  p.drawImage(placed_, picture_);
}

SourcePanel::SourcePanel(const SourcePanelNames& names, QWidget* parent) : QFrame(parent) {
  setObjectName(names.Container);
  setFrameStyle(QFrame::Panel | QFrame::Sunken);

  preview_ = new SourcePreview(names.Preview, names.PreviewCaption, this);

  image_ = new QToolButton(this);
  image_->setObjectName(names.Image);
  image_->setAutoRaise(true);
  image_->setCursor(Qt::PointingHandCursor);
  image_->setIcon(ShellIcon(QStringLiteral("open-file")));
  image_->setIconSize(QSize(28, 28));
  image_->setToolTip(QStringLiteral("Open ") + names.PreviewCaption.toLower() +
                     QStringLiteral(" AVI..."));
  connect(image_, &QToolButton::clicked, this, &SourcePanel::openClicked);

  bevel_ = new QFrame(this);
  bevel_->setObjectName(names.Bevel);
  bevel_->setFrameStyle(QFrame::HLine | QFrame::Sunken);

  auto makeList = [this](const QString& name, const QString& item) {
    auto* list = new QListWidget(this);
    list->setObjectName(name);
    list->setFrameShape(QFrame::NoFrame);
    list->setFocusPolicy(Qt::NoFocus);
    list->setSelectionMode(QAbstractItemView::NoSelection);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setProperty("info", true);
    // The designed lists are narrow for today's wider fonts: a touch smaller, cut rather than
    // elided (each line's tip has it whole).
    QFont small = list->font();
    small.setPointSizeF(small.pointSizeF() * 0.92);
    list->setFont(small);
    list->setTextElideMode(Qt::ElideNone);
    list->addItem(item);
    return list;
  };
  videoList_ = makeList(names.VideoList, QStringLiteral("Video info"));
  if (!names.AudioList.isEmpty())
    audioList_ = makeList(names.AudioList, QStringLiteral("No audio"));

  fileLabel_ = new QLabel(QStringLiteral("File name"), this);
  fileLabel_->setObjectName(names.FileLabel);
  fileLabel_->setProperty("accent", true);
  fileLabel_->setTextFormat(Qt::PlainText);
  fileLabel_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void SourcePanel::applyLayout(const Rect& container, const Rect& preview, int bevelTop,
                              int listTop) {
  setGeometry(container.Left, container.Top, container.Width, container.Height);
  preview_->setGeometry(preview.Left, preview.Top, preview.Width, preview.Height);
  bevel_->setGeometry(4, bevelTop, container.Width - 8, 2);
  // The lists take what the 326-pixel container leaves beside the picture, so their lines
  // fit whole in the usual fonts.
  image_->setGeometry(4, listTop, 32, 32);
  videoList_->setGeometry(38, listTop, 160, 42);
  if (audioList_ != nullptr) audioList_->setGeometry(200, listTop, 124, 42);
  fileLabel_->setGeometry(8, listTop + 42 + 4, container.Width - 16, 16);
}

void SourcePanel::showInfo(const std::string& fileName, const std::vector<std::string>& video,
                           const std::vector<std::string>* audio) {
  const QString name = QString::fromStdString(fileName);
  // A long path is cut in the middle so its file name stays readable; the tip has it whole.
  fileLabel_->setText(
      fileLabel_->fontMetrics().elidedText(name, Qt::ElideMiddle, fileLabel_->width()));
  fileLabel_->setToolTip(name);
  fileLabel_->setProperty("fullText", name);
  auto fill = [](QListWidget* list, const std::vector<std::string>& lines) {
    if (lines.empty()) return;  // a failed open keeps the lines shown before
    list->clear();
    for (const std::string& line : lines) {
      list->addItem(QString::fromStdString(line));
      list->item(list->count() - 1)->setToolTip(list->item(list->count() - 1)->text());
    }
  };
  fill(videoList_, video);
  if (audio != nullptr && audioList_ != nullptr) fill(audioList_, *audio);
}

}  // namespace orvana
