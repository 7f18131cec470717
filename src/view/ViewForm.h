#pragma once

#include <QDialog>
#include <QImage>
#include <functional>
#include <memory>
#include <vector>

#include "media/ClipPictures.h"

class QAction;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QSlider;

namespace orvana {

class Operator;
class ViewPicture;

// The view window: one clip read back from a chip, frame by frame, as the chip's stored
// component at half size, with its comment; and its export. Created per view by the main
// window, shown modally, and its clip file is deleted when it closes.
class TViewForm : public QDialog {
  Q_OBJECT
 public:
  struct Services {
    Operator* op = nullptr;  // the main window's messages and questions
    // The AVI the operator picks in the save dialog; empty when cancelled.
    std::function<QString()> askSaveFile;
    // "Save full video...": the channel's full-colour export to `target`; null hides the item.
    std::function<bool(const QString& target, Operator& op)> saveFull;
  };

  // `logoLayout`: the main window is on the logo channel (a 240 x 240 picture).
  TViewForm(Services services, bool logoLayout, QWidget* owner);
  ~TViewForm() override;

  // Chip x 256 + clip slot: names the clip file and the chip whose component is shown.
  int Tag = 0;

  void LayoutView(int w, int h);
  void FormShow();
  void TrackBar1Change(int position);
  void FormClose();
  void ShowFrame(int f);
  // "Save video...": every frame through the working files into an AVI with sound.
  void CreateAVI1Click();
  // "Save full video...": the full-colour picture of every chip of the channel.
  void SaveFullVideoClick();

  std::filesystem::path ClipFilePath() const;
  const QImage& Picture() const { return shown_; }
  const ClipPictures& Clip() const { return clip_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void done(int result) override;

 private:
  void showPicture(const QImage& shown);
  void finishExport();

  Services services_;
  QSize pictureSize_;
  bool shown_once_ = false;
  bool closed_ = false;
  bool exporting_ = false;
  bool closeAsked_ = false;
  ClipPictures clip_;
  QImage frame_;  // the decoded frame, reused
  QImage shown_;  // what Image1 shows
  std::vector<std::uint8_t> AudioTrack;

  ViewPicture* Image1 = nullptr;
  QSlider* TrackBar1 = nullptr;
  QLabel* Label1 = nullptr;
  QPlainTextEdit* Memo1 = nullptr;
  QProgressBar* ProgressBar1 = nullptr;
  QMenu* PopupMenu1 = nullptr;
  QAction* CreateAVI1 = nullptr;
  QAction* SaveFullVideo1 = nullptr;
};

}  // namespace orvana
