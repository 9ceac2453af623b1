#include "app/pellory_app.h"

#include <cstring>
#include <iostream>

#include "app/main_window.h"
#include "platform/port_map.h"
#include "vprinter/virtual_printer.h"
#include "widgets/resources.h"

namespace pellory::app {

bool ParseStartOptions(const std::vector<std::string>& args, StartOptions& options, std::string* error) {
    for (const std::string& a : args) {
        if (a == "-h" || a == "--help") {
            options.help = true;
        } else if (a == "--virtual-printer" || a == "--virtual-printer=pty") {
            options.virtualPrinter = true;
        } else if (a == "--virtual-printer=tcp") {
            options.virtualPrinter = true;
            options.virtualPrinterOnNetwork = true;
        } else {
            if (error) {
                *error = (a.size() > 1 && a[0] == '-') ? "unknown option " + a : "unexpected argument " + a;
            }
            return false;
        }
    }
    return true;
}

bool AsksForHelp(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) return true;
    }
    return false;
}

std::string UsageText(const std::string& program) {
    return "Usage: " + program + " [--virtual-printer[=tcp]] [--com <n>=<port>]...\n"
           "Tests and sets up ORVA58 and ORVA80 receipt printers on a serial port.\n"
           "\n"
           "  --virtual-printer  start a printer emulator on a pseudo-terminal and give it the\n"
           "                     first free COM number (COM1 unless an override holds it);\n"
           "                     =tcp: on the loopback network (127.0.0.1, a free port) instead\n"
           "  --com <n>=<port>   COM<n> is <port> (may be repeated): a serial terminal path, a\n"
           "                     printer device file (/dev/usb/lp0, /dev/lp0) or tcp://HOST[:PORT]\n"
           "  -h, --help         show this text\n"
           "\n"
           "The environment variable PELLORY_COM<n>=<port> maps COM<n> as well; --com wins.\n"
           "Other COM numbers go to the system's serial ports (ttyUSB*, ttyACM*, ttyS*).\n";
}

CPelloryApp::CPelloryApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Pellory"));
    setApplicationVersion(QString::fromLatin1(kProgramVersion));
    program_ = argc > 0 ? argv[0] : "pellory";
    for (int i = 1; i < argc; ++i) args_.emplace_back(argv[i]);
}

int CPelloryApp::InitInstance() {
    InitPelloryResources();

    platform::PortMap& ports = platform::PortMap::instance();
    ports.loadEnvironment();
    std::vector<std::string> rest = args_;
    std::string error;
    StartOptions options;
    if (!ports.parseArguments(rest, &error) || !ParseStartOptions(rest, options, &error)) {
        std::cerr << program_ << ": " << error << "\n" << UsageText(program_);
        return 2;
    }
    if (options.help) {
        std::cout << UsageText(program_);
        return 0;
    }

    // Declared before the window, so that it outlives every link that may have it open.
    vprinter::VirtualPrinter printer;
    std::string printerPath;
    if (options.virtualPrinter) {
        const auto transport = options.virtualPrinterOnNetwork ? vprinter::VirtualPrinter::Transport::Tcp
                                                               : vprinter::VirtualPrinter::Transport::PseudoTerminal;
        if (!printer.start(transport, &error)) {
            std::cerr << program_ << ": the virtual printer cannot start: " << error << "\n";
            return 1;
        }
        printerPath = printer.slavePath();
        const int number = ports.addVirtual(printerPath, "Pellory virtual printer");
        if (number == 0) {
            std::cerr << program_ << ": no free COM number for the virtual printer\n";
            return 1;
        }
        std::cerr << "Pellory: virtual printer on COM" << number << " (" << printerPath << ")\n";
    }

    {
        CPelloryDlg dialog;
        dialog.exec();
    }  // the pages' links close here, before the printer goes

    if (!printerPath.empty()) ports.removeVirtual(printerPath);
    return 0;
}

}  // namespace pellory::app
