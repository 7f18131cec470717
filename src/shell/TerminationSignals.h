#pragma once

#include <QObject>

class QSocketNotifier;

namespace orvana {

// SIGTERM, SIGINT and SIGHUP turned into a Qt signal on the event loop, so a termination
// request closes the window the way "Exit" does instead of killing the program mid-page.
class TerminationSignals : public QObject {
  Q_OBJECT
 public:
  explicit TerminationSignals(QObject* parent = nullptr);
  ~TerminationSignals() override;
  bool installed() const { return notifier_ != nullptr; }

 signals:
  void requested(int signal);

 private:
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace orvana
