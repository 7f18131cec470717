// The view window on clip files in the work folder, as a real window on the offscreen platform.
#include "view/ViewForm.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSlider>
#include <QTest>

#include <cstring>

#include "common/Paths.h"
#include "common/ScriptedOperator.h"
#include "media/AviDecode.h"
#include "media/ClipFileFixture.h"
#include "support/TempHome.h"

namespace orvana {
namespace {

QApplication& app() {
  static int argc = 1;
  static char name[] = "view_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* instance = [] {
    QApplication::setAttribute(Qt::AA_Use96Dpi);
    return new QApplication(argc, argv);
  }();
  return *instance;
}

// Frame f of the fixture: stored row r of chip 0 steps up by f + 1 per byte code pair.
void FillFrame(int f, std::uint8_t* frame) {
  for (int r = 0; r < 1080; ++r) std::memset(test::StoredRow(frame, r) + 1, 0x33, 480);
  for (int s = 0; s < 1920; ++s)
    test::PutLeadSample(frame, s, static_cast<std::int16_t>(f * 100 + s));
  // A frame-dependent row so that frames differ in the picture.
  std::memset(test::StoredRow(frame, 10) + 1, 0, 480);
  std::memset(test::StoredRow(frame, 10) + 1, 0x33, static_cast<std::size_t>(f + 1));
}

class ViewFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app();
    std::filesystem::create_directories(paths::workFolder());
  }
  std::unique_ptr<TViewForm> Open(int chip, int slot, const test::ClipFileShape& shape,
                                  bool logo = false, std::filesystem::path saveAs = {}) {
    EXPECT_TRUE(test::WriteClipFile(
        paths::workFolder() / (std::to_string(slot) + "." + std::to_string(chip)), shape,
        FillFrame));
    TViewForm::Services services;
    services.op = &answers_;
    services.askSaveFile = [saveAs] { return QString::fromStdString(saveAs.string()); };
    auto form = std::make_unique<TViewForm>(std::move(services), logo, nullptr);
    form->Tag = chip * 256 + slot;
    form->show();
    return form;
  }
  template <class T>
  T* find(TViewForm& form, const char* name) {
    T* w = form.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  test::TempHome home_;
  ScriptedOperator answers_;
};

TEST_F(ViewFormTest, ShowsFramesOfTheClipFileAndDeletesItWhenClosed) {
  test::ClipFileShape shape;
  shape.Slot = 4;
  shape.Frames = 3;
  shape.Comment = std::string(49, 'k');
  auto form = Open(0, 4, shape);
  const auto file = paths::workFolder() / "4.0";
  EXPECT_EQ(form->ClipFilePath(), file);
  EXPECT_EQ(find<QSlider>(*form, "TrackBar1")->maximum(), 2);
  EXPECT_EQ(find<QPlainTextEdit>(*form, "Memo1")->toPlainText().toStdString(),
            std::string(49, 'k'));
  EXPECT_EQ(find<QWidget>(*form, "Image1")->size(), QSize(960, 540));

  ClipPictures expected;
  ASSERT_TRUE(expected.Open(file, 0));
  QImage frame;
  ASSERT_TRUE(expected.DecodeFrame(0, frame, nullptr));
  EXPECT_EQ(form->Picture(), ShownPicture(frame, QSize(960, 540)));

  find<QSlider>(*form, "TrackBar1")->setValue(2);
  EXPECT_EQ(find<QLabel>(*form, "Label1")->text(), "2");
  ASSERT_TRUE(expected.DecodeFrame(2, frame, nullptr));
  EXPECT_EQ(form->Picture(), ShownPicture(frame, QSize(960, 540)));
  EXPECT_EQ(form->Picture().pixel(900, 10) & 0xFFFFFF, 0x161616u);  // 16 + 6 steps of row 10

  form->close();
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_TRUE(answers_.messages.empty());
}

TEST_F(ViewFormTest, SaveVideoShowsEveryFrameAndLeavesOnlyTheAvi) {
  test::ClipFileShape shape;
  shape.Slot = 1;
  shape.Frames = 3;
  const auto target = home_.path() / "out.avi";
  auto form = Open(0, 1, shape, false, target);
  find<QMenu>(*form, "PopupMenu1")->actions().front()->trigger();
  EXPECT_TRUE(answers_.messages.empty()) << answers_.messages.front();
  // The export moved the track bar through every frame and shows the last one.
  EXPECT_EQ(find<QSlider>(*form, "TrackBar1")->value(), 2);
  EXPECT_EQ(find<QLabel>(*form, "Label1")->text(), "2");
  EXPECT_EQ(find<QProgressBar>(*form, "ProgressBar1")->maximum(), 2);
  EXPECT_EQ(find<QProgressBar>(*form, "ProgressBar1")->value(), 2);
  ClipPictures expected;
  QImage frame;
  ASSERT_TRUE(expected.Open(form->ClipFilePath(), 0));
  ASSERT_TRUE(expected.DecodeFrame(2, frame, nullptr));
  EXPECT_EQ(form->Picture(), ShownPicture(frame, QSize(960, 540)));

  const test::DecodedAvi avi = test::DecodeAvi(target);
  ASSERT_EQ(avi.Error, "");
  ASSERT_EQ(avi.Videos.size(), 1u);
  EXPECT_EQ(avi.Videos[0].Frames.size(), 3u);
  EXPECT_EQ(avi.Videos[0].Width, 960);
  EXPECT_EQ(avi.Samples.size(), 3u * 1920 * 2);
  // Only the viewed clip's file is left in the work folder, and it goes with the window.
  std::vector<std::string> left;
  for (const auto& e : std::filesystem::directory_iterator(paths::workFolder()))
    left.push_back(e.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{"1.0"});
  form->close();
  EXPECT_TRUE(std::filesystem::is_empty(paths::workFolder()));
}

TEST_F(ViewFormTest, LogoLayoutShowsTheTopLeftOfTheFrame) {
  test::ClipFileShape shape;
  auto form = Open(1, 0, shape, true);
  EXPECT_EQ(find<QWidget>(*form, "Image1")->size(), QSize(240, 240));
  EXPECT_EQ(form->Picture().size(), QSize(240, 240));
  // The rows rise from the colour start value (chip 1) one step per sample.
  EXPECT_EQ(form->Picture().pixel(0, 0) & 0xFFFFFF, 0x818181u);
  EXPECT_EQ(form->Picture().pixel(239, 0) & 0xFF, 255u);
  // Window size follows the picture: 60 wider outside, the memo below the track bar.
  EXPECT_EQ(find<QPlainTextEdit>(*form, "Memo1")->width(), 252);
  form->close();
}

TEST_F(ViewFormTest, ADamagedClipFileShowsBlackWithAMessage) {
  test::ClipFileShape shape;
  shape.Frames = 0;
  auto form = Open(2, 7, shape);
  ASSERT_EQ(answers_.messages.size(), 1u);
  EXPECT_NE(answers_.messages[0].find("holds no frames"), std::string::npos);
  EXPECT_EQ(find<QSlider>(*form, "TrackBar1")->maximum(), 0);
  EXPECT_EQ(form->Picture().pixel(100, 100) & 0xFFFFFF, 0u);
  EXPECT_FALSE(find<QMenu>(*form, "PopupMenu1")->actions().front()->isEnabled());
  form->close();
  EXPECT_FALSE(std::filesystem::exists(paths::workFolder() / "7.2"));
}

}  // namespace
}  // namespace orvana
