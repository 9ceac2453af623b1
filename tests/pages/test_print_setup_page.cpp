// The "Print Setup" page against a virtual printer: start-up without a row, the number fields
// with their checks (and no value outside a byte ever sent), the lists, the style byte with its
// status request, "Kanji Mode", "Reset", and the actions on a link that stays closed.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QValidator>

#include <memory>

#include "link/port_settings.h"
#include "page_test_support.h"
#include "pages/print_setup_page.h"
#include "platform/port_map.h"
#include "platform/threads.h"
#include "print_setup_barcode_rows.h"
#include "support/captions.h"
#include "support/empty_ports.h"
#include "support/support.h"
#include "widgets/dialog_layout.h"
#include "widgets/qt_test_app.h"

using namespace pellory;
using pages::CDialogPSetup;
using test::Entries;
using test::Hex;
using Rows = std::vector<std::string>;
namespace rows = test::rows;

namespace {

constexpr int kCom = 161;       // the printer's number in this executable
constexpr int kSilentCom = 162;  // a port where nothing answers


// --- pure parts ---

TEST(PrintSetupCommands, ListEntriesAndTheirParameters) {
    using pages::ListParameter;
    using pages::SetupList;
    EXPECT_EQ(pages::ListEntries(SetupList::CharacterSet),
              (std::vector<std::string>{"U.S.A.", "France", "Germany", "U.K.", "Denmark I", "Sweden", "Italy",
                                        "Spain", "Japan", "Norway", "Denmark II", "Spain II", "Latin America",
                                        "Korean", "Slovenia / Croatia", "Chinese"}));
    EXPECT_EQ(pages::ListEntries(SetupList::CodeTable),
              (std::vector<std::string>{"PC437(U.S.A)", "Katakana", "PC850(Multilingual)", "PC860(Portuguese)",
                                        "PC863(Canadian-French)", "PC865(Nordic)", "WPC1252", "PC866(Cyrillic #2)",
                                        "PC852(Latin 2)", "PC858(Euro)", "Page 255"}));
    const int codeTableN[] = {0, 1, 2, 3, 4, 5, 16, 17, 18, 19, 255};
    for (int i = 0; i < 11; ++i) EXPECT_EQ(ListParameter(SetupList::CodeTable, i), codeTableN[i]) << i;
    for (int i = 0; i < 16; ++i) EXPECT_EQ(ListParameter(SetupList::CharacterSet, i), i) << i;
    for (int i = 0; i < 8; ++i) EXPECT_EQ(ListParameter(SetupList::Density, i), i + 1) << i;
    for (auto list : {SetupList::Alignment, SetupList::Speed, SetupList::Font}) {
        for (int i = 0; i < 3; ++i) EXPECT_EQ(ListParameter(list, i), i);
        EXPECT_EQ(ListParameter(list, 3), std::nullopt);
    }
    EXPECT_EQ(ListParameter(SetupList::CodeTable, 11), std::nullopt);
    EXPECT_EQ(ListParameter(SetupList::CharacterSet, 16), std::nullopt);
    EXPECT_EQ(ListParameter(SetupList::Density, 8), std::nullopt);
    EXPECT_EQ(ListParameter(SetupList::Density, -1), std::nullopt);

    EXPECT_EQ(pages::ListCommand(SetupList::Alignment, 2), Hex("1B 61 02"));
    EXPECT_EQ(pages::ListCommand(SetupList::Density, 8), Hex("1B 6D 08"));
    EXPECT_EQ(pages::ListCommand(SetupList::Speed, 1), Hex("1C 73 01"));
    EXPECT_EQ(pages::ListCommand(SetupList::Font, 1), Hex("1B 4D 01"));
    EXPECT_EQ(pages::ListCommand(SetupList::CharacterSet, 15), Hex("1B 52 0F"));
    EXPECT_EQ(pages::ListCommand(SetupList::CodeTable, 255), Hex("1B 74 FF"));
}

TEST(PrintSetupCommands, NumberChecksKeepEveryValueInsideAByte) {
    using pages::AcceptedLineSpace;
    using pages::MarginsAccepted;
    EXPECT_EQ(AcceptedLineSpace(0), 0);
    EXPECT_EQ(AcceptedLineSpace(255), 255);
    EXPECT_EQ(AcceptedLineSpace(256), std::nullopt);
    EXPECT_EQ(AcceptedLineSpace(-1), std::nullopt);
    EXPECT_EQ(AcceptedLineSpace(std::numeric_limits<int32_t>::min()), std::nullopt);

    EXPECT_TRUE(MarginsAccepted(20, 28));
    EXPECT_FALSE(MarginsAccepted(20, 29));
    EXPECT_TRUE(MarginsAccepted(48, 0));
    EXPECT_TRUE(MarginsAccepted(0, 48));
    EXPECT_FALSE(MarginsAccepted(49, 0));
    // A negative side would let the other one pass beyond 48 (or below 0).
    EXPECT_FALSE(MarginsAccepted(-5, 53));
    EXPECT_FALSE(MarginsAccepted(-5, 0));
    EXPECT_FALSE(MarginsAccepted(300, -260));
    EXPECT_FALSE(MarginsAccepted(std::numeric_limits<int32_t>::min(), 10));
    // The sum must not wrap.
    EXPECT_FALSE(MarginsAccepted(std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::max()));
}

TEST(PrintSetupCommands, StyleByteTakesOneBitPerBox) {
    pages::StyleBoxes b;
    EXPECT_EQ(pages::StyleByte(b), 0x00);
    b.doubleHigh = true;
    EXPECT_EQ(pages::StyleByte(b), 0x10);
    b.underline = true;
    EXPECT_EQ(pages::StyleByte(b), 0x90);
    b = {true, true, true, true, true, true, true};
    EXPECT_EQ(pages::StyleByte(b), 0xFE);  // 0x01 is never set
    EXPECT_EQ(pages::StyleCommand(0xFE), Hex("1B 21 FE"));
    EXPECT_EQ(pages::KanjiCommand(true), Hex("1C 26"));
    EXPECT_EQ(pages::KanjiCommand(false), Hex("1C 2E"));
    EXPECT_EQ(pages::ResetCommand(), Hex("1B 40"));
}

// --- the page ---

class PrintSetupPageTest : public test::PageTest<CDialogPSetup> {
protected:
    PrintSetupPageTest() : PageTest(kCom) {}
    void InitPage(CDialogPSetup& p) override {
        p.InitPrintSetupPage();
        p.SetNumberFields(QStringLiteral("33"), QStringLiteral("0"), QStringLiteral("0"));
    }
    QLineEdit* Field(int id) { return Control<QLineEdit>(id); }
    QComboBox* List(int id) { return Control<QComboBox>(id); }
    QCheckBox* Box(int id) { return Control<QCheckBox>(id); }
    // The user picks the entry at index: the selection changes, then the list says so.
    void Choose(int id, int index) { test::ChooseEntry(List(id), index); }
    // The user selects the whole text of a field, then types the characters one at a time.
    void TypeOver(int id, const std::string& text) { test::TypeOver(Field(id), text); }
    // The bytes the printer got, once n of them are there.
    vprinter::Bytes Received(test::MappedPrinter& p, size_t n) { return test::ReceivedWhenQuiet(p, n, 2000); }

};

}  // namespace

TEST_F(PrintSetupPageTest, StartUpShowsTheDefaultsAndSendsNothing) {
    test::MappedPrinter p(kCom);
    // A second page, built while a printer is attached, as the main window builds it.
    pages::ReadyFlag = false;
    CDialogPSetup other;
    test::RecordingHistory otherHistory;
    other.SetMainWindow(&otherHistory);
    other.SetPrompt(&prompt);
    other.InitPrintSetupPage();
    other.SetNumberFields(QStringLiteral("33"), QStringLiteral("0"), QStringLiteral("0"));
    pages::ReadyFlag = true;
    EXPECT_TRUE(otherHistory.rows.empty());
    EXPECT_TRUE(other.echoSwitch);
    EXPECT_FALSE(other.IsOpen());

    EXPECT_EQ(Field(CDialogPSetup::kIdLineSpace)->text(), "33");
    EXPECT_EQ(Field(CDialogPSetup::kIdLeftMargin)->text(), "0");
    EXPECT_EQ(Field(CDialogPSetup::kIdRightMargin)->text(), "0");
    EXPECT_EQ(Entries(List(CDialogPSetup::kIdAlignment)), (QStringList{"Left", "Center", "Right"}));
    EXPECT_EQ(Entries(List(CDialogPSetup::kIdDensity)), (QStringList{"1", "2", "3", "4", "5", "6", "7", "8"}));
    EXPECT_EQ(Entries(List(CDialogPSetup::kIdSpeed)), (QStringList{"High", "Normal", "Low"}));
    EXPECT_EQ(Entries(List(CDialogPSetup::kIdFontSize)), (QStringList{"Font1", "Font2", "Font3"}));
    EXPECT_EQ(List(CDialogPSetup::kIdCharacter)->count(), 16);
    EXPECT_EQ(List(CDialogPSetup::kIdCodeTable)->count(), 11);
    EXPECT_EQ(List(CDialogPSetup::kIdAlignment)->currentText(), "Left");
    EXPECT_EQ(List(CDialogPSetup::kIdDensity)->currentText(), "4");
    EXPECT_EQ(List(CDialogPSetup::kIdSpeed)->currentText(), "High");
    EXPECT_EQ(List(CDialogPSetup::kIdFontSize)->currentText(), "Font1");
    EXPECT_EQ(List(CDialogPSetup::kIdCharacter)->currentText(), "U.S.A.");
    EXPECT_EQ(List(CDialogPSetup::kIdCodeTable)->currentText(), "PC437(U.S.A)");

    struct B {
        int id;
        const char* text;
    };
    for (const B b : {B{1019, "Double High"}, B{1021, "Double Width"}, B{1022, "Emphasized"}, B{1023, "Italic"},
                      B{1024, "Border"}, B{1025, "Underline"}, B{1026, "Highlight"}, B{1027, "Kanji Mode"}}) {
        QCheckBox* box = Box(b.id);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(test::Caption(box), b.text);
        EXPECT_FALSE(box->isChecked()) << b.text;
    }
    EXPECT_EQ(test::Caption(Control<QPushButton>(1048)), "Reset");
    QStringList titles;
    for (auto* g : page->findChildren<QGroupBox*>()) titles << g->title();
    EXPECT_EQ(titles, (QStringList{"Form Setting", "Printer Setting", "Font Setting"}));
    QStringList labels;
    for (auto* l : page->findChildren<QLabel*>()) labels << l->text();
    for (const char* want : {"Line Space", "Left Margin", "Right Margin", "Aligment", "Print Density", "Print Speed",
                             "Font Size", "Character", "Code Table"}) {
        EXPECT_TRUE(labels.contains(QString::fromLatin1(want))) << want;
    }

    EXPECT_TRUE(history.rows.empty());
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_FALSE(page->IsOpen());
    p->waitForQuiet(50, 500);
    EXPECT_TRUE(p->received().empty());
}

TEST_F(PrintSetupPageTest, NumberFieldsTakeOnlyDigitsWhenTyped) {
    QLineEdit* edit = Field(CDialogPSetup::kIdLineSpace);
    ASSERT_NE(edit->validator(), nullptr);
    for (const char* typed : {"-", "a", " ", "+", "."}) {
        edit->end(false);
        edit->insert(QString::fromLatin1(typed));
        EXPECT_EQ(edit->text(), "33") << typed;
    }
    EXPECT_TRUE(history.rows.empty());
    EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(PrintSetupPageTest, TypingThreeHundredSendsTwiceThenRefuses) {
    test::MappedPrinter p(kCom);
    QLineEdit* edit = Field(CDialogPSetup::kIdLineSpace);
    TypeOver(CDialogPSetup::kIdLineSpace, "3");
    EXPECT_EQ(history.rows, (Rows{rows::kProbe, rows::kLineSpace3}));
    edit->insert(QStringLiteral("0"));
    EXPECT_EQ(history.rows, (Rows{rows::kProbe, rows::kLineSpace3, rows::kLineSpace30}));
    EXPECT_TRUE(prompt.messages.empty());
    edit->insert(QStringLiteral("0"));
    EXPECT_EQ(edit->text(), "300");
    EXPECT_EQ(prompt.Texts(), (Rows{rows::kLineSpaceMessage}));
    EXPECT_EQ(history.rows.size(), 3u);
    // Every further change while out of range shows the message again.
    edit->insert(QStringLiteral("1"));
    EXPECT_EQ(prompt.Texts(), (Rows{rows::kLineSpaceMessage, rows::kLineSpaceMessage}));
    EXPECT_EQ(history.rows.size(), 3u);
    // Emptying the field sends 0.
    TypeOver(CDialogPSetup::kIdLineSpace, "");
    EXPECT_EQ(edit->text(), "");
    EXPECT_EQ(history.rows, (Rows{rows::kProbe, rows::kLineSpace3, rows::kLineSpace30, rows::kLineSpace0}));
    EXPECT_EQ(Received(p, 3 + 3 * 3), Hex("10 04 05 1B 33 03 1B 33 1E 1B 33 00"));
}

TEST_F(PrintSetupPageTest, LineSpaceOpensTheLinkOnceAndTakes255) {
    test::MappedPrinter p(kCom);
    Field(CDialogPSetup::kIdLineSpace)->setText(QStringLiteral("255"));
    Field(CDialogPSetup::kIdLineSpace)->setText(QStringLiteral("256"));
    EXPECT_EQ(history.rows, (Rows{rows::kProbe, rows::kLineSpace255}));
    EXPECT_EQ(prompt.Texts(), (Rows{rows::kLineSpaceMessage}));
    EXPECT_TRUE(page->IsOpen());
    EXPECT_EQ(Received(p, 6), Hex("10 04 05 1B 33 FF"));
}

TEST_F(PrintSetupPageTest, MarginsSendOnlyTheChangedSideWithinTheSumOf48) {
    test::MappedPrinter p(kCom);
    TypeOver(CDialogPSetup::kIdLeftMargin, "20");
    EXPECT_EQ(history.rows, (Rows{rows::kProbe, "1B 6C 02 ", rows::kLeftMargin20}));
    history.rows.clear();
    TypeOver(CDialogPSetup::kIdRightMargin, "28");
    EXPECT_EQ(history.rows, (Rows{"1B 51 02 ", rows::kRightMargin28}));
    EXPECT_TRUE(prompt.messages.empty());
    TypeOver(CDialogPSetup::kIdRightMargin, "29");
    EXPECT_EQ(history.rows, (Rows{"1B 51 02 ", rows::kRightMargin28, "1B 51 02 "}));
    EXPECT_EQ(prompt.Texts(), (Rows{rows::kMarginMessage}));
    // With the right side at 29: a left side of 19 makes 48, accepted; 20 makes 49, refused.
    history.rows.clear();
    TypeOver(CDialogPSetup::kIdLeftMargin, "19");
    EXPECT_EQ(history.rows, (Rows{"1B 6C 01 ", "1B 6C 13 "}));
    TypeOver(CDialogPSetup::kIdLeftMargin, "20");
    EXPECT_EQ(history.rows, (Rows{"1B 6C 01 ", "1B 6C 13 ", "1B 6C 02 "}));
    EXPECT_EQ(prompt.Texts(), (Rows{rows::kMarginMessage, rows::kMarginMessage}));
    EXPECT_EQ(Received(p, 3 + 8 * 3),
              Hex("10 04 05 1B 6C 02 1B 6C 14 1B 51 02 1B 51 1C 1B 51 02 1B 6C 01 1B 6C 13 1B 6C 02"));
}

TEST_F(PrintSetupPageTest, NoValueOutsideAByteIsEverSent) {
    test::MappedPrinter p(kCom);
    // Texts a user cannot type but a paste or a program can put into the fields.
    QLineEdit* left = Field(CDialogPSetup::kIdLeftMargin);
    QLineEdit* right = Field(CDialogPSetup::kIdRightMargin);
    QLineEdit* space = Field(CDialogPSetup::kIdLineSpace);
    left->setText(QStringLiteral("-5"));  // -5 + 0 would pass the sum
    EXPECT_EQ(prompt.Texts(), (Rows{rows::kMarginMessage}));
    right->setText(QStringLiteral("53"));  // -5 + 53 = 48 would pass the sum
    right->setText(QStringLiteral("0"));
    left->setText(QStringLiteral("300"));
    right->setText(QStringLiteral("-260"));  // 300 - 260 = 40
    left->setText(QStringLiteral("4294967301"));  // 2^32 + 5
    right->setText(QStringLiteral("0"));
    space->setText(QStringLiteral("-1"));
    space->setText(QStringLiteral("256"));
    space->setText(QStringLiteral("-4294967041"));  // -(2^32 - 255)
    Rows want(7, rows::kMarginMessage);
    want.insert(want.end(), 3, rows::kLineSpaceMessage);
    EXPECT_EQ(prompt.Texts(), want);
    EXPECT_EQ(history.rows, (Rows{rows::kProbe}));
    p->waitForQuiet(50, 500);
    EXPECT_EQ(p->received(), Hex("10 04 05"));

    // Back in range: sent again.
    left->setText(QStringLiteral("48"));
    EXPECT_EQ(history.rows, (Rows{rows::kProbe, "1B 6C 30 "}));
}

TEST_F(PrintSetupPageTest, ListsSendTheirCommandOnTheUsersChoiceOnly) {
    test::MappedPrinter p(kCom);
    // Selections made by the program send nothing.
    List(CDialogPSetup::kIdCodeTable)->setCurrentIndex(3);
    List(CDialogPSetup::kIdDensity)->setCurrentIndex(0);
    EXPECT_TRUE(history.rows.empty());
    EXPECT_FALSE(page->IsOpen());

    Choose(CDialogPSetup::kIdCodeTable, 6);
    Choose(CDialogPSetup::kIdCodeTable, 10);
    Choose(CDialogPSetup::kIdDensity, 7);
    Choose(CDialogPSetup::kIdAlignment, 1);
    Choose(CDialogPSetup::kIdSpeed, 2);
    Choose(CDialogPSetup::kIdFontSize, 2);
    Choose(CDialogPSetup::kIdCharacter, 15);
    EXPECT_EQ(List(CDialogPSetup::kIdCodeTable)->currentText(), "Page 255");
    EXPECT_EQ(history.rows, (Rows{rows::kProbe, rows::kCodeTableWpc1252, rows::kCodeTablePage255, rows::kDensity8,
                                  rows::kAlignCenter, rows::kSpeedLow, rows::kFont3, rows::kCharacterChinese}));
    EXPECT_EQ(Received(p, 3 + 7 * 3),
              Hex("10 04 05 1B 74 10 1B 74 FF 1B 6D 08 1B 61 01 1C 73 02 1B 4D 02 1B 52 0F"));

    // The keyboard on a closed list: the next entry, then the last.
    history.rows.clear();
    QComboBox* speed = List(CDialogPSetup::kIdSpeed);
    speed->setCurrentIndex(0);
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QCoreApplication::sendEvent(speed, &down);
    QKeyEvent end(QEvent::KeyPress, Qt::Key_End, Qt::NoModifier);
    QCoreApplication::sendEvent(speed, &end);
    EXPECT_EQ(speed->currentText(), "Low");
    EXPECT_EQ(history.rows, (Rows{"1C 73 01 ", rows::kSpeedLow}));
    EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(PrintSetupPageTest, DoubleHighAddsTheStatusRequestToItsRow) {
    test::MappedPrinter p(kCom);
    Box(CDialogPSetup::kIdDoubleHigh)->click();
    EXPECT_EQ(history.rows, (Rows{rows::kProbe, rows::kDoubleHighAlone}));
    Box(CDialogPSetup::kIdUnderline)->click();
    EXPECT_EQ(history.rows, (Rows{rows::kProbe, rows::kDoubleHighAlone, rows::kDoubleHighUnderline}));
    EXPECT_EQ(Received(p, 3 + 6 + 3), Hex("10 04 05 1B 21 10 10 04 05 1B 21 90"));
    // The answer to that request is left unread; the link stays open.
    EXPECT_TRUE(page->IsOpen());
    EXPECT_EQ(p->answeredRequests(), 2u);
    // A box checked by the program sends nothing, but counts in the next style byte.
    Box(CDialogPSetup::kIdItalic)->setChecked(true);
    EXPECT_EQ(history.rows.size(), 3u);
    Box(CDialogPSetup::kIdDoubleHigh)->click();  // unchecks it: the request follows again
    EXPECT_EQ(history.rows.back(), "1B 21 82 10 04 05 ");
}

TEST_F(PrintSetupPageTest, EachStyleBoxSetsItsOwnBit) {
    test::MappedPrinter p(kCom);
    struct B {
        int id;
        const char* bit;
    };
    Rows want{rows::kProbe};
    for (const B b : {B{1019, "10"}, B{1021, "20"}, B{1022, "08"}, B{1023, "02"}, B{1024, "04"}, B{1025, "80"},
                      B{1026, "40"}}) {
        const std::string request = b.id == 1019 ? "10 04 05 " : "";
        Box(b.id)->click();
        want.push_back("1B 21 " + std::string(b.bit) + " " + request);
        Box(b.id)->click();
        want.push_back("1B 21 00 " + request);
    }
    EXPECT_EQ(history.rows, want);
    // "Kanji Mode" is no style box.
    Box(CDialogPSetup::kIdKanjiMode)->click();
    Box(CDialogPSetup::kIdKanjiMode)->click();
    want.push_back(rows::kKanjiOn);
    want.push_back(rows::kKanjiOff);
    EXPECT_EQ(history.rows, want);
}

TEST_F(PrintSetupPageTest, ResetSendsOnlyInitializeAndRestoresTheFormPrinterAndStyleControls) {
    test::MappedPrinter p(kCom);
    Box(CDialogPSetup::kIdKanjiMode)->click();
    Choose(CDialogPSetup::kIdCharacter, 15);
    Choose(CDialogPSetup::kIdCodeTable, 6);
    Choose(CDialogPSetup::kIdAlignment, 2);
    Choose(CDialogPSetup::kIdDensity, 0);
    Choose(CDialogPSetup::kIdSpeed, 1);
    Choose(CDialogPSetup::kIdFontSize, 1);
    TypeOver(CDialogPSetup::kIdLineSpace, "40");
    TypeOver(CDialogPSetup::kIdLeftMargin, "10");
    TypeOver(CDialogPSetup::kIdRightMargin, "5");
    for (int id : {1019, 1021, 1022, 1023, 1024, 1025, 1026}) Box(id)->click();
    ASSERT_TRUE(prompt.messages.empty());
    // Probe, Kanji, six lists, five digits typed, seven boxes (one with the status request).
    EXPECT_EQ(Received(p, 3 + 2 + 6 * 3 + 5 * 3 + 7 * 3 + 3).size(), 62u);

    // The link is open: no probe; closed again (as after a tab change): the probe first.
    history.rows.clear();
    p->clearReceived();
    Control<QPushButton>(CDialogPSetup::kIdReset)->click();
    EXPECT_EQ(history.rows, (Rows{rows::kInitialize}));
    EXPECT_EQ(Received(p, 2), Hex("1B 40"));  // written before the link is closed
    page->CloseLink();
    page->OnReset();
    EXPECT_EQ(history.rows, (Rows{rows::kInitialize, rows::kProbe, rows::kInitialize}));
    EXPECT_EQ(Received(p, 2 + 3 + 2), Hex("1B 40 10 04 05 1B 40"));
    EXPECT_TRUE(pages::ReadyFlag);

    EXPECT_EQ(List(CDialogPSetup::kIdAlignment)->currentText(), "Left");
    EXPECT_EQ(List(CDialogPSetup::kIdDensity)->currentText(), "4");
    EXPECT_EQ(List(CDialogPSetup::kIdSpeed)->currentText(), "High");
    EXPECT_EQ(List(CDialogPSetup::kIdFontSize)->currentText(), "Font1");
    EXPECT_EQ(Field(CDialogPSetup::kIdLineSpace)->text(), "33");
    EXPECT_EQ(Field(CDialogPSetup::kIdLeftMargin)->text(), "0");
    EXPECT_EQ(Field(CDialogPSetup::kIdRightMargin)->text(), "0");
    for (int id : {1019, 1021, 1022, 1023, 1024, 1025, 1026}) EXPECT_FALSE(Box(id)->isChecked()) << id;
    // These keep their state.
    EXPECT_TRUE(Box(CDialogPSetup::kIdKanjiMode)->isChecked());
    EXPECT_EQ(List(CDialogPSetup::kIdCharacter)->currentText(), "Chinese");
    EXPECT_EQ(List(CDialogPSetup::kIdCodeTable)->currentText(), "WPC1252");
    EXPECT_TRUE(prompt.messages.empty());

    // The fields act again afterwards.
    TypeOver(CDialogPSetup::kIdLineSpace, "3");
    EXPECT_EQ(history.rows.back(), rows::kLineSpace3);
}

TEST_F(PrintSetupPageTest, ClosedLinkEndsEveryActionWithoutChangingTheControls) {
    // Nothing attached: the open error, nothing queued, no row; the control keeps what the
    // user gave it.
    TypeOver(CDialogPSetup::kIdLineSpace, "300");
    EXPECT_EQ(Field(CDialogPSetup::kIdLineSpace)->text(), "300");
    Box(CDialogPSetup::kIdDoubleHigh)->click();
    EXPECT_TRUE(Box(CDialogPSetup::kIdDoubleHigh)->isChecked());
    Choose(CDialogPSetup::kIdCodeTable, 6);
    page->OnReset();
    // Reset changed nothing and left the flag set.
    EXPECT_EQ(Field(CDialogPSetup::kIdLineSpace)->text(), "300");
    EXPECT_TRUE(Box(CDialogPSetup::kIdDoubleHigh)->isChecked());
    EXPECT_TRUE(pages::ReadyFlag);
    // One open error per change, and no range message for 300: the check comes after opening.
    EXPECT_EQ(prompt.Texts(), Rows(6, rows::kOpenError));
    EXPECT_TRUE(history.rows.empty());
    EXPECT_EQ(page->SendBuffer().Count(), 0u);

    // A port where nothing answers: the probe's row and the no-answer message.
    test::SilentPort silent(kSilentCom);
    link::PortSettings.portNumber = kSilentCom;
    prompt.messages.clear();
    Choose(CDialogPSetup::kIdAlignment, 1);
    EXPECT_EQ(prompt.Texts(), (Rows{rows::kNoAnswer}));
    EXPECT_EQ(history.rows, (Rows{rows::kProbe}));
    EXPECT_FALSE(page->IsOpen());
    EXPECT_EQ(page->SendBuffer().Count(), 0u);
}

TEST_F(PrintSetupPageTest, NumberFieldsActOnlyWhileTheReadyFlagIsSet) {
    test::MappedPrinter p(kCom);
    pages::ReadyFlag = false;
    page->SetNumberFields(QStringLiteral("300"), QStringLiteral("40"), QStringLiteral("40"));
    EXPECT_EQ(page->ChangeLineSpace("5"), pages::ActionOutcome::NotReady);
    EXPECT_TRUE(history.rows.empty());
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_FALSE(page->IsOpen());
    // The lists and boxes do not look at the flag.
    Choose(CDialogPSetup::kIdDensity, 7);
    EXPECT_EQ(history.rows, (Rows{rows::kProbe, rows::kDensity8}));

    // With the flag set, writing the fields acts (the left side is checked against the right
    // one still at 40: 8 + 40 = 48).
    pages::ReadyFlag = true;
    history.rows.clear();
    page->SetNumberFields(QStringLiteral("3"), QStringLiteral("8"), QStringLiteral("28"));
    EXPECT_EQ(history.rows, (Rows{rows::kLineSpace3, "1B 6C 08 ", rows::kRightMargin28}));
}

TEST_F(PrintSetupPageTest, ActionsClassWorksWithoutWidgets) {
    test::MappedPrinter p(kCom);
    pages::PrintSetupActions actions;
    test::RecordingHistory h;
    test::ScriptedPrompt m;
    actions.SetMainWindow(&h);
    actions.SetPrompt(&m);
    actions.Start();
    EXPECT_EQ(actions.SelectEntry(pages::SetupList::CodeTable, 11), pages::ActionOutcome::Refused);
    EXPECT_FALSE(actions.IsOpen());
    EXPECT_EQ(actions.ChangeRightMargin("20", "28"), pages::ActionOutcome::Sent);
    EXPECT_EQ(actions.ChangeLeftMargin("20", "29"), pages::ActionOutcome::Refused);
    EXPECT_EQ(actions.ClickStyle(protocol::kModeDoubleHeight, {true}), pages::ActionOutcome::Sent);
    bool restored = false;
    pages::ReadyFlag = false;
    EXPECT_EQ(actions.Reset([&] { restored = !pages::ReadyFlag; }), pages::ActionOutcome::Sent);
    EXPECT_TRUE(restored);
    EXPECT_TRUE(pages::ReadyFlag);
    EXPECT_EQ(h.rows, (Rows{rows::kProbe, rows::kRightMargin28, rows::kDoubleHighAlone, rows::kInitialize}));
    EXPECT_EQ(m.Texts(), (Rows{rows::kMarginMessage}));
}
