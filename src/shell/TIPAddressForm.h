#pragma once

#include <QDialog>

#include "common/Operator.h"

class QLineEdit;
class QPushButton;

namespace orvana {

// The device address dialog: four byte fields filled from itf_ip.ini; "OK" stores the address
// and ends the program so the new address takes effect at the next start.
class TIPAddressForm : public QDialog {
  Q_OBJECT
 public:
  TIPAddressForm(Operator& op, QWidget* parent = nullptr);

  void Button1Click();

 private:
  Operator& op_;
  QLineEdit* edits_[4] = {};
};

}  // namespace orvana
