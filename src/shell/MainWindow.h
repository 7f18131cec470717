#pragma once

#include <QMainWindow>
#include <memory>
#include <string>

#include "common/DeviceEndpoint.h"
#include "media/MediaController.h"
#include "media/SourceSelection.h"
#include "shell/WindowOperator.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSlider;
class QToolButton;
class QGroupBox;

namespace orvana {

struct MainMenu;
struct StoreStack;
class ChannelView;
class WriteProcess;
class SourcePanel;
class PreviewStrip;
class ChannelMapBox;

// The operator's main window. It owns the device stack, the three sources and their selection,
// and the write; it only shows their state and hands the operator's clicks to them.
class TClipTCPForm : public QMainWindow, private OperatorSurface {
  Q_OBJECT
 public:
  // `answers`: scripted dialogs for tests; null shows real ones.
  explicit TClipTCPForm(const DeviceEndpoint& endpoint, Operator* answers = nullptr,
                        QWidget* parent = nullptr);
  ~TClipTCPForm() override;

  WindowOperator& op() { return op_; }
  StoreStack* stack() { return stack_.get(); }
  // The strip and map the window shows; null once shut down.
  ChannelView* view() { return view_.get(); }
  SourceSelection& selection() { return *selection_; }
  WriteProcess& writer() { return *writer_; }
  int Channel() const { return selection_->Channel; }
  // True while a handler runs an operation (connect, write, read-back, delete, format).
  bool busy() const { return busy_ > 0; }

  // Handlers, by the names the menus and controls know them.
  void Connect1ButtonClick();
  void WriteButtonClick();
  void CancelButtonClick();
  void SelectChannel(ChannelRadio radio);
  void LoopCheckBoxClick();
  void OpenClipButtonClick();
  void OpenAlphaButtonClick();
  void OpenWipeButtonClick();
  void TrackBar1Change(int position);
  void ComboBox1Change(int index);
  void Button1Click();
  void IPaddress1Click();
  void Exit1Click();
  void Deleteclip0Click();
  void View1Click();
  void ViewClip(int n);
  void Format0Click(bool quick);
  void PaintBox1MouseDown(Qt::MouseButton button, QPoint at, QPoint global);
  void PaintBox1MouseMove(QPoint at);
  void Image3MouseDown(Qt::MouseButton button, QPoint at, QPoint global);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  class Busy;

  // OperatorSurface
  QWidget* dialogParent() override { return this; }
  void showStatus(int panel, const QString& text) override;
  void showProgressMax(int maximum) override;
  void showProgress(int position) override;
  void showControlsEnabled(bool enabled) override;
  void syncWithCore() override;
  void terminateSoon() override;

  void buildControls();
  void connectHandlers();
  void FormCreate();
  void Shutdown();
  void ChannelChanged();
  void ShowSources();
  void ShowPreviews();
  void showTrackBar();
  void placeBottom();
  bool mayAct() const;
  // The open dialog, then the file into the slot `open` fills.
  void OpenFileInto(void (SourceSelection::*open)(const std::string&));

  WindowOperator op_;
  DeviceEndpoint endpoint_;
  MediaSources sources_;
  std::unique_ptr<StoreStack> stack_;
  std::unique_ptr<ChannelView> view_;
  std::unique_ptr<SourceSelection> selection_;
  std::unique_ptr<WriteProcess> writer_;
  std::unique_ptr<MainMenu> menu_;
  int busy_ = 0;
  bool closePending_ = false;
  bool shutDown_ = false;
  bool connectedShown_ = false;
  std::string shownLabels_[3];

  QWidget* client_ = nullptr;
  SourcePanel* clipPanel_ = nullptr;
  SourcePanel* alphaPanel_ = nullptr;
  SourcePanel* wipePanel_ = nullptr;
  QSlider* trackBar_ = nullptr;
  QLabel* label1_ = nullptr;
  QLabel* imageAudio_ = nullptr;
  QToolButton* cancelButton_ = nullptr;
  QWidget* panel1_ = nullptr;
  PreviewStrip* strip_ = nullptr;
  ChannelMapBox* map_ = nullptr;
  QToolButton* openClipButton_ = nullptr;
  QToolButton* openAlphaButton_ = nullptr;
  QToolButton* openWipeButton_ = nullptr;
  QToolButton* settingsButton_ = nullptr;
  QToolButton* connectButton_ = nullptr;
  QToolButton* writeButton_ = nullptr;
  QGroupBox* groupBox4_ = nullptr;
  QRadioButton* radios_[4] = {};
  QCheckBox* loopCheckBox_ = nullptr;
  QComboBox* comboBox1_ = nullptr;
  QPushButton* button1_ = nullptr;
  QProgressBar* progressBar_ = nullptr;
  QLabel* statusPanels_[2] = {};
};

}  // namespace orvana
