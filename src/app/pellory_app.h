// CPelloryApp: the application. It reads the port map's settings and the program's options,
// starts a virtual printer when asked, then runs the main window modally; when the window
// closes, the program ends.
#pragma once

#include <QApplication>

#include <string>
#include <vector>

namespace pellory::app {

inline constexpr const char* kProgramVersion = "1.0.0.2";

// The program's own options (the port map takes --com first, Qt its own options before that).
struct StartOptions {
    bool help = false;            // -h, --help
    bool virtualPrinter = false;           // --virtual-printer
    bool virtualPrinterOnNetwork = false;  // --virtual-printer=tcp: on 127.0.0.1 instead
};

// Reads args (without the program name). False, with error set, for anything unknown.
bool ParseStartOptions(const std::vector<std::string>& args, StartOptions& options, std::string* error = nullptr);

// Whether the command line asks for the usage text (looked at before any window system is
// needed, so that --help works without a display).
bool AsksForHelp(int argc, char** argv);

// The usage text printed by --help and after a command-line error.
std::string UsageText(const std::string& program);

class CPelloryApp : public QApplication {
public:
    // Qt takes its own options out of argc/argv here.
    CPelloryApp(int& argc, char** argv);

    // The whole run: resources, port map (environment, then --com), options, the virtual
    // printer when asked, then the main window, run modally. Returns the exit code: 0 after the
    // window closed or the usage was printed, 2 for a bad command line, 1 when the virtual
    // printer cannot start.
    int InitInstance();

private:
    std::vector<std::string> args_;  // after Qt's options, without the program name
    std::string program_;
};

}  // namespace pellory::app
