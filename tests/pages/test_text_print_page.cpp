// The "Text Print" page against virtual printers: Print in text and hex mode, Feed, the two "Hex"
// box conversions, Load and Save of hex command files, sending a file's raw bytes (up to a large
// file, byte for byte), received bytes in both displays, and the page as its link's
// notification window. Only the ports mapped here exist: the system's serial ports are hidden.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTimer>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

#include "charset/printer_record.h"
#include "link/port_settings.h"
#include "pages/command_edit.h"
#include "pages/core/hex_text.h"
#include "pages/core/print_setup_actions.h"
#include "page_test_support.h"
#include "pages/text_print_page.h"
#include "platform/port_map.h"
#include "platform/threads.h"
#include "support/captions.h"
#include "support/empty_ports.h"
#include "support/scratch_folder.h"
#include "support/support.h"
#include "widgets/dialog_layout.h"
#include "widgets/qt_test_app.h"

using namespace pellory;
using pages::CDialogTprint;
using pages::TextPrintActions;
using test::Hex;
namespace fs = std::filesystem;

namespace {

constexpr int kCom = 61;          // the virtual printer
constexpr int kAbsentCom = 62;    // nothing attached
constexpr int kSilentCom = 63;    // a port that takes the probe's answer and then no more data

const std::string kProbeRow = "10 04 05 ";
const std::string kLineFeedRow = "0A ";
const std::string kFilter = "txt Files (*.txt)|*.txt||";
const std::string kRejected(hextext::kFileRejectedMessage);

using Rows = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;


Bytes FileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Runs the page's event loop until pred holds or timeoutMs passed.
bool PumpUntil(const std::function<bool()>& pred, uint32_t timeoutMs = 2000) {
    const uint32_t start = platform::TickCount();
    for (;;) {
        QCoreApplication::processEvents();
        if (pred()) return true;
        if (platform::TickCount() - start >= timeoutMs) return false;
        platform::SleepMs(5);
    }
}

void PumpFor(uint32_t ms) {
    PumpUntil([] { return false; }, ms);
}

// A message seam that can act while a file dialog is open.
class ActingPrompt : public test::ScriptedPrompt {
public:
    std::optional<std::string> AskSaveFile(const std::string& filter) override {
        if (duringDialog) duringDialog();
        return ScriptedPrompt::AskSaveFile(filter);
    }
    std::function<void()> duringDialog;
};

class TextPrintPageTest : public test::PageTest<CDialogTprint, ActingPrompt> {
protected:
    TextPrintPageTest() : PageTest(kCom) {}
    // What the main window does at start-up.
    void InitPage(CDialogTprint& p) override {
        p.MakeSelfNotifyWindow();
        p.SetReceiveHex(true);
        p.SetTransmitText(QString::fromLatin1(pages::kTransmitPromptText));
        p.echoSwitch = true;
    }
    void Click(int id) { Control<QAbstractButton>(id)->click(); }
    void SetTransmit(const char* text) { page->SetTransmitText(QString::fromLatin1(text)); }
    bool TransmitHexChecked() { return Control<QCheckBox>(pages::kIdTransmitHexBox)->isChecked(); }
    bool ReceiveHexChecked() { return Control<QCheckBox>(pages::kIdReceiveHexBox)->isChecked(); }
    std::string Path(const char* name) const { return scratch.Path(name); }

    // Opens the link with "Feed" and forgets what that sent.
    void OpenLink(test::MappedPrinter& p) {
        Click(pages::kIdFeedButton);
        ASSERT_TRUE(page->IsOpen());
        ASSERT_TRUE(p->waitForBytes(4, 2000));
        p->clearReceived();
        history.rows.clear();
    }
    // Waits until the printer got exactly these bytes (and nothing more within a short while).
    static void ExpectReceived(test::MappedPrinter& p, const Bytes& bytes) {
        EXPECT_TRUE(p->waitForBytes(bytes.size(), 3000));
        EXPECT_TRUE(p->waitForQuiet(60, 2000));
        EXPECT_EQ(p->received(), bytes);
    }
    bool ReceiveTextIs(const QString& text) {
        return PumpUntil([&] { return page->ReceiveText() == text; });
    }

    test::ScratchFolder scratch{"pellory_tprint"};
};

}  // namespace

// --- the page as the main window sets it up ----------------------------------------------------

TEST_F(TextPrintPageTest, ControlsCarryTheirIdsCaptionsAndStartUpState) {
    EXPECT_EQ(page->TransmitText(), std::string(pages::kTransmitPromptText));
    EXPECT_FALSE(page->TransmitField()->hexOnly);
    EXPECT_FALSE(TransmitHexChecked());
    EXPECT_TRUE(ReceiveHexChecked());
    EXPECT_TRUE(page->ReceiveText().isEmpty());
    EXPECT_TRUE(Control<QPlainTextEdit>(pages::kIdReceiveField)->isReadOnly());
    EXPECT_TRUE(Control<QLineEdit>(pages::kIdPathField)->isReadOnly());
    EXPECT_FALSE(page->TransmitField()->isReadOnly());
    EXPECT_EQ(Control<QPlainTextEdit>(pages::kIdTransmitField), page->TransmitField());

    const std::pair<int, const char*> captions[] = {
        {pages::kIdTransmitHexBox, "Hex"}, {pages::kIdPrintButton, "Print"},   {pages::kIdFeedButton, "Feed"},
        {pages::kIdTransmitClearButton, "Clear"}, {pages::kIdLoadButton, "Load..."}, {pages::kIdSaveButton, "Save..."},
        {pages::kIdOpenButton, "Open..."}, {pages::kIdReceiveHexBox, "Hex"}, {pages::kIdReceiveClearButton, "Clear"},
    };
    for (const auto& [id, caption] : captions) {
        EXPECT_EQ(test::Caption(Control<QAbstractButton>(id)), QString::fromLatin1(caption)) << id;
    }
    QStringList groups;
    for (QGroupBox* g : page->findChildren<QGroupBox*>()) groups << g->title();
    groups.sort();
    EXPECT_EQ(groups, (QStringList{"Receiving data", "Transmitting data"}));
    // Nothing was sent or opened by the set-up.
    EXPECT_FALSE(page->IsOpen());
    EXPECT_TRUE(history.rows.empty());
}

// --- Print and Feed ------------------------------------------------------------------------------

TEST_F(TextPrintPageTest, PrintOfAnEmptyFieldOpensTheLinkAndSendsNothingElse) {
    test::MappedPrinter p(kCom);
    SetTransmit("");
    Click(pages::kIdPrintButton);
    EXPECT_TRUE(page->IsOpen());
    EXPECT_EQ(history.rows, Rows{kProbeRow});
    ExpectReceived(p, Hex("10 04 05"));
}

TEST_F(TextPrintPageTest, PrintInTextModeSendsTheTextWithCrLfThenALineFeedOnItsOwn) {
    test::MappedPrinter p(kCom);
    SetTransmit("AB\nC");
    Click(pages::kIdPrintButton);
    EXPECT_EQ(history.rows, (Rows{kProbeRow, "41 42 0D 0A 43 ", kLineFeedRow}));
    ExpectReceived(p, Hex("10 04 05 41 42 0D 0A 43 0A"));

    // The link stays open: a second print has no probe. Latin-1 characters go as single bytes.
    history.rows.clear();
    p->clearReceived();
    page->SetTransmitText(QString::fromLatin1("\xE9 \xA0"));
    Click(pages::kIdPrintButton);
    EXPECT_EQ(history.rows, (Rows{"E9 20 A0 ", kLineFeedRow}));
    ExpectReceived(p, Hex("E9 20 A0 0A"));
}

TEST_F(TextPrintPageTest, PrintInHexModeSendsTheParsedBytesThenALineFeed) {
    test::MappedPrinter p(kCom);
    Control<QCheckBox>(pages::kIdTransmitHexBox)->setChecked(true);
    SetTransmit("1b40 0a");
    Click(pages::kIdPrintButton);
    EXPECT_EQ(history.rows, (Rows{kProbeRow, "1B 40 0A ", kLineFeedRow}));
    ExpectReceived(p, Hex("10 04 05 1B 40 0A 0A"));
}

TEST_F(TextPrintPageTest, HexTextWithoutAnyByteSendsNothingNotEvenTheLineFeed) {
    test::MappedPrinter p(kCom);
    Control<QCheckBox>(pages::kIdTransmitHexBox)->setChecked(true);
    SetTransmit("  \n \b\n");
    Click(pages::kIdPrintButton);
    EXPECT_EQ(history.rows, Rows{kProbeRow});
    ExpectReceived(p, Hex("10 04 05"));
}

TEST_F(TextPrintPageTest, FeedSendsOneLineFeed) {
    test::MappedPrinter p(kCom);
    Click(pages::kIdFeedButton);
    Click(pages::kIdFeedButton);
    EXPECT_EQ(history.rows, (Rows{kProbeRow, kLineFeedRow, kLineFeedRow}));
    ExpectReceived(p, Hex("10 04 05 0A 0A"));
}

TEST_F(TextPrintPageTest, ActionsEndWhenThePortCannotBeOpened) {
    link::PortSettings.portNumber = kAbsentCom;
    SetTransmit("AB");
    Click(pages::kIdPrintButton);
    Click(pages::kIdFeedButton);
    prompt.QueueFile(Path("never.txt"));
    Click(pages::kIdOpenButton);
    EXPECT_EQ(prompt.Texts(), (std::vector<std::string>{"COM Open Error!", "COM Open Error!", "COM Open Error!"}));
    EXPECT_TRUE(history.rows.empty());
    EXPECT_FALSE(page->IsOpen());
    // "Open..." ended before its file dialog.
    EXPECT_TRUE(prompt.filters.empty());
}

// --- the "Hex" box of the transmit field and its "Clear" -----------------------------------------

TEST_F(TextPrintPageTest, TransmitHexBoxConvertsBothWaysAndSwitchesHexOnlyMode) {
    SetTransmit("AB");
    Click(pages::kIdTransmitHexBox);
    EXPECT_TRUE(TransmitHexChecked());
    EXPECT_EQ(page->TransmitText(), "41 42 ");
    EXPECT_TRUE(page->TransmitField()->hexOnly);
    Click(pages::kIdTransmitHexBox);
    EXPECT_FALSE(TransmitHexChecked());
    EXPECT_EQ(page->TransmitText(), "AB");
    EXPECT_FALSE(page->TransmitField()->hexOnly);

    // Line breaks become 0D 0A and come back as line breaks; a zero byte ends the characters.
    SetTransmit("A\nB");
    Click(pages::kIdTransmitHexBox);
    EXPECT_EQ(page->TransmitText(), "41 0D 0A 42 ");
    SetTransmit("41 0d0a 42 00 43");
    Click(pages::kIdTransmitHexBox);
    EXPECT_EQ(page->TransmitText(), "A\nB");
    // Nothing of this sends or opens anything.
    EXPECT_FALSE(page->IsOpen());
    EXPECT_TRUE(history.rows.empty());
}

TEST_F(TextPrintPageTest, TransmitClearEmptiesTheFieldOnly) {
    SetTransmit("AB");
    Click(pages::kIdTransmitHexBox);
    Click(pages::kIdTransmitClearButton);
    EXPECT_EQ(page->TransmitText(), "");
    EXPECT_TRUE(TransmitHexChecked());
    EXPECT_TRUE(page->TransmitField()->hexOnly);
}

// --- Save ------------------------------------------------------------------------------------------

TEST_F(TextPrintPageTest, SaveWritesHexCommandTextUnderATxtName) {
    // Text mode: the hex form of the characters, nothing more.
    SetTransmit("Hi");
    prompt.QueueFile(Path("hi.txt"));
    Click(pages::kIdSaveButton);
    EXPECT_EQ(FileBytes(Path("hi.txt")), Bytes({'4', '8', ' ', '6', '9', ' '}));
    EXPECT_EQ(prompt.filters, std::vector<std::string>{kFilter});

    // The extension rule: .TXT stays, anything else gains .txt.
    prompt.QueueFile(Path("report.TXT"));
    Click(pages::kIdSaveButton);
    prompt.QueueFile(Path("report.dat"));
    Click(pages::kIdSaveButton);
    EXPECT_TRUE(fs::exists(Path("report.TXT")));
    EXPECT_TRUE(fs::exists(Path("report.dat.txt")));
    EXPECT_FALSE(fs::exists(Path("report.dat")));

    // Hex mode: the text as it stands, line breaks as CR LF; an older, longer file is replaced.
    WriteFile(Path("hex.txt"), "an older and much longer content");
    Control<QCheckBox>(pages::kIdTransmitHexBox)->setChecked(true);
    SetTransmit("1B 40\n0a");
    prompt.QueueFile(Path("hex.txt"));
    Click(pages::kIdSaveButton);
    const std::string expected = "1B 40\r\n0a";
    EXPECT_EQ(FileBytes(Path("hex.txt")), Bytes(expected.begin(), expected.end()));

    // Cancel writes nothing; nothing was ever sent.
    Click(pages::kIdSaveButton);
    EXPECT_EQ(std::distance(fs::directory_iterator(scratch.path()), fs::directory_iterator()), 4);
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_FALSE(page->IsOpen());
}

TEST_F(TextPrintPageTest, SaveTakesTheTextAsItWasBeforeTheDialog) {
    SetTransmit("Hi");
    prompt.duringDialog = [this] { SetTransmit("changed meanwhile"); };
    prompt.QueueFile(Path("before.txt"));
    Click(pages::kIdSaveButton);
    EXPECT_EQ(FileBytes(Path("before.txt")), Bytes({'4', '8', ' ', '6', '9', ' '}));
}

TEST_F(TextPrintPageTest, SaveThatCannotWriteSaysSo) {
    SetTransmit("Hi");
    prompt.QueueFile(Path("no/such/folder/x.txt"));
    Click(pages::kIdSaveButton);
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(prompt.messages[0].text,
              "Cannot write " + Path("no/such/folder/x.txt") + ": No such file or directory");
}

// --- Load ------------------------------------------------------------------------------------------

TEST_F(TextPrintPageTest, LoadKeepsTheHexPartsOfTheLinesAndSwitchesToHexMode) {
    WriteFile(Path("cmd.txt"), "1B 40 // initialise\r\n// only a comment\r\n0A\r\n");
    prompt.QueueFile(Path("cmd.txt"));
    Click(pages::kIdLoadButton);
    EXPECT_EQ(page->TransmitText(), "1B 40 \n0A\n");
    EXPECT_TRUE(TransmitHexChecked());
    EXPECT_TRUE(page->TransmitField()->hexOnly);
    EXPECT_EQ(prompt.filters, std::vector<std::string>{kFilter});
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_FALSE(page->IsOpen());  // Load sends nothing

    // What was loaded prints as its bytes.
    test::MappedPrinter p(kCom);
    Click(pages::kIdPrintButton);
    EXPECT_EQ(history.rows, (Rows{kProbeRow, "1B 40 0A ", kLineFeedRow}));
    ExpectReceived(p, Hex("10 04 05 1B 40 0A 0A"));

    // A G after "//" is never looked at; the previous text is replaced, not converted.
    WriteFile(Path("g.txt"), "1b // Go\n");
    prompt.QueueFile(Path("g.txt"));
    Click(pages::kIdLoadButton);
    EXPECT_EQ(page->TransmitText(), "1b \n");
}

TEST_F(TextPrintPageTest, LoadOfAFileBreakingTheRulesChangesNothing) {
    for (const char* content : {"1B 40\r\n1B\t40\r\n", "1G // x\r\n", "1B-40\r\n"}) {
        SCOPED_TRACE(content);
        prompt.messages.clear();
        SetTransmit("keep me");
        WriteFile(Path("bad.txt"), content);
        prompt.QueueFile(Path("bad.txt"));
        Click(pages::kIdLoadButton);
        ASSERT_EQ(prompt.messages.size(), 1u);
        EXPECT_EQ(prompt.messages[0].text, kRejected);
        EXPECT_EQ(prompt.messages[0].caption, "Note");
        EXPECT_EQ(page->TransmitText(), "keep me");
        EXPECT_FALSE(TransmitHexChecked());
        EXPECT_FALSE(page->TransmitField()->hexOnly);
    }
}

TEST_F(TextPrintPageTest, LoadOfAFilePastTheSizeLimitSaysSoAndChangesNothing) {
    test::MappedPrinter p(kCom);
    SetTransmit("keep me");
    // One byte past the limit, taking no room on disk.
    const std::string huge = Path("huge.txt");
    std::ofstream(huge, std::ios::binary).flush();
    fs::resize_file(huge, hextext::kHexFileSizeLimit + 1);
    prompt.QueueFile(huge);
    Click(pages::kIdLoadButton);
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(prompt.messages[0].text,
              "Cannot load " + huge + ": it holds more than 64 MiB, the limit for a hex command file.");
    EXPECT_EQ(prompt.messages[0].informative,
              "Split it into smaller files and load them one at a time; nothing was loaded or sent.");
    EXPECT_EQ(page->TransmitText(), "keep me");
    EXPECT_FALSE(TransmitHexChecked());
    EXPECT_FALSE(page->IsOpen());
    EXPECT_TRUE(history.rows.empty());
    EXPECT_FALSE(p->waitForBytes(1, 100));
}

TEST_F(TextPrintPageTest, LoadOfAMissingFileSaysSoAndCancelDoesNothing) {
    SetTransmit("keep me");
    Click(pages::kIdLoadButton);  // cancelled
    EXPECT_TRUE(prompt.messages.empty());
    prompt.QueueFile(Path("missing.txt"));
    Click(pages::kIdLoadButton);
    EXPECT_EQ(prompt.Texts(), std::vector<std::string>{"Cannot read " + Path("missing.txt") +
                                                       ": No such file or directory"});
    EXPECT_EQ(page->TransmitText(), "keep me");
    EXPECT_FALSE(TransmitHexChecked());
}

// --- "Open...": a file's raw bytes --------------------------------------------------------------

TEST_F(TextPrintPageTest, OpenSendsTheFileBytesUnchangedAndShowsItsPath) {
    test::MappedPrinter p(kCom);
    // Hex command text in a file is not interpreted, and no line feed is added.
    WriteFile(Path("raw.txt"), "1B 40\r\n");
    prompt.QueueFile(Path("raw.txt"));
    Click(pages::kIdOpenButton);
    EXPECT_EQ(Control<QLineEdit>(pages::kIdPathField)->text(), QString::fromStdString(Path("raw.txt")));
    EXPECT_EQ(history.rows, (Rows{kProbeRow, "31 42 20 34 30 0D 0A "}));
    ExpectReceived(p, Hex("10 04 05 31 42 20 34 30 0D 0A"));
    EXPECT_EQ(prompt.filters, std::vector<std::string>{kFilter});
}

TEST_F(TextPrintPageTest, OpenOfAnEmptyFileSendsNothingAndAddsNoRow) {
    test::MappedPrinter p(kCom);
    WriteFile(Path("empty.txt"), "");
    prompt.QueueFile(Path("empty.txt"));
    Click(pages::kIdOpenButton);
    EXPECT_EQ(history.rows, Rows{kProbeRow});
    EXPECT_EQ(Control<QLineEdit>(pages::kIdPathField)->text(), QString::fromStdString(Path("empty.txt")));
    ExpectReceived(p, Hex("10 04 05"));
    EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(TextPrintPageTest, OpenCancelledKeepsTheLinkOpenAndAMissingFileSaysSo) {
    test::MappedPrinter p(kCom);
    Click(pages::kIdOpenButton);  // cancelled
    EXPECT_TRUE(page->IsOpen());
    EXPECT_TRUE(Control<QLineEdit>(pages::kIdPathField)->text().isEmpty());
    EXPECT_EQ(history.rows, Rows{kProbeRow});

    prompt.QueueFile(Path("missing.txt"));
    Click(pages::kIdOpenButton);
    EXPECT_EQ(Control<QLineEdit>(pages::kIdPathField)->text(), QString::fromStdString(Path("missing.txt")));
    EXPECT_EQ(prompt.Texts(), std::vector<std::string>{"Cannot read " + Path("missing.txt") +
                                                       ": No such file or directory"});
    EXPECT_EQ(history.rows, Rows{kProbeRow});
    ExpectReceived(p, Hex("10 04 05"));
}

namespace {

// A history that keeps only the sizes of its rows (a large file's echo is three times its size).
class SizeHistory : public link::HistorySink {
public:
    void AddHistoryRow(const link::EchoRecord& echo) override {
        if (!echo.empty()) sizes.push_back(echo.hexSize());
    }
    std::vector<size_t> sizes;
};

// Deterministic bytes covering every value.
Bytes PatternBytes(size_t n) {
    Bytes out(n);
    uint32_t x = 0x9E3779B9u;
    for (size_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = static_cast<uint8_t>(x >> 24);
    }
    return out;
}

}  // namespace

TEST_F(TextPrintPageTest, OpenOfALargeFileReachesThePrinterByteForByteInPieces) {
    test::MappedPrinter p(kCom);
    SizeHistory sizes;
    page->SetMainWindow(&sizes);
    const size_t size = 50 * 1024 * 1024 + 123;
    {
        const Bytes data = PatternBytes(size);
        WriteFile(Path("big.txt"), std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
    }
    prompt.QueueFile(Path("big.txt"));
    // The page's event loop only runs while the send waits for the send buffer to drain; the
    // timer sees what the page looks like then.
    int ticks = 0;
    bool printEnabledMeanwhile = false;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        ++ticks;
        printEnabledMeanwhile |= Control<QPushButton>(pages::kIdPrintButton)->isEnabled();
    });
    watcher.start(10);
    Click(pages::kIdOpenButton);
    watcher.stop();
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_GT(ticks, 0);
    EXPECT_FALSE(printEnabledMeanwhile);

    // One row per piece of 64 KiB (the last one shorter), after the probe's.
    const size_t pieces = (size + pages::kFilePieceSize - 1) / pages::kFilePieceSize;
    ASSERT_EQ(sizes.sizes.size(), pieces + 1);
    EXPECT_EQ(sizes.sizes.front(), kProbeRow.size());
    for (size_t i = 1; i < pieces; ++i) ASSERT_EQ(sizes.sizes[i], 3 * pages::kFilePieceSize) << i;
    EXPECT_EQ(sizes.sizes.back(), 3 * (size - (pieces - 1) * pages::kFilePieceSize));
    // The send buffer never held much more than its limit plus one piece.
    EXPECT_LE(page->SendBuffer().Count(), pages::kSendBacklogLimit + pages::kFilePieceSize);
    // The controls are usable again.
    EXPECT_TRUE(Control<QPushButton>(pages::kIdPrintButton)->isEnabled());

    ASSERT_TRUE(p->waitForBytes(size + 3, 30000));
    const Bytes got = p->received();
    ASSERT_EQ(got.size(), size + 3);
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + 3, Hex("10 04 05").begin()));
    const Bytes data = PatternBytes(size);
    EXPECT_TRUE(std::equal(got.begin() + 3, got.end(), data.begin()));
}

// The printer goes away in the middle of a file send: the send ends at once, with one message
// that names the port, and the link is closed (not a stall: the page never waits for it).
TEST_F(TextPrintPageTest, OpenEndsWithOneMessageWhenThePrinterVanishesMidSend) {
    std::optional<test::MappedPrinter> p(std::in_place, kCom);
    const std::string printerPath = p->path();
    const size_t size = 16 * 1024 * 1024;
    {
        const Bytes data = PatternBytes(size);
        WriteFile(Path("big.txt"), std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
    }
    prompt.QueueFile(Path("big.txt"));
    std::thread unplug([&] {
        if ((*p)->waitForBytes(512 * 1024, 30000)) (*p)->vanish();
    });
    Click(pages::kIdOpenButton);
    unplug.join();
    PumpFor(300);  // notifications still queued add nothing
    ASSERT_EQ(prompt.messages.size(), 1u) << prompt.messages.back().text;
    EXPECT_EQ(prompt.messages[0].text, link::kRemovedText);
    EXPECT_EQ(prompt.messages[0].informative,
              "COM" + std::to_string(kCom) + " (" + printerPath +
                  ") went away while in use. Connect it again, then repeat the action.");
    EXPECT_FALSE(page->IsOpen());
    EXPECT_LT(history.rows.size(), 1 + size / pages::kFilePieceSize);
    EXPECT_TRUE(Control<QPushButton>(pages::kIdPrintButton)->isEnabled());

    // The next action on a printer that is back opens the link again.
    p.reset();
    test::MappedPrinter back(kCom);
    history.rows.clear();
    Click(pages::kIdFeedButton);
    EXPECT_TRUE(page->IsOpen());
    ExpectReceived(back, Hex("10 04 05 0A"));
    EXPECT_EQ(prompt.messages.size(), 1u);
}

// --- received bytes --------------------------------------------------------------------------------

TEST_F(TextPrintPageTest, ReceivedBytesShowAsCharactersUpToAZero) {
    test::MappedPrinter p(kCom);
    OpenLink(p);
    Click(pages::kIdReceiveHexBox);  // off
    ASSERT_FALSE(ReceiveHexChecked());
    ASSERT_TRUE(p->sendUnsolicited(Hex("41 00 42")));
    EXPECT_TRUE(ReceiveTextIs(QStringLiteral("A")));
    PumpFor(150);
    EXPECT_EQ(page->ReceiveText(), QStringLiteral("A"));
    EXPECT_EQ(page->ReceiveView()->toPlainText(), QStringLiteral("A"));

    // Later batches are appended.
    ASSERT_TRUE(p->sendUnsolicited(Hex("43 44")));
    EXPECT_TRUE(ReceiveTextIs(QStringLiteral("ACD")));
}

TEST_F(TextPrintPageTest, ReceivedControlBytesShowAsHexEscapesNotAsBoxes) {
    test::MappedPrinter p(kCom);
    OpenLink(p);
    Click(pages::kIdReceiveHexBox);  // off
    // 01, 1B, 7F and the C1 byte 85 have no picture in most fonts; CR LF still break the line.
    ASSERT_TRUE(p->sendUnsolicited(Hex("41 01 1B 7F 85 42 0D 0A 43")));
    EXPECT_TRUE(ReceiveTextIs(QString::fromLatin1("A\x01\x1B\x7F\x85" "B\r\nC")));
    EXPECT_EQ(page->ReceiveView()->toPlainText(), QStringLiteral("A\\x01\\x1B\\x7F\\x85" "B\nC"));
}

TEST_F(TextPrintPageTest, ReceivedBytesShowAsHexPairsAndConvertBothWays) {
    test::MappedPrinter p(kCom);
    OpenLink(p);
    ASSERT_TRUE(p->sendUnsolicited(Hex("12 AB")));
    EXPECT_TRUE(ReceiveTextIs(QStringLiteral("12 AB ")));
    Click(pages::kIdReceiveHexBox);  // off: the pairs become their characters
    EXPECT_EQ(page->ReceiveText(), QString::fromLatin1("\x12\xAB"));
    Click(pages::kIdReceiveHexBox);  // on again
    EXPECT_EQ(page->ReceiveText(), QStringLiteral("12 AB "));

    // Received line-break bytes keep their values through the character display.
    Click(pages::kIdReceiveClearButton);
    EXPECT_TRUE(page->ReceiveText().isEmpty());
    EXPECT_TRUE(page->ReceiveView()->toPlainText().isEmpty());
    Click(pages::kIdReceiveHexBox);  // off
    ASSERT_TRUE(p->sendUnsolicited(Hex("41 0D 0A 42 0D 43 0A")));
    EXPECT_TRUE(ReceiveTextIs(QString::fromLatin1("A\r\nB\rC\n")));
    EXPECT_EQ(page->ReceiveView()->toPlainText(), QStringLiteral("A\nB\nC\n"));
    Click(pages::kIdReceiveHexBox);  // on
    EXPECT_EQ(page->ReceiveText(), QStringLiteral("41 0D 0A 42 0D 43 0A "));
    // Nothing of this was sent.
    EXPECT_TRUE(history.rows.empty());
}

TEST_F(TextPrintPageTest, HexViewBreaksItsDisplayLinesAndScrollsToTheEnd) {
    test::MappedPrinter p(kCom);
    OpenLink(p);
    page->ReceiveView()->resize(300, 80);
    Bytes burst(40 * pages::kReceivePairsPerLine + 5);
    for (size_t i = 0; i < burst.size(); ++i) burst[i] = static_cast<uint8_t>(i);
    ASSERT_TRUE(p->sendUnsolicited(burst));
    const QString expected = QString::fromStdString(hextext::FormatBytes(burst.data(), burst.size()));
    ASSERT_TRUE(ReceiveTextIs(expected));

    // The view shows the same pairs, kReceivePairsPerLine to a line, however the batches fell.
    const QStringList lines = page->ReceiveView()->toPlainText().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 41);
    for (int i = 0; i < 40; ++i) EXPECT_EQ(lines[i].size(), 3 * pages::kReceivePairsPerLine) << i;
    EXPECT_EQ(lines.join(QString()), expected);
    const QScrollBar* bar = page->ReceiveView()->verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
}

TEST_F(TextPrintPageTest, ReceivedBytesReachTheDecoder) {
    test::MappedPrinter p(kCom);
    OpenLink(p);
    ASSERT_TRUE(p->sendUnsolicited(Hex("08")));
    ASSERT_TRUE(ReceiveTextIs(QStringLiteral("08 ")));
    EXPECT_TRUE(page->StatusMemory(0x08));
    ASSERT_TRUE(p->sendUnsolicited(Hex("37 41")));
    ASSERT_TRUE(ReceiveTextIs(QStringLiteral("08 37 41 ")));
    EXPECT_TRUE(page->Collecting());
    EXPECT_EQ(page->CollectedLength(), 2u);
}

// --- the page as its link's notification window --------------------------------------------------

TEST_F(TextPrintPageTest, TransmitEmptyNotificationClosesTheLinkAndClearsTheSendBuffer) {
    test::MappedPrinter p(kCom);
    OpenLink(p);
    const link::NotifyTargetPtr target = page->GetNotifyTarget();
    ASSERT_NE(target, nullptr);
    ASSERT_TRUE(target->IsLive());
    // From another thread, waiting until the page has handled it.
    std::atomic<bool> done{false};
    std::thread sender([&] {
        target->Send(link::MSG_LINK_TXEMPTY, static_cast<uintptr_t>(kCom), 0);
        done = true;
    });
    EXPECT_TRUE(PumpUntil([&] { return done.load(); }));
    sender.join();
    EXPECT_FALSE(page->IsOpen());
    EXPECT_EQ(page->SendBuffer().Count(), 0u);
}

TEST_F(TextPrintPageTest, NotificationsStopWithThePage) {
    test::MappedPrinter p(kCom);
    OpenLink(p);
    const link::NotifyTargetPtr target = page->GetNotifyTarget();
    // Bytes arrive and their notifications are queued, but the page goes before they are handled.
    ASSERT_TRUE(p->sendUnsolicited(Hex("41 42 43")));
    platform::SleepMs(150);
    page.reset();
    EXPECT_FALSE(target->IsLive());
    target->Post(link::MSG_LINK_RECEIVE, 0, 0);  // reaches nothing
    target->Send(link::MSG_LINK_RECEIVE, 0, 0);  // returns at once
    PumpFor(50);
}

// --- sending a file against a port that stops taking data ------------------------------------------

namespace {

// A port that answers the probe with 00 and then reads nothing more, so its queue fills up.
class StallingPort {
public:
    explicit StallingPort(int number) : port_(number) {
        answerer_ = std::thread([this] {
            uint8_t buf[16];
            size_t got = 0;
            const uint32_t start = platform::TickCount();
            while (got < 3 && platform::TickCount() - start < 5000) {
                const ssize_t n = ::read(port_.masterFd(), buf, sizeof buf);
                if (n > 0) got += static_cast<size_t>(n);
            }
            const uint8_t answer = 0x00;
            if (got >= 3) (void)::write(port_.masterFd(), &answer, 1);
        });
    }
    ~StallingPort() {
        if (answerer_.joinable()) answerer_.join();
    }

private:
    test::SilentPort port_;
    std::thread answerer_;
};

}  // namespace

class TextPrintStallTest : public ::testing::Test {
protected:
    void SetUp() override {
        link::PortSettings.portNumber = kSilentCom;
        link::PortSettings.handshake = 0;
        actions.echoSwitch = true;
        actions.SetPrompt(&prompt);
        actions.SetMainWindow(&history);
        actions.SetStallLimitMs(300);
        const Bytes data = PatternBytes(fileSize_);
        file_ = scratch.Write("big.txt", std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
    }
    void TearDown() override {
        // Closed directly: the port takes no more data, so nothing queued could still go out.
        actions.Close(link::kLinkStopTimeoutMs);
        actions.SendBuffer().ClearLocked();
    }

    static constexpr size_t fileSize_ = 4 * 1024 * 1024;
    test::ScratchFolder scratch{"pellory_tprint_stall"};
    std::string file_;
    test::ScriptedPrompt prompt;
    SizeHistory history;
    TextPrintActions actions;
};

TEST_F(TextPrintStallTest, AStalledPortEndsTheFileSendWithAMessage) {
    StallingPort port(kSilentCom);
    actions.OpenAndProbe();
    ASSERT_TRUE(actions.IsOpen());
    int waits = 0;
    const auto result = actions.SendFileAt(file_, [&] { ++waits; });
    EXPECT_EQ(result, TextPrintActions::SendFileResult::Stopped);
    EXPECT_GT(waits, 0);
    ASSERT_EQ(prompt.messages.size(), 1u);
    const std::string& text = prompt.messages[0].text;
    EXPECT_EQ(text.rfind("Sending " + file_ + " stopped after ", 0), 0u) << text;
    EXPECT_NE(text.find("the printer took no data for 300 ms."), std::string::npos) << text;
    // It stopped waiting above the limit, with never more than one piece beyond it queued, and
    // far from the whole file: one row per piece queued, after the probe's.
    const size_t queued = actions.SendBuffer().Count();
    EXPECT_GT(queued, pages::kSendBacklogLimit);
    EXPECT_LE(queued, pages::kSendBacklogLimit + pages::kFilePieceSize);
    EXPECT_GE(history.sizes.size(), 3u);
    EXPECT_LT(history.sizes.size(), 1 + fileSize_ / pages::kFilePieceSize);
    for (size_t i = 1; i < history.sizes.size(); ++i) EXPECT_EQ(history.sizes[i], 3 * pages::kFilePieceSize);
}

TEST_F(TextPrintStallTest, ALinkClosedWhileWaitingEndsTheFileSendWithAMessage) {
    StallingPort port(kSilentCom);
    actions.OpenAndProbe();
    ASSERT_TRUE(actions.IsOpen());
    // Something closes the link while the send waits (a tab change of the main window does).
    const auto result = actions.SendFileAt(file_, [&] { actions.Close(link::kLinkStopTimeoutMs); });
    EXPECT_EQ(result, TextPrintActions::SendFileResult::Stopped);
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_NE(prompt.messages[0].text.find("the port was closed."), std::string::npos) << prompt.messages[0].text;
    EXPECT_FALSE(actions.IsOpen());
}

// --- the functions behind the page -------------------------------------------------------------

// --- printer characters ------------------------------------------------------------------------

namespace {

// The page with the record of the printer's characters at its start (page_settings_guard.h puts
// it back after each test).
class PrinterCharactersTest : public TextPrintPageTest {
protected:
    void ChoosePrinterCharacters() { Click(pages::kIdPrinterCharactersRadio); }
    void SetTransmitUtf8(const char* text) { page->SetTransmitText(QString::fromUtf8(text)); }
    std::string FileText(const char* name) {
        const Bytes b = FileBytes(Path(name));
        return {b.begin(), b.end()};
    }
};

}  // namespace

TEST_F(PrinterCharactersTest, RadioPairStartsAtBytesAndSetsWhatIsShown) {
    auto* bytes = Control<QRadioButton>(pages::kIdLatin1BytesRadio);
    auto* printer = Control<QRadioButton>(pages::kIdPrinterCharactersRadio);
    EXPECT_EQ(test::Caption(bytes), QStringLiteral("Bytes (Latin-1)"));
    EXPECT_EQ(test::Caption(printer), QStringLiteral("Printer characters"));
    EXPECT_TRUE(bytes->isChecked());
    EXPECT_FALSE(printer->isChecked());
    EXPECT_EQ(page->Characters(), pages::TextCharacters::Latin1Bytes);
    ChoosePrinterCharacters();
    EXPECT_FALSE(bytes->isChecked());
    EXPECT_EQ(page->Characters(), pages::TextCharacters::PrinterCharacters);
    EXPECT_TRUE(charset::PrinterCharactersShown());
    Click(pages::kIdLatin1BytesRadio);
    EXPECT_EQ(page->Characters(), pages::TextCharacters::Latin1Bytes);
    EXPECT_FALSE(charset::PrinterCharactersShown());
}

TEST_F(PrinterCharactersTest, CafePrintsAsThePrinterCharactersOfPc437) {
    test::MappedPrinter p(kCom);
    ChoosePrinterCharacters();
    SetTransmitUtf8("caf\u00E9\n\u00E0");
    Click(pages::kIdPrintButton);
    EXPECT_EQ(history.rows, (Rows{kProbeRow, "63 61 66 82 0D 0A 85 ", kLineFeedRow}));
    ExpectReceived(p, Hex("10 04 05 63 61 66 82 0D 0A 85 0A"));
    EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(PrinterCharactersTest, PrintFollowsTheLastPrintSetupChoices) {
    // "Print Setup" chooses PC858 and the Japan set; its link cannot open (no printer yet), but
    // the controls keep the choices, and so does the record.
    {
        pages::PrintSetupActions setup;
        setup.SetPrompt(&prompt);
        EXPECT_EQ(setup.SelectEntry(pages::SetupList::CodeTable, 9), pages::ActionOutcome::LinkClosed);
        EXPECT_EQ(setup.SelectEntry(pages::SetupList::CharacterSet, 8), pages::ActionOutcome::LinkClosed);
    }
    prompt.messages.clear();
    EXPECT_EQ(charset::LastPrinterState(), (charset::PrinterState{charset::CodeTable::PC858, 8, false}));
    test::MappedPrinter p(kCom);
    ChoosePrinterCharacters();
    SetTransmitUtf8("\u20AC5 \u00A5");
    Click(pages::kIdPrintButton);
    EXPECT_EQ(history.rows, (Rows{kProbeRow, "D5 35 20 5C ", kLineFeedRow}));
    ExpectReceived(p, Hex("10 04 05 D5 35 20 5C 0A"));

    // "Kanji Mode": Chinese text in two-byte codes.
    {
        pages::PrintSetupActions setup;
        setup.SetPrompt(&prompt);
        setup.SelectEntry(pages::SetupList::CharacterSet, 0);
        setup.ClickKanji(true);
    }
    history.rows.clear();
    p->clearReceived();
    SetTransmitUtf8("\u4E2D\u6587");
    Click(pages::kIdPrintButton);
    EXPECT_EQ(history.rows, (Rows{"D6 D0 CE C4 ", kLineFeedRow}));
}

TEST_F(PrinterCharactersTest, ACharacterWithoutCodeIsNamedAndNothingIsSent) {
    test::MappedPrinter p(kCom);
    ChoosePrinterCharacters();
    SetTransmitUtf8("Total \u20AC5");  // no euro in PC437
    Click(pages::kIdPrintButton);
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(prompt.messages[0].text,
              "\"\u20AC\" (U+20AC) at position 7 cannot be printed with PC437(U.S.A). Nothing was sent.");
    EXPECT_TRUE(history.rows.empty());
    EXPECT_FALSE(page->IsOpen());  // not even the probe
    EXPECT_FALSE(p->waitForBytes(1, 100));
    // As bytes the same text goes as it always did: the euro beyond Latin-1 as '?'.
    Click(pages::kIdLatin1BytesRadio);
    Click(pages::kIdPrintButton);
    EXPECT_EQ(history.rows, (Rows{kProbeRow, "54 6F 74 61 6C 20 3F 35 ", kLineFeedRow}));
}

TEST_F(PrinterCharactersTest, TransmitHexBoxConvertsThroughTheTableOrStaysAsItWas) {
    ChoosePrinterCharacters();
    SetTransmitUtf8("caf\u00E9");
    Click(pages::kIdTransmitHexBox);
    EXPECT_EQ(page->TransmitText(), "63 61 66 82 ");
    Click(pages::kIdTransmitHexBox);
    EXPECT_EQ(page->TransmitText(), "caf\u00E9");
    // A byte without a character (81 in WPC1252): the message, the box back on, the field kept.
    charset::RecordCodeTable(charset::CodeTable::WPC1252);
    SetTransmit("80 81");
    Control<QCheckBox>(pages::kIdTransmitHexBox)->setChecked(true);
    page->TransmitField()->hexOnly = true;
    Click(pages::kIdTransmitHexBox);
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(prompt.messages[0].text, "Byte 81 at offset 1 is not a character of WPC1252.");
    EXPECT_TRUE(TransmitHexChecked());
    EXPECT_TRUE(page->TransmitField()->hexOnly);
    EXPECT_EQ(page->TransmitText(), "80 81");
    // A character without a code: the box stays off.
    prompt.messages.clear();
    Control<QCheckBox>(pages::kIdTransmitHexBox)->setChecked(false);
    page->TransmitField()->hexOnly = false;
    SetTransmitUtf8("\u0416");
    Click(pages::kIdTransmitHexBox);
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_FALSE(TransmitHexChecked());
    EXPECT_FALSE(page->TransmitField()->hexOnly);
    EXPECT_EQ(page->TransmitText(), "\u0416");
}

TEST_F(PrinterCharactersTest, SaveAndLoadAreByteExactInBothModes) {
    // Bytes: é is E9 and comes back as E9.
    page->SetTransmitText(QString::fromLatin1("caf\xE9"));
    prompt.QueueFile(Path("bytes.txt"));
    Click(pages::kIdSaveButton);
    EXPECT_EQ(FileText("bytes.txt"), "63 61 66 E9 ");
    prompt.QueueFile(Path("bytes.txt"));
    Click(pages::kIdLoadButton);
    Click(pages::kIdTransmitHexBox);  // off
    EXPECT_EQ(page->TransmitText(), "caf\xE9");

    // Printer characters (PC437): é is 82 and comes back as é.
    ChoosePrinterCharacters();
    Click(pages::kIdTransmitClearButton);
    SetTransmitUtf8("caf\u00E9");
    prompt.QueueFile(Path("printer.txt"));
    Click(pages::kIdSaveButton);
    EXPECT_EQ(FileText("printer.txt"), "63 61 66 82 ");
    SetTransmit("something else");
    prompt.QueueFile(Path("printer.txt"));
    Click(pages::kIdLoadButton);
    EXPECT_EQ(page->TransmitText(), "63 61 66 82 \n");
    EXPECT_TRUE(TransmitHexChecked());
    Click(pages::kIdTransmitHexBox);  // off
    EXPECT_EQ(page->TransmitText(), "caf\u00E9");
    // Saving it again writes the same bytes.
    prompt.QueueFile(Path("again.txt"));
    Click(pages::kIdSaveButton);
    EXPECT_EQ(FileText("again.txt"), "63 61 66 82 ");
    EXPECT_TRUE(prompt.messages.empty());

    // A character without a code saves nothing.
    SetTransmitUtf8("\u20AC");
    prompt.QueueFile(Path("euro.txt"));
    Click(pages::kIdSaveButton);
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(prompt.messages[0].text,
              "\"\u20AC\" (U+20AC) at position 1 cannot be printed with PC437(U.S.A). Nothing was saved.");
    EXPECT_FALSE(fs::exists(Path("euro.txt")));
    EXPECT_FALSE(page->IsOpen());
}

TEST_F(PrinterCharactersTest, LoadRefusesAFileThatDoesNotDecodeWithTheOffsetOfItsFirstBadByte) {
    ChoosePrinterCharacters();
    charset::RecordKanji(true);
    WriteFile(Path("cut.txt"), "41 D6 D0 // A and a Chinese character\r\n42 D6\r\n");
    SetTransmit("keep me");
    prompt.QueueFile(Path("cut.txt"));
    Click(pages::kIdLoadButton);
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(prompt.messages[0].text, Path("cut.txt") +
                                           " does not hold the printer's characters: Byte D6 at offset 4 is not a "
                                           "character of GB18030 (Kanji Mode).");
    EXPECT_EQ(prompt.messages[0].caption, "Note");
    EXPECT_EQ(page->TransmitText(), "keep me");
    EXPECT_FALSE(TransmitHexChecked());
    // The same file as bytes loads as it is.
    prompt.messages.clear();
    Click(pages::kIdLatin1BytesRadio);
    prompt.QueueFile(Path("cut.txt"));
    Click(pages::kIdLoadButton);
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_EQ(page->TransmitText(), "41 D6 D0 \n42 D6\n");
}

TEST_F(PrinterCharactersTest, ReceiveViewShowsThePrinterCharacters) {
    test::MappedPrinter p(kCom);
    OpenLink(p);
    Click(pages::kIdReceiveHexBox);  // off
    ChoosePrinterCharacters();
    ASSERT_TRUE(p->sendUnsolicited(Hex("63 61 66 82")));
    EXPECT_TRUE(ReceiveTextIs(QString::fromLatin1("caf\x82")));  // the field keeps the bytes
    EXPECT_EQ(page->ReceiveView()->toPlainText(), QString::fromUtf8("caf\u00E9"));
    // Back to bytes: the same byte as its Latin-1 character, a control character (C1) as \xHH.
    Click(pages::kIdLatin1BytesRadio);
    EXPECT_EQ(page->ReceiveView()->toPlainText(), QStringLiteral("caf\\x82"));

    // A two-byte code split over two batches is one character; a byte without one shows as \xHH.
    Click(pages::kIdPrinterCharactersRadio);
    Click(pages::kIdReceiveClearButton);
    charset::RecordKanji(true);
    ASSERT_TRUE(p->sendUnsolicited(Hex("41 D6")));
    EXPECT_TRUE(ReceiveTextIs(QString::fromLatin1("A\xD6")));
    EXPECT_EQ(page->ReceiveView()->toPlainText(), QStringLiteral("A"));
    ASSERT_TRUE(p->sendUnsolicited(Hex("D0 80")));
    EXPECT_TRUE(ReceiveTextIs(QString::fromLatin1("A\xD6\xD0\x80")));
    EXPECT_EQ(page->ReceiveView()->toPlainText(), QString::fromUtf8("A\u4E2D\\x80"));
    // Hex and back keeps every byte.
    Click(pages::kIdReceiveHexBox);
    EXPECT_EQ(page->ReceiveText(), QStringLiteral("41 D6 D0 80 "));
    Click(pages::kIdReceiveHexBox);
    EXPECT_EQ(page->ReceiveView()->toPlainText(), QString::fromUtf8("A\u4E2D\\x80"));
    EXPECT_TRUE(history.rows.empty());
}

TEST(TextPrintFunctions, BytesAndTextsOfThePageOperations) {
    EXPECT_EQ(pages::PrintDataBytes("AB\nC", false), Hex("41 42 0D 0A 43"));
    EXPECT_EQ(pages::PrintDataBytes("1b40 0a", true), Hex("1B 40 0A"));
    EXPECT_TRUE(pages::PrintDataBytes(" \r\n\b", true).empty());
    EXPECT_EQ(pages::SaveContent("Hi", false), "48 69 ");
    EXPECT_EQ(pages::SaveContent("1B\n40", true), "1B\r\n40");
    EXPECT_EQ(pages::ContentForField("1B 40 \r\n0A\r\n\r"), "1B 40 \n0A\n\r");
    EXPECT_EQ(pages::ConvertReceiveText("A\r\n", true), "41 0D 0A ");
    EXPECT_EQ(pages::ConvertReceiveText("00 41", false), "");
    const Bytes b = Hex("41 00 42");
    EXPECT_EQ(pages::ReceiveAppendText(b.data(), b.size(), false), "A");
    EXPECT_EQ(pages::ReceiveAppendText(b.data(), b.size(), true), "41 00 42 ");
}
