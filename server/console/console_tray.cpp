// The console's tray icon and its menu.
#include "server/console/console_tray.h"

CConsoleTray::CConsoleTray(QMainWindow& window, std::function<void()> quit) {
    QMainWindow* shown = &window;
    menu_.addAction("Anzeigen", shown, [shown] {
        shown->showNormal();
        shown->raise();
        shown->activateWindow();
    });
    menu_.addSeparator();
    menu_.addAction("Beenden", shown, [quit = std::move(quit)] {
        if (quit) quit();
    });
    icon_.setIcon(window.windowIcon());
    icon_.setToolTip(window.windowTitle());
    icon_.setContextMenu(&menu_);
    icon_.show();
}

std::unique_ptr<CConsoleTray> CConsoleTray::IfAvailable(QMainWindow& window,
                                                        std::function<void()> quit) {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) return nullptr;
    return std::make_unique<CConsoleTray>(window, std::move(quit));
}
