#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

class QButtonGroup;
class QShowEvent;

namespace orvana {

// "Continue or new write": a choice between two items; the answer is Tag (the item's position),
// 0 when the dialog is closed without "Ok".
class TCWForm : public QDialog {
  Q_OBJECT
 public:
  explicit TCWForm(QWidget* parent = nullptr,
                   const QString& caption = QStringLiteral("Continue or new write"),
                   const QStringList& items = {QStringLiteral("Write new"),
                                               QStringLiteral("Continue write process")});

  int Tag() const { return tag_; }
  void Button1Click();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  int tag_ = 0;
  QButtonGroup* choices_ = nullptr;
};

}  // namespace orvana
