#include <QCommandLineParser>
#include <QMessageBox>
#include <cstdio>
#include <exception>
#include <optional>

#include "common/DeviceEndpoint.h"
#include "common/Paths.h"
#include "shell/Application.h"
#include "shell/InstanceLock.h"
#include "shell/MainWindow.h"
#include "shell/Style.h"
#include "shell/TerminationSignals.h"

int main(int argc, char* argv[]) {
  // A second copy leaves quietly, without a window.
  orvana::InstanceLock lock(orvana::paths::runtimeFolder() / "orvana.lock");
  if (!lock.acquired()) return 0;

  try {
    orvana::Application app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Manages the media store of a networked HD video playout device."));
    parser.addHelpOption();
    const QCommandLineOption device(QStringLiteral("device"),
                                    QStringLiteral("Device address (ADDR or ADDR:PORT)."),
                                    QStringLiteral("ADDR[:PORT]"));
    const QCommandLineOption hostPort(QStringLiteral("host-port"),
                                      QStringLiteral("Local port the replies arrive on."),
                                      QStringLiteral("N"));
    parser.addOption(device);
    parser.addOption(hostPort);
    parser.process(app);

    std::optional<std::uint16_t> port;
    if (parser.isSet(hostPort)) {
      bool ok = false;
      const uint value = parser.value(hostPort).toUInt(&ok);
      if (!ok || value == 0 || value > 65535) {
        std::fprintf(stderr, "orvana: --host-port takes a port number from 1 to 65535.\n");
        return 2;
      }
      port = static_cast<std::uint16_t>(value);
    }
    const std::string deviceText = parser.value(device).toStdString();
    if (!deviceText.empty() && !orvana::parseDeviceSpec(deviceText)) {
      std::fprintf(stderr, "orvana: --device takes ADDR or ADDR:PORT.\n");
      return 2;
    }

    QString styleError;
    if (!orvana::ApplyCyanNight(app, &styleError)) {
      QMessageBox::warning(
          nullptr, QStringLiteral("Orvana"),
          QStringLiteral("The style \"Cyan Night\" could not be loaded: ") + styleError);
    }

    // Installed before the window: a request that comes while the device is being reached
    // closes the window as soon as it exists.
    orvana::TerminationSignals termination;
    orvana::TClipTCPForm* shown = nullptr;
    bool requested = false;
    QObject::connect(&termination, &orvana::TerminationSignals::requested, &app, [&](int) {
      requested = true;
      if (shown != nullptr) shown->close();
    });
    orvana::TClipTCPForm window(orvana::resolveDeviceEndpoint(deviceText, port));
    shown = &window;
    window.show();
    if (requested) QMetaObject::invokeMethod(&window, "close", Qt::QueuedConnection);
    app.exec();
  } catch (const std::exception& e) {
    orvana::ShowExceptionBox(e.what());
  }
  return 0;
}
