#include "shell/TCWForm.h"

#include <QButtonGroup>
#include <QFont>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>

namespace orvana {

TCWForm::TCWForm(QWidget* parent, const QString& caption, const QStringList& items)
    : QDialog(parent) {
  setWindowTitle(caption);
  setFont(QFont(QStringLiteral("Tahoma"), 8));
  setFixedSize(348, 140);

  auto* group = new QGroupBox(this);
  group->setObjectName(QStringLiteral("RadioGroup1"));
  group->setGeometry(80, 8, 185, 73);
  auto* column = new QVBoxLayout(group);
  choices_ = new QButtonGroup(this);
  for (int i = 0; i < items.size(); ++i) {
    auto* radio = new QRadioButton(items[i], group);
    radio->setObjectName(QStringLiteral("RadioGroup1Item%1").arg(i));
    column->addWidget(radio);
    choices_->addButton(radio, i);
  }
  // The last item is the usual answer (carry on with an interrupted write).
  if (!items.isEmpty()) choices_->button(static_cast<int>(items.size() - 1))->setChecked(true);

  auto* ok = new QPushButton(QStringLiteral("Ok"), this);
  ok->setObjectName(QStringLiteral("Button1"));
  ok->setGeometry(128, 101, 75, 25);
  connect(ok, &QPushButton::clicked, this, &TCWForm::Button1Click);
}

void TCWForm::Button1Click() {
  tag_ = choices_->checkedId();
  accept();
}

void TCWForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // QDialog centres over its parent; this one belongs in the middle of the screen instead.
  if (event->spontaneous()) return;
  if (QScreen* where = screen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(where->availableGeometry().center());
    move(frame.topLeft());
  }
}

}  // namespace orvana
