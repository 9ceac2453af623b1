#include "app/pellory_app.h"

#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <memory>
#include <cstring>
#include <iostream>

#include "app/main_window.h"
#include "app/virtual_printer_window.h"
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

bool AsksForVersion(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) return true;
    }
    return false;
}

std::string VersionText() { return std::string("Pellory ") + kProgramVersion + "\n"; }

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
           "  --version          show the version\n"
           "\n"
           "The environment variable PELLORY_COM<n>=<port> maps COM<n> as well; --com wins.\n"
           "Other COM numbers go to the system's serial ports (ttyUSB*, ttyACM*, ttyS*).\n";
}

namespace {

constexpr std::array<int, 3> kCloseSignals = {SIGTERM, SIGINT, SIGHUP};

// The pipe's write end for the signal handler; -1 while no SignalCloser lives.
std::atomic<int> signalPipeWrite{-1};
struct sigaction previousActions[kCloseSignals.size()];

extern "C" void OnCloseSignal(int) {
    // Only async-signal-safe calls here: one write, errno kept.
    const int saved = errno;
    const int fd = signalPipeWrite.load();
    if (fd >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
    }
    errno = saved;
}

}  // namespace

SignalCloser::SignalCloser(std::function<void()> onSignal) : onSignal_(std::move(onSignal)) {
    if (signalPipeWrite.load() >= 0) return;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
    readFd_ = fds[0];
    signalPipeWrite.store(fds[1]);
    notifier_ = std::make_unique<QSocketNotifier>(readFd_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] {
        char buffer[64];
        while (::read(readFd_, buffer, sizeof buffer) > 0) {
        }
        if (onSignal_) onSignal_();
    });
    for (size_t i = 0; i < kCloseSignals.size(); ++i) {
        struct sigaction action {};
        action.sa_handler = OnCloseSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(kCloseSignals[i], &action, &previousActions[i]);
    }
    active_ = true;
}

SignalCloser::~SignalCloser() {
    if (!active_) return;
    // The handlers go first, so that none writes to a closed pipe.
    for (size_t i = 0; i < kCloseSignals.size(); ++i) sigaction(kCloseSignals[i], &previousActions[i], nullptr);
    notifier_.reset();
    const int writeFd = signalPipeWrite.exchange(-1);
    ::close(writeFd);
    ::close(readFd_);
}

int RunMainWindow(const std::function<void(CPelloryDlg&)>& shown,
                  const std::function<std::unique_ptr<QWidget>(CPelloryDlg&)>& companion) {
    CPelloryDlg dialog;
    const std::unique_ptr<QWidget> beside = companion ? companion(dialog) : nullptr;
    SignalCloser closer([&dialog] { dialog.RequestClose(); });
    if (shown) QTimer::singleShot(0, &dialog, [&dialog, &shown] { shown(dialog); });
    dialog.exec();
    return 0;
}  // the closer goes first, then the companion, then the window and with it the pages' links

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

    std::function<std::unique_ptr<QWidget>(CPelloryDlg&)> paperWindow;
    if (options.virtualPrinter) {
        paperWindow = [&printer](CPelloryDlg& dialog) -> std::unique_ptr<QWidget> {
            // A child of the dialog, so that the dialog's modality leaves it usable.
            auto paper = std::make_unique<VirtualPrinterWindow>(printer, &dialog);
            paper->setPrompt(dialog.Prompt());
            paper->show();
            return paper;
        };
    }
    const int status = RunMainWindow({}, paperWindow);  // the pages' links are closed when it returns

    if (!printerPath.empty()) ports.removeVirtual(printerPath);
    return status;
}

}  // namespace pellory::app
