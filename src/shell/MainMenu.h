#pragma once

#include <QObject>

class QAction;
class QActionGroup;
class QMenu;
class QMenuBar;
class QWidget;

namespace orvana {

// The window's menus and popups. Every action carries the name the window's handlers know it
// by; the window connects them.
struct MainMenu {
  explicit MainMenu(QMenuBar* bar, QWidget* owner);

  QMenu* File1;
  QAction* Openclip;
  QAction* Openalpha;
  QAction* Openwipe;
  QAction* IPaddress1;
  QAction* Exit1;

  QMenu* Connection1;
  QAction* Connect1;
  QAction* Write1;
  QAction* Settings1;
  QAction* Superwipemask1;
  QAction* Menu_Clip1;
  QAction* Menu_Clip2;
  QAction* Menu_Superwipe;
  QAction* Menu_Logo;
  QAction* Timecode1;

  // Service access to single chips (the chip selector and the page read test).
  QMenu* Service1;
  QMenu* Chip1;
  QActionGroup* ChipGroup;
  QAction* PageReadTest1;

  QMenu* PopupMenu1;  // on the preview strip
  QAction* Deleteclip0;
  QAction* View1;
  QMenu* PopupMenu3;  // on the map
  QAction* Quickformat0;
  QAction* Format0;
  QAction* Defragment0;
};

}  // namespace orvana
