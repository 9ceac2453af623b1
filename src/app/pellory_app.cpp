#include "app/pellory_app.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStringList>
#include <QTimer>

#include <cstring>
#include <iostream>
#include <memory>
#include <ostream>

#include "app/main_window.h"
#include "app/virtual_printer_window.h"
#include "app/window_server.h"
#include "cli/own_printer.h"
#include "pellory_version.h"
#include "platform/port_map.h"
#include "vprinter/virtual_printer.h"
#include "widgets/resources.h"

namespace pellory::app {

namespace {

// The window system's own options, which QGuiApplication and QApplication take out of the
// command line: the parser knows them so that it refuses only what nobody reads.
struct WindowSystemOption {
    const char* name;
    bool takesValue;
};
constexpr WindowSystemOption kWindowSystemOptions[] = {
    {"platform", true},   {"platformpluginpath", true}, {"platformtheme", true}, {"plugin", true},
    {"qwindowgeometry", true}, {"qwindowicon", true},   {"qwindowtitle", true},  {"session", true},
    {"display", true},    {"geometry", true},           {"style", true},         {"stylesheet", true},
    {"qmljsdebugger", true}, {"dialogs", true},         {"fontengine", true},    {"reverse", false},
    {"widgetcount", false},
};

// QCommandLineParser has no options with an optional value: "--virtual-printer=KIND" reaches
// it as this hidden option with the value KIND.
constexpr const char* kVirtualPrinterKind = "virtual-printer-kind";
constexpr const char* kVirtualPrinterWithKind = "--virtual-printer=";
// "--virtual-printer=tcp:HOST:PORT": the printer server on that address.
constexpr const char* kServerKind = "tcp:";

QString FromArg(const std::string& a) { return QString::fromLocal8Bit(a.data(), static_cast<qsizetype>(a.size())); }
std::string ToArg(const QString& a) { return a.toLocal8Bit().toStdString(); }

}  // namespace

bool ParseStartOptions(const std::vector<std::string>& args, StartOptions& options, std::string* error) {
    QStringList arguments{QStringLiteral("pellory")};
    const QString withKind = QString::fromLatin1(kVirtualPrinterWithKind);
    for (const std::string& a : args) {
        QString arg = FromArg(a);
        if (arg.startsWith(withKind)) {
            arg = QStringLiteral("--") + QString::fromLatin1(kVirtualPrinterKind) + QLatin1Char('=') + arg.mid(withKind.size());
        }
        arguments << arg;
    }

    QCommandLineParser parser;
    // "-style fusion" as the window system writes its options; "-h" still works.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    const QCommandLineOption virtualPrinter(QStringLiteral("virtual-printer"));
    QCommandLineOption kind(QString::fromLatin1(kVirtualPrinterKind), QString(), QStringLiteral("kind"));
    kind.setFlags(QCommandLineOption::HiddenFromHelp);
    const QCommandLineOption com(QStringLiteral("com"), QString(), QStringLiteral("n=port"));
    parser.addOptions({help, version, virtualPrinter, kind, com});
    for (const WindowSystemOption& w : kWindowSystemOptions) {
        QCommandLineOption option(QString::fromLatin1(w.name));
        if (w.takesValue) option.setValueName(QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    const bool parsed = parser.parse(arguments);

    options.help = parser.isSet(help);
    options.version = parser.isSet(version);
    options.virtualPrinter = parser.isSet(virtualPrinter) || parser.isSet(kind);
    options.comMaps.clear();
    for (const QString& v : parser.values(com)) options.comMaps.push_back(ToArg(v));

    std::string fault;
    if (!parsed) {
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty()) {
            fault = "unknown option " + std::string(unknown.first().size() == 1 ? "-" : "--") + ToArg(unknown.first());
        } else {
            fault = ToArg(parser.errorText());
        }
    }
    for (const QString& k : parser.values(kind)) {
        if (k == QLatin1String("tcp")) {
            options.virtualPrinterOnNetwork = true;
        } else if (k.startsWith(QLatin1String(kServerKind))) {
            std::string why;
            options.virtualPrinterListen =
                vprinter::ParseListenAddress(ToArg(k.mid(static_cast<qsizetype>(std::strlen(kServerKind)))), &why);
            if (!options.virtualPrinterListen && fault.empty()) {
                fault = "bad address in " + std::string(kVirtualPrinterWithKind) + ToArg(k) + ": " + why;
            }
        } else if (k != QLatin1String("pty") && fault.empty()) {
            fault = "unknown option " + std::string(kVirtualPrinterWithKind) + ToArg(k) +
                    " (it takes =pty, =tcp or =tcp:HOST:PORT)";
        }
    }
    if (fault.empty() && !parser.positionalArguments().isEmpty()) {
        fault = "unexpected argument " + ToArg(parser.positionalArguments().first());
    }
    if (fault.empty() && !options.comMaps.empty()) {
        // Read as the port map reads them, by a map of their own: the program's map takes them
        // once the program starts.
        std::vector<std::string> pairs;
        for (const std::string& m : options.comMaps) pairs.insert(pairs.end(), {"--com", m});
        platform::PortMap check;
        check.parseArguments(pairs, &fault);
    }
    if (!fault.empty()) {
        if (error) *error = fault;
        return false;
    }
    return true;
}

namespace {

std::vector<std::string> ArgsOf(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return args;
}

}  // namespace

bool AsksForHelp(int argc, char** argv) {
    StartOptions options;
    ParseStartOptions(ArgsOf(argc, argv), options);
    return options.help;
}

bool AsksForVersion(int argc, char** argv) {
    StartOptions options;
    ParseStartOptions(ArgsOf(argc, argv), options);
    return options.version;
}

int AnswerBeforeStart(int argc, char** argv, std::ostream& out, std::ostream& err) {
    const std::string program = argc > 0 ? argv[0] : "pellory";
    StartOptions options;
    std::string error;
    const bool understood = ParseStartOptions(ArgsOf(argc, argv), options, &error);
    if (options.version) {
        out << VersionText();
        return 0;
    }
    if (options.help) {
        out << UsageText(program);
        return 0;
    }
    if (!understood) {
        err << program << ": " << error << "\n" << UsageText(program);
        return 2;
    }
    return -1;
}

std::string VersionText() { return std::string("Pellory ") + kProgramVersion + "\n"; }

std::string UsageText(const std::string& program) {
    return "Usage: " + program +
           " [--virtual-printer[=pty|tcp|tcp:HOST:PORT]] [--com <n>=<port>]...\n"
           "Tests and sets up ORVA58 and ORVA80 receipt printers on a serial port.\n"
           "\n"
           "  --virtual-printer  start a printer emulator on a pseudo-terminal and give it the\n"
           "                     first free COM number (COM1 unless an override holds it);\n"
           "                     =tcp: on the loopback network (127.0.0.1, a free port) instead;\n"
           "                     =tcp:HOST:PORT: a printer server listening on HOST:PORT, that\n"
           "                     other software prints to too (:PORT: every address)\n"
           "  --com <n>=<port>   COM<n> is <port> (may be repeated): a serial terminal path, a\n"
           "                     printer device file (/dev/usb/lp0, /dev/lp0) or tcp://HOST[:PORT]\n"
           "  -h, --help         show this text\n"
           "  --version          show the version\n"
           "\n"
           "The environment variable PELLORY_COM<n>=<port> maps COM<n> as well; --com wins.\n"
           "Qt's own options (-platform NAME, -style NAME, -reverse, ...) are taken as well.\n"
           "Other COM numbers go to the system's serial ports (ttyUSB*, ttyACM*, ttyS*).\n";
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
    std::string error;
    StartOptions options;
    if (!ParseStartOptions(args_, options, &error)) {
        std::cerr << program_ << ": " << error << "\n" << UsageText(program_);
        return 2;
    }
    if (options.version) {
        std::cout << VersionText();
        return 0;
    }
    if (options.help) {
        std::cout << UsageText(program_);
        return 0;
    }
    std::vector<std::string> comPairs;
    for (const std::string& m : options.comMaps) comPairs.insert(comPairs.end(), {"--com", m});
    ports.parseArguments(comPairs);  // checked above: --com wins over the environment

    // Declared before the window, so that it outlives every link that may have it open.
    OwnVirtualPrinter printer;
    std::unique_ptr<WindowServer> server;
    std::function<std::unique_ptr<QWidget>(CPelloryDlg&)> paperWindow;
    if (options.virtualPrinterListen) {
        server = std::make_unique<WindowServer>(*options.virtualPrinterListen, DeviceModel());
        if (!server->Start(program_, std::cerr)) {
            server.reset();  // the window starts without it
        } else {
            paperWindow = [&server](CPelloryDlg& dialog) -> std::unique_ptr<QWidget> {
                auto paper = std::make_unique<VirtualPrinterWindow>(*server, &dialog);
                paper->setPrompt(dialog.Prompt());
                paper->show();
                return paper;
            };
        }
    } else if (options.virtualPrinter) {
        OwnVirtualPrinter::Request request;
        request.transport = options.virtualPrinterOnNetwork ? vprinter::VirtualPrinter::Transport::Tcp
                                                            : vprinter::kLocalTransport;
        request.program = program_;
        printer.Printer().setModel(DeviceModel());  // the model it names, as the printer server's
        if (!printer.Start(request, std::cerr)) return 1;
        paperWindow = [&printer](CPelloryDlg& dialog) -> std::unique_ptr<QWidget> {
            // A child of the dialog, so that the dialog's modality leaves it usable.
            auto paper = std::make_unique<VirtualPrinterWindow>(printer.Printer(), &dialog);
            paper->setPrompt(dialog.Prompt());
            paper->show();
            return paper;
        };
    }
    return RunMainWindow({}, paperWindow);  // the pages' links are closed when it returns
}

}  // namespace pellory::app
