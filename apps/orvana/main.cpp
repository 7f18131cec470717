#include <QApplication>

#include "common/DeviceEndpoint.h"
#include "common/Paths.h"
#include "shell/InstanceLock.h"
#include "shell/MainWindow.h"

int main(int argc, char* argv[]) {
  // A second copy leaves quietly, without a window.
  orvana::InstanceLock lock(orvana::paths::runtimeFolder() / "orvana.lock");
  if (!lock.acquired()) return 0;

  QApplication app(argc, argv);
  orvana::TClipTCPForm window(QString::fromStdString(orvana::ReadDeviceAddress()));
  window.show();
  app.exec();
  return 0;
}
