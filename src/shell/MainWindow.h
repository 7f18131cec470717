#pragma once

#include <QMainWindow>

namespace orvana {

// Placeholder main window until the full window is built.
class TClipTCPForm : public QMainWindow {
  Q_OBJECT
 public:
  explicit TClipTCPForm(const QString& deviceAddress, QWidget* parent = nullptr);
};

}  // namespace orvana
