// pellory-cli run in-process against virtual printers: for every command the history rows it
// echoes and the bytes the printer receives are those of the same action in the window (the
// expectations shared with the page tests), the history file, the messages on the error stream,
// the exit statuses (silent printer, unmapped port, bad arguments and refused data, missing
// files), --help for every command, and the process-wide state left as it was.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>

#include <csignal>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli.h"
#include "support/cli_run.h"
#include "link/port_settings.h"
#include "pages/core/hex_text.h"
#include "pages/core/page_link.h"
#include "pages/core/quick_test_actions.h"
#include "pages/image_print_rows.h"
#include "pages/page_settings_guard.h"
#include "pages/print_setup_barcode_rows.h"
#include "pages/sample_expectations.h"
#include "platform/port_map.h"
#include "platform/stop_request.h"
#include "platform/threads.h"
#include "support/empty_ports.h"
#include "support/scratch_folder.h"
#include "support/support.h"

using namespace pellory;
using test::Hex;
namespace expect = test::expect;
namespace rows = test::rows;
namespace image_rows = test::image_rows;
using Rows = std::vector<std::string>;

namespace {

constexpr int kCom = 81;         // the mapped printer of most tests
constexpr int kUnmapped = 87;    // nothing is mapped here
constexpr uint32_t kByteWaitMs = 5000;

// The picture decoders want an application object, as in pellory-cli's main.
class CoreApplicationEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "app_test_cli";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance()) app_ = new QCoreApplication(argc, argv);
    }
    void TearDown() override {
        delete app_;
        app_ = nullptr;
    }

private:
    QCoreApplication* app_ = nullptr;
};
::testing::Environment* const kEnvironment = ::testing::AddGlobalTestEnvironment(new CoreApplicationEnvironment);

using test::CliRun;
CliRun Cli(const std::vector<std::string>& args) { return test::RunCliInProcess(args); }

// pellory-cli --port COM<kCom> --echo ARGS...
CliRun OnPrinter(std::vector<std::string> args, int com = kCom) {
    std::vector<std::string> all = {"--port", "COM" + std::to_string(com), "--echo"};
    all.insert(all.end(), args.begin(), args.end());
    return Cli(all);
}

// Every byte of a list of echo rows.
expect::Bytes BytesOfRows(const Rows& echoRows) {
    expect::Bytes out;
    for (const std::string& r : echoRows) {
        const expect::Bytes b = expect::H(r);
        out.insert(out.end(), b.begin(), b.end());
    }
    return out;
}

Rows WithProbe(Rows after) {
    after.insert(after.begin(), rows::kProbe);
    return after;
}

using Transport = vprinter::VirtualPrinter::Transport;

class CliTest : public ::testing::Test {
protected:
    explicit CliTest(Transport transport = Transport::PseudoTerminal) : printer(kCom, transport) {}
    // What the printer got, once it got the bytes of these rows and fell quiet; then cleared.
    expect::Bytes Received(const Rows& echoRows) {
        const size_t n = BytesOfRows(echoRows).size();
        EXPECT_TRUE(printer->waitForBytes(n, kByteWaitMs)) << "got " << printer->receivedCount() << " of " << n;
        printer->waitForQuiet(20, 1000);
        expect::Bytes got = printer->received();
        printer->clearReceived();
        return got;
    }
    // The run echoed exactly these rows, the printer got exactly their bytes, and it ended 0.
    void ExpectSent(const CliRun& r, const Rows& expected) {
        EXPECT_EQ(r.code, app::kCliDone) << r.err;
        EXPECT_EQ(r.Echoed(), expected);
        EXPECT_EQ(Received(expected), BytesOfRows(expected)) << r.err;
    }

    std::string Path(const std::string& name) const { return scratch.Path(name); }
    std::string Write(const std::string& name, const std::string& content) { return scratch.Write(name, content); }
    static std::string Read(const std::string& path) { return test::ReadWholeFile(path); }

    test::MappedPrinter printer;
    test::ScratchFolder scratch{"pellory_cli"};
};

// The same commands with the printer on a pseudo-terminal and on the loopback network: the same
// rows, bytes, output and statuses.
class CliOnEveryPort : public CliTest, public ::testing::WithParamInterface<Transport> {
protected:
    CliOnEveryPort() : CliTest(GetParam()) {}
};

}  // namespace

INSTANTIATE_TEST_SUITE_P(Ports, CliOnEveryPort, ::testing::Values(Transport::PseudoTerminal, Transport::Tcp),
                         [](const ::testing::TestParamInfo<Transport>& param) {
                             return std::string(test::TransportName(param.param));
                         });

// --- "Printer Test" ---

TEST_P(CliOnEveryPort, EverySampleSendsTheWindowsRowsAfterTheProbe) {
    // The names in the order of the page's buttons.
    const std::vector<std::string> names = {"font",    "feed",  "margins", "position", "density", "htab",
                                            "vtab",    "image", "align",   "barcode",  "qr",      "cut"};
    const auto& samples = expect::SampleExpectations();
    ASSERT_EQ(samples.size(), names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(names[i]);
        const CliRun r = OnPrinter({"sample", names[i]});
        ExpectSent(r, WithProbe(expect::EchoRows(samples[i])));
        EXPECT_EQ(r.Output(), Rows{});
        EXPECT_EQ(r.err, "");
    }
    // The button captions name them too.
    ExpectSent(OnPrinter({"sample", "QR Code"}), WithProbe(expect::EchoRows(samples[10])));
}

// "status" sends what the window's "Printer States" sends, the probe and the query with their
// history rows, and prints the byte and the lamps it lights; "status --states" then asks DLE EOT 1
// to 4 (a row each) and prints the states they tell.
TEST_P(CliOnEveryPort, StatusIsPrinterStatesAndStatesAddsTheRealTimeRequests) {
    Rows window;  // the rows of the page's own "Printer States", on a closed link
    {
        link::PortSettings.portNumber = kCom;  // put back after the test
        test::RecordingHistory history;
        pages::QuickTestActions page;
        page.SetMainWindow(&history);
        page.StartEcho();
        ASSERT_TRUE(page.QueryStatus().linkOpen);
        page.CloseLink();
        window = history.rows;
    }
    ASSERT_EQ(Received(window), BytesOfRows(window));
    ASSERT_EQ(window, (Rows{expect::kRequestRow, expect::kRequestRow}));
    const Rows kRealTimeRows = {"10 04 01 ", "10 04 02 ", "10 04 03 ", "10 04 04 "};
    struct Case {
        int status;
        bool states;        // --states
        const char* named;  // the States line; nullptr: none
    };
    for (const Case c :
         {Case{0x00, false, nullptr}, Case{0x2F, false, nullptr}, Case{0x40, false, nullptr}, Case{0x00, true, "ready"},
          Case{0x2F, true, "paper-end, cover-open, cutter-error, overheat, error"}, Case{0x40, true, "offline"}}) {
        SCOPED_TRACE(std::to_string(c.status) + (c.states ? " --states" : ""));
        const auto& all = expect::LampExpectations();
        const auto e = std::find_if(all.begin(), all.end(), [&](const auto& l) { return l.status == c.status; });
        ASSERT_NE(e, all.end());
        printer->setStatusByte(static_cast<uint8_t>(c.status));
        const CliRun r = OnPrinter(c.states ? Rows{"status", "--states"} : Rows{"status"});
        Rows sent = window;
        if (c.states) sent.insert(sent.end(), kRealTimeRows.begin(), kRealTimeRows.end());
        ExpectSent(r, sent);
        std::string lit;
        for (const std::string& name : e->lit) lit += (lit.empty() ? "" : ", ") + name;
        char hex[8];
        std::snprintf(hex, sizeof hex, "%02X", c.status);
        Rows output = {"Status: " + std::string(hex), "Lamps: " + (lit.empty() ? "none" : lit)};
        if (c.named) output.push_back(std::string("States: ") + c.named);
        EXPECT_EQ(r.Output(), output);
    }
    // A printer that answers every request with its one status byte, which is not the form of
    // an answer to DLE EOT 1 (bit 1 and 4 on): the reading stops there, with no states line.
    printer->setAnswerMode(vprinter::VirtualPrinter::AnswerMode::FixedByte, 0x00);
    const CliRun fixed = OnPrinter({"status", "--states"});
    ExpectSent(fixed, {expect::kRequestRow, expect::kRequestRow, kRealTimeRows[0]});
    EXPECT_EQ(fixed.Output(), (Rows{"Status: 00", "Lamps: Online"}));
}

// --- "Print Setup" ---

TEST_P(CliOnEveryPort, SetSendsEachControlsCommandAfterTheProbe) {
    struct Case {
        std::vector<std::string> args;
        std::string row;
    };
    const std::vector<Case> cases = {
        {{"line-space", "30"}, rows::kLineSpace30},
        {{"left-margin", "20"}, rows::kLeftMargin20},
        {{"right-margin", "28", "--left", "20"}, rows::kRightMargin28},
        {{"align", "center"}, rows::kAlignCenter},
        {{"density", "8"}, rows::kDensity8},
        {{"speed", "low"}, rows::kSpeedLow},
        {{"font", "3"}, rows::kFont3},
        {{"charset", "15"}, rows::kCharacterChinese},
        {{"codetable", "6"}, rows::kCodeTableWpc1252},
        // The last box named is the one clicked: a click on "Double High" adds the request.
        {{"style", "double-high"}, rows::kDoubleHighAlone},
        {{"style", "double-high,underline"}, rows::kDoubleHighUnderline},
        {{"style", "none"}, "1B 21 00 "},
        {{"kanji", "on"}, rows::kKanjiOn},
        {{"reset"}, rows::kInitialize},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"set"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : ""));
        ExpectSent(OnPrinter(args), WithProbe({c.row}));
    }
}

TEST_P(CliOnEveryPort, SetValuesTheWindowRefusesShowItsMessageAndExitWith3) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    for (const Case& c : {Case{{"set", "line-space", "256"}, rows::kLineSpaceMessage},
                          Case{{"set", "left-margin", "30", "--right", "19"}, rows::kMarginMessage},
                          Case{{"set", "right-margin", "-1"}, rows::kMarginMessage}}) {
        const CliRun r = OnPrinter(c.args);
        EXPECT_EQ(r.code, app::kCliRefused);
        EXPECT_EQ(r.err, c.message + "\n");
        // The window probes before it checks: the probe row and nothing else.
        EXPECT_EQ(r.Echoed(), Rows{rows::kProbe});
        EXPECT_EQ(Received({rows::kProbe}), Hex("10 04 05"));
    }
}

// --- "COM Setup" ---

TEST_P(CliOnEveryPort, SetUpCommandsProbeAndSendTheirCommand) {
    // GS ( E, function 11: a = 1 with the rate's digits, a = 3 with the flow-control value.
    ExpectSent(OnPrinter({"printer-baud", "115200"}), WithProbe({"1D 28 45 08 00 0B 01 31 31 35 32 30 30 "}));
    ExpectSent(OnPrinter({"printer-handshake", "xon"}), WithProbe({"1D 28 45 03 00 0B 03 31 "}));
    EXPECT_EQ(printer->flowControl(), 0x31);
    ExpectSent(OnPrinter({"printer-handshake", "cts"}), WithProbe({"1D 28 45 03 00 0B 03 30 "}));
    EXPECT_EQ(printer->flowControl(), 0x30);

    // The rate the port is opened with: choosing it again sends nothing, not even a probe.
    const CliRun same = OnPrinter({"--baud", "19200", "printer-baud", "19200"});
    EXPECT_EQ(same.code, app::kCliDone);
    EXPECT_EQ(same.Echoed(), Rows{});
    EXPECT_FALSE(printer->waitForBytes(1, 150));
}

TEST_F(CliTest, ProbeAndScan) {
    const CliRun probe = OnPrinter({"probe"});
    ExpectSent(probe, {rows::kProbe});
    EXPECT_EQ(probe.err, "Communicate Success.\n");

    const CliRun scan = OnPrinter({"scan"});
    EXPECT_EQ(scan.code, app::kCliDone) << scan.err;
    EXPECT_EQ(scan.Output(), Rows{"COM" + std::to_string(kCom)});
    EXPECT_EQ(scan.err, "Connected Success\n");
    EXPECT_EQ(scan.Echoed().back(), rows::kProbe);

    printer->setAnswerMode(vprinter::VirtualPrinter::AnswerMode::Silent);
    const CliRun none = OnPrinter({"scan"});
    EXPECT_EQ(none.code, app::kCliNoAnswer);
    EXPECT_EQ(none.Output(), Rows{});
    EXPECT_EQ(none.err, "Connected Fail\n");
}

// --- "Text Print" ---

TEST_P(CliOnEveryPort, TextHexAndFeedSendTheDataThenTheLineFeed) {
    // A line break goes as CR LF, as the window's field holds it.
    ExpectSent(OnPrinter({"text", "Pellory\nline"}), WithProbe({"50 65 6C 6C 6F 72 79 0D 0A 6C 69 6E 65 ", "0A "}));
    ExpectSent(OnPrinter({"hex", "1b 40 1D5642 00"}), WithProbe({"1B 40 1D 56 42 00 ", "0A "}));
    ExpectSent(OnPrinter({"feed"}), WithProbe({"0A "}));
    // "--" lets a text start with dashes.
    ExpectSent(OnPrinter({"text", "--", "--x"}), WithProbe({"2D 2D 78 ", "0A "}));
}

TEST_P(CliOnEveryPort, FilesAreSentLoadedOrReportedWith4) {
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    const std::vector<uint8_t> allBytes(all.begin(), all.end());
    ExpectSent(OnPrinter({"send-file", Write("raw.bin", all)}), WithProbe({test::Echo(allBytes)}));

    // A hex command file: comments and blank lines dropped, one print of all its bytes.
    ExpectSent(OnPrinter({"hex-file", Write("cmds.txt", "1B 40 // reset\r\n\r\n0a 0A\n")}),
               WithProbe({"1B 40 0A 0A ", "0A "}));

    const std::string missing = Path("missing.txt");
    const CliRun raw = OnPrinter({"send-file", missing});
    EXPECT_EQ(raw.code, app::kCliFileUnreadable);
    EXPECT_EQ(raw.err, "Cannot read " + missing + ": No such file or directory\n");
    EXPECT_EQ(raw.Echoed(), Rows{rows::kProbe});  // "Open..." probes before its dialog
    Received({rows::kProbe});

    const CliRun load = OnPrinter({"hex-file", missing});
    EXPECT_EQ(load.code, app::kCliFileUnreadable);
    EXPECT_EQ(load.Echoed(), Rows{});  // loading comes before any print

    const CliRun rejected = OnPrinter({"hex-file", Write("bad.txt", "1B 40\nhello\n")});
    EXPECT_EQ(rejected.code, app::kCliRefused);
    EXPECT_EQ(rejected.err,
              "The contents of the file does not meet the hex command mode, the import operation is canceled\n");
    EXPECT_EQ(rejected.Echoed(), Rows{});
    EXPECT_FALSE(printer->waitForBytes(1, 100));
}

TEST_F(CliTest, AHexFilePastTheSizeLimitIsRefusedWith4AndNothingIsSent) {
    // One byte past the limit, taking no room on disk.
    const std::string huge = Path("huge.txt");
    std::ofstream(huge, std::ios::binary).flush();
    std::filesystem::resize_file(huge, hextext::kHexFileSizeLimit + 1);
    const CliRun r = OnPrinter({"hex-file", huge});
    EXPECT_EQ(r.code, app::kCliFileUnreadable);
    EXPECT_EQ(r.err, "Cannot load " + huge +
                         ": it holds more than 64 MiB, the limit for a hex command file.\n"
                         "Split it into smaller files and load them one at a time; nothing was loaded or sent.\n");
    EXPECT_EQ(r.Echoed(), Rows{});
    EXPECT_FALSE(printer->waitForBytes(1, 100));
}

TEST_P(CliOnEveryPort, ListenShowsWhatThePrinterSends) {
    // The printer speaks once it has answered the probe and the probe's reply byte was taken.
    std::thread speaker([this] {
        for (int i = 0; i < 200 && printer->answeredRequests() == 0; ++i) platform::SleepMs(5);
        platform::SleepMs(250);
        printer->sendUnsolicited(Hex("41 00 42"));
    });
    const CliRun hex = OnPrinter({"listen", "--hex", "--seconds", "0.45"});
    speaker.join();
    EXPECT_EQ(hex.code, app::kCliDone) << hex.err;
    EXPECT_EQ(hex.Echoed(), Rows{rows::kProbe});
    EXPECT_EQ(hex.Output(), Rows{"41 00 42 "});

    std::thread again([this] {
        for (int i = 0; i < 200 && printer->answeredRequests() < 2; ++i) platform::SleepMs(5);
        platform::SleepMs(250);
        printer->sendUnsolicited(Hex("48 69 21"));
    });
    const CliRun text = Cli({"--port", "COM" + std::to_string(kCom), "listen", "--seconds=0.45"});
    again.join();
    EXPECT_EQ(text.code, app::kCliDone) << text.err;
    EXPECT_EQ(text.out, "Hi!");
}

// The printer goes away while a command runs: the command ends at once with status 2 and one
// message naming the port, not as a stall (send-file) or at the end of its time (listen).
TEST_P(CliOnEveryPort, AVanishedPrinterEndsTheCommandWith2AndOneMessage) {
    const std::string big = Write("big.bin", std::string(16 * 1024 * 1024, 'x'));
    const std::string removed = std::string(link::kRemovedText) + "\n" + "COM" + std::to_string(kCom) + " (" +
                                printer.path() + ") went away while in use. Connect it again, then repeat the action.\n";
    std::thread unplug([this] {
        if (printer->waitForBytes(512 * 1024, 30000)) printer->vanish();
    });
    const CliRun sent = OnPrinter({"send-file", big});
    unplug.join();
    EXPECT_EQ(sent.code, app::kCliOpenFailed) << sent.err;
    EXPECT_EQ(sent.err, removed);
    EXPECT_FALSE(sent.Echoed().empty());
}

TEST_P(CliOnEveryPort, ListenEndsWith2WhenThePrinterVanishes) {
    std::thread unplug([this] {
        for (int i = 0; i < 2000 && printer->answeredRequests() == 0; ++i) platform::SleepMs(5);
        platform::SleepMs(100);
        printer->vanish();
    });
    // Without the removal it would listen for its full minute and end with 0.
    const CliRun r = OnPrinter({"listen", "--seconds", "60"});
    unplug.join();
    EXPECT_EQ(r.code, app::kCliOpenFailed) << r.err;
    EXPECT_EQ(r.err.rfind(std::string(link::kRemovedText) + "\nCOM" + std::to_string(kCom) + " (", 0), 0u) << r.err;
}

// --- "Barcode Print" ---

TEST_P(CliOnEveryPort, BarcodeSendsWidthHeightHriAndTheCode) {
    ExpectSent(OnPrinter({"barcode", "--type", "UPC-A", "--data", "01234567890"}),
               WithProbe({rows::kHriNone, rows::kDefaultBarcode}));
    ExpectSent(OnPrinter({"barcode", "--type=ean13", "--data=123456789012", "--hri", "below"}),
               WithProbe({rows::kHriBelow, rows::kEan13Barcode}));
    // Each given field is sent once, as its field set to that text sends it, before the HRI step.
    ExpectSent(OnPrinter({"barcode", "--type", "UPC-A", "--data", "01234567890", "--width", "6", "--height", "255"}),
               WithProbe({rows::kWidth6, rows::kHeight255, rows::kHriNone, rows::kDefaultBarcode}));
}

TEST_P(CliOnEveryPort, BarcodeRefusalsShowTheWindowsMessagesAndExitWith3) {
    const CliRun data = OnPrinter({"barcode", "--type", "EAN13", "--data", "12345"});
    EXPECT_EQ(data.code, app::kCliRefused);
    EXPECT_EQ(data.err, rows::kDataMessage + "\n");
    EXPECT_EQ(data.Echoed(), WithProbe({rows::kHriNone}));  // the HRI step precedes the check
    Received(WithProbe({rows::kHriNone}));

    const CliRun width = OnPrinter({"barcode", "--type", "UPC-A", "--data", "01234567890", "--width", "7"});
    EXPECT_EQ(width.code, app::kCliRefused);
    EXPECT_EQ(width.err, rows::kWidthMessage + "\n");
    EXPECT_EQ(width.Echoed(), Rows{rows::kProbe});
    Received({rows::kProbe});

    const CliRun height = OnPrinter({"barcode", "--type", "UPC-A", "--data", "01234567890", "--height", "0"});
    EXPECT_EQ(height.code, app::kCliRefused);
    EXPECT_EQ(height.err, rows::kHeightMessage + "\n");
}

// --- "Image Print" ---

TEST_P(CliOnEveryPort, ImagePrintsInTheChosenOrientationAndMode) {
    QImage picture(image_rows::kPatternWidth, image_rows::kPatternHeight, QImage::Format_RGB32);
    for (int x = 0; x < picture.width(); ++x) picture.setPixel(x, 0, x % 2 == 0 ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
    const std::string path = Path("pattern.bmp");
    ASSERT_TRUE(picture.save(QString::fromStdString(path), "BMP"));

    ExpectSent(OnPrinter({"image", path}), WithProbe(image_rows::kPatternColumn24Double));
    ExpectSent(OnPrinter({"image", path, "--vertical", "0"}), WithProbe(image_rows::kPatternColumn8Single));
    ExpectSent(OnPrinter({"image", path, "--horizontal", "0", "--threshold", "128"}),
               WithProbe(image_rows::kPatternRasterNormal));
    ExpectSent(OnPrinter({"image", path, "--horizontal=3"}), WithProbe(image_rows::kPatternRasterQuadruple));

    const CliRun threshold = OnPrinter({"image", path, "--threshold", "256"});
    EXPECT_EQ(threshold.code, app::kCliRefused);
    EXPECT_EQ(threshold.err, "Threshold can not be greater than 255\n");
    EXPECT_EQ(threshold.Echoed(), Rows{});

    // A name that is not valid UTF-8 opens by its bytes; --fit and --dither reach the page's
    // options (a picture this small is not scaled; the ordered pattern leaves it as it is).
    const std::string odd = Path("bild\xe9\xff.bmp");
    ASSERT_EQ(::rename(path.c_str(), odd.c_str()), 0);
    ExpectSent(OnPrinter({"image", odd, "--fit", "--dither", "ordered"}), WithProbe(image_rows::kPatternColumn24Double));
    ::unlink(odd.c_str());

    const CliRun missing = OnPrinter({"image", Path("none.bmp")});
    EXPECT_EQ(missing.code, app::kCliFileUnreadable);
    EXPECT_EQ(missing.err.substr(0, 18), "Picture load fail\n");
    EXPECT_EQ(missing.Echoed(), Rows{});
    EXPECT_FALSE(printer->waitForBytes(1, 100));
}

// --- options, output and exit statuses ---

TEST_P(CliOnEveryPort, EchoLinesAndHistoryFileUseTheWindowsForms) {
    const std::string file = Path("history.txt");
    const CliRun r = Cli({"--port", "COM" + std::to_string(kCom), "--echo", "--history", file, "text", "A\tB\\"});
    EXPECT_EQ(r.code, app::kCliDone);
    // Hex text, a tab, the reading with control characters as \xHH (a backslash doubled).
    EXPECT_EQ(r.out, "10 04 05 \tDLE EOT 05 \n41 09 42 5C \tA\\x09B\\\\\n0A \tLF \n");
    // The "Save..." form: each hex text with its trailing space, then CR LF.
    EXPECT_EQ(Read(file), "10 04 05 \r\n41 09 42 5C \r\n0A \r\n");
    Received({rows::kProbe, "41 09 42 5C ", "0A "});

    // Without --echo nothing but the command's own output; the file is written all the same.
    const CliRun quiet = Cli({"--port", "COM" + std::to_string(kCom), "--history=" + file, "feed"});
    EXPECT_EQ(quiet.out, "");
    EXPECT_EQ(Read(file), "10 04 05 \r\n0A \r\n");
    Received({rows::kProbe, "0A "});

    // A history file that cannot be written: "Operation Failed", status 4.
    const CliRun unwritable = Cli({"--port", "COM" + std::to_string(kCom), "--history", scratch.Folder(), "feed"});
    EXPECT_EQ(unwritable.code, app::kCliFileUnreadable);
    EXPECT_EQ(unwritable.err.substr(0, 17), "Operation Failed\n");
}

TEST_F(CliTest, SilentPrinterExits1AndUnmappedPortExits2WithTheWindowsMessages) {
    printer->setAnswerMode(vprinter::VirtualPrinter::AnswerMode::Silent);
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"probe"}, {"sample", "cut"}, {"set", "reset"}, {"feed"}, {"barcode", "--type", "EAN8", "--data", "1234567"}}) {
        SCOPED_TRACE(args[0]);
        const CliRun r = OnPrinter(args);
        EXPECT_EQ(r.code, app::kCliNoAnswer);
        EXPECT_EQ(r.err, rows::kNoAnswer + "\n");
        EXPECT_EQ(r.Echoed(), Rows{rows::kProbe});
    }
    // "Printer Test" has its own open-failure text; the others the common one.
    const CliRun sample = OnPrinter({"sample", "cut"}, kUnmapped);
    EXPECT_EQ(sample.code, app::kCliOpenFailed);
    EXPECT_EQ(sample.err, "COM Open Error.\nNothing is attached as COM" + std::to_string(kUnmapped) + ".\n");
    EXPECT_EQ(OnPrinter({"status"}, kUnmapped).err.substr(0, 16), "COM Open Error.\n");
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"probe"}, {"feed"}, {"set", "kanji", "on"}, {"printer-baud", "4800"}}) {
        const CliRun r = OnPrinter(args, kUnmapped);
        EXPECT_EQ(r.code, app::kCliOpenFailed) << args[0];
        EXPECT_EQ(r.err.substr(0, 16), rows::kOpenError + "\n") << args[0];
    }
    // Over a link that stays closed the image is not sent, as in the window; the status says why.
    QImage dot(1, 1, QImage::Format_RGB32);
    dot.fill(qRgb(0, 0, 0));
    ASSERT_TRUE(dot.save(QString::fromStdString(Path("dot.bmp")), "BMP"));
    const CliRun image = OnPrinter({"image", Path("dot.bmp"), "--horizontal", "0"}, kUnmapped);
    EXPECT_EQ(image.code, app::kCliOpenFailed);
    EXPECT_EQ(image.Echoed(), Rows{});
}

TEST_F(CliTest, AStopRequestEndsTheCommandWith128PlusTheSignal) {
    // Requested before the command begins: nothing is opened or sent.
    platform::RequestStop(SIGTERM);
    const CliRun before = OnPrinter({"feed"});
    platform::ClearStopRequest();
    EXPECT_EQ(before.code, 143);
    EXPECT_EQ(before.Echoed(), Rows{});
    EXPECT_EQ(before.err, "pellory-cli: stopped by SIGTERM; nothing more was sent, and the port was closed.\n");
    EXPECT_FALSE(printer->waitForBytes(1, 100));

    // Requested while listen waits (its time would be ten minutes): it ends, the port closed.
    std::thread stopper([this] {
        for (int i = 0; i < 6000 && printer->answeredRequests() == 0; ++i) platform::SleepMs(5);
        platform::RequestStop(SIGINT);
    });
    const CliRun listen = OnPrinter({"listen", "--seconds", "600"});
    stopper.join();
    platform::ClearStopRequest();
    EXPECT_EQ(listen.code, 130);
    EXPECT_EQ(listen.Echoed(), Rows{rows::kProbe});
    EXPECT_EQ(listen.err, "pellory-cli: stopped by SIGINT; nothing more was sent, and the port was closed.\n");
    EXPECT_EQ(Received({rows::kProbe}), Hex("10 04 05"));
    // The port is free for the next command.
    ExpectSent(OnPrinter({"feed"}), WithProbe({"0A "}));
}

TEST_F(CliTest, BadArgumentsExit3BeforeAnythingIsSent) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"--bogus", "feed"},
        {"--port"},
        {"--port", "COMx", "feed"},
        {"--port", "0", "feed"},
        {"--port", "COM1025", "feed"},
        {"--baud", "1234", "feed"},
        {"--parity", "mark", "feed"},
        {"--stop", "3", "feed"},
        {"--handshake", "rts", "feed"},
        {"--model", "ORVA99", "feed"},
        {"--virtual-printer", "--port", "/dev/null", "feed"},
        {"frobnicate"},
        {"feed", "extra"},
        {"sample"},
        {"sample", "bogus"},
        {"set"},
        {"set", "density", "9"},
        {"set", "line-space", "12a"},
        {"set", "left-margin", "5", "--left", "3"},
        {"set", "align", "center", "--right", "3"},
        {"set", "style", "bold"},
        {"set", "kanji", "maybe"},
        {"set", "codetable", "11"},
        {"set", "reset", "now"},
        {"printer-baud", "1200"},
        {"printer-handshake", "rts"},
        {"text"},
        {"barcode", "--data", "1"},
        {"barcode", "--type", "QR", "--data", "1"},
        {"barcode", "--type", "UPC-A", "--data", "1", "--hri", "left"},
        {"barcode", "--type", "UPC-A", "--data", "1", "--width", "wide"},
        {"image", "a.bmp", "--vertical", "1", "--horizontal", "1"},
        {"image", "a.bmp", "--vertical", "4"},
        {"image", "a.bmp", "--threshold", "high"},
        {"image", "a.bmp", "--dither", "random"},
        {"listen", "--seconds", "soon"},
        {"listen", "--hex=yes"},
    };
    for (const auto& args : cases) {
        std::vector<std::string> all = {"--port", "COM" + std::to_string(kCom)};
        all.insert(all.end(), args.begin(), args.end());
        const CliRun r = Cli(all);
        std::string shown;
        for (const auto& a : args) shown += a + " ";
        EXPECT_EQ(r.code, app::kCliRefused) << shown;
        EXPECT_EQ(r.err.rfind("pellory-cli: ", 0), 0u) << shown << r.err;
        EXPECT_EQ(r.out, "") << shown;
    }
    EXPECT_FALSE(printer->waitForBytes(1, 100));
}

TEST_F(CliTest, HelpForTheProgramAndEveryCommand) {
    const std::vector<std::string> commands = {"probe", "status",   "scan",      "sample",   "set",
                                               "printer-baud", "printer-handshake", "text", "hex", "feed",
                                               "send-file", "hex-file", "barcode", "image", "listen", "encodings",
                                               "render", "decode", "serve"};
    EXPECT_EQ(app::CliCommands(), commands);
    const CliRun help = Cli({"--help"});
    EXPECT_EQ(help.code, app::kCliDone);
    EXPECT_EQ(help.out, app::CliUsage());
    for (const std::string& c : commands) {
        EXPECT_NE(help.out.find("\n  " + c + " "), std::string::npos) << c;
        for (const char* form : {"--help", "-h"}) {
            const CliRun r = Cli({"--virtual-printer", c, form});
            EXPECT_EQ(r.code, app::kCliDone) << c;
            EXPECT_EQ(r.out.rfind("Usage: pellory-cli [options] " + c, 0), 0u) << c << ": " << r.out;
            EXPECT_EQ(r.out, app::CliCommandUsage(c).value_or("")) << c;
            EXPECT_EQ(r.err, "") << c;
        }
    }
    EXPECT_EQ(Cli({"help", "barcode"}).out, app::CliCommandUsage("barcode").value_or("-"));
    EXPECT_EQ(Cli({"-h"}).out, app::CliUsage());
    EXPECT_FALSE(app::CliCommandUsage("frobnicate").has_value());
    EXPECT_FALSE(printer->waitForBytes(1, 50));
}

TEST_P(CliOnEveryPort, VirtualPrinterAndDevicePathsLeaveThePortMapAsItWas) {
    platform::PortMap& ports = platform::PortMap::instance();
    const auto snapshot = [&] {
        std::vector<std::string> s;
        for (const platform::PortEntry& e : ports.entries()) s.push_back(std::to_string(e.number) + "=" + e.path);
        return s;
    };
    const std::vector<std::string> before = snapshot();
    link::PortSettings.portNumber = 5;
    link::PrintableWidth = link::kPrintableWidthOrva80;

    // The built-in printer on a free number: only the command's own output.
    const CliRun own = Cli({"--virtual-printer", "--port", "COM86", "--echo", "sample", "cut"});
    EXPECT_EQ(own.code, app::kCliDone) << own.err;
    EXPECT_EQ(own.Echoed(), WithProbe(expect::EchoRows(expect::SampleExpectations()[11])));
    EXPECT_EQ(own.Output(), Rows{});
    EXPECT_EQ(own.err, "");

    // In place of the mapped printer, which gets nothing.
    const CliRun over = OnPrinter({"--virtual-printer", "feed"});
    EXPECT_EQ(over.code, app::kCliDone) << over.err;
    EXPECT_FALSE(printer->waitForBytes(1, 100));

    // A device path reaches the same printer as its COM number does.
    const CliRun path = Cli({"--port", printer.path(), "--echo", "feed"});
    ExpectSent(path, {rows::kProbe, "0A "});

    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(ports.resolve(kCom)->path, printer.path());
    EXPECT_EQ(link::PortSettings.portNumber, 5);
    EXPECT_EQ(link::PrintableWidth, link::kPrintableWidthOrva80);
    EXPECT_FALSE(pages::ReadyFlag);
}

// --- ports of other kinds ---

TEST_F(CliTest, NetworkOpenFailuresSayWhyAndExit2) {
    int port = 0;
    {
        // A port nothing listens on: bound and closed again.
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len), 0);
        port = ntohs(a.sin_port);
        ::close(fd);
    }
    const CliRun refused = Cli({"--port", "tcp://127.0.0.1:" + std::to_string(port), "feed"});
    EXPECT_EQ(refused.code, app::kCliOpenFailed);
    EXPECT_EQ(refused.err.rfind(std::string(link::kOpenErrorText) + "\n", 0), 0u) << refused.err;
    EXPECT_NE(refused.err.find("connection refused by 127.0.0.1:" + std::to_string(port) + "."), std::string::npos)
        << refused.err;

    const CliRun unknown = Cli({"--port", "tcp://no-such-host.invalid", "feed"});
    EXPECT_EQ(unknown.code, app::kCliOpenFailed);
    EXPECT_NE(unknown.err.find("unknown host no-such-host.invalid."), std::string::npos) << unknown.err;
}

TEST_F(CliTest, APrinterDeviceFileWithoutStatusGetsTheBytesWithoutAProbe) {
    // A FIFO stands in for a write-only printer device file such as /dev/usb/lp0.
    const std::string lp = Path("lp0");
    ASSERT_EQ(::mkfifo(lp.c_str(), 0600), 0);
    const int reader = ::open(lp.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    const auto drain = [&] {
        std::string got;
        char buf[4096];
        ssize_t r;
        while ((r = ::read(reader, buf, sizeof buf)) > 0) got.append(buf, static_cast<size_t>(r));
        return got;
    };

    // With the probe, a printer that cannot answer is "not answering".
    const CliRun probed = Cli({"--port", lp, "feed"});
    EXPECT_EQ(probed.code, app::kCliNoAnswer) << probed.err;
    EXPECT_EQ(probed.err, std::string(link::kNoAnswerText) + "\n");
    EXPECT_EQ(drain(), "\x10\x04\x05");

    const CliRun fed = Cli({"--no-status", "--port", lp, "--echo", "text", "Hi"});
    EXPECT_EQ(fed.code, app::kCliDone) << fed.err;
    EXPECT_EQ(fed.Echoed(), (Rows{"48 69 ", "0A "}));
    EXPECT_EQ(drain(), "Hi\n");

    const CliRun status = Cli({"--no-status", "--port", lp, "status"});
    EXPECT_EQ(status.code, app::kCliNoAnswer);
    EXPECT_EQ(status.err, std::string(pages::kNoStatusText) + "\n");
    EXPECT_EQ(status.out, "");
    EXPECT_EQ(drain(), "");
    ::close(reader);
}

TEST_F(CliTest, TheVirtualPrinterOnTheNetworkSaysWhereItListens) {
    const CliRun r = Cli({"--virtual-printer=tcp", "--port", "COM86", "--echo", "feed"});
    EXPECT_EQ(r.code, app::kCliDone) << r.err;
    EXPECT_EQ(r.Echoed(), (Rows{rows::kProbe, "0A "}));
    EXPECT_EQ(r.err.rfind("pellory-cli: virtual printer on tcp://127.0.0.1:", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(" (COM86)\n"), std::string::npos) << r.err;
}
