// The "COM Setup" page against virtual printers and silent ports: start-up values, the lists that
// only write settings, the printer's baud-rate and flow-control set-up, "Auto Connect" and
// "Comm. Test". Only the ports mapped here exist: the system's serial ports are hidden.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <functional>
#include <limits>
#include <memory>

#include "link/port_settings.h"
#include "page_test_support.h"
#include "pages/setup_page.h"
#include "platform/port_map.h"
#include "platform/serial_device.h"
#include "platform/threads.h"
#include "support/captions.h"
#include "support/empty_ports.h"
#include "support/support.h"
#include "widgets/dialog_layout.h"
#include "widgets/qt_test_app.h"

using namespace pellory;
using link::PortSettings;
using pages::CDialogSetup;
using test::Entries;
using test::Hex;
using vprinter::VirtualPrinter;

namespace {

const std::string kProbeRow = "10 04 05 ";
const std::string kBaud115200Row = "1D 28 45 08 00 0B 01 31 31 35 32 30 30 ";
const std::string kFlowXonXoffRow = "1D 28 45 03 00 0B 03 31 ";
const std::string kFlowNoneRow = "1D 28 45 03 00 0B 03 00 ";
const std::string kFlowHardwareRow = "1D 28 45 03 00 0B 03 30 ";
const std::string kNoAnswer = "Communicate Error:Printer No Answer.";

using Rows = std::vector<std::string>;


// A command history that also notes whether the page's link was open when each row came.
class WatchingHistory : public test::RecordingHistory {
public:
    void AddHistoryRow(const link::EchoRecord& echo) override {
        if (!echo.empty() && link_) openAtRow.push_back(link_->IsOpen());
        RecordingHistory::AddHistoryRow(echo);
    }
    void Watch(const link::CSerialEngine* l) { link_ = l; }
    std::vector<bool> openAtRow;

private:
    const link::CSerialEngine* link_ = nullptr;
};

// A message seam that can look at the window when a message comes.
class WatchingPrompt : public test::ScriptedPrompt {
public:
    void ShowMessage(const std::string& text, const std::string& caption, const std::string& informative) override {
        if (onMessage) onMessage();
        ScriptedPrompt::ShowMessage(text, caption, informative);
    }
    std::function<void()> onMessage;
};

// True when another program could take the port now (the page let it go).
bool PortIsFree(const std::string& path) {
    platform::SerialDevice other;
    return other.open(path, false) == platform::SerialResult::Ok;
}

class SetupPageTest : public test::ComSetupPageTest<WatchingPrompt, WatchingHistory> {
protected:
    void PresetSettings() override {
        // Values the start-up must overwrite.
        PortSettings = {7, 4800, 4800, 7, 1, 2, 3};
        link::PrintableWidth = 0;
    }
    void InitPage(CDialogSetup& p) override {
        history.Watch(&p);
        ComSetupPageTest::InitPage(p);
    }

    template <typename T = QComboBox>
    T* Control(int id) {
        return test::PageControl<T>(page.get(), id);
    }
    QComboBox* List(int id) { return Control<QComboBox>(id); }
    // The user picks the entry with this text.
    void Choose(int id, const char* text) {
        QComboBox* list = List(id);
        const int i = list->findText(QString::fromLatin1(text));
        ASSERT_GE(i, 0) << text;
        list->setCurrentIndex(i);
    }
    void Click(int id) { Control<QPushButton>(id)->click(); }
};

}  // namespace

// --- start-up and the lists that only write a setting ---

TEST_F(SetupPageTest, StartUpShowsTheInitialEntriesAndWritesTheSettings) {
    EXPECT_EQ(Entries(List(pages::kIdDeviceList)), (QStringList{"ORVA58", "ORVA80"}));
    EXPECT_EQ(Entries(List(pages::kIdPortList)),
              (QStringList{"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "COM9", "COM10"}));
    EXPECT_EQ(Entries(List(pages::kIdBaudList)),
              (QStringList{"2400", "4800", "9600", "19200", "38400", "57600", "115200"}));
    EXPECT_EQ(Entries(List(pages::kIdDataBitList)), (QStringList{"8"}));
    EXPECT_EQ(Entries(List(pages::kIdParityList)), (QStringList{"NONE", "ODD", "EVEN"}));
    EXPECT_EQ(Entries(List(pages::kIdStopBitList)), (QStringList{"1", "2"}));
    EXPECT_EQ(Entries(List(pages::kIdHandshakeList)), (QStringList{"None", "CTS/RTS", "DTR/DSR", "Xon/Xoff"}));

    EXPECT_EQ(List(pages::kIdDeviceList)->currentText(), "ORVA58");
    EXPECT_EQ(List(pages::kIdPortList)->currentText(), "COM1");
    EXPECT_EQ(List(pages::kIdBaudList)->currentText(), "9600");
    EXPECT_EQ(List(pages::kIdDataBitList)->currentText(), "8");
    EXPECT_EQ(List(pages::kIdParityList)->currentText(), "NONE");
    EXPECT_EQ(List(pages::kIdStopBitList)->currentText(), "1");
    EXPECT_EQ(List(pages::kIdHandshakeList)->currentText(), "CTS/RTS");

    EXPECT_EQ(PortSettings.portNumber, 1);
    EXPECT_EQ(PortSettings.baudRate, 9600);
    EXPECT_EQ(PortSettings.requestedBaudRate, 9600);
    EXPECT_EQ(PortSettings.dataBits, 8);
    EXPECT_EQ(PortSettings.parity, 0);
    EXPECT_EQ(PortSettings.stopBits, 0);
    EXPECT_EQ(PortSettings.handshake, 1);
    EXPECT_EQ(link::PrintableWidth, 384);
    EXPECT_TRUE(page->echoSwitch);
    EXPECT_FALSE(page->IsOpen());
    EXPECT_TRUE(history.rows.empty());
    EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(SetupPageTest, FramesLabelsRadioButtonsAndButtons) {
    QStringList titles;
    for (auto* g : page->findChildren<QGroupBox*>()) titles << g->title();
    EXPECT_EQ(titles, (QStringList{"Device Name", "Port", "About", "Port Setting"}));
    QStringList labels;
    bool version = false;
    for (auto* l : page->findChildren<QLabel*>()) {
        labels << l->text();
        version = version || l->text().contains("1.0.0.2");
    }
    for (const char* want : {"PortName", "Baudrate", "BitLength", "Parity", "StopBit", "Handshake"}) {
        EXPECT_TRUE(labels.contains(QString::fromLatin1(want))) << want;
    }
    EXPECT_TRUE(version);

    struct R {
        int id;
        const char* caption;
    };
    for (const R r : {R{1025, "All"}, R{1026, "USB"}, R{1008, "COM"}, R{1009, "Network"}, R{1010, "LPT"},
                      R{1011, "Bluetooth"}}) {
        auto* b = Control<QRadioButton>(r.id);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(test::Caption(b), r.caption);
        EXPECT_TRUE(b->isEnabled()) << r.caption;
        EXPECT_EQ(b->isChecked(), r.id == 1008) << r.caption;
    }
    // A click on another kind checks it; back on "COM", the list is today's again. Nothing is sent.
    Control<QRadioButton>(1008)->click();
    Control<QRadioButton>(1026)->click();
    EXPECT_FALSE(Control<QRadioButton>(1008)->isChecked());
    EXPECT_TRUE(Control<QRadioButton>(1026)->isChecked());
    Control<QRadioButton>(1008)->click();
    EXPECT_TRUE(Control<QRadioButton>(1008)->isChecked());
    EXPECT_EQ(Entries(List(pages::kIdPortList)).size(), 10);
    EXPECT_EQ(List(pages::kIdPortList)->currentText(), "COM1");
    EXPECT_EQ(test::Caption(Control<QPushButton>(pages::kIdAutoConnect)), "Auto Connect");
    EXPECT_EQ(test::Caption(Control<QPushButton>(pages::kIdCommTest)), "Comm. Test");
    EXPECT_TRUE(history.rows.empty());
}

// The "Port" group: each kind lists its ports; "Network" maps the address typed in to a COM
// number that the pages then use; the line settings are disabled where they mean nothing.
TEST_F(SetupPageTest, PortKindsListTheirPortsAndNetworkMapsTheTypedAddress) {
    platform::PortMap& ports = platform::PortMap::instance();
    ports.setOverride(21, "/dev/ttyUSB7");
    ports.setOverride(22, "/dev/usb/lp3");
    ports.setOverride(23, "/dev/lp1");
    ports.setOverride(24, "/dev/rfcomm2");
    auto* box = Control<QCheckBox>(pages::kIdAnswersStatusBox);
    auto* serial = List(pages::kIdBaudList);

    Control<QRadioButton>(pages::kIdRadioUsb)->click();
    EXPECT_EQ(Entries(List(pages::kIdPortList)), (QStringList{"COM21", "COM22"}));
    EXPECT_EQ(PortSettings.portNumber, 21);
    EXPECT_FALSE(box->isHidden());
    EXPECT_TRUE(serial->isEnabled()) << "a USB serial adapter has a line";
    Choose(pages::kIdPortList, "COM22");
    EXPECT_EQ(PortSettings.portNumber, 22);
    EXPECT_FALSE(serial->isEnabled()) << "a printer device file has none";
    box->click();
    EXPECT_FALSE(PortSettings.answersStatus);
    box->click();
    EXPECT_TRUE(PortSettings.answersStatus);

    Control<QRadioButton>(pages::kIdRadioLpt)->click();
    EXPECT_EQ(Entries(List(pages::kIdPortList)), (QStringList{"COM23"}));
    Control<QRadioButton>(pages::kIdRadioBluetooth)->click();
    EXPECT_EQ(Entries(List(pages::kIdPortList)), (QStringList{"COM24"}));
    EXPECT_TRUE(box->isHidden());
    EXPECT_TRUE(serial->isEnabled());
    Control<QRadioButton>(pages::kIdRadioAll)->click();
    EXPECT_EQ(Entries(List(pages::kIdPortList)), (QStringList{"COM21", "COM22", "COM23", "COM24"}));

    // A printer on the loopback network, reached through the address typed in.
    VirtualPrinter printer;
    printer.setRecording(true);
    ASSERT_TRUE(printer.start(VirtualPrinter::Transport::Tcp));
    const std::string entry = printer.slavePath();
    const std::string portText = entry.substr(entry.rfind(':') + 1);
    Control<QRadioButton>(pages::kIdRadioNetwork)->click();
    EXPECT_EQ(page->ChosenPortKind(), pages::PortKind::Network);
    EXPECT_TRUE(List(pages::kIdPortList)->isHidden());
    auto* host = Control<QLineEdit>(pages::kIdHostField);
    auto* port = Control<QLineEdit>(pages::kIdNetworkPortField);
    EXPECT_FALSE(host->isHidden());
    EXPECT_EQ(port->text(), "9100");
    EXPECT_FALSE(serial->isEnabled());
    host->setText("127.0.0.1");
    port->setText(QString::fromStdString(portText));
    emit port->editingFinished();
    // The lowest free number above the system ports (which these tests hide): COM1.
    EXPECT_EQ(PortSettings.portNumber, 1);
    ASSERT_TRUE(ports.resolve(1));
    EXPECT_EQ(ports.resolve(1)->path, entry);
    emit host->editingFinished();
    EXPECT_EQ(PortSettings.portNumber, 1) << "the same address keeps its number";
    Click(pages::kIdCommTest);
    EXPECT_EQ(prompt.Texts(), (Rows{"Communicate Success."}));
    EXPECT_EQ(history.rows, (Rows{kProbeRow}));
    EXPECT_EQ(printer.received(), Hex("10 04 05"));

    for (int n : {1, 21, 22, 23, 24}) ports.clearOverride(n);
}

TEST_F(SetupPageTest, DeviceChoiceSetsThePrintableWidth) {
    Choose(pages::kIdDeviceList, "ORVA80");
    EXPECT_EQ(link::PrintableWidth, 572);
    Choose(pages::kIdDeviceList, "ORVA58");
    EXPECT_EQ(link::PrintableWidth, 384);
    EXPECT_TRUE(history.rows.empty());
}

TEST_F(SetupPageTest, PortParityStopBitAndBitLengthWriteSettingsAndSendNothing) {
    test::MappedPrinter p(1);
    Choose(pages::kIdPortList, "COM4");
    EXPECT_EQ(PortSettings.portNumber, 4);
    Choose(pages::kIdPortList, "COM10");
    EXPECT_EQ(PortSettings.portNumber, 10);
    Choose(pages::kIdParityList, "EVEN");
    EXPECT_EQ(PortSettings.parity, 2);
    Choose(pages::kIdParityList, "ODD");
    EXPECT_EQ(PortSettings.parity, 1);
    Choose(pages::kIdStopBitList, "2");
    EXPECT_EQ(PortSettings.stopBits, 2);
    Choose(pages::kIdStopBitList, "1");
    EXPECT_EQ(PortSettings.stopBits, 0);
    EXPECT_EQ(PortSettings.dataBits, 8);
    platform::SleepMs(60);
    EXPECT_TRUE(p->received().empty());
    EXPECT_TRUE(history.rows.empty());
    EXPECT_FALSE(page->IsOpen());
}

TEST_F(SetupPageTest, ParityAndStopBitsReachTheNextOpeningOfAnotherPage) {
    Choose(pages::kIdParityList, "EVEN");
    Choose(pages::kIdStopBitList, "2");
    test::RecordingHistory otherHistory;
    test::ScriptedPrompt otherPrompt;
    {
        test::MappedPrinter p(1);
        pages::PageLink other{link::ProbeOptions{}};
        other.SetPrompt(&otherPrompt);
        other.SetMainWindow(&otherHistory);
        other.OpenAndProbe();
        ASSERT_TRUE(other.IsOpen());
        platform::LineSettings s;
        ASSERT_EQ(other.Device().getLineSettings(s), platform::SerialResult::Ok);
        EXPECT_EQ(s.parity, platform::kParityEven);
        EXPECT_EQ(s.stopBits, platform::kTwoStopBits);
        EXPECT_EQ(s.baudRate, 9600u);
        other.CloseLink();
    }
    // The terminal itself while the link is open: a pseudo-terminal keeps the stop bits (it
    // drops parity). Closing puts back the line as it was found.
    test::MappedPrinter answering(6);
    Choose(pages::kIdPortList, "COM6");
    const int watch = ::open(answering.path().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(watch, 0);
    termios before{};
    ASSERT_EQ(tcgetattr(watch, &before), 0);
    ASSERT_EQ(before.c_cflag & CSTOPB, 0u);
    pages::PageLink other{link::ProbeOptions{}};
    other.SetPrompt(&otherPrompt);
    other.OpenAndProbe();
    ASSERT_TRUE(other.IsOpen());
    termios opened{};
    ASSERT_EQ(tcgetattr(watch, &opened), 0);
    EXPECT_NE(opened.c_cflag & CSTOPB, 0u);
    other.CloseLink();
    termios after{};
    ASSERT_EQ(tcgetattr(watch, &after), 0);
    EXPECT_EQ(after.c_cflag & CSTOPB, 0u);
    ::close(watch);
}

// --- baud-rate change ---

TEST_F(SetupPageTest, BaudRateChangeTellsThePrinterAndOpensLaterLinksAtTheNewRate) {
    test::MappedPrinter p(1);
    p->setRequireMatchingBaud(true);  // answers only while the host's line runs at its rate
    Choose(pages::kIdBaudList, "115200");
    EXPECT_EQ(history.rows, (Rows{kProbeRow, kBaud115200Row}));
    // The set-up command's row goes to the history before the wait and the closing.
    EXPECT_EQ(history.openAtRow, (std::vector<bool>{true, true}));
    ASSERT_TRUE(p->waitForBytes(3 + 13, 1000));
    EXPECT_EQ(p->received(), Hex("10 04 05 1D 28 45 08 00 0B 01 31 31 35 32 30 30"));
    EXPECT_EQ(p->baudRate(), 115200u);
    EXPECT_EQ(PortSettings.baudRate, 115200);
    EXPECT_EQ(PortSettings.requestedBaudRate, 115200);
    EXPECT_FALSE(page->IsOpen());
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_TRUE(PortIsFree(p.path()));

    // The printer now runs at 115200 and only answers there: the test opens at the new rate.
    page->OnCommTest();
    EXPECT_EQ(prompt.Texts(), (Rows{"Communicate Success."}));
}

TEST_F(SetupPageTest, BaudRateChangeWithoutAnAnsweringPrinterStillTakesTheNewRate) {
    test::MappedPrinter p(1);
    p->setAnswerMode(VirtualPrinter::AnswerMode::Silent);
    Choose(pages::kIdBaudList, "115200");
    EXPECT_EQ(prompt.Texts(), (Rows{kNoAnswer}));
    EXPECT_EQ(history.rows, (Rows{kProbeRow, kBaud115200Row}));
    EXPECT_EQ(PortSettings.baudRate, 115200);
    EXPECT_FALSE(page->IsOpen());
    // The command went through Send on a closed link: it waits in the send buffer...
    EXPECT_EQ(page->SendBuffer().Count(), 13u);
    platform::SleepMs(60);
    EXPECT_EQ(p->received(), Hex("10 04 05"));
    EXPECT_EQ(p->baudRate(), 9600u);

    // ...and the next opening drops it instead of sending a stale command.
    p->setAnswerMode(VirtualPrinter::AnswerMode::Status);
    p->clearReceived();
    prompt.messages.clear();
    page->OnCommTest();
    EXPECT_EQ(prompt.Texts(), (Rows{"Communicate Success."}));
    platform::SleepMs(60);
    EXPECT_EQ(p->received(), Hex("10 04 05"));
    EXPECT_EQ(p->baudRate(), 9600u);
}

TEST_F(SetupPageTest, BaudRateChangeWithThePortMissingShowsTheOpenErrorAndGoesOn) {
    Choose(pages::kIdBaudList, "19200");
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(prompt.messages[0].text, "COM Open Error!");
    EXPECT_EQ(prompt.messages[0].informative, "Nothing is attached as COM1.");
    EXPECT_EQ(history.rows, (Rows{"1D 28 45 07 00 0B 01 31 39 32 30 30 "}));
    EXPECT_EQ(PortSettings.baudRate, 19200);
    EXPECT_EQ(PortSettings.requestedBaudRate, 19200);
}

TEST_F(SetupPageTest, ChoosingTheRateInUseSendsNothing) {
    test::MappedPrinter p(1);
    page->ChangeBaudRate(9600);
    platform::SleepMs(60);
    EXPECT_TRUE(history.rows.empty());
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_TRUE(p->received().empty());
    EXPECT_EQ(PortSettings.baudRate, 9600);

    // Back from another rate sends again, at the rate in use.
    Choose(pages::kIdBaudList, "4800");
    Choose(pages::kIdBaudList, "9600");
    EXPECT_EQ(history.rows, (Rows{kProbeRow, "1D 28 45 06 00 0B 01 34 38 30 30 ", kProbeRow,
                                  "1D 28 45 06 00 0B 01 39 36 30 30 "}));
    EXPECT_EQ(PortSettings.baudRate, 9600);
    EXPECT_EQ(p->baudRate(), 9600u);
}

// --- handshake change ---

TEST_F(SetupPageTest, HandshakeChangeSendsTheFlowControlCommandAfterTheProbe) {
    test::MappedPrinter p(1);
    Choose(pages::kIdHandshakeList, "Xon/Xoff");
    EXPECT_EQ(PortSettings.handshake, 3);
    EXPECT_EQ(history.rows, (Rows{kProbeRow, kFlowXonXoffRow}));
    // The set-up command's row comes after the link was closed.
    EXPECT_EQ(history.openAtRow, (std::vector<bool>{true, false}));
    ASSERT_TRUE(p->waitForBytes(11, 1000));
    EXPECT_EQ(p->received(), Hex("10 04 05 1D 28 45 03 00 0B 03 31"));
    EXPECT_EQ(p->flowControl(), 0x31);
    EXPECT_FALSE(page->IsOpen());

    p->clearReceived();
    history.rows.clear();
    Choose(pages::kIdHandshakeList, "None");
    EXPECT_EQ(PortSettings.handshake, 0);
    EXPECT_EQ(history.rows, (Rows{kProbeRow, kFlowNoneRow}));
    ASSERT_TRUE(p->waitForBytes(11, 1000));
    EXPECT_EQ(p->received(), Hex("10 04 05 1D 28 45 03 00 0B 03 00"));
    EXPECT_EQ(p->flowControl(), 0x00);

    history.rows.clear();
    Choose(pages::kIdHandshakeList, "DTR/DSR");
    EXPECT_EQ(PortSettings.handshake, 2);
    EXPECT_EQ(history.rows, (Rows{kProbeRow, kFlowHardwareRow}));
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_TRUE(PortIsFree(p.path()));
}

TEST_F(SetupPageTest, HandshakeChangeWithoutAnsweringPrinterKeepsTheNewIndex) {
    test::SilentPort silent(1);
    Choose(pages::kIdHandshakeList, "Xon/Xoff");
    EXPECT_EQ(prompt.Texts(), (Rows{kNoAnswer}));
    EXPECT_EQ(history.rows, (Rows{kProbeRow, kFlowXonXoffRow}));
    EXPECT_EQ(PortSettings.handshake, 3);
    EXPECT_FALSE(page->IsOpen());
    EXPECT_FALSE(page->ChangeHandshake(4));
    EXPECT_EQ(PortSettings.handshake, 3);
    EXPECT_EQ(history.rows.size(), 2u);
}

// --- Auto Connect ---

TEST_F(SetupPageTest, AutoConnectTakesTheFirstPortThatAnswers) {
    test::SilentPort com1(1), com2(2);
    test::MappedPrinter p3(3), p5(5);
    Choose(pages::kIdPortList, "COM7");

    // While the scan runs its progress window is up; it is gone when the result is shown.
    bool sawProgress = false, progressAtMessage = true;
    int maximum = 0;
    Qt::WindowModality modality = Qt::NonModal;
    QTimer::singleShot(0, page.get(), [&] {
        for (auto* d : page->findChildren<QProgressDialog*>()) {
            if (!d->isVisible()) continue;
            sawProgress = true;
            maximum = d->maximum();
            modality = d->windowModality();
        }
    });
    prompt.onMessage = [&] {
        progressAtMessage = false;
        for (auto* d : page->findChildren<QProgressDialog*>()) progressAtMessage = progressAtMessage || d->isVisible();
    };
    Click(pages::kIdAutoConnect);

    EXPECT_TRUE(sawProgress);
    EXPECT_EQ(maximum, 254);
    EXPECT_EQ(modality, Qt::WindowModal);
    EXPECT_FALSE(progressAtMessage);
    EXPECT_EQ(history.rows, (Rows{kProbeRow, kProbeRow, kProbeRow}));
    EXPECT_EQ(prompt.Texts(), (Rows{"Connected Success"}));
    EXPECT_EQ(List(pages::kIdPortList)->currentText(), "COM3");
    EXPECT_EQ(List(pages::kIdPortList)->currentIndex(), 2);
    EXPECT_EQ(PortSettings.portNumber, 3);
    EXPECT_EQ(PortSettings.baudRate, 9600);
    EXPECT_FALSE(page->IsOpen());
    EXPECT_EQ(page->EventMask(), platform::kEvRxChar | platform::kEvTxEmpty);
    platform::SleepMs(60);
    EXPECT_EQ(p3->received(), Hex("10 04 05"));
    EXPECT_TRUE(p5->received().empty());
    for (const std::string& path : {com1.path(), com2.path(), p3.path()}) EXPECT_TRUE(PortIsFree(path)) << path;
}

TEST_F(SetupPageTest, AutoConnectWithoutAPrinterLeavesNoPortChosen) {
    test::SilentPort com1(1);
    test::MappedPrinter answers10(4);
    answers10->setAnswerMode(VirtualPrinter::AnswerMode::FixedByte, 0x10);
    Click(pages::kIdAutoConnect);
    EXPECT_EQ(prompt.Texts(), (Rows{"Connected Fail"}));
    EXPECT_EQ(history.rows, (Rows{kProbeRow, kProbeRow}));
    EXPECT_EQ(List(pages::kIdPortList)->currentIndex(), -1);
    EXPECT_EQ(PortSettings.portNumber, 0);
    EXPECT_FALSE(page->IsOpen());

    // Every later opening fails until the user picks a port.
    prompt.messages.clear();
    Click(pages::kIdCommTest);
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(prompt.messages[0].text, "COM Open Error!");
    EXPECT_EQ(prompt.messages[0].informative, "No port is chosen.");
    EXPECT_EQ(history.rows.size(), 2u);

    Choose(pages::kIdPortList, "COM1");
    EXPECT_EQ(PortSettings.portNumber, 1);
}

TEST_F(SetupPageTest, APrinterAtAnotherBaudRateIsNotFound) {
    test::MappedPrinter p(3);
    p->setRequireMatchingBaud(true);
    p->setBaudRate(19200);
    Click(pages::kIdAutoConnect);
    EXPECT_EQ(prompt.Texts(), (Rows{"Connected Fail"}));
    EXPECT_EQ(history.rows, (Rows{kProbeRow}));
    EXPECT_EQ(PortSettings.portNumber, 0);
    EXPECT_EQ(PortSettings.baudRate, 9600);  // the scan searches the port only
    EXPECT_EQ(p->answeredRequests(), 0u);
}

TEST_F(SetupPageTest, APrinterBeyondCom10GetsItsOwnEntryAtTheEnd) {
    test::MappedPrinter p(12);
    Click(pages::kIdAutoConnect);
    EXPECT_EQ(prompt.Texts(), (Rows{"Connected Success"}));
    QComboBox* ports = List(pages::kIdPortList);
    ASSERT_EQ(ports->count(), 11);
    EXPECT_EQ(ports->itemText(9), "COM10");
    EXPECT_EQ(ports->currentIndex(), 10);
    EXPECT_EQ(ports->currentText(), "COM12");
    EXPECT_EQ(PortSettings.portNumber, 12);
    EXPECT_NE(ports->itemData(10, Qt::ToolTipRole).toString().toStdString().find(p.path()), std::string::npos);

    // The first ten keep their numbers; the extra entry keeps its own.
    Choose(pages::kIdPortList, "COM2");
    EXPECT_EQ(PortSettings.portNumber, 2);
    Choose(pages::kIdPortList, "COM12");
    EXPECT_EQ(PortSettings.portNumber, 12);
    prompt.messages.clear();
    Click(pages::kIdCommTest);
    EXPECT_EQ(prompt.Texts(), (Rows{"Communicate Success."}));

    // Found again: the same entry, not a second one.
    Choose(pages::kIdPortList, "COM1");
    Click(pages::kIdAutoConnect);
    EXPECT_EQ(ports->count(), 11);
    EXPECT_EQ(ports->currentIndex(), 10);
    EXPECT_EQ(PortSettings.portNumber, 12);
}

TEST_F(SetupPageTest, PortTipsNameTheDeviceAndFollowThePortMap) {
    test::MappedPrinter p(1);
    page->InitSetupPage();
    QComboBox* ports = List(pages::kIdPortList);
    const auto tip = [&](int i) { return ports->itemData(i, Qt::ToolTipRole).toString().toStdString(); };
    EXPECT_EQ(tip(0), p.path() + " - virtual printer (test)");
    EXPECT_EQ(tip(3), "Nothing is attached as COM4.");
    EXPECT_EQ(ports->itemText(3), "COM4");

    // A device that appears later is named when the list pops up.
    test::SilentPort com4(4);
    ports->showPopup();
    EXPECT_EQ(tip(3), com4.path() + " - silent port (test)");
    ports->hidePopup();
    EXPECT_TRUE(history.rows.empty());
}

// --- Comm. Test ---

TEST_F(SetupPageTest, CommTestSaysWhetherThePrinterAnswered) {
    {
        test::MappedPrinter p(1);
        Click(pages::kIdCommTest);
        EXPECT_EQ(prompt.Texts(), (Rows{"Communicate Success."}));
        EXPECT_EQ(history.rows, (Rows{kProbeRow}));
        EXPECT_FALSE(page->IsOpen());
        EXPECT_TRUE(PortIsFree(p.path()));
        // The test leaves the event mask alone.
        EXPECT_EQ(page->EventMask(), link::kDefaultEventMask);
        EXPECT_EQ(p->received(), Hex("10 04 05"));
    }
    struct Case {
        VirtualPrinter::AnswerMode mode;
        uint8_t byte;
        const char* text;
    };
    for (const Case& c : {Case{VirtualPrinter::AnswerMode::Silent, 0, kNoAnswer.c_str()},
                          Case{VirtualPrinter::AnswerMode::FixedByte, 0x10, kNoAnswer.c_str()},
                          Case{VirtualPrinter::AnswerMode::FixedByte, 0x12, "Communicate Success."}}) {
        test::MappedPrinter p(1);
        p->setAnswerMode(c.mode, c.byte);
        prompt.messages.clear();
        history.rows.clear();
        Click(pages::kIdCommTest);
        EXPECT_EQ(prompt.Texts(), (Rows{c.text})) << int(c.byte);
        EXPECT_EQ(history.rows, (Rows{kProbeRow}));
        EXPECT_FALSE(page->IsOpen());
        EXPECT_EQ(page->SendBuffer().Count(), 0u);
        EXPECT_TRUE(PortIsFree(p.path()));
    }
}

TEST_F(SetupPageTest, CommTestOnAPortWithNothingAttached) {
    test::SilentPort com1(1);
    Click(pages::kIdCommTest);
    EXPECT_EQ(prompt.Texts(), (Rows{kNoAnswer}));
    EXPECT_EQ(history.rows, (Rows{kProbeRow}));
    EXPECT_TRUE(PortIsFree(com1.path()));
}

TEST_F(SetupPageTest, CommTestOnAPortHeldByAnotherProgramNamesTheReason) {
    test::MappedPrinter p(1);
    platform::SerialDevice other;
    ASSERT_EQ(other.open(p.path(), false), platform::SerialResult::Ok);
    Click(pages::kIdCommTest);
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(prompt.messages[0].text, "COM Open Error!");
    EXPECT_EQ(prompt.messages[0].caption, "");
    EXPECT_NE(prompt.messages[0].informative.find("in use by another program"), std::string::npos)
        << prompt.messages[0].informative;
    EXPECT_TRUE(history.rows.empty());
    platform::SleepMs(60);
    EXPECT_TRUE(p->received().empty());
}

// --- the actions class without widgets ---

TEST(SetupActionsTest, ScanReportsEveryPortTriedAndStopsAtTheFirstAnswer) {
    pages::SetupActions actions;
    test::ScriptedPrompt prompt;
    test::RecordingHistory history;
    actions.SetPrompt(&prompt);
    actions.SetMainWindow(&history);
    actions.Start({});
    std::vector<int> tried;
    {
        test::MappedPrinter p(2);
        EXPECT_EQ(actions.ScanForPrinter([&](int n) { tried.push_back(n); }), 2);
        EXPECT_EQ(tried, (std::vector<int>{1, 2}));
        EXPECT_TRUE(prompt.messages.empty());  // the scan itself shows nothing
    }
    tried.clear();
    history.rows.clear();
    EXPECT_EQ(actions.AutoConnect([&](int n) { tried.push_back(n); }), 0);
    ASSERT_EQ(tried.size(), 254u);
    EXPECT_EQ(tried.front(), 1);
    EXPECT_EQ(tried.back(), 254);
    EXPECT_TRUE(history.rows.empty());  // nothing opened
    EXPECT_EQ(prompt.Texts(), (std::vector<std::string>{"Connected Fail"}));
    EXPECT_EQ(link::PortSettings.portNumber, 0);
    EXPECT_FALSE(actions.TryPort(300));
    EXPECT_EQ(actions.CommTest(), pages::SetupActions::CommResult::OpenFailed);
}

TEST(SetupActionsTest, SetUpCommandsMatchWhatTheLinkSends) {
    link::CORVA_LIB l;
    l.echoSwitch = true;
    EXPECT_EQ(test::Echo(pages::BaudSetupCommand(19200)), "1D 28 45 07 00 0B 01 31 39 32 30 30 ");
    for (const char* entry : pages::kBaudEntries) {
        link::PortSettings.requestedBaudRate = pages::ReadEntryNumber(entry);
        l.SetPrinterBaud();
        EXPECT_EQ(l.TakeEcho(), test::Echo(pages::BaudSetupCommand(link::PortSettings.requestedBaudRate))) << entry;
    }
    for (int position = 0; position < 4; ++position) {
        const auto d = pages::PrinterFlowValue(position);
        ASSERT_TRUE(d.has_value());
        l.SetPrinterHandshake(*d);
        EXPECT_EQ(l.TakeEcho(), test::Echo(pages::HandshakeSetupCommand(*d)));
    }
    EXPECT_EQ(pages::PrinterFlowValue(0), 0x00);
    EXPECT_EQ(pages::PrinterFlowValue(1), 0x30);
    EXPECT_EQ(pages::PrinterFlowValue(2), 0x30);
    EXPECT_EQ(pages::PrinterFlowValue(3), 0x31);
    EXPECT_FALSE(pages::PrinterFlowValue(4).has_value());
    EXPECT_FALSE(pages::PrinterFlowValue(-1).has_value());
}

TEST(SetupActionsTest, EntryConversions) {
    EXPECT_EQ(pages::ReadEntryNumber("115200"), 115200);
    EXPECT_EQ(pages::ReadEntryNumber("12ab"), 12);
    EXPECT_EQ(pages::ReadEntryNumber(" -5"), -5);
    EXPECT_EQ(pages::ReadEntryNumber(""), 0);
    EXPECT_EQ(pages::ReadEntryNumber("CTS"), 0);
    EXPECT_EQ(pages::ReadEntryNumber("99999999999"), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(pages::ReadEntryNumber("-99999999999"), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(pages::ParityCode("NONE"), 0);
    EXPECT_EQ(pages::ParityCode("ODD"), 1);
    EXPECT_EQ(pages::ParityCode("EVEN"), 2);
    EXPECT_FALSE(pages::ParityCode("even").has_value());
    EXPECT_EQ(pages::StopBitCode("1"), 0);
    EXPECT_EQ(pages::StopBitCode("2"), 2);
    EXPECT_FALSE(pages::StopBitCode("1.5").has_value());
    EXPECT_EQ(pages::PrintableWidthForDevice(0), 384);
    EXPECT_EQ(pages::PrintableWidthForDevice(1), 572);
}
