#pragma once

#include <QApplication>

namespace orvana {

// The application object. An exception escaping an event handler ends that event with a
// message box naming it; the program goes on.
class Application : public QApplication {
  Q_OBJECT
 public:
  Application(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

// Shows the message box for an exception that escaped (also used around start-up).
void ShowExceptionBox(const char* what);

}  // namespace orvana
