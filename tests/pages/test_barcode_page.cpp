// The "Barcode Print" page against a virtual printer: start-up, the range texts, the HRI step,
// width and height on every change of their text, printing with the data check, and what the
// actions do when the link stays closed (they stop: nothing queued, no row).
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <memory>

#include "link/port_settings.h"
#include "page_test_support.h"
#include "pages/barcode_page.h"
#include "platform/port_map.h"
#include "print_setup_barcode_rows.h"
#include "support/captions.h"
#include "support/empty_ports.h"
#include "support/support.h"
#include "widgets/dialog_layout.h"
#include "widgets/qt_test_app.h"
#include "widgets/resources.h"

using namespace pellory;
using pages::CDiglogBarcode;
using test::Digits;
using test::Entries;
using test::Hex;
using Rows = std::vector<std::string>;
namespace rows = test::rows;

namespace {

constexpr int kCom = 171;
constexpr int kSilentCom = 172;

class BarcodePageTest : public test::PageTest<CDiglogBarcode> {
protected:
    BarcodePageTest() : PageTest(kCom) {}
    void InitPage(CDiglogBarcode& p) override {
        p.InitBarcodePage();
    }
    QLineEdit* Field(int id) { return Control<QLineEdit>(id); }
    QComboBox* List(int id) { return Control<QComboBox>(id); }
    QString NumberRange() { return Control<QPlainTextEdit>(CDiglogBarcode::kIdNumberRange)->toPlainText(); }
    void ChooseHri(int index) { test::ChooseEntry(List(CDiglogBarcode::kIdHri), index); }
    void ChooseSymbology(int index) { test::ChooseEntry(List(CDiglogBarcode::kIdSymbology), index); }
    void TypeOver(int id, const std::string& text) { test::TypeOver(Field(id), text); }
    void Print(const std::string& data) {
        Field(CDiglogBarcode::kIdData)->setText(QString::fromLatin1(data));
        Control<QPushButton>(CDiglogBarcode::kIdPrint)->click();
    }
    vprinter::Bytes Received(test::MappedPrinter& p, size_t n) { return test::ReceivedWhenQuiet(p, n, 2000); }

};

}  // namespace

TEST_F(BarcodePageTest, StartUpShowsTheDefaultsThePictureAndSendsNothing) {
    test::MappedPrinter p(kCom);
    EXPECT_EQ(Entries(List(CDiglogBarcode::kIdSymbology)),
              (QStringList{"UPC-A", "UPC-B", "EAN13", "EAN8", "CODE39", "ITF25", "CODABAR", "CODA93", "CODA128",
                           "EAN128"}));
    EXPECT_EQ(Entries(List(CDiglogBarcode::kIdHri)), (QStringList{"None", "Above", "Below", "Both"}));
    EXPECT_EQ(List(CDiglogBarcode::kIdSymbology)->currentText(), "UPC-A");
    EXPECT_EQ(List(CDiglogBarcode::kIdHri)->currentText(), "None");
    EXPECT_EQ(Field(CDiglogBarcode::kIdWidth)->text(), "2");
    EXPECT_EQ(Field(CDiglogBarcode::kIdHeight)->text(), "64");
    EXPECT_EQ(Field(CDiglogBarcode::kIdData)->text(), "01234567890");
    EXPECT_EQ(Field(CDiglogBarcode::kIdCharacterRange)->text(), "0 ~ 9");
    EXPECT_TRUE(Field(CDiglogBarcode::kIdCharacterRange)->isReadOnly());
    EXPECT_EQ(NumberRange(), "11");
    EXPECT_TRUE(Control<QPlainTextEdit>(CDiglogBarcode::kIdNumberRange)->isReadOnly());
    EXPECT_EQ(test::Caption(Control<QPushButton>(CDiglogBarcode::kIdPrint)), "Print Barcode");

    QStringList titles;
    for (auto* g : page->findChildren<QGroupBox*>()) titles << g->title();
    EXPECT_EQ(titles, (QStringList{"Barcode Setting", "Barcode Print"}));
    QStringList labels;
    QPixmap picture;
    for (auto* l : page->findChildren<QLabel*>()) {
        labels << l->text();
        if (!l->pixmap().isNull()) picture = l->pixmap();
    }
    for (const char* want : {"Barcode System:", "HRI Position:", "Barcode Width:", "Barcode Height:", "Barcode Data:",
                             "The range of Characters:", "The range of Characters Number:",
                             "A barcode is an optical machine-readable representation of data, which shows data "
                             "about the object to which it attaches."}) {
        EXPECT_TRUE(labels.contains(QString::fromLatin1(want))) << want;
    }
    // The sample barcode (resource 155).
    EXPECT_EQ(picture.size(), QSize(161, 61));
    EXPECT_EQ(picture.toImage(), widgets::LoadResourcePixmap(widgets::kIdBitmapBarcodeSample).toImage());

    EXPECT_TRUE(page->echoSwitch);
    EXPECT_FALSE(page->IsOpen());
    EXPECT_TRUE(history.rows.empty());
    EXPECT_TRUE(prompt.messages.empty());
    p->waitForQuiet(50, 500);
    EXPECT_TRUE(p->received().empty());
}

TEST_F(BarcodePageTest, ChoosingASymbologyShowsItsRangesAndSendsNothing) {
    test::MappedPrinter p(kCom);
    ChooseSymbology(6);
    EXPECT_EQ(Field(CDiglogBarcode::kIdCharacterRange)->text(), "0 ~ 9   $ + - . / :");
    EXPECT_EQ(NumberRange(), "1 ~ 255, Insert A or a before code data, Insert D or d after code data");
    ChooseSymbology(4);
    EXPECT_EQ(Field(CDiglogBarcode::kIdCharacterRange)->text(), "0 ~ 9   A ~ Z   SP $ % + - . /");
    EXPECT_EQ(NumberRange(), "1 ~ 255");
    // A selection by the program shows the texts as well.
    List(CDiglogBarcode::kIdSymbology)->setCurrentIndex(5);
    EXPECT_EQ(NumberRange(), "2 ~ 255, Even");
    // Typing data sends nothing either.
    Field(CDiglogBarcode::kIdData)->setText(QStringLiteral("1234"));
    EXPECT_TRUE(history.rows.empty());
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_FALSE(page->IsOpen());
    p->waitForQuiet(50, 500);
    EXPECT_TRUE(p->received().empty());
}

TEST_F(BarcodePageTest, DefaultPrintSendsHriThenHeaderAndDataInOneRow) {
    test::MappedPrinter p(kCom);
    Control<QPushButton>(CDiglogBarcode::kIdPrint)->click();
    EXPECT_EQ(history.rows, (Rows{rows::kProbe, rows::kHriNone, rows::kDefaultBarcode}));
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_EQ(Received(p, 3 + 3 + 4 + 11), Hex("10 04 05 1D 48 00 1D 6B 41 0B 30 31 32 33 34 35 36 37 38 39 30"));
    // The next print does not probe again; width and height are not sent by a print.
    page->OnPrint();
    EXPECT_EQ(history.rows,
              (Rows{rows::kProbe, rows::kHriNone, rows::kDefaultBarcode, rows::kHriNone, rows::kDefaultBarcode}));
}

TEST_F(BarcodePageTest, Ean13AcceptsTwelveDigitsAndRefusesThirteenAfterTheHriCommand) {
    test::MappedPrinter p(kCom);
    ChooseSymbology(2);
    ChooseHri(2);
    EXPECT_EQ(history.rows, (Rows{rows::kProbe, rows::kHriBelow}));
    Print("123456789012");
    EXPECT_EQ(history.rows, (Rows{rows::kProbe, rows::kHriBelow, rows::kHriBelow, rows::kEan13Barcode}));
    Print("1234567890123");
    EXPECT_EQ(prompt.Texts(), (Rows{rows::kDataMessage}));
    EXPECT_EQ(history.rows,
              (Rows{rows::kProbe, rows::kHriBelow, rows::kHriBelow, rows::kEan13Barcode, rows::kHriBelow}));
    EXPECT_EQ(Received(p, 3 + 3 + 3 + 16 + 3),
              Hex("10 04 05 1D 48 02 1D 48 02 1D 6B 43 0C 31 32 33 34 35 36 37 38 39 30 31 32 1D 48 02"));
}

TEST_F(BarcodePageTest, EverySymbologyPrintsWithItsOwnCommandAndRefusesBadData) {
    test::MappedPrinter p(kCom);
    struct Case {
        std::string good;
        std::string bad;
    };
    const Case cases[] = {
        {"01234567890", "0123456789"},
        {"123456", "12345A"},
        {"123456789012", "1234567890123"},
        {"1234567", "123456"},
        {"CODE-39 $1.00", "abc"},
        {Digits(254), Digits(255)},
        {"a40156d", "1234"},
        {"\x7F" "A", "\x80"},
        {"ab", "a"},
        {"\xC1\xC4", "\xC5" "a"},
    };
    size_t bytes = 3;
    for (int i = 0; i < 10; ++i) {
        SCOPED_TRACE(i);
        ChooseSymbology(i);
        history.rows.clear();
        prompt.messages.clear();
        const Case& c = cases[i];
        Print(c.good);
        ASSERT_EQ(history.rows.size(), i == 0 ? 3u : 2u);
        const std::vector<uint8_t> header = {0x1D, 0x6B, static_cast<uint8_t>(0x41 + i),
                                             static_cast<uint8_t>(c.good.size())};
        EXPECT_EQ(history.rows.back(), test::Echo(header) + test::Echo(c.good));
        EXPECT_TRUE(prompt.messages.empty());
        Print(c.bad);
        EXPECT_EQ(prompt.Texts(), (Rows{rows::kDataMessage}));
        EXPECT_EQ(history.rows.back(), rows::kHriNone);
        bytes += 3 + 4 + c.good.size() + 3;
    }
    EXPECT_EQ(Received(p, bytes).size(), bytes);
}

TEST_F(BarcodePageTest, HeightTypedAsTenSendsOneThenTen) {
    test::MappedPrinter p(kCom);
    TypeOver(CDiglogBarcode::kIdHeight, "10");
    EXPECT_EQ(history.rows, (Rows{rows::kProbe, rows::kHeight1, rows::kHeight10}));
    EXPECT_EQ(Received(p, 9), Hex("10 04 05 1D 68 01 1D 68 0A"));
    // The limits: 255 sent, 256 and 0 refused, 1 sent.
    Field(CDiglogBarcode::kIdHeight)->setText(QStringLiteral("255"));
    Field(CDiglogBarcode::kIdHeight)->setText(QStringLiteral("256"));
    Field(CDiglogBarcode::kIdHeight)->setText(QStringLiteral("0"));
    Field(CDiglogBarcode::kIdHeight)->setText(QStringLiteral("1"));
    EXPECT_EQ(history.rows, (Rows{rows::kProbe, rows::kHeight1, rows::kHeight10, rows::kHeight255, rows::kHeight1}));
    EXPECT_EQ(prompt.Texts(), (Rows{rows::kHeightMessage, rows::kHeightMessage}));
}

TEST_F(BarcodePageTest, WidthOutsideOneToSixShowsItsMessageOnEveryChange) {
    test::MappedPrinter p(kCom);
    TypeOver(CDiglogBarcode::kIdWidth, "");
    // The link is opened before the check, so the probe row comes first.
    EXPECT_EQ(history.rows, (Rows{rows::kProbe}));
    EXPECT_EQ(prompt.Texts(), (Rows{rows::kWidthMessage}));
    EXPECT_TRUE(page->IsOpen());
    for (const char* bad : {"7", "0", "-1", "abc", "2x", "4294967298"}) {
        Field(CDiglogBarcode::kIdWidth)->setText(QString::fromLatin1(bad));
    }
    EXPECT_EQ(prompt.Texts(), Rows(7, rows::kWidthMessage));
    Field(CDiglogBarcode::kIdWidth)->setText(QStringLiteral("6"));
    Field(CDiglogBarcode::kIdWidth)->setText(QStringLiteral("1"));
    Field(CDiglogBarcode::kIdWidth)->setText(QStringLiteral(" 1 "));
    EXPECT_EQ(history.rows, (Rows{rows::kProbe, rows::kWidth6, rows::kWidth1, rows::kWidth1}));
    EXPECT_EQ(Received(p, 12), Hex("10 04 05 1D 77 06 1D 77 01 1D 77 01"));
}

TEST_F(BarcodePageTest, NothingActsBeforeTheReadyFlagButAPrintStillPrints) {
    test::MappedPrinter p(kCom);
    pages::ReadyFlag = false;
    Field(CDiglogBarcode::kIdWidth)->setText(QStringLiteral("3"));
    Field(CDiglogBarcode::kIdHeight)->setText(QStringLiteral("300"));
    ChooseHri(1);
    EXPECT_TRUE(history.rows.empty());
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_FALSE(page->IsOpen());
    // Without the flag the HRI step is skipped, the rest of the print is not.
    page->OnPrint();
    EXPECT_EQ(history.rows, (Rows{rows::kProbe, rows::kDefaultBarcode}));
    // A second page initialised while the flag is set still sends nothing for its start-up texts.
    pages::ReadyFlag = true;
    CDiglogBarcode other;
    test::RecordingHistory otherHistory;
    other.SetMainWindow(&otherHistory);
    other.SetPrompt(&prompt);
    other.InitBarcodePage();
    EXPECT_TRUE(otherHistory.rows.empty());
    EXPECT_FALSE(other.IsOpen());
}

TEST_F(BarcodePageTest, LatinOneCharactersReachThePrinterAsSingleBytes) {
    test::MappedPrinter p(kCom);
    ChooseSymbology(7);
    Field(CDiglogBarcode::kIdData)->setText(QString::fromUtf8("A\xC3\x81\xC3\x84"));  // "AÁÄ"
    page->OnPrint();
    EXPECT_EQ(history.rows.back(), "1D 6B 48 03 41 C1 C4 ");
    EXPECT_EQ(Received(p, 3 + 3 + 7), Hex("10 04 05 1D 48 00 1D 6B 48 03 41 C1 C4"));
}

// On a closed link the actions stop: the connection procedure's message is the only thing the
// user sees, nothing waits in the send buffer and the history shows no bytes that never left.
TEST_F(BarcodePageTest, ActionsStopWhenTheLinkStaysClosed) {
    Control<QPushButton>(CDiglogBarcode::kIdPrint)->click();
    EXPECT_EQ(prompt.Texts(), (Rows{rows::kOpenError}));  // once: the print ends at the first failure
    Field(CDiglogBarcode::kIdWidth)->setText(QStringLiteral("9"));
    Field(CDiglogBarcode::kIdHeight)->setText(QStringLiteral("10"));
    ChooseHri(3);
    EXPECT_EQ(prompt.Texts(), Rows(4, rows::kOpenError));  // no width message: no check on a closed link
    EXPECT_TRUE(history.rows.empty());
    EXPECT_EQ(page->SendBuffer().Count(), 0u);
    EXPECT_EQ(page->EchoText(), "");

    // A port where nothing answers: only the probe's row.
    {
        test::SilentPort silent(kSilentCom);
        link::PortSettings.portNumber = kSilentCom;
        prompt.messages.clear();
        page->OnPrint();
        EXPECT_EQ(prompt.Texts(), (Rows{rows::kNoAnswer}));
        EXPECT_EQ(history.rows, (Rows{rows::kProbe}));
        EXPECT_FALSE(page->IsOpen());
        EXPECT_EQ(page->SendBuffer().Count(), 0u);
    }

    // Once a printer answers, a print sends exactly its own bytes.
    link::PortSettings.portNumber = kCom;
    test::MappedPrinter p(kCom);
    history.rows.clear();
    prompt.messages.clear();
    page->OnPrint();
    EXPECT_EQ(history.rows, (Rows{rows::kProbe, "1D 48 03 ", rows::kDefaultBarcode}));
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_EQ(Received(p, 3 + 3 + 15), Hex("10 04 05 1D 48 03 1D 6B 41 0B 30 31 32 33 34 35 36 37 38 39 30"));
}

TEST_F(BarcodePageTest, ActionsClassWorksWithoutWidgets) {
    test::MappedPrinter p(kCom);
    pages::BarcodeActions actions;
    test::RecordingHistory h;
    test::ScriptedPrompt m;
    actions.SetMainWindow(&h);
    actions.SetPrompt(&m);
    actions.Start();
    EXPECT_EQ(actions.HriStep(4), pages::ActionOutcome::Refused);
    EXPECT_EQ(actions.PrintBarcode(0, -1, "01234567890"), pages::ActionOutcome::Refused);
    EXPECT_FALSE(actions.IsOpen());
    EXPECT_EQ(actions.ChangeHeight("10"), pages::ActionOutcome::Sent);
    EXPECT_EQ(actions.ChangeWidth("7"), pages::ActionOutcome::Refused);
    EXPECT_EQ(actions.PrintBarcode(6, 1, "A1234B"), pages::ActionOutcome::Sent);
    EXPECT_EQ(actions.PrintBarcode(6, 1, "1234"), pages::ActionOutcome::Refused);
    EXPECT_EQ(actions.PrintBarcode(10, 0, "ab"), pages::ActionOutcome::Refused);
    EXPECT_EQ(h.rows, (Rows{rows::kProbe, rows::kHeight10, "1D 48 01 ", "1D 6B 47 06 41 31 32 33 34 42 ",
                            "1D 48 01 ", rows::kHriNone}));
    EXPECT_EQ(m.Texts(), (Rows{rows::kWidthMessage, rows::kDataMessage, rows::kDataMessage}));
    pages::ReadyFlag = false;
    EXPECT_EQ(actions.ChangeHeight("10"), pages::ActionOutcome::NotReady);
    EXPECT_EQ(actions.HriStep(0), pages::ActionOutcome::NotReady);
}
