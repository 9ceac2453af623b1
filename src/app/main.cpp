// Pellory: a test and set-up tool for ORVA58 and ORVA80 receipt printers on a serial port.
#include <iostream>

#include "app/pellory_app.h"

int main(int argc, char** argv) {
    // Both answered before any window system is needed, so that they work without a display.
    if (pellory::app::AsksForVersion(argc, argv)) {
        std::cout << pellory::app::VersionText();
        return 0;
    }
    if (pellory::app::AsksForHelp(argc, argv)) {
        std::cout << pellory::app::UsageText(argc > 0 ? argv[0] : "pellory");
        return 0;
    }
    pellory::app::CPelloryApp app(argc, argv);
    return app.InitInstance();
}
