// The kinds of port of the "Port" group: the tooltips of the USB list, and "Auto Connect" on each
// kind: which COM numbers it tries, in which order, and that it finds the printer there and
// nowhere else. The kinds are told by their paths,
// so virtual printers on pseudo-terminals stand for USB, parallel and Bluetooth ports behind
// links named like those devices; network printers listen on the loopback interface. Only the
// ports mapped here exist: the system's own are hidden.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <QComboBox>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <memory>
#include <string>
#include <vector>

#include "link/port_settings.h"
#include "page_test_support.h"
#include "pages/setup_page.h"
#include "platform/port_map.h"
#include "support/empty_ports.h"
#include "support/fake_sysfs.h"
#include "support/scratch_folder.h"
#include "support/support.h"
#include "widgets/qt_test_app.h"

using namespace pellory;
using link::PortSettings;
using pages::PortKind;
using vprinter::VirtualPrinter;

namespace {

using Rows = std::vector<std::string>;
using Numbers = std::vector<int>;
const std::string kProbeRow = "10 04 05 ";

// The numbers 1 .. 254 without the given ones.
Numbers AllComBut(const Numbers& skipped) {
    Numbers out;
    for (int n = 1; n <= 254; ++n) {
        bool skip = false;
        for (int s : skipped) skip = skip || s == n;
        if (!skip) out.push_back(n);
    }
    return out;
}

// A folder of links named like devices, each leading to a test port.
class DeviceLinks {
public:
    DeviceLinks() { ::mkdir(folder_.Path("usb").c_str(), 0700); }
    // <folder>/<name> leading to target, mapped to COM<n> in place of target.
    void Map(int n, const std::string& name, const std::string& target) {
        const std::string link = folder_.Path(name);
        EXPECT_EQ(::symlink(target.c_str(), link.c_str()), 0) << link;
        platform::PortMap::instance().setOverride(n, link, "test port " + name);
    }

private:
    test::ScratchFolder folder_{"pellory_links"};
};

}  // namespace

// On USB each entry's tooltip is the device's path with its maker and product; every other kind
// keeps the description of the port map.
using PortTips = test::ComSetupPageTest<>;

TEST_F(PortTips, UsbEntriesNameMakerAndProductFromSysfs) {
    test::FakeUsbSysfs sys;
    sys.Device("1-1", "ACME Corp.", "Receipt 80");
    sys.Printer("lp0", "1-1");
    platform::PortMap& ports = platform::PortMap::instance();
    ports.setOverride(21, "/dev/usb/lp0", "set by --com");
    ports.setOverride(22, "/dev/usb/lp5", "set by --com");

    EXPECT_EQ(pages::PortTip(21, PortKind::Usb, sys.root()), "/dev/usb/lp0 - ACME Corp. Receipt 80");
    EXPECT_EQ(pages::PortTip(22, PortKind::Usb, sys.root()), "/dev/usb/lp5");
    EXPECT_EQ(pages::PortTip(21, PortKind::All, sys.root()), "/dev/usb/lp0 - set by --com");
    EXPECT_EQ(pages::PortTip(23, PortKind::Usb, sys.root()), "Nothing is attached as COM23.");

    // The page's USB list takes its tooltips from the machine's own sysfs, where this made-up
    // printer file has no entry: the path alone, not the map's description.
    ports.setOverride(22, "/dev/usb/lp987", "set by --com");
    Control<QRadioButton>(pages::kIdRadioUsb)->click();
    QComboBox* list = Control<QComboBox>(pages::kIdPortList);
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->itemData(1, Qt::ToolTipRole).toString().toStdString(), "/dev/usb/lp987");
    Control<QRadioButton>(pages::kIdRadioAll)->click();
    EXPECT_EQ(list->itemData(1, Qt::ToolTipRole).toString().toStdString(), "/dev/usb/lp987 - set by --com");

    ports.clearOverride(21);
    ports.clearOverride(22);
}

// Which numbers each kind tries, from the port map alone.
TEST(AutoConnectPorts, EachKindTriesItsOwnPortsAndNetworkOnlyTheAddressTypedIn) {
    platform::PortMap& ports = platform::PortMap::instance();
    ports.setOverride(2, "/dev/ttyUSB0");
    ports.setOverride(3, "/dev/usb/lp0");
    ports.setOverride(4, "/dev/lp0");
    ports.setOverride(5, "/dev/rfcomm0");
    ports.setOverride(6, "tcp://192.0.2.7:9100");
    ports.setOverride(7, "/dev/ttyACM1");
    ports.setOverride(300, "/dev/usb/lp1");

    // COM: every number as ever, but the printer device files and the network printer.
    EXPECT_EQ(pages::AutoConnectPorts(PortKind::Com), AllComBut({3, 4, 6}));
    EXPECT_EQ(pages::AutoConnectPorts(PortKind::Usb), (Numbers{2, 3, 7, 300}));
    EXPECT_EQ(pages::AutoConnectPorts(PortKind::Lpt), (Numbers{4}));
    EXPECT_EQ(pages::AutoConnectPorts(PortKind::Bluetooth), (Numbers{5}));
    EXPECT_EQ(pages::AutoConnectPorts(PortKind::All), (Numbers{2, 3, 4, 5, 6, 7, 300}));
    // Network: the typed address alone, never the network printers the map knows besides.
    EXPECT_EQ(pages::AutoConnectPorts(PortKind::Network, 9), (Numbers{9}));
    EXPECT_EQ(pages::AutoConnectPorts(PortKind::Network), Numbers{});

    EXPECT_EQ(pages::ScanTitle(pages::AutoConnectPorts(PortKind::Com)), "Looking for the printer on COM1 .. COM254");
    EXPECT_EQ(pages::ScanTitle({2, 3}), "Looking for the printer on COM2, COM3");
    EXPECT_EQ(pages::ScanTitle({}), "Looking for the printer on no port");

    // The typed address is mapped to a number first; a malformed one is refused with its reason.
    pages::SetupActions actions;
    test::ScriptedPrompt prompt;
    actions.SetPrompt(&prompt);
    Numbers tried = {99};
    EXPECT_FALSE(actions.AutoConnectCandidates(PortKind::Network, "printer.example", "70000", tried));
    EXPECT_TRUE(tried.empty());
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_NE(prompt.messages[0].text.find("printer.example"), std::string::npos) << prompt.messages[0].text;
    EXPECT_TRUE(actions.AutoConnectCandidates(PortKind::Network, "", "9100", tried));
    EXPECT_TRUE(tried.empty());
    EXPECT_TRUE(actions.AutoConnectCandidates(PortKind::Network, "192.0.2.7", "9100", tried));
    EXPECT_EQ(tried, (Numbers{6})) << "an address already mapped keeps its number";
    EXPECT_TRUE(actions.AutoConnectCandidates(PortKind::Lpt, "192.0.2.7", "9100", tried));
    EXPECT_EQ(tried, (Numbers{4}));

    for (int n : {2, 3, 4, 5, 6, 7, 300}) ports.clearOverride(n);
}

class AutoConnectByKindTest : public test::ComSetupPageTest<> {
protected:
    void SetUp() override {
        ComSetupPageTest::SetUp();
        // COM1 a terminal with nothing attached, COM3 a USB serial adapter with nothing attached,
        // then a printer on a USB printer file (COM4), a parallel port (COM6), a Bluetooth port
        // (COM8) and the network (COM9).
        links.Map(1, "ttyS0", com1.path());
        links.Map(3, "ttyUSB3", adapter.path());
        links.Map(4, "usb/lp4", usb.path());
        links.Map(6, "lp6", lpt.path());
        links.Map(8, "rfcomm8", bluetooth.path());
    }

    // Chooses the kind, presses "Auto Connect" and notes the progress window's range meanwhile.
    void AutoConnect(int radio) {
        prompt.messages.clear();
        history.rows.clear();
        Control<QRadioButton>(radio)->click();
        QTimer::singleShot(0, page.get(), [this] {
            for (auto* d : page->findChildren<QProgressDialog*>()) {
                if (d->isVisible()) progressMaximum = d->maximum();
            }
        });
        Control<QPushButton>(pages::kIdAutoConnect)->click();
    }
    // The printers (by COM number) that were asked for their status, in that order of numbers.
    Numbers ProbedPrinters() {
        Numbers out;
        for (auto* p : {&usb, &lpt, &bluetooth, &network}) {
            if (!p->printer().received().empty()) out.push_back(p->number());
        }
        return out;
    }
    void ForgetReceived() {
        for (auto* p : {&usb, &lpt, &bluetooth, &network}) p->printer().clearReceived();
    }

    test::SilentPort com1{1};
    test::SilentPort adapter{3};
    test::MappedPrinter usb{4};
    test::MappedPrinter lpt{6};
    test::MappedPrinter bluetooth{8};
    test::MappedPrinter network{9, VirtualPrinter::Transport::Tcp};
    DeviceLinks links;
    int progressMaximum = -1;
};

TEST_F(AutoConnectByKindTest, EachKindFindsThePrinterAmongItsOwnPortsOnly) {
    QComboBox* list = Control<QComboBox>(pages::kIdPortList);
    struct Case {
        int radio;
        int found;
        size_t rows;      // probes sent: one per port that opened
        int maximum;      // ports to try, as the progress window counts them
        QString selected;
    };
    const Case cases[] = {
        // COM: COM1 (no answer), COM3 (no answer), then the Bluetooth terminal; never the
        // printer files nor the network printer.
        {pages::kIdRadioCom, 8, 3, 251, "COM8"},
        // USB: the adapter (no answer), then the USB printer.
        {pages::kIdRadioUsb, 4, 2, 2, "COM4"},
        {pages::kIdRadioLpt, 6, 1, 1, "COM6"},
        {pages::kIdRadioBluetooth, 8, 1, 1, "COM8"},
        // All: every port the map knows, in order: COM1, COM3, then COM4 answers.
        {pages::kIdRadioAll, 4, 3, 6, "COM4"},
    };
    for (const Case& c : cases) {
        ForgetReceived();
        AutoConnect(c.radio);
        EXPECT_EQ(prompt.Texts(), (Rows{"Connected Success"})) << c.radio;
        EXPECT_EQ(PortSettings.portNumber, c.found) << c.radio;
        EXPECT_EQ(ProbedPrinters(), (Numbers{c.found})) << c.radio;
        EXPECT_EQ(history.rows, Rows(c.rows, kProbeRow)) << c.radio;
        EXPECT_EQ(progressMaximum, c.maximum) << c.radio;
        EXPECT_EQ(list->currentText(), c.selected) << c.radio;
        EXPECT_FALSE(page->IsOpen());
    }
}

TEST_F(AutoConnectByKindTest, NetworkTriesTheAddressTypedInAndNothingElse) {
    const std::string entry = network.path();
    const std::string port = entry.substr(entry.rfind(':') + 1);
    Control<QLineEdit>(pages::kIdHostField)->setText("127.0.0.1");
    Control<QLineEdit>(pages::kIdNetworkPortField)->setText(QString::fromStdString(port));
    AutoConnect(pages::kIdRadioNetwork);
    EXPECT_EQ(prompt.Texts(), (Rows{"Connected Success"}));
    EXPECT_EQ(PortSettings.portNumber, 9) << "the address is the one COM9 maps";
    EXPECT_EQ(history.rows, (Rows{kProbeRow}));
    EXPECT_EQ(ProbedPrinters(), (Numbers{9}));
    EXPECT_EQ(progressMaximum, 1);

    // An address where nothing listens: one attempt, no answer, and the address stays chosen.
    std::string refusing;
    {
        VirtualPrinter gone;
        ASSERT_TRUE(gone.start(VirtualPrinter::Transport::Tcp));
        refusing = gone.slavePath().substr(gone.slavePath().rfind(':') + 1);
    }
    ForgetReceived();
    auto* portField = Control<QLineEdit>(pages::kIdNetworkPortField);
    portField->setText(QString::fromStdString(refusing));
    emit portField->editingFinished();
    const int chosen = PortSettings.portNumber;
    EXPECT_NE(chosen, 9);
    AutoConnect(pages::kIdRadioNetwork);
    EXPECT_EQ(prompt.Texts(), (Rows{"Connected Fail"}));
    EXPECT_TRUE(history.rows.empty());
    EXPECT_TRUE(ProbedPrinters().empty());
    EXPECT_EQ(PortSettings.portNumber, chosen);
    platform::PortMap::instance().clearOverride(chosen);

    // No address typed: nothing to try.
    Control<QLineEdit>(pages::kIdHostField)->clear();
    AutoConnect(pages::kIdRadioNetwork);
    EXPECT_EQ(prompt.Texts(), (Rows{"Connected Fail"}));
    EXPECT_TRUE(ProbedPrinters().empty());
}
