#include "shell/TIPAddressForm.h"

#include <arpa/inet.h>

#include <cstring>
#include <string>

#include <QFont>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>

#include "common/DeviceEndpoint.h"
#include "common/Paths.h"
#include "common/ProfileFile.h"

namespace orvana {

TIPAddressForm::TIPAddressForm(Operator& op, QWidget* parent) : QDialog(parent), op_(op) {
  setWindowTitle(QStringLiteral("IP address"));
  setFont(QFont(QStringLiteral("Tahoma"), 8));
  setFixedSize(358, 166);

  auto* group = new QGroupBox(this);
  group->setObjectName(QStringLiteral("GroupBox1"));
  group->setGeometry(72, 32, 217, 73);

  // Only digits can be typed; the value itself is not limited, whatever is typed gets stored.
  auto* digitsOnly =
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this);
  const int lefts[4] = {16, 63, 110, 157};
  for (int i = 0; i < 4; ++i) {
    auto* edit = new QLineEdit(QStringLiteral("255"), group);
    edit->setObjectName(QStringLiteral("Edit%1").arg(i + 1));
    edit->setGeometry(lefts[i], 24, 41, 24);
    edit->setFont(QFont(QStringLiteral("Tahoma"), 10));
    edit->setValidator(digitsOnly);
    edits_[i] = edit;
  }

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("Button1"));
  ok->setGeometry(135, 120, 75, 25);
  connect(ok, &QPushButton::clicked, this, &TIPAddressForm::Button1Click);

  // inet_addr on purpose: it accepts the short and hex forms an old settings file may hold and
  // gives all bits set (255.255.255.255) for anything it rejects, which is what the fields show.
  const std::string stored = ReadDeviceAddress();
  const in_addr_t address = ::inet_addr(stored.c_str());
  unsigned char bytes[4];
  static_assert(sizeof address == sizeof bytes);
  std::memcpy(bytes, &address, sizeof bytes);  // network order: first byte is the first field
  for (int i = 0; i < 4; ++i) edits_[i]->setText(QString::number(bytes[i]));
  // A parent gets the dialog centred over it by QDialog itself when shown.
}

void TIPAddressForm::Button1Click() {
  // Stored as typed: empty or out-of-range fields are the operator's business.
  const QString text = edits_[0]->text() + QLatin1Char('.') + edits_[1]->text() + QLatin1Char('.') +
                       edits_[2]->text() + QLatin1Char('.') + edits_[3]->text();
  ProfileFile(paths::settingsFile(kAddressIni))
      .writeString("IP Address", "Addr", text.toStdString());
  // The link reads the address only at start-up, so the program has to restart.
  op_.message("Application will be terminated.");
  op_.requestTerminate();
  accept();
}

}  // namespace orvana
