#include "shell/MainWindow.h"

#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>
#include <QStatusBar>
#include <QToolButton>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <vector>

#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "media/FullExport.h"
#include "media/WriteProcess.h"
#include "shell/ChannelMapBox.h"
#include "shell/MainMenu.h"
#include "shell/PreviewStrip.h"
#include "shell/SourcePanel.h"
#include "shell/Style.h"
#include "shell/TIPAddressForm.h"
#include "store/ChannelView.h"
#include "store/StoreStack.h"
#include "view/ViewForm.h"

namespace orvana {

namespace {

// Designed client area; the width follows the channel layout.
constexpr int kClientWidth = 1146;
constexpr int kClientHeight = 753;
constexpr int kPanel1Height = 386;
constexpr int kProgressHeight = 17;
// The source containers start this far from the left edge.
constexpr int kSourceLeft = 8;
constexpr int kSpeedButton = 52;

// The central area: the bottom-aligned panel and progress bar follow its size.
class ClientArea : public QWidget {
 public:
  using QWidget::QWidget;
  std::function<void()> onResize;

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QWidget::resizeEvent(event);
    if (onResize) onResize();
  }
};

MouseButton toStoreButton(Qt::MouseButton b) {
  if (b == Qt::RightButton) return MouseButton::Right;
  if (b == Qt::LeftButton) return MouseButton::Left;
  return MouseButton::Middle;
}

QToolButton* speedButton(QWidget* parent, const char* name, const char* hint, const char* icon,
                         int x, int y) {
  auto* b = new QToolButton(parent);
  b->setObjectName(QString::fromLatin1(name));
  b->setToolTip(QString::fromLatin1(hint));
  b->setAutoRaise(true);
  b->setCursor(Qt::PointingHandCursor);
  b->setIcon(ShellIcon(QString::fromLatin1(icon)));
  b->setIconSize(QSize(32, 32));
  b->setGeometry(x, y, kSpeedButton, kSpeedButton);
  return b;
}

ProfileFile mainIni() {
  return ProfileFile(paths::settingsFile(kMainIni));
}

}  // namespace

// Marks an operation in progress: other handlers stay out, and a close asked for meanwhile is
// carried out when the outermost operation has ended.
class TClipTCPForm::Busy {
 public:
  explicit Busy(TClipTCPForm& w) : w_(w) { ++w_.busy_; }
  ~Busy() {
    if (--w_.busy_ == 0) {
      w_.syncWithCore();
      if (w_.closePending_) QMetaObject::invokeMethod(&w_, "close", Qt::QueuedConnection);
    }
  }
  Busy(const Busy&) = delete;
  Busy& operator=(const Busy&) = delete;

 private:
  TClipTCPForm& w_;
};

TClipTCPForm::TClipTCPForm(const DeviceEndpoint& endpoint, Operator* answers, QWidget* parent)
    : QMainWindow(parent), op_(*this, answers), endpoint_(endpoint) {
  setObjectName(QStringLiteral("ClipTCPForm"));
  setWindowIcon(ShellIcon(QStringLiteral("orvana")));
  QFont f = font();
  f.setPointSize(8);
  setFont(f);
  buildControls();

  // Construction: sources first, then the device link (which may ask to take the device over).
  if (!sources_.CreateSources()) op_.message("DirectX media initialization error.");
  setWindowTitle(MainWindowCaption(endpoint_.address, endpoint_.port));
  stack_ = std::make_unique<StoreStack>(endpoint_.address, endpoint_.port, op_, endpoint_.hostPort);
  ClipStore& store = stack_->store;
  view_ = std::make_unique<ChannelView>(store);
  view_->AudioMark = imageAudio_->pixmap().toImage();
  selection_ = std::make_unique<SourceSelection>(sources_, op_);
  selection_->CancelButtonWidth = kSpeedButton;
  selection_->LoopChecked = loopCheckBox_->isChecked();
  selection_->IsConnected = [this] { return stack_ && stack_->link.IsConnected(); };
  selection_->Connect1ButtonClick = [this] {
    ShowSources();
    stack_->store.Channel = selection_->Channel;
    stack_->store.SuperWipeMask = menu_->Superwipemask1->isChecked();
    stack_->store.ConnectChannel();
  };
  selection_->onChannelChanged = [this] { ChannelChanged(); };
  selection_->onPositionShown = [this] { ShowPreviews(); };
  writer_ = std::make_unique<WriteProcess>(store, *selection_, sources_, op_);
  writer_->Overlap = true;
  std::error_code ec;
  std::filesystem::create_directories(paths::workFolder(), ec);  // a failure shows later

  strip_ = new PreviewStrip(&view_->Timeline, panel1_);
  strip_->setGeometry(8, -2, 1122, 150);
  map_ = new ChannelMapBox(&view_->MapImage, panel1_);
  map_->setGeometry(0, 154, 1130, 154);
  view_->Timeline.onPaint = [this] { strip_->refresh(); };
  view_->onMapChanged = [this] {
    map_->surface()->setToolTip(QString::fromStdString(view_->MapHint));
    map_->surface()->update();
  };
  connectHandlers();
  syncWithCore();

  const QRect screen = this->screen()->availableGeometry();
  move(screen.center() - QPoint(width() / 2, height() / 2));
  FormCreate();
}

TClipTCPForm::~TClipTCPForm() {
  Shutdown();
}

void TClipTCPForm::buildControls() {
  menu_ = std::make_unique<MainMenu>(menuBar(), this);

  auto* client = new ClientArea(this);
  client->setObjectName(QStringLiteral("ClientArea"));
  client->onResize = [this] { placeBottom(); };
  client_ = client;
  setCentralWidget(client_);

  clipPanel_ = new SourcePanel({"PanelClipContainer", "PanelClip", "Clip", "Image1", "Bevel1",
                                "ListBoxClip", "ListBoxAudio", "Label7"},
                               client_);
  alphaPanel_ = new SourcePanel({"PanelAlphaContainer", "PanelAlpha", "Alpha", "Image4", "Bevel2",
                                 "ListBoxAlpha", "", "Label8"},
                                client_);
  wipePanel_ = new SourcePanel(
      {"PanelWipeContainer", "PanelWipe", "Wipe", "Image5", "Bevel3", "ListBoxWipe", "", "Label9"},
      client_);

  trackBar_ = new QSlider(Qt::Horizontal, client_);
  trackBar_->setObjectName(QStringLiteral("TrackBar1"));
  trackBar_->setTickPosition(QSlider::TicksBothSides);
  trackBar_->setRange(0, 0);
  label1_ = new QLabel(QStringLiteral("0"), client_);
  label1_->setObjectName(QStringLiteral("Label1"));
  label1_->setProperty("accent", true);
  QFont bold = label1_->font();
  bold.setBold(true);
  label1_->setFont(bold);

  imageAudio_ = new QLabel(client_);
  imageAudio_->setObjectName(QStringLiteral("ImageAudio"));
  imageAudio_->setPixmap(ShellIcon(QStringLiteral("audio")).pixmap(16, 16));
  imageAudio_->setGeometry(0, 0, 16, 16);
  imageAudio_->hide();

  panel1_ = new QWidget(client_);
  panel1_->setObjectName(QStringLiteral("Panel1"));

  openClipButton_ =
      speedButton(panel1_, "OpenClipButton", "Open clip AVI...", "open-clip", 16, 317);
  openAlphaButton_ =
      speedButton(panel1_, "OpenAlphaButton", "Open alpha AVI...", "open-alpha", 84, 317);
  openWipeButton_ =
      speedButton(panel1_, "OpenWipeButton", "Open wipe AVI...", "open-wipe", 148, 317);
  settingsButton_ = speedButton(panel1_, "SettingsButton", "Settings...", "settings", 212, 317);
  connectButton_ = speedButton(panel1_, "Connect1Button", "Connect", "connect", 278, 317);
  writeButton_ = speedButton(panel1_, "WriteButton", "Write clip...", "write", 336, 317);

  groupBox4_ = new QGroupBox(panel1_);
  groupBox4_->setObjectName(QStringLiteral("GroupBox4"));
  groupBox4_->setGeometry(976, 310, 150, 70);
  const char* radioNames[4] = {"Clip1Radio", "Clip2Radio", "SWipeRadio", "LogoRadio"};
  const char* radioCaptions[4] = {"Clip 1", "Clip 2", "Super wipe ", "Logo "};
  const QRect radioAt[4] = {{4, 6, 54, 18}, {4, 25, 54, 18}, {58, 6, 90, 18}, {58, 25, 90, 18}};
  for (int i = 0; i < 4; ++i) {
    radios_[i] = new QRadioButton(QString::fromLatin1(radioCaptions[i]), groupBox4_);
    radios_[i]->setObjectName(QString::fromLatin1(radioNames[i]));
    radios_[i]->setGeometry(radioAt[i]);
  }
  radios_[0]->setChecked(true);
  loopCheckBox_ = new QCheckBox(QStringLiteral("Loop"), groupBox4_);
  loopCheckBox_->setObjectName(QStringLiteral("LoopCheckBox"));
  loopCheckBox_->setGeometry(4, 46, 66, 18);
  loopCheckBox_->setChecked(true);
  // Two columns as wide as their captions need in the font at hand; the box grows leftwards
  // when they do not fit its designed width.
  const int left = std::max({radios_[0]->sizeHint().width(), radios_[1]->sizeHint().width(),
                             loopCheckBox_->sizeHint().width()});
  const int right = std::max(radios_[2]->sizeHint().width(), radios_[3]->sizeHint().width());
  const int second = 4 + left + 6;
  for (int i = 0; i < 4; ++i) {
    const QRect r = radioAt[i];
    radios_[i]->setGeometry(i < 2 ? 4 : second, r.y(), i < 2 ? left : right, r.height());
  }
  loopCheckBox_->setGeometry(4, 46, left, 18);
  const int boxWidth = std::max(150, second + right + 4);
  groupBox4_->setGeometry(976 + 150 - boxWidth, 310, boxWidth, 70);

  // Service controls, out of sight; the "Service" menu reaches them.
  comboBox1_ = new QComboBox(panel1_);
  comboBox1_->setObjectName(QStringLiteral("ComboBox1"));
  for (int chip = 0; chip < kChipCount; ++chip) comboBox1_->addItem(QString::number(chip));
  comboBox1_->setGeometry(1132, 314, 45, 21);
  button1_ = new QPushButton(QStringLiteral("Button1"), panel1_);
  button1_->setObjectName(QStringLiteral("Button1"));
  button1_->setGeometry(1160, 344, 75, 25);
  comboBox1_->hide();
  button1_->hide();

  cancelButton_ = new QToolButton(client_);
  cancelButton_->setObjectName(QStringLiteral("CancelButton"));
  cancelButton_->setToolTip(QStringLiteral("Cancel ..."));
  cancelButton_->setAutoRaise(true);
  cancelButton_->setCursor(Qt::PointingHandCursor);
  cancelButton_->setIcon(ShellIcon(QStringLiteral("cancel")));
  cancelButton_->setIconSize(QSize(32, 32));
  cancelButton_->setGeometry(1074, 367, kSpeedButton, kSpeedButton);
  cancelButton_->hide();

  progressBar_ = new QProgressBar(client_);
  progressBar_->setObjectName(QStringLiteral("ProgressBar1"));
  progressBar_->setRange(0, 100);
  progressBar_->setValue(0);
  progressBar_->setTextVisible(false);

  QStatusBar* bar = statusBar();
  bar->setObjectName(QStringLiteral("StatusBar1"));
  bar->setSizeGripEnabled(false);
  const int widths[2] = {800, 100};
  for (int i = 0; i < 2; ++i) {
    statusPanels_[i] = new QLabel(bar);
    statusPanels_[i]->setObjectName(QStringLiteral("StatusBar1Panel%1").arg(i));
    // The counters' panel grows with its text rather than cutting the last counter off.
    if (i == 0)
      statusPanels_[i]->setFixedWidth(widths[i]);
    else
      statusPanels_[i]->setMinimumWidth(widths[i]);
    bar->addWidget(statusPanels_[i]);
  }

  resize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
}

void TClipTCPForm::connectHandlers() {
  MainMenu& m = *menu_;
  connect(m.Openclip, &QAction::triggered, this, &TClipTCPForm::OpenClipButtonClick);
  connect(m.Openalpha, &QAction::triggered, this, &TClipTCPForm::OpenAlphaButtonClick);
  connect(m.Openwipe, &QAction::triggered, this, &TClipTCPForm::OpenWipeButtonClick);
  connect(m.IPaddress1, &QAction::triggered, this, &TClipTCPForm::IPaddress1Click);
  connect(m.Exit1, &QAction::triggered, this, &TClipTCPForm::Exit1Click);
  connect(m.Connect1, &QAction::triggered, this, &TClipTCPForm::Connect1ButtonClick);
  connect(m.Write1, &QAction::triggered, this, &TClipTCPForm::WriteButtonClick);
  const ChannelRadio radios[4] = {ChannelRadio::Clip1Radio, ChannelRadio::Clip2Radio,
                                  ChannelRadio::SWipeRadio, ChannelRadio::LogoRadio};
  QAction* channelItems[4] = {m.Menu_Clip1, m.Menu_Clip2, m.Menu_Superwipe, m.Menu_Logo};
  for (int i = 0; i < 4; ++i) {
    const ChannelRadio radio = radios[i];
    connect(channelItems[i], &QAction::triggered, this, [this, radio] { SelectChannel(radio); });
    connect(radios_[i], &QRadioButton::clicked, this, [this, radio] { SelectChannel(radio); });
  }
  connect(m.ChipGroup, &QActionGroup::triggered, this, [this](QAction* a) {
    comboBox1_->setCurrentIndex(a->data().toInt());
    ComboBox1Change(a->data().toInt());
  });
  connect(m.PageReadTest1, &QAction::triggered, this, &TClipTCPForm::Button1Click);
  connect(m.Deleteclip0, &QAction::triggered, this, &TClipTCPForm::Deleteclip0Click);
  connect(m.View1, &QAction::triggered, this, &TClipTCPForm::View1Click);
  connect(m.Quickformat0, &QAction::triggered, this, [this] { Format0Click(true); });
  connect(m.Format0, &QAction::triggered, this, [this] { Format0Click(false); });
  // "Defragment" and "Settings" have nothing to do.

  connect(openClipButton_, &QToolButton::clicked, this, &TClipTCPForm::OpenClipButtonClick);
  connect(openAlphaButton_, &QToolButton::clicked, this, &TClipTCPForm::OpenAlphaButtonClick);
  connect(openWipeButton_, &QToolButton::clicked, this, &TClipTCPForm::OpenWipeButtonClick);
  connect(clipPanel_, &SourcePanel::openClicked, this, &TClipTCPForm::OpenClipButtonClick);
  connect(alphaPanel_, &SourcePanel::openClicked, this, &TClipTCPForm::OpenAlphaButtonClick);
  connect(wipePanel_, &SourcePanel::openClicked, this, &TClipTCPForm::OpenWipeButtonClick);
  connect(connectButton_, &QToolButton::clicked, this, &TClipTCPForm::Connect1ButtonClick);
  connect(writeButton_, &QToolButton::clicked, this, &TClipTCPForm::WriteButtonClick);
  connect(cancelButton_, &QToolButton::clicked, this, &TClipTCPForm::CancelButtonClick);
  connect(loopCheckBox_, &QCheckBox::clicked, this, &TClipTCPForm::LoopCheckBoxClick);
  connect(trackBar_, &QSlider::valueChanged, this, &TClipTCPForm::TrackBar1Change);
  connect(comboBox1_, &QComboBox::activated, this, &TClipTCPForm::ComboBox1Change);
  connect(button1_, &QPushButton::clicked, this, &TClipTCPForm::Button1Click);
  connect(strip_->surface(), &StripSurface::pressed, this, &TClipTCPForm::PaintBox1MouseDown);
  connect(strip_->surface(), &StripSurface::moved, this, &TClipTCPForm::PaintBox1MouseMove);
  connect(map_->surface(), &MapSurface::pressed, this, &TClipTCPForm::Image3MouseDown);
}

void TClipTCPForm::FormCreate() {
  Busy busy(*this);
  const ProfileFile ini = mainIni();
  menu_->Timecode1->setChecked(ini.readInt("Options", "TimeCode", 0) != 0);
  int channel = ini.readInt("Options", "WhatMedia", 0);
  // A value no channel has would leave the window without a channel; start on "Clip 1".
  if (channel < 0 || channel > 3) channel = 0;
  selection_->Channel = channel;
  selection_->SelectStoredChannel();
  ShowSources();
}

void TClipTCPForm::Shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  sources_.DestroySources();
  if (stack_) stack_->store.ShowDisconnected();
  // The widgets outlive the store by a moment; they must not paint from it.
  strip_->detach();
  map_->surface()->detach();
  writer_.reset();
  view_.reset();
  stack_.reset();  // gives control of the device back and closes the sockets
  ProfileFile ini = mainIni();
  ini.writeInt("Options", "TimeCode", menu_->Timecode1->isChecked() ? 1 : 0);
  ini.writeString("CurrDir", "Dir", selection_->SourceFolder);
  ini.writeInt("Options", "WhatMedia", selection_->Channel);
}

void TClipTCPForm::closeEvent(QCloseEvent* event) {
  if (busy_ > 0) {
    // Closing under a running operation would pull the link from under it: stop it at its next
    // safe point as a confirmed Cancel does, and close once it has returned.
    closePending_ = true;
    op_.beginClosing();
    if (stack_) stack_->store.Running = false;
    if (view_) view_->CancelShown = false;
    event->ignore();
    return;
  }
  op_.beginClosing();
  Shutdown();
  event->accept();
}

bool TClipTCPForm::mayAct() const {
  return busy_ == 0 && stack_ != nullptr && !closePending_;
}

// ---------------------------------------------------------------- what the core reports

void TClipTCPForm::showStatus(int panel, const QString& text) {
  if (panel >= 0 && panel < 2) statusPanels_[panel]->setText(text);
}

void TClipTCPForm::showProgressMax(int maximum) {
  progressBar_->setMaximum(maximum < 0 ? 0 : maximum);
}

void TClipTCPForm::showProgress(int position) {
  progressBar_->setValue(position);
}

void TClipTCPForm::showControlsEnabled(bool enabled) {
  panel1_->setVisible(enabled);
  for (QWidget* w : std::initializer_list<QWidget*>{trackBar_, map_, strip_, clipPanel_,
                                                    alphaPanel_, wipePanel_})
    w->setEnabled(enabled);
  for (QMenu* m : {menu_->File1, menu_->Connection1, menu_->Service1})
    m->menuAction()->setEnabled(enabled);
  syncWithCore();
}

void TClipTCPForm::syncWithCore() {
  if (!stack_ || !view_) {
    cancelButton_->hide();
    return;
  }
  const ClipStore& store = stack_->store;
  cancelButton_->setVisible(view_->CancelShown);
  if (view_->CancelShown) cancelButton_->raise();
  const bool connected = store.Connected();
  writeButton_->setEnabled(connected);
  menu_->Quickformat0->setEnabled(connected);
  menu_->Format0->setEnabled(connected);
  menu_->Defragment0->setEnabled(connected);
  connectedShown_ = connected;
  const QString caption = view_->ChannelCaption.empty()
                              ? QStringLiteral(" Channel ")
                              : QString::fromStdString(view_->ChannelCaption);
  if (map_->title() != caption) map_->setTitle(caption);
}

void TClipTCPForm::terminateSoon() {
  QMetaObject::invokeMethod(this, "close", Qt::QueuedConnection);
}

// ---------------------------------------------------------------- channel and sources

void TClipTCPForm::ChannelChanged() {
  const int ch = selection_->Channel;
  MainMenu& m = *menu_;
  QAction* items[4] = {m.Menu_Clip1, m.Menu_Clip2, m.Menu_Superwipe, m.Menu_Logo};
  for (int i = 0; i < 4; ++i) items[i]->setChecked(i == ch);
  if (ch >= 0 && ch < 4) radios_[ch]->setChecked(true);
  loopCheckBox_->setVisible(ch == 0 || ch == 1);
  for (QWidget* w : std::initializer_list<QWidget*>{trackBar_, label1_, clipPanel_, alphaPanel_,
                                                    wipePanel_, openClipButton_, openAlphaButton_,
                                                    openWipeButton_, strip_, map_})
    w->show();
  for (QAction* a : {m.Openclip, m.Openalpha, m.Openwipe}) a->setVisible(true);
  if (ch == 0 || ch == 1) {
    alphaPanel_->hide();
    wipePanel_->hide();
    openAlphaButton_->hide();
    openWipeButton_->hide();
    m.Openalpha->setVisible(false);
    m.Openwipe->setVisible(false);
  } else if (ch == 3) {
    wipePanel_->hide();
    openWipeButton_->hide();
    m.Openwipe->setVisible(false);
  }
  if (stack_) stack_->store.Channel = ch;
}

void TClipTCPForm::ShowSources() {
  const SourceSelection& s = *selection_;
  const SourceAreaLayout& l = s.Layout;
  auto shifted = [](Rect r) {
    r.Left += kSourceLeft;
    return r;
  };
  clipPanel_->applyLayout(shifted(l.PanelClipContainer), l.PanelClip, l.Bevel1Top, l.ListTop);
  alphaPanel_->applyLayout(shifted(l.PanelAlphaContainer), l.PanelAlpha, l.Bevel1Top, l.ListTop);
  wipePanel_->applyLayout(shifted(l.PanelWipeContainer), l.PanelWipe, l.Bevel1Top, l.ListTop);
  const Rect track = shifted(l.TrackBar1);
  trackBar_->setGeometry(track.Left, track.Top, track.Width, 41);
  label1_->adjustSize();
  label1_->move(track.Right() + 2, track.Top + (41 - label1_->height()) / 2);

  // A failed or empty open leaves the name shown before; an open that failed clears it.
  const std::string* labels[3] = {&s.Label7, &s.Label8, &s.Label9};
  SourcePanel* panels[3] = {clipPanel_, alphaPanel_, wipePanel_};
  const std::vector<std::string>* lists[3] = {&s.ListBoxClip, &s.ListBoxAlpha, &s.ListBoxWipe};
  for (int i = 0; i < 3; ++i) {
    if (*labels[i] != shownLabels_[i] || !lists[i]->empty()) {
      panels[i]->showInfo(*labels[i], *lists[i], i == 0 ? &s.ListBoxAudio : nullptr);
      shownLabels_[i] = *labels[i];
    }
  }
  showTrackBar();
  label1_->setText(QString::fromStdString(s.Label1.empty() ? "0" : s.Label1));
  label1_->adjustSize();
  map_->surface()->resize(1025, 129);

  // The window ends 20 pixels right of the channel box.
  const int width = groupBox4_->geometry().right() + 1 + 20;
  if (client_->width() != width) resize(width, height());
}

void TClipTCPForm::ShowPreviews() {
  clipPanel_->preview()->showFrame(sources_.ClipSource.get());
  alphaPanel_->preview()->showFrame(sources_.AlphaSource.get());
  wipePanel_->preview()->showFrame(sources_.WipeSource.get());
  label1_->setText(QString::fromStdString(selection_->Label1));
  label1_->adjustSize();
  showTrackBar();
}

void TClipTCPForm::showTrackBar() {
  const QSignalBlocker quiet(trackBar_);
  const int maximum = selection_->TrackBarMax < 0 ? 0 : selection_->TrackBarMax;
  trackBar_->setRange(0, maximum);
  // A tick per frame turns into a grey band on long clips; about fifty stay readable.
  trackBar_->setTickInterval(std::max(1, (maximum + 49) / 50));
  trackBar_->setValue(selection_->TrackBarPosition);
  trackBar_->setToolTip(QString::number(selection_->TrackBarPosition));
}

void TClipTCPForm::placeBottom() {
  const int w = client_->width();
  const int h = client_->height();
  progressBar_->setGeometry(0, h - kProgressHeight, w, kProgressHeight);
  panel1_->setGeometry(0, h - kProgressHeight - kPanel1Height, w, kPanel1Height);
}

// ---------------------------------------------------------------- handlers

void TClipTCPForm::SelectChannel(ChannelRadio radio) {
  if (!mayAct()) {
    ChannelChanged();  // put the radio and menu checks back where the channel is
    return;
  }
  Busy busy(*this);
  selection_->SelectChannel(radio);
  ShowSources();
}

void TClipTCPForm::LoopCheckBoxClick() {
  if (!mayAct()) return;
  Busy busy(*this);
  selection_->LoopCheckBoxClick(loopCheckBox_->isChecked());
  ShowSources();
}

namespace {

QString dialogFolder(const std::string& folder) {
  const QString f = QString::fromStdString(folder);
  return !f.isEmpty() && QDir(f).exists() ? f : QDir::homePath();
}

}  // namespace

void TClipTCPForm::OpenFileInto(void (SourceSelection::*open)(const std::string&)) {
  if (!mayAct()) return;
  Busy busy(*this);
  const QString file = op_.askOpenFile(dialogFolder(selection_->SourceFolder));
  ((*selection_).*open)(file.toStdString());
  ShowSources();
}

void TClipTCPForm::OpenClipButtonClick() {
  OpenFileInto(&SourceSelection::OpenClipButtonClick);
}

void TClipTCPForm::OpenAlphaButtonClick() {
  OpenFileInto(&SourceSelection::OpenAlphaButtonClick);
}

void TClipTCPForm::OpenWipeButtonClick() {
  OpenFileInto(&SourceSelection::OpenWipeButtonClick);
}

void TClipTCPForm::TrackBar1Change(int position) {
  if (!mayAct()) return;
  Busy busy(*this);
  selection_->TrackBarPosition = position;
  selection_->TrackBar1Change();
}

void TClipTCPForm::Connect1ButtonClick() {
  if (!mayAct()) return;
  Busy busy(*this);
  ClipStore& store = stack_->store;
  store.Channel = selection_->Channel;
  store.SuperWipeMask = menu_->Superwipemask1->isChecked();
  store.ConnectChannel();
}

void TClipTCPForm::WriteButtonClick() {
  if (!mayAct()) return;
  Busy busy(*this);
  writer_->Timecode = menu_->Timecode1->isChecked();
  stack_->store.SuperWipeMask = menu_->Superwipemask1->isChecked();
  writer_->WriteButtonClick();
  ShowSources();
}

void TClipTCPForm::CancelButtonClick() {
  if (!stack_ || !stack_->store.Running) return;
  stack_->store.ConfirmCancel();
  syncWithCore();
}

void TClipTCPForm::ComboBox1Change(int index) {
  if (!mayAct() || index < 0 || index >= kChipCount) return;
  Busy busy(*this);
  stack_->store.SelectChip(index);
}

void TClipTCPForm::Button1Click() {
  if (!mayAct()) return;
  Busy busy(*this);
  FlashPort& flash = stack_->store.flash();
  std::vector<std::uint8_t> scratch(kPageSize);
  flash.BeginFlashAccess();
  flash.ReadFlashPage(scratch.data(), 769, 1);
  flash.EndFlashAccess();
}

void TClipTCPForm::IPaddress1Click() {
  if (!mayAct()) return;
  TIPAddressForm form(op_, this);
  form.exec();
}

void TClipTCPForm::Exit1Click() {
  close();
}

void TClipTCPForm::Deleteclip0Click() {
  if (!mayAct()) return;
  Busy busy(*this);
  stack_->store.DeleteFromChannel(view_->SelectedClipNumber());
}

void TClipTCPForm::View1Click() {
  if (!mayAct()) return;
  Busy busy(*this);
  ClipStore& store = stack_->store;
  const int n = view_->SelectedClipNumber();
  store.DisableControls();
  if (n >= 0) ViewClip(n);
  store.EnableControls();
}

void TClipTCPForm::ViewClip(int n) {
  ClipStore& store = stack_->store;
  if (!store.ReadClipBack(n)) return;
  // The read-back is over: its Cancel offer and progress title go before the view opens.
  store.EnableControls();
  TViewForm::Services services;
  services.op = &op_;
  services.askSaveFile = [this] {
    return op_.askSaveFile(QStringLiteral("AVI (*.avi)"), QStringLiteral("avi"));
  };
  // The full-colour recovery reads every chip of the channel back, the shown one included.
  services.saveFull = [this, n](const QString& target, Operator& op) {
    FullExport full(stack_->store, op);
    return full.Export(Channel(), n, target.toStdString());
  };
  TViewForm form(std::move(services), Channel() == 3, this);
  form.Tag = store.CurrentChip * 256 + n;
  form.setWindowTitle(QStringLiteral("Clip-%1  Chip-%2").arg(n + 1).arg(store.CurrentChip + 1));
  form.exec();
}

void TClipTCPForm::Format0Click(bool quick) {
  if (!mayAct()) return;
  Busy busy(*this);
  stack_->store.FormatChannel(quick);
}

void TClipTCPForm::PaintBox1MouseDown(Qt::MouseButton button, QPoint at, QPoint global) {
  if (!mayAct()) return;
  Busy busy(*this);
  view_->PaintBox1MouseDown(toStoreButton(button), at.x(), at.y());
  if (button == Qt::RightButton && stack_->store.Connected()) menu_->PopupMenu1->popup(global);
}

void TClipTCPForm::PaintBox1MouseMove(QPoint at) {
  if (!view_) return;
  const bool onItem = view_->Timeline.ItemAt(at.x(), at.y()) != nullptr;
  strip_->surface()->setCursor(onItem ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

void TClipTCPForm::Image3MouseDown(Qt::MouseButton button, QPoint at, QPoint global) {
  if (!mayAct()) return;
  Busy busy(*this);
  view_->Image3MouseDown(toStoreButton(button), at.x(), at.y());
  if (button == Qt::RightButton && stack_->store.Connected()) menu_->PopupMenu3->popup(global);
}

}  // namespace orvana
