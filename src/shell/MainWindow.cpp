#include "shell/MainWindow.h"

#include <QLabel>

namespace orvana {

TClipTCPForm::TClipTCPForm(const QString& deviceAddress, QWidget* parent) : QMainWindow(parent) {
  setObjectName("ClipTCPForm");
  setWindowTitle("Orvana - " + deviceAddress);
  auto* label = new QLabel(tr("Orvana"), this);  // owned by the window
  label->setAlignment(Qt::AlignCenter);
  setCentralWidget(label);
  resize(1024, 640);
}

}  // namespace orvana
