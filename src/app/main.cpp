// Pellory: a test and set-up tool for ORVA58 and ORVA80 receipt printers on a serial port.
#include <iostream>

#include "app/pellory_app.h"

int main(int argc, char** argv) {
    // The command line is judged before any window system is needed: --version, --help and a
    // bad option work without a display, and a bad option opens no window.
    const int answered = pellory::app::AnswerBeforeStart(argc, argv, std::cout, std::cerr);
    if (answered >= 0) return answered;
    pellory::app::CPelloryApp app(argc, argv);
    return app.InitInstance();
}
