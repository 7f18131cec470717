#pragma once

#include <QIcon>
#include <QString>

class QApplication;

namespace orvana {

// Applies the "Cyan Night" look (palette and style sheet carried as a resource). false with a
// reason in *error when the style could not be loaded; the application keeps its default look.
bool ApplyCyanNight(QApplication& app, QString* error);

// One of the program's own icons by name ("open-clip", "open-alpha", "open-wipe", "settings",
// "connect", "write", "cancel", "open-file", "audio", "orvana"); scales to any display.
QIcon ShellIcon(const QString& name);

}  // namespace orvana
