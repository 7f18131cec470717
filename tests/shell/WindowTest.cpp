// The operator's window driven as an operator would, against a simulated device on loopback:
// controls found by name, clicks and mouse presses as real events, dialogs answered by script.
#include <gtest/gtest.h>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <memory>

#include "common/DeviceEndpoint.h"
#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "common/ScriptedOperator.h"
#include "devsim/DeviceSimulator.h"
#include "link/TimingTable.h"
#include "link/ZT_MEM.h"
#include "media/AviDecode.h"
#include "media/AviFixture.h"
#include "media/WriteProcess.h"
#include "shell/MainWindow.h"
#include "store/ChannelView.h"
#include "store/StoreStack.h"
#include "support/TempHome.h"
#include "view/ViewForm.h"
#include "write/WriteRig.h"

namespace orvana {
namespace {

QApplication& app() {
  static int argc = 1;
  static char name[] = "window_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* instance = [] {
    QApplication::setAttribute(Qt::AA_Use96Dpi);
    return new QApplication(argc, argv);
  }();
  return *instance;
}

ProfileFile ini() {
  return ProfileFile(paths::settingsFile(kMainIni));
}

// A short clip with sound; three frames keep a write to a fraction of a second.
std::string ShortClip(int frames = 3) {
  test::AviSpec fixture;
  fixture.Frames = frames;
  fixture.AudioRate = 48000;
  return test::Fixtures::Get("window" + std::to_string(frames), fixture).string();
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app();
    ResetTimingTable();
    devsim::DeviceSimulatorOptions options;
    options.replyPort = hostPort_;
    options.recordTraffic = false;
    sim_ = std::make_unique<devsim::DeviceSimulator>(options);
    ASSERT_TRUE(sim_->start()) << sim_->error();
    test::SeedFormatted(*sim_, ChannelChips(0));
  }
  void TearDown() override {
    if (window_) {
      window_->close();
      window_.reset();
    }
    sim_.reset();
  }

  TClipTCPForm& open() {
    window_ = std::make_unique<TClipTCPForm>(DeviceEndpoint{"127.0.0.1", sim_->port(), hostPort_},
                                             &answers_);
    window_->writer().SettleMs = 0;
    window_->show();
    return *window_;
  }
  template <class T>
  T* find(const char* name) {
    T* w = window_->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  QString status(int panel) {
    return find<QLabel>(panel == 0 ? "StatusBar1Panel0" : "StatusBar1Panel1")->text();
  }
  ClipStore& store() { return window_->stack()->store; }
  bool shown(const char* name) { return find<QWidget>(name)->isVisibleTo(window_.get()); }
  // Writes the short clip as clip `number` of "Clip 1" through the Write button.
  void WriteThroughButton(const std::string& number, const std::string& comment) {
    answers_.promptAnswers = {number, comment};
    QTest::mouseClick(find<QToolButton>("WriteButton"), Qt::LeftButton);
  }
  void ClickStrip(Qt::MouseButton button, int tile) {
    QTest::mouseClick(find<QWidget>("PaintBox1"), button, {}, QPoint(16 + 110 * tile + 40, 50));
  }

  ScriptedOperator answers_;
  test::HostSocket hostSocket_;  // every window's link receives on it
  std::uint16_t hostPort_ = hostSocket_.port();
  std::unique_ptr<devsim::DeviceSimulator> sim_;
  std::unique_ptr<TClipTCPForm> window_;
  test::TempHome home_;
};

TEST_F(WindowTest, FirstStartWithoutSettingsConnectsClipOne) {
  TClipTCPForm& w = open();
  EXPECT_EQ(w.windowTitle(), QStringLiteral("Orvana - 127.0.0.1:%1").arg(sim_->port()));
  EXPECT_TRUE(find<QRadioButton>("Clip1Radio")->isChecked());
  EXPECT_TRUE(find<QAction>("Menu_Clip1")->isChecked());
  EXPECT_FALSE(find<QAction>("Timecode1")->isChecked());
  EXPECT_TRUE(find<QCheckBox>("LoopCheckBox")->isChecked());
  EXPECT_TRUE(shown("LoopCheckBox"));
  EXPECT_FALSE(shown("PanelAlphaContainer"));
  EXPECT_FALSE(shown("PanelWipeContainer"));
  EXPECT_EQ(status(0), "Connected");
  EXPECT_EQ(find<QGroupBox>("GroupBox1")->title(), "Chip 0");
  EXPECT_EQ(find<QWidget>("Image3")->toolTip(), "99% (8186 frames free)");
  EXPECT_TRUE(find<QToolButton>("WriteButton")->isEnabled());
  EXPECT_TRUE(find<QAction>("Quickformat0")->isEnabled());
  EXPECT_FALSE(find<QAction>("Defragment0")->isVisible());
  EXPECT_FALSE(shown("CancelButton"));
  EXPECT_EQ(w.width(), 1146);  // 20 pixels right of the channel box
  EXPECT_EQ(window_->selection().SourceFolder, "C:\\");
}

TEST_F(WindowTest, ShutdownWritesTheThreeKeysAndTheNextStartReopensTheChannel) {
  TClipTCPForm& w = open();
  find<QAction>("Timecode1")->trigger();
  find<QAction>("Menu_Logo")->trigger();
  w.close();
  window_.reset();
  EXPECT_EQ(ini().readInt("Options", "TimeCode", -1), 1);
  EXPECT_EQ(ini().readInt("Options", "WhatMedia", -1), 3);
  EXPECT_EQ(ini().readString("CurrDir", "Dir", "?"), "C:\\");
  // Nothing of an interrupted write is claimed by a plain start and stop.
  EXPECT_EQ(ini().readString("Safe write", "Active", "absent"), "absent");

  open();
  EXPECT_TRUE(find<QRadioButton>("LogoRadio")->isChecked());
  EXPECT_TRUE(find<QAction>("Timecode1")->isChecked());
  EXPECT_EQ(find<QGroupBox>("GroupBox1")->title(), "Chip 8");
}

TEST_F(WindowTest, AChannelOutsideTheFourStartsOnClipOne) {
  ini().writeInt("Options", "WhatMedia", 7);
  open();
  EXPECT_TRUE(find<QRadioButton>("Clip1Radio")->isChecked());
  EXPECT_EQ(window_->Channel(), 0);
}

TEST_F(WindowTest, ChannelLayouts) {
  open();
  find<QAction>("Menu_Logo")->trigger();
  EXPECT_TRUE(find<QRadioButton>("LogoRadio")->isChecked());
  EXPECT_FALSE(shown("PanelWipeContainer"));
  EXPECT_TRUE(shown("PanelAlphaContainer"));
  EXPECT_FALSE(shown("OpenWipeButton"));
  EXPECT_FALSE(find<QAction>("Openwipe")->isVisible());
  EXPECT_FALSE(shown("LoopCheckBox"));
  EXPECT_EQ(find<QWidget>("PanelClip")->size(), QSize(80, 80));
  EXPECT_EQ(find<QWidget>("PanelAlpha")->size(), QSize(80, 80));
  EXPECT_EQ(find<QSlider>("TrackBar1")->width(), 640);

  QTest::mouseClick(find<QRadioButton>("SWipeRadio"), Qt::LeftButton);
  EXPECT_TRUE(find<QAction>("Menu_Superwipe")->isChecked());
  EXPECT_TRUE(shown("PanelAlphaContainer"));
  EXPECT_TRUE(shown("PanelWipeContainer"));
  EXPECT_EQ(find<QWidget>("PanelClip")->size(), QSize(320, 180));
  EXPECT_EQ(find<QSlider>("TrackBar1")->width(), 914);

  find<QAction>("Menu_Clip1")->trigger();
  EXPECT_FALSE(shown("PanelAlphaContainer"));
  EXPECT_FALSE(shown("PanelWipeContainer"));
  EXPECT_TRUE(shown("LoopCheckBox"));
  EXPECT_EQ(find<QSlider>("TrackBar1")->width(), 314);
  EXPECT_EQ(find<QGroupBox>("GroupBox1")->title(), "Chip 0");
}

TEST_F(WindowTest, LoopReopensTheClipAndRecountsItsFrames) {
  const std::string clip = ShortClip(10);
  ini().writeString("CurrDir", "ClipFile", clip);
  open();
  EXPECT_EQ(find<QLabel>("Label7")->toolTip().toStdString(), clip);
  EXPECT_EQ(window_->selection().FramesToWrite, 60);  // looped to whole repeats past 50
  EXPECT_EQ(find<QListWidget>("ListBoxClip")->item(1)->text(), "Length: 10 frames, 0 sec");
  EXPECT_EQ(find<QListWidget>("ListBoxAudio")->item(0)->text(), "Rate: 48000 hz");
  EXPECT_EQ(find<QSlider>("TrackBar1")->maximum(), 9);
  EXPECT_EQ(find<QLabel>("Label1")->text(), "4");
  EXPECT_FALSE(find<QWidget>("PanelClip")->grab().toImage().isNull());

  QTest::mouseClick(find<QCheckBox>("LoopCheckBox"), Qt::LeftButton);
  EXPECT_EQ(window_->selection().FramesToWrite, 10);
  EXPECT_EQ(ini().readString("CurrDir", "ClipFile", ""), clip);
}

TEST_F(WindowTest, ARadioClickWithTheLinkDownLaysOutWithoutTouchingTheStatus) {
  sim_->setSilent(true);
  answers_.confirmAnswers.clear();
  open();
  EXPECT_EQ(status(0), "");
  EXPECT_FALSE(find<QToolButton>("WriteButton")->isEnabled());
  QTest::mouseClick(find<QRadioButton>("SWipeRadio"), Qt::LeftButton);
  EXPECT_EQ(status(0), "");
  EXPECT_TRUE(shown("PanelWipeContainer"));
  // Clicks on the strip and the map do nothing while the link is down.
  ClickStrip(Qt::RightButton, 0);
  EXPECT_FALSE(find<QMenu>("PopupMenu1")->isVisible());
  // The page read test says what a failed read says.
  find<QAction>("PageReadTest1")->trigger();
  ASSERT_FALSE(answers_.messages.empty());
  EXPECT_EQ(answers_.messages.back(), "Read error. Try again.");
  // Shutting down without a device still writes the three keys.
  window_->close();
  window_.reset();
  EXPECT_EQ(ini().readInt("Options", "WhatMedia", -1), 2);
  EXPECT_EQ(ini().readInt("Options", "TimeCode", -1), 0);
  EXPECT_EQ(ini().readString("CurrDir", "Dir", "?"), "C:\\");
}

TEST_F(WindowTest, TheServiceMenuReachesEveryChip) {
  test::SeedFormatted(*sim_, std::vector<int>{11});
  open();
  find<QAction>("Chip1_11")->trigger();
  EXPECT_EQ(find<QGroupBox>("GroupBox1")->title(), "Chip 11");
  EXPECT_EQ(status(0), "Connected");
  EXPECT_EQ(store().CurrentChip, 11);
}

TEST_F(WindowTest, TheAddressDialogStoresTheAddressAndEndsTheProgram) {
  open();
  QTimer::singleShot(0, [] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    const char* fields[] = {"Edit1", "Edit2", "Edit3", "Edit4"};
    const char* values[] = {"127", "0", "0", "9"};
    for (int i = 0; i < 4; ++i)
      dialog->findChild<QLineEdit*>(QString::fromLatin1(fields[i]))->setText(values[i]);
    dialog->findChild<QPushButton*>("Button1")->click();
  });
  find<QAction>("IPaddress1")->trigger();
  EXPECT_EQ(answers_.messages.back(), "Application will be terminated.");
  EXPECT_TRUE(answers_.terminateRequested);
  QCoreApplication::processEvents();  // the close it asked for
  EXPECT_FALSE(window_->isVisible());
  EXPECT_EQ(ReadDeviceAddress(), "127.0.0.9");
  EXPECT_EQ(ini().readInt("Options", "WhatMedia", -1), 0);
}

TEST(WindowCaption, NamesTheAddressTheLinkIsBuiltFor) {
  test::TempHome home;
  ::unsetenv("ORVANA_DEVICE");
  // No itf_ip.ini: the default address, and the caption names it.
  EXPECT_EQ(resolveDeviceEndpoint().address, kDefaultDeviceAddress);
  EXPECT_EQ(MainWindowCaption(kDefaultDeviceAddress, kDevicePort),
            QStringLiteral("Orvana - ") + QString::fromLatin1(kDefaultDeviceAddress));
  // With one: its address; another port than the usual one is named too.
  ProfileFile(paths::settingsFile(kAddressIni)).writeString("IP Address", "Addr", "127.0.0.7");
  const DeviceEndpoint ep = resolveDeviceEndpoint();
  EXPECT_EQ(MainWindowCaption(ep.address, ep.port), "Orvana - 127.0.0.7");
  EXPECT_EQ(MainWindowCaption("127.0.0.1", 23000), "Orvana - 127.0.0.1:23000");
  ::setenv("ORVANA_DEVICE", "127.0.0.1", 1);
}

TEST_F(WindowTest, WriteSelectDeleteAndQuickFormatThroughTheWindow) {
  ini().writeString("CurrDir", "ClipFile", ShortClip());
  open();
  QTest::mouseClick(find<QCheckBox>("LoopCheckBox"), Qt::LeftButton);  // hold the last frame
  WriteThroughButton("5", "Window");
  ASSERT_EQ(answers_.messages, std::vector<std::string>{});
  ASSERT_EQ(window_->view()->Timeline.count(), 1);
  EXPECT_EQ(window_->view()->Timeline.item(0).Index, 4);
  EXPECT_EQ(status(0), "Connected");
  EXPECT_EQ(answers_.title, "Vennor");
  EXPECT_TRUE(shown("Panel1"));
  EXPECT_FALSE(shown("CancelButton"));
  EXPECT_EQ(ini().readInt("Safe write", "Active", -1), 0);

  // A left click selects the tile, cues its clip and greys its cells.
  sim_->setRegister(static_cast<std::size_t>(ClipSelectOffset(0)), 0);
  ClickStrip(Qt::LeftButton, 0);
  EXPECT_EQ(window_->view()->Timeline.SelectedIndex(), 0);
  EXPECT_EQ(sim_->reg(static_cast<std::size_t>(ClipSelectOffset(0))), 4);
  EXPECT_EQ(store().SelectedClip[0], 4);
  // A second click on it deselects it.
  ClickStrip(Qt::LeftButton, 0);
  EXPECT_EQ(window_->view()->Timeline.SelectedIndex(), -1);

  // The popup on the strip deletes it from both chips of the channel.
  ClickStrip(Qt::RightButton, 0);
  EXPECT_TRUE(find<QMenu>("PopupMenu1")->isVisible());
  find<QMenu>("PopupMenu1")->hide();
  answers_.confirmAnswers = {true};
  find<QAction>("Deleteclip0")->trigger();
  EXPECT_EQ(window_->view()->Timeline.count(), 0);
  EXPECT_EQ(find<QGroupBox>("GroupBox1")->title(), "Chip 0");
  EXPECT_EQ(answers_.questions.back(), "Are you shure to delete clip?");

  // The map's popup quick-formats the channel.
  QTest::mouseClick(find<QWidget>("Image3"), Qt::RightButton, {}, QPoint(500, 60));
  EXPECT_TRUE(find<QMenu>("PopupMenu3")->isVisible());
  find<QMenu>("PopupMenu3")->hide();
  answers_.confirmAnswers = {true};
  find<QAction>("Quickformat0")->trigger();
  EXPECT_EQ(answers_.questions.back(), "Are you shure to format channel?");
  EXPECT_EQ(status(0), "Connected");
  EXPECT_EQ(find<QWidget>("Image3")->toolTip(), "99% (8186 frames free)");
}

TEST_F(WindowTest, CancelAnsweredNoLetsTheWriteFinishAndYesStopsItResumably) {
  ini().writeString("CurrDir", "ClipFile", ShortClip());
  open();
  QTest::mouseClick(find<QCheckBox>("LoopCheckBox"), Qt::LeftButton);
  int clicks = 0;
  answers_.onProcessEvents = [&] {
    QToolButton* cancel = window_->findChild<QToolButton*>("CancelButton");
    if (clicks == 0 && cancel->isVisible()) {
      ++clicks;
      QTest::mouseClick(cancel, Qt::LeftButton);
    }
  };
  answers_.confirmAnswers = {false};
  WriteThroughButton("1", "No");
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(answers_.questions.back(), "Are you shure to cancel?");
  EXPECT_EQ(window_->view()->Timeline.count(), 1);
  EXPECT_EQ(ini().readInt("Safe write", "Active", -1), 0);

  clicks = 0;
  answers_.confirmAnswers = {true};
  WriteThroughButton("2", "Yes");
  EXPECT_EQ(answers_.messages.back(), "Process canceled. You can continue later.");
  EXPECT_EQ(window_->view()->Timeline.count(), 1);
  EXPECT_EQ(ini().readInt("Safe write", "Active", -1), 1);
  EXPECT_TRUE(shown("Panel1"));
}

TEST_F(WindowTest, ClosingDuringAWriteStopsItAtASafePointAndShutsDown) {
  ini().writeString("CurrDir", "ClipFile", ShortClip());
  open();
  QTest::mouseClick(find<QCheckBox>("LoopCheckBox"), Qt::LeftButton);
  bool closed = false;
  answers_.onProcessEvents = [&] {
    // A few frames in, so the resume file has been written.
    if (!closed && window_->writer().Timings.FramesPlaced >= 5) {
      closed = true;
      window_->close();
    }
  };
  WriteThroughButton("3", "Closing");
  ASSERT_TRUE(closed);
  // The close went through once the write had stopped: the keys of a shutdown are there and
  // the write can be continued.
  QCoreApplication::processEvents();
  EXPECT_FALSE(window_->isVisible());
  EXPECT_EQ(window_->stack(), nullptr);
  EXPECT_EQ(ini().readInt("Options", "WhatMedia", -1), 0);
  EXPECT_EQ(ini().readInt("Safe write", "Active", -1), 1);
  EXPECT_TRUE(std::filesystem::exists(paths::resumeFile()));
}

}  // namespace
}  // namespace orvana

namespace orvana {
namespace {

TEST_F(WindowTest, ViewReadsTheSelectedClipBackAndShowsItUntilClosed) {
  ini().writeString("CurrDir", "ClipFile", ShortClip());
  open();
  WriteThroughButton("5", "Seen");
  ASSERT_EQ(window_->view()->Timeline.count(), 1);
  ClickStrip(Qt::LeftButton, 0);
  const auto file = paths::workFolder() / "4.0";
  bool seen = false;
  // The view is modal: it is looked at and closed from the event loop it runs, once it shows
  // (the read-back before it pumps events too).
  QTimer poll;
  int polls = 0;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* form = window_->findChild<TViewForm*>();
    if (++polls > 6000) poll.stop();
    if (form == nullptr || !form->isVisible()) return;
    poll.stop();
    seen = true;
    EXPECT_EQ(form->windowTitle(), "Clip-5  Chip-1");
    // The read-back's progress title and Cancel offer are gone once the view is up.
    EXPECT_EQ(answers_.title, "Vennor");
    EXPECT_FALSE(shown("CancelButton"));
    EXPECT_TRUE(std::filesystem::exists(file));
    auto* track = form->findChild<QSlider*>(QStringLiteral("TrackBar1"));
    EXPECT_EQ(track->maximum(), store().ClipDirectory[4].FrameCount - 1);
    EXPECT_TRUE(form->findChild<QPlainTextEdit*>(QStringLiteral("Memo1"))
                    ->toPlainText()
                    .endsWith(" - Seen"));
    ClipPictures expected;
    QImage frame;
    EXPECT_TRUE(expected.Open(file, 0));
    EXPECT_TRUE(expected.DecodeFrame(1, frame, nullptr));
    track->setValue(1);
    EXPECT_EQ(form->Picture(), ShownPicture(frame, QSize(960, 540)));
    form->close();
  });
  poll.start(5);
  find<QAction>("View1")->trigger();
  EXPECT_TRUE(seen);
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_EQ(answers_.messages, std::vector<std::string>{});
  EXPECT_TRUE(find<QToolButton>("WriteButton")->isEnabled());
}

TEST_F(WindowTest, SaveFullVideoExportsTheWholeChannelFromTheViewAndKeepsTheViewedChip) {
  ini().writeString("CurrDir", "ClipFile", ShortClip());
  open();
  WriteThroughButton("5", "Full");
  ASSERT_EQ(window_->view()->Timeline.count(), 1);
  ClickStrip(Qt::LeftButton, 0);
  const int viewedChip = store().CurrentChip;
  const int frames = store().ClipDirectory[4].FrameCount;
  const auto target = home_.path() / "exports" / "full.avi";
  std::filesystem::create_directories(target.parent_path());
  window_->op().fileAnswers = {target.string()};
  bool exported = false;
  QTimer poll;
  int polls = 0;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* form = window_->findChild<TViewForm*>();
    if (++polls > 6000) poll.stop();
    if (form == nullptr || !form->isVisible()) return;
    poll.stop();
    auto* item = form->findChild<QAction*>(QStringLiteral("SaveFullVideo1"));
    EXPECT_NE(item, nullptr);
    EXPECT_EQ(item->text(), "Save full video...");
    item->trigger();  // runs the read-back of both chips and the export, then returns
    exported = std::filesystem::exists(target);
    EXPECT_EQ(store().CurrentChip, viewedChip) << "the viewed chip is selected again";
    auto* bar = form->findChild<QProgressBar*>(QStringLiteral("ProgressBar1"));
    EXPECT_EQ(bar->value(), bar->maximum());
    form->close();
  });
  poll.start(5);
  find<QAction>("View1")->trigger();
  ASSERT_TRUE(exported);
  EXPECT_EQ(answers_.messages, std::vector<std::string>{});
  const test::DecodedAvi avi = test::DecodeAvi(target);
  ASSERT_EQ(avi.Error, "");
  ASSERT_EQ(avi.Videos.size(), 1u);
  EXPECT_EQ(avi.Videos[0].Codec, "utvideo");
  EXPECT_EQ(avi.Videos[0].Width, 1920);
  EXPECT_EQ(avi.Videos[0].Height, 1080);
  EXPECT_EQ(int(avi.Videos[0].Frames.size()), frames);
  EXPECT_EQ(avi.AudioChannels, 2);
  EXPECT_EQ(avi.Samples.size(), std::size_t(2 * 1920 * frames));
  // Only the export is left: the read-back's clip files are gone.
  std::vector<std::string> left;
  for (const auto& e : std::filesystem::directory_iterator(paths::workFolder()))
    left.push_back(e.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{});
}

}  // namespace
}  // namespace orvana
