#include "shell/Application.h"

#include <QMessageBox>
#include <cstdio>
#include <exception>

namespace orvana {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("orvana"));
  setOrganizationName(QStringLiteral("orvana"));
}

bool Application::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    ShowExceptionBox(e.what());
  } catch (...) {
    ShowExceptionBox("Unknown error.");
  }
  return false;
}

void ShowExceptionBox(const char* what) {
  std::fprintf(stderr, "orvana: %s\n", what);
  if (QApplication::instance() == nullptr) return;
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Orvana"), QString::fromLocal8Bit(what),
                  QMessageBox::Ok);
  box.exec();
}

}  // namespace orvana
