#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include <QApplication>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QValidator>

#include "common/DeviceEndpoint.h"
#include "common/Paths.h"
#include "common/ProfileFile.h"
#include "common/ScriptedOperator.h"
#include "shell/TCWForm.h"
#include "shell/TIPAddressForm.h"
#include "support/TempHome.h"

namespace orvana {
namespace {

// Built on first use only, so the other tests in this binary (one of them forks) run without it.
void EnsureApplication() {
  static int argc = 1;
  static char name[] = "shell_tests";
  static char* argv[] = {name, nullptr};
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // Never destroyed: tearing Qt down among the exit handlers crashes in its input devices.
  static QApplication* app = new QApplication(argc, argv);
  (void)app;
}

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override { EnsureApplication(); }

  test::TempHome home_;
  ScriptedOperator op_;
};

using Fields = std::array<std::string, 4>;

template <typename T>
T* Find(QWidget& dialog, const char* name) {
  T* child = dialog.findChild<T*>(QString::fromLatin1(name));
  EXPECT_NE(child, nullptr) << name;
  return child;
}

Fields FieldsOf(QWidget& dialog) {
  Fields out;
  for (int i = 0; i < 4; ++i) {
    const std::string name = "Edit" + std::to_string(i + 1);
    QLineEdit* edit = Find<QLineEdit>(dialog, name.c_str());
    if (edit) out[static_cast<std::size_t>(i)] = edit->text().toStdString();
  }
  return out;
}

void StoreAddress(const std::string& text) {
  ASSERT_TRUE(
      ProfileFile(paths::settingsFile(kAddressIni)).writeString("IP Address", "Addr", text));
}

// Key presses as a person would type them; the line edit's validator decides what lands.
void Type(QLineEdit* edit, const QString& text) {
  for (QChar ch : text) {
    const int key = ch.toUpper().unicode();
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(ch));
    QApplication::sendEvent(edit, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, QString(ch));
    QApplication::sendEvent(edit, &release);
  }
}

QPoint Centre(const QRect& r) {
  return r.topLeft() + QPoint(r.width() / 2, r.height() / 2);
}

void ExpectNear(const QPoint& actual, const QPoint& expected) {
  EXPECT_LE((actual - expected).manhattanLength(), 4)
      << "at " << actual.x() << "," << actual.y() << " expected " << expected.x() << ","
      << expected.y();
}

// ---------------------------------------------------------------------------------------------
// IP address dialog

TEST_F(DialogTest, AddressFormLayout) {
  TIPAddressForm form(op_);
  EXPECT_EQ(form.windowTitle(), "IP address");
  EXPECT_EQ(form.size(), QSize(358, 166));
  EXPECT_EQ(form.minimumSize(), form.maximumSize());  // not resizable
  EXPECT_EQ(form.font().family(), "Tahoma");
  EXPECT_EQ(form.font().pointSize(), 8);

  QGroupBox* group = Find<QGroupBox>(form, "GroupBox1");
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(group->geometry(), QRect(72, 32, 217, 73));
  EXPECT_TRUE(group->title().isEmpty());

  const int lefts[4] = {16, 63, 110, 157};
  for (int i = 0; i < 4; ++i) {
    const std::string name = "Edit" + std::to_string(i + 1);
    QLineEdit* edit = Find<QLineEdit>(form, name.c_str());
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->parentWidget(), group) << name;
    EXPECT_EQ(edit->geometry(), QRect(lefts[i], 24, 41, 24)) << name;
    EXPECT_EQ(edit->font().pointSize(), 10) << name;
  }

  QPushButton* ok = Find<QPushButton>(form, "Button1");
  ASSERT_NE(ok, nullptr);
  EXPECT_EQ(ok->text(), "OK");
  EXPECT_EQ(ok->geometry(), QRect(135, 120, 75, 25));
}

TEST_F(DialogTest, AddressFormShowsTheDefaultWhenNothingIsStored) {
  ASSERT_FALSE(std::filesystem::exists(paths::settingsFile(kAddressIni)));
  TIPAddressForm form(op_);
  EXPECT_EQ(FieldsOf(form), (Fields{"192", "168", "10", "200"}));
}

TEST_F(DialogTest, AddressFormReadsTheStoredAddressLikeInetAddr) {
  struct Case {
    std::string stored;
    Fields shown;
  };
  const std::vector<Case> cases = {
      {"10.0.0.7", {"10", "0", "0", "7"}},
      {"127.1", {"127", "0", "0", "1"}},  // short classic forms are still addresses
      {"1.2.3", {"1", "2", "0", "3"}},
      {"0x7f.0.0.1", {"127", "0", "0", "1"}},
      {"010.0.0.1", {"8", "0", "0", "1"}},  // a leading zero means octal
      {"not an address", {"255", "255", "255", "255"}},
      {"300.1.1.1", {"255", "255", "255", "255"}},
      {"1.2.3.4.5", {"255", "255", "255", "255"}},
      {"", {"255", "255", "255", "255"}},
  };
  for (const Case& c : cases) {
    StoreAddress(c.stored);
    TIPAddressForm form(op_);
    EXPECT_EQ(FieldsOf(form), c.shown) << "stored \"" << c.stored << "\"";
  }
}

TEST_F(DialogTest, AddressFormOkStoresTheFieldsAsTypedAndEndsTheProgram) {
  struct Case {
    Fields typed;
    std::string stored;
  };
  const std::vector<Case> cases = {
      {{"10", "1", "2", "3"}, "10.1.2.3"},
      {{"10", "", "2", "3"}, "10..2.3"},          // an empty field is not refused
      {{"010", "1", "2", "999"}, "010.1.2.999"},  // nor a leading zero or a value above 255
  };
  for (const Case& c : cases) {
    ScriptedOperator op;
    TIPAddressForm form(op);
    for (int i = 0; i < 4; ++i) {
      const std::string name = "Edit" + std::to_string(i + 1);
      Find<QLineEdit>(form, name.c_str())->setText(QString::fromStdString(c.typed[i]));
    }
    Find<QPushButton>(form, "Button1")->click();

    EXPECT_EQ(ReadDeviceAddress(), c.stored);
    EXPECT_EQ(op.messages, std::vector<std::string>{"Application will be terminated."});
    EXPECT_TRUE(op.terminateRequested);
    EXPECT_EQ(form.result(), QDialog::Accepted);
  }
}

TEST_F(DialogTest, AddressFormShowsWhatItStoredWhenOpenedAgain) {
  {
    TIPAddressForm form(op_);
    QLineEdit* first = Find<QLineEdit>(form, "Edit1");
    first->clear();
    Type(first, "172");
    Find<QPushButton>(form, "Button1")->click();
  }
  TIPAddressForm again(op_);
  EXPECT_EQ(FieldsOf(again), (Fields{"172", "168", "10", "200"}));
}

TEST_F(DialogTest, AddressFieldsAcceptDigitsOnly) {
  TIPAddressForm form(op_);
  QLineEdit* edit = Find<QLineEdit>(form, "Edit3");
  ASSERT_NE(edit, nullptr);
  const QValidator* validator = edit->validator();
  ASSERT_NE(validator, nullptr);
  for (const QString text : {"", "0", "255", "256", "65535", "00012"}) {
    QString t = text;
    int pos = 0;
    EXPECT_EQ(validator->validate(t, pos), QValidator::Acceptable) << t.toStdString();
  }
  // The last one is ARABIC-INDIC DIGIT THREE: a digit, but not one an address can hold.
  for (const QString text : {"a", "1a", "-1", "+1", "1.2", " 7", "1 ", "\u0663"}) {
    QString t = text;
    int pos = 0;
    EXPECT_EQ(validator->validate(t, pos), QValidator::Invalid) << t.toStdString();
  }

  edit->clear();
  Type(edit, "1a2.x3");
  EXPECT_EQ(edit->text(), "123");
}

TEST_F(DialogTest, AddressFormClosedWithoutOkStoresNothing) {
  TIPAddressForm form(op_);
  Find<QLineEdit>(form, "Edit1")->setText("10");
  form.show();
  form.close();

  EXPECT_EQ(form.result(), QDialog::Rejected);
  EXPECT_FALSE(std::filesystem::exists(paths::settingsFile(kAddressIni)));
  EXPECT_TRUE(op_.messages.empty());
  EXPECT_FALSE(op_.terminateRequested);
}

TEST_F(DialogTest, AddressFormIsCentredOnItsParent) {
  QWidget parent;
  parent.setGeometry(40, 30, 600, 420);
  parent.show();
  TIPAddressForm form(op_, &parent);
  form.show();
  ExpectNear(Centre(form.frameGeometry()), Centre(parent.frameGeometry()));
}

// ---------------------------------------------------------------------------------------------
// Continue-or-new dialog

TEST_F(DialogTest, ContinueFormLayoutAndDefaults) {
  TCWForm form;
  EXPECT_EQ(form.windowTitle(), "Continue or new write");
  EXPECT_EQ(form.size(), QSize(348, 140));
  EXPECT_EQ(form.minimumSize(), form.maximumSize());
  EXPECT_EQ(form.font().family(), "Tahoma");
  EXPECT_EQ(form.font().pointSize(), 8);
  EXPECT_EQ(form.Tag(), 0);

  QGroupBox* group = Find<QGroupBox>(form, "RadioGroup1");
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(group->geometry(), QRect(80, 8, 185, 73));
  EXPECT_TRUE(group->title().isEmpty());

  QRadioButton* first = Find<QRadioButton>(form, "RadioGroup1Item0");
  QRadioButton* last = Find<QRadioButton>(form, "RadioGroup1Item1");
  ASSERT_TRUE(first && last);
  EXPECT_EQ(first->text(), "Write new");
  EXPECT_EQ(last->text(), "Continue write process");
  EXPECT_EQ(first->parentWidget(), group);
  EXPECT_FALSE(first->isChecked());
  EXPECT_TRUE(last->isChecked());
  EXPECT_EQ(group->findChildren<QRadioButton*>().size(), 2);

  QPushButton* ok = Find<QPushButton>(form, "Button1");
  ASSERT_NE(ok, nullptr);
  EXPECT_EQ(ok->text(), "Ok");
  EXPECT_EQ(ok->geometry(), QRect(128, 101, 75, 25));
}

TEST_F(DialogTest, ContinueFormAnswersThePositionOfTheChosenItem) {
  {
    TCWForm form;
    Find<QPushButton>(form, "Button1")->click();
    EXPECT_EQ(form.Tag(), 1);
    EXPECT_EQ(form.result(), QDialog::Accepted);
  }
  {
    TCWForm form;
    Find<QRadioButton>(form, "RadioGroup1Item0")->click();
    Find<QPushButton>(form, "Button1")->click();
    EXPECT_EQ(form.Tag(), 0);
    EXPECT_EQ(form.result(), QDialog::Accepted);
  }
}

TEST_F(DialogTest, ContinueFormClosedWithoutOkAnswersZero) {
  {
    TCWForm form;
    form.show();
    form.close();
    EXPECT_EQ(form.result(), QDialog::Rejected);
    EXPECT_EQ(form.Tag(), 0);
  }
  {
    TCWForm form;
    form.show();
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&form, &escape);
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.result(), QDialog::Rejected);
    EXPECT_EQ(form.Tag(), 0);
  }
}

TEST_F(DialogTest, ContinueFormShowsCustomCaptionAndItems) {
  TCWForm form(nullptr, "Pick one", {"Alpha", "Beta", "Gamma"});
  EXPECT_EQ(form.windowTitle(), "Pick one");
  const char* names[] = {"RadioGroup1Item0", "RadioGroup1Item1", "RadioGroup1Item2"};
  const char* texts[] = {"Alpha", "Beta", "Gamma"};
  for (int i = 0; i < 3; ++i) {
    QRadioButton* radio = Find<QRadioButton>(form, names[i]);
    ASSERT_NE(radio, nullptr);
    EXPECT_EQ(radio->text(), texts[i]);
    EXPECT_EQ(radio->isChecked(), i == 2) << names[i];
  }
  Find<QPushButton>(form, "Button1")->click();
  EXPECT_EQ(form.Tag(), 2);

  TCWForm again(nullptr, "Pick one", {"Alpha", "Beta", "Gamma"});
  Find<QRadioButton>(again, "RadioGroup1Item1")->click();
  Find<QPushButton>(again, "Button1")->click();
  EXPECT_EQ(again.Tag(), 1);
}

TEST_F(DialogTest, ContinueFormIsCentredOnTheScreenNotItsParent) {
  QWidget parent;
  parent.setGeometry(0, 0, 300, 200);
  parent.show();
  TCWForm form(&parent);
  form.show();
  ExpectNear(Centre(form.frameGeometry()), Centre(form.screen()->availableGeometry()));
}

}  // namespace
}  // namespace orvana
