// skiff: the handheld client. With arguments it runs a command; with none it opens
// its window when a display is there (and the window was built), else shows help.
#include <cstdlib>
#include <iostream>

#include "client/skiff_cli.h"

#ifdef SKIFF_WITH_WINDOW
#include "client/window/skiff_window.h"
#endif

int main(int argc, char** argv) {
    if (argc <= 1) {
#ifdef SKIFF_WITH_WINDOW
        const char* display = std::getenv("DISPLAY");
        const char* wayland = std::getenv("WAYLAND_DISPLAY");
        const char* platform = std::getenv("QT_QPA_PLATFORM");
        if ((display && *display) || (wayland && *wayland) || (platform && *platform)) {
            return RunSkiffWindow(argc, argv);
        }
#endif
        char help[] = "--help";
        char* args[] = {argv[0], help, nullptr};
        RunSkiffCommandLine(2, args, std::cout, std::cerr);
        return 2;
    }
    return RunSkiffCommandLine(argc, argv, std::cout, std::cerr);
}
