#include "shell/MainMenu.h"

#include <QActionGroup>
#include <QMenu>
#include <QMenuBar>

namespace orvana {

namespace {

QAction* item(QMenu* menu, const char* name, const char* caption, bool checkable = false) {
  QAction* a = menu->addAction(QString::fromLatin1(caption));
  a->setObjectName(QString::fromLatin1(name));
  a->setCheckable(checkable);
  return a;
}

QMenu* menu(QMenuBar* bar, const char* name, const char* caption) {
  QMenu* m = bar->addMenu(QString::fromLatin1(caption));
  m->setObjectName(QString::fromLatin1(name));
  return m;
}

}  // namespace

MainMenu::MainMenu(QMenuBar* bar, QWidget* owner) {
  bar->setObjectName(QStringLiteral("MainMenu1"));

  File1 = menu(bar, "File1", "File");
  Openclip = item(File1, "Openclip", "Open clip...");
  Openalpha = item(File1, "Openalpha", "Open alpha...");
  Openwipe = item(File1, "Openwipe", "Open wipe...");
  File1->addSeparator();
  IPaddress1 = item(File1, "IPaddress1", "IP address ...");
  File1->addSeparator();
  Exit1 = item(File1, "Exit1", "Exit");
  Exit1->setShortcut(QKeySequence::Quit);

  Connection1 = menu(bar, "Connection1", "Connection");
  Connect1 = item(Connection1, "Connect1", "Connect");
  Write1 = item(Connection1, "Write1", "Write");
  Settings1 = item(Connection1, "Settings1", "Settings");
  Connection1->addSeparator();
  Superwipemask1 = item(Connection1, "Superwipemask1", "Super wipe mask", true);
  Connection1->addSeparator();
  Menu_Clip1 = item(Connection1, "Menu_Clip1", "Clip 1", true);
  Menu_Clip1->setChecked(true);
  Menu_Clip2 = item(Connection1, "Menu_Clip2", "Clip 2", true);
  Menu_Superwipe = item(Connection1, "Menu_Superwipe", "Super wipe ", true);
  Menu_Logo = item(Connection1, "Menu_Logo", "Logo ", true);
  Connection1->addSeparator();
  Timecode1 = item(Connection1, "Timecode1", "Timecode", true);

  Service1 = menu(bar, "Service1", "Service");
  Chip1 = Service1->addMenu(QStringLiteral("Chip"));
  Chip1->setObjectName(QStringLiteral("Chip1"));
  ChipGroup = new QActionGroup(owner);
  ChipGroup->setExclusive(true);
  for (int chip = 0; chip < 12; ++chip) {
    QAction* a = Chip1->addAction(QString::number(chip));
    a->setObjectName(QStringLiteral("Chip1_%1").arg(chip));
    a->setCheckable(true);
    a->setData(chip);
    ChipGroup->addAction(a);
  }
  PageReadTest1 = item(Service1, "PageReadTest1", "Page read test");

  PopupMenu1 = new QMenu(owner);
  PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
  Deleteclip0 = item(PopupMenu1, "Deleteclip0", "Delete");
  View1 = item(PopupMenu1, "View1", "View");

  PopupMenu3 = new QMenu(owner);
  PopupMenu3->setObjectName(QStringLiteral("PopupMenu3"));
  Quickformat0 = item(PopupMenu3, "Quickformat0", "Quick format");
  Format0 = item(PopupMenu3, "Format0", "Format");
  Defragment0 = item(PopupMenu3, "Defragment0", "Defragment");
  Defragment0->setVisible(false);
}

}  // namespace orvana
