// CPelloryApp: the application. It reads the port map's settings and the program's options,
// starts a virtual printer when asked, then runs the main window modally; when the window
// closes, the program ends.
#pragma once

#include <QApplication>

#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "vprinter/printer_server.h"

class QSocketNotifier;

namespace pellory::app {

// The program's options.
struct StartOptions {
    bool help = false;                     // -h, --help
    bool version = false;                  // --version
    bool virtualPrinter = false;           // --virtual-printer
    bool virtualPrinterOnNetwork = false;  // --virtual-printer=tcp: on 127.0.0.1 instead
    // --virtual-printer=tcp:HOST:PORT: a printer server listening there instead.
    std::optional<vprinter::ListenAddress> virtualPrinterListen;
    std::vector<std::string> comMaps;      // the values of --com ("<n>=<port>"), in order
};

// Reads the command line (args without the program name) with a QCommandLineParser: the
// program's options and the window system's own (-platform NAME, -style NAME, -reverse, ...),
// which the application object takes out itself. It needs no application object, so that the
// command line is judged before any window system is asked for. False, with error set, for an
// unknown option, a missing or malformed value, or any other argument; options read before
// and after the fault are still set, so that --help and --version are honoured all the same.
bool ParseStartOptions(const std::vector<std::string>& args, StartOptions& options, std::string* error = nullptr);

// Whether the command line (argc/argv as main gets them) asks for the usage text, or for the
// version; both are answered before any window system is needed.
bool AsksForHelp(int argc, char** argv);
bool AsksForVersion(int argc, char** argv);
std::string VersionText();

// What main does before the application object: the version or the usage text on out (exit
// status 0), or a command-line error and the usage on err (exit status 2). Returns the exit
// status when the program ends here, or -1 when the window is to start.
int AnswerBeforeStart(int argc, char** argv, std::ostream& out, std::ostream& err);

// The usage text printed by --help and after a command-line error.
std::string UsageText(const std::string& program);

class CPelloryDlg;

// While it lives, SIGTERM, SIGINT and SIGHUP no longer end the process at once: the signal
// handler only writes a byte to a pipe, and the event loop then calls onSignal on the thread
// that built this object, where it may close windows. One at a time per process. On Windows the
// console's control events stand for the signals (Ctrl-C, Ctrl-Break, the console closed, logging
// off, shutting down), the handler holding a closing console (at most some 4.5 s) until this
// object is gone.
class SignalCloser {
public:
    explicit SignalCloser(std::function<void()> onSignal);
    // Puts the signal handlers back as they were.
    ~SignalCloser();
    SignalCloser(const SignalCloser&) = delete;
    SignalCloser& operator=(const SignalCloser&) = delete;

    // Whether the handlers are in place (false when the pipe could not be made, or another
    // SignalCloser lives).
    bool Active() const { return active_; }

private:
    std::function<void()> onSignal_;
    std::unique_ptr<QSocketNotifier> notifier_;
    int readFd_ = -1;
    bool active_ = false;
};

// Runs the main window modally until it is closed: the close box, Alt+F4, Escape, Ctrl+Q, or
// SIGTERM/SIGINT/SIGHUP (which cancel an open message box or file dialog, then close the
// window). shown, when set, is called with the window once it is on screen (for tests).
// companion, when set, makes a window that lives beside the main window (the virtual printer's
// paper) and goes before it. Every page's link is closed when this returns 0.
int RunMainWindow(const std::function<void(CPelloryDlg&)>& shown = {},
                  const std::function<std::unique_ptr<QWidget>(CPelloryDlg&)>& companion = {});

class CPelloryApp : public QApplication {
public:
    // Qt takes its own options out of argc/argv here.
    CPelloryApp(int& argc, char** argv);

    // The whole run: resources, port map (environment, then --com), options, the virtual
    // printer when asked, then the main window, run modally. Returns the exit code: 0 after the
    // window closed or the usage was printed, 2 for a bad command line, 1 when the virtual
    // printer cannot start. A printer server that cannot listen (its address in use) is left
    // out: the window starts without it, as if it had not been asked for.
    int InitInstance();

private:
    std::vector<std::string> args_;  // after Qt's options, without the program name
    std::string program_;
};

}  // namespace pellory::app
