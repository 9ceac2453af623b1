// pellory-screenshots: renders the main window on a few pages into PNG files, for the README.
// Run it on the offscreen platform; each run makes one set, at one scale and one font size:
//
//   pellory-screenshots --out docs/screenshots [--scale 2] [--font-size 11] [--suffix -2x]
//
// It starts the virtual printer on a COM number of its own, prints the "Barcode" sample on
// "Printer Test" and some text on "Text Print", so that the history panel shows real rows.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFont>
#include <QImage>
#include <QPixmap>
#include <QPushButton>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/main_window.h"
#include "app/pellory_app.h"
#include "link/port_settings.h"
#include "pages/core/samples.h"
#include "platform/port_map.h"
#include "vprinter/virtual_printer.h"
#include "widgets/dialog_layout.h"
#include "widgets/resources.h"

namespace {

using pellory::app::CPelloryDlg;

void ProcessFor(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// The value of "--name value" in argv, read before the application object exists.
const char* OptionValue(int argc, char** argv, const char* name) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == name) return argv[i + 1];
    }
    return nullptr;
}

bool Save(CPelloryDlg& window, const QString& dir, const QString& name) {
    ProcessFor(50);
    const QImage image = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QString path = QDir(dir).filePath(name + QStringLiteral(".png"));
    if (!image.save(path, "PNG", 0)) {
        std::fprintf(stderr, "pellory-screenshots: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s (%dx%d)\n", qPrintable(path), image.width(), image.height());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // The scale goes to Qt before the application object reads it.
    if (const char* scale = OptionValue(argc, argv, "--scale")) qputenv("QT_SCALE_FACTOR", QByteArray(scale));
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Renders the Pellory main window into PNG files."));
    parser.addHelpOption();
    const QCommandLineOption out(QStringLiteral("out"), QStringLiteral("Folder of the PNG files."), QStringLiteral("dir"),
                                 QStringLiteral("."));
    const QCommandLineOption scale(QStringLiteral("scale"), QStringLiteral("Scale factor of the window."),
                                   QStringLiteral("factor"), QStringLiteral("1"));
    const QCommandLineOption fontSize(QStringLiteral("font-size"), QStringLiteral("Application font size in points."),
                                      QStringLiteral("points"));
    const QCommandLineOption suffix(QStringLiteral("suffix"), QStringLiteral("Added to every file name."),
                                    QStringLiteral("text"));
    parser.addOptions({out, scale, fontSize, suffix});
    parser.process(app);

    InitPelloryResources();
    if (parser.isSet(fontSize)) {
        QFont font = QApplication::font();
        font.setPointSizeF(parser.value(fontSize).toDouble());
        QApplication::setFont(font);
    }
    const QString dir = parser.value(out);
    QDir().mkpath(dir);
    const QString tail = parser.value(suffix);

    // The virtual printer on a COM number no real port is likely to hold.
    pellory::vprinter::VirtualPrinter printer;
    std::string error;
    if (!printer.start(&error)) {
        std::fprintf(stderr, "pellory-screenshots: the virtual printer cannot start: %s\n", error.c_str());
        return 1;
    }
    pellory::platform::PortMap& ports = pellory::platform::PortMap::instance();
    ports.setOverride(9, printer.slavePath(), "virtual printer");

    bool ok = true;
    {
        CPelloryDlg window;
        window.show();
        ProcessFor(100);
        pellory::link::PortSettings.portNumber = 9;

        // "COM Setup" as the program starts: the history panel hidden.
        ok &= Save(window, dir, QStringLiteral("com-setup") + tail);

        // "Printer Test" after the "Barcode" sample, the history panel open.
        window.OnExpandShrink();
        window.TabControl().setCurrentIndex(pellory::app::kPagePrinterTest);
        if (const auto index = pellory::samples::FindSample("Barcode")) {
            if (QPushButton* b = window.QuickTestPage().SampleButton(*index)) b->click();
        }
        ok &= Save(window, dir, QStringLiteral("printer-test") + tail);

        // "Text Print" after a line of text.
        window.TabControl().setCurrentIndex(pellory::app::kPageTextPrint);
        window.TextPrintPage().SetTransmitText(QStringLiteral("Pellory prints this line.\n"));
        if (auto* print = pellory::widgets::FindControl<QPushButton>(&window.TextPrintPage(), pellory::pages::kIdPrintButton)) {
            print->click();
        }
        ok &= Save(window, dir, QStringLiteral("text-print") + tail);

        // "Print Setup": the lists and check boxes.
        window.TabControl().setCurrentIndex(pellory::app::kPagePrintSetup);
        ok &= Save(window, dir, QStringLiteral("print-setup") + tail);
    }
    ports.clearOverride(9);
    return ok ? 0 : 1;
}
