#include "view/ViewForm.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScreen>
#include <QSignalBlocker>
#include <QSlider>

#include "common/Operator.h"
#include "common/Paths.h"
#include "common/Text1252.h"
#include "media/ClipExport.h"
#include "view/ViewPicture.h"

namespace orvana {

namespace {

constexpr int kSpacing = 12;
// The designed sizes are outer sizes of a framed window; the frame is the window manager's.
constexpr int kFrameWidth = 16;
constexpr int kFrameHeight = 39;

// The main window's operator, with the export's progress shown on the view's own bar.
class ViewOperator : public Operator {
 public:
  ViewOperator(Operator& main, QProgressBar* bar) : main_(main), bar_(bar) {}
  void message(const std::string& text) override { main_.message(text); }
  bool confirm(const std::string& text) override { return main_.confirm(text); }
  bool prompt(const std::string& text, std::string& value) override {
    return main_.prompt(text, value);
  }
  int choose(const std::string& text, const std::vector<std::string>& options) override {
    return main_.choose(text, options);
  }
  void setStatus(int panel, const std::string& text) override { main_.setStatus(panel, text); }
  void setProgressMax(int maximum) override { bar_->setRange(0, std::max(maximum, 0)); }
  void setProgress(int position) override {
    bar_->setValue(position);
    bar_->repaint();
  }
  void setTitle(const std::string& text) override { main_.setTitle(text); }
  void setCursor(Cursor cursor) override { main_.setCursor(cursor); }
  void setControlsEnabled(bool enabled) override { main_.setControlsEnabled(enabled); }
  void processEvents() override { main_.processEvents(); }
  void requestTerminate() override { main_.requestTerminate(); }

 private:
  Operator& main_;
  QProgressBar* bar_;
};

}  // namespace

TViewForm::TViewForm(Services services, bool logoLayout, QWidget* owner)
    : QDialog(owner), services_(std::move(services)) {
  setObjectName(QStringLiteral("ViewForm"));
  setWindowTitle(QStringLiteral("ViewForm"));

  Image1 = new ViewPicture(this);
  Image1->setObjectName(QStringLiteral("Image1"));
  TrackBar1 = new QSlider(Qt::Horizontal, this);
  TrackBar1->setObjectName(QStringLiteral("TrackBar1"));
  TrackBar1->setTickPosition(QSlider::TicksBothSides);
  TrackBar1->setRange(0, 0);
  Label1 = new QLabel(QStringLiteral("0"), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setProperty("accent", true);
  QFont bold = Label1->font();
  bold.setBold(true);
  Label1->setFont(bold);
  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo1->setReadOnly(true);
  Memo1->resize(633, 89);
  ProgressBar1 = new QProgressBar(this);
  ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  ProgressBar1->setTextVisible(false);

  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
  CreateAVI1 = PopupMenu1->addAction(QStringLiteral("Save video..."));
  CreateAVI1->setObjectName(QStringLiteral("CreateAVI1"));
  SaveFullVideo1 = PopupMenu1->addAction(QStringLiteral("Save full video..."));
  SaveFullVideo1->setObjectName(QStringLiteral("SaveFullVideo1"));
  SaveFullVideo1->setVisible(static_cast<bool>(services_.saveFull));
  Image1->setPopup(PopupMenu1);

  connect(TrackBar1, &QSlider::valueChanged, this, &TViewForm::TrackBar1Change);
  connect(CreateAVI1, &QAction::triggered, this, &TViewForm::CreateAVI1Click);
  connect(SaveFullVideo1, &QAction::triggered, this, &TViewForm::SaveFullVideoClick);

  if (logoLayout)
    LayoutView(240, 240);
  else
    LayoutView(960, 540);
}

TViewForm::~TViewForm() {
  FormClose();
}

void TViewForm::LayoutView(int w, int h) {
  pictureSize_ = QSize(w, h);
  Image1->setGeometry(kSpacing, 3, w, h);
  shown_ = QImage(w, h, QImage::Format_RGB32);
  shown_.fill(0);
  Image1->setPicture(shown_);
  const int trackHeight = TrackBar1->sizeHint().height();
  TrackBar1->setGeometry(kSpacing, Image1->geometry().bottom() + 1 + 6, w, trackHeight);
  Label1->adjustSize();
  const QRect track = TrackBar1->geometry();
  Label1->move(track.right() + 1 + 3, track.top() + (track.height() - Label1->height()) / 2);
  Memo1->setGeometry(kSpacing, track.bottom() + 1 + kSpacing, w + kSpacing, 89);
  const int height = Memo1->geometry().bottom() + 1 + 72 - kFrameHeight;
  setFixedSize(w + 60 - kFrameWidth, height);
  ProgressBar1->setGeometry(0, height - 17, width(), 17);
}

std::filesystem::path TViewForm::ClipFilePath() const {
  return paths::workFolder() / (std::to_string(Tag & 0xFF) + "." + std::to_string(Tag >> 8));
}

void TViewForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (shown_once_) return;
  shown_once_ = true;
  if (const QScreen* screen = this->screen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - rect().center());
  }
  FormShow();
}

void TViewForm::FormShow() {
  if (!clip_.Open(ClipFilePath(), Tag >> 8)) {
    // The picture stays black and there is nothing to move through or export.
    if (services_.op) services_.op->message(clip_.Error());
    CreateAVI1->setEnabled(false);
  }
  TrackBar1->setRange(0, std::max(clip_.FrameCount() - 1, 0));
  AudioTrack.assign(static_cast<std::size_t>(clip_.FrameCount()) * ClipPictures::kAudioSlot, 0);
  Memo1->clear();
  Memo1->appendPlainText(QString::fromStdString(cp1252ToUtf8(clip_.Comment())));
  ShowFrame(0);
}

void TViewForm::TrackBar1Change(int position) {
  Label1->setText(QString::number(position));
  Label1->adjustSize();
  ShowFrame(position);
}

void TViewForm::ShowFrame(int f) {
  std::uint8_t* slot = nullptr;
  if (f >= 0 && f < clip_.FrameCount())
    slot = AudioTrack.data() + static_cast<std::size_t>(f) * ClipPictures::kAudioSlot;
  clip_.DecodeFrame(f, frame_, slot);
  showPicture(ShownPicture(frame_, pictureSize_));
}

void TViewForm::showPicture(const QImage& shown) {
  shown_ = shown;
  Image1->setPicture(shown_);
  Image1->repaint();
}

void TViewForm::done(int result) {
  // An export pumps events; closing meanwhile stops it at its next frame.
  if (exporting_) {
    closeAsked_ = true;
    return;
  }
  FormClose();
  QDialog::done(result);
}

void TViewForm::FormClose() {
  if (closed_) return;
  closed_ = true;
  AudioTrack.clear();
  AudioTrack.shrink_to_fit();
  clip_.Close();
  std::error_code ec;
  std::filesystem::remove(ClipFilePath(), ec);
}

void TViewForm::CreateAVI1Click() {
  if (!clip_.IsOpen() || exporting_ || !services_.askSaveFile || !services_.op) return;
  const QString target = services_.askSaveFile();
  if (target.isEmpty()) return;
  exporting_ = true;
  ViewOperator op(*services_.op, ProgressBar1);
  ClipExportOptions options;
  options.Shown = pictureSize_;
  options.WorkFolder = paths::workFolder();
  options.Target = target.toStdString();
  // Each frame the export decodes is shown as the track bar moves, without decoding it twice.
  options.OnFrame = [this](int f, const QImage& shown) {
    const QSignalBlocker quiet(TrackBar1);
    TrackBar1->setValue(f);
    Label1->setText(QString::number(f));
    Label1->adjustSize();
    showPicture(shown);
  };
  options.Cancelled = [this] { return closeAsked_; };
  ExportClip(clip_, options, op);
  finishExport();
}

void TViewForm::finishExport() {
  exporting_ = false;
  // A close asked for while the export ran stopped it; the window goes now.
  if (closeAsked_) close();
}

void TViewForm::SaveFullVideoClick() {
  if (!services_.saveFull || !services_.askSaveFile || exporting_) return;
  const QString target = services_.askSaveFile();
  if (target.isEmpty()) return;
  exporting_ = true;
  ViewOperator op(*services_.op, ProgressBar1);
  services_.saveFull(target, op);
  finishExport();
}

}  // namespace orvana
