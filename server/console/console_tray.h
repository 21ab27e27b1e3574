// CConsoleTray: the console's icon in the system tray and its menu: "Anzeigen"
// brings the main window back, "Beenden" ends the program. The icon and tooltip
// are the window's own.
//
// While a tray exists the main window hides instead of closing or minimising
// (CCorvelDlg decides that from HasTray()).
// Thread use: the user interface thread only.
#pragma once

#include <QMainWindow>
#include <QMenu>
#include <QSystemTrayIcon>
#include <functional>
#include <memory>

class CConsoleTray {
public:
    // Shows the icon. window must outlive the tray; quit runs on "Beenden".
    CConsoleTray(QMainWindow& window, std::function<void()> quit);
    CConsoleTray(const CConsoleTray&) = delete;
    CConsoleTray& operator=(const CConsoleTray&) = delete;

    // A tray when the desktop has one, otherwise none.
    static std::unique_ptr<CConsoleTray> IfAvailable(QMainWindow& window,
                                                     std::function<void()> quit);

    QMenu& Menu() { return menu_; }

private:
    QMenu menu_;  // before icon_: the icon refers to it
    QSystemTrayIcon icon_;
};
