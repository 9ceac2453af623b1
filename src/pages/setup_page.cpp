#include "pages/setup_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>

#include <functional>
#include <utility>
#include <vector>

#include "link/port_settings.h"
#include "pages/page_widgets.h"
#include "pellory_version.h"
#include "widgets/dialog_layout.h"

namespace pellory::pages {

namespace {

// A drop-down list that lets its owner update the entries just before the list pops up.
class PopupHookCombo : public QComboBox {
public:
    PopupHookCombo(QWidget* parent, std::function<void()> beforePopup)
        : QComboBox(parent), beforePopup_(std::move(beforePopup)) {}
    void showPopup() override {
        if (beforePopup_) beforePopup_();
        QComboBox::showPopup();
    }

private:
    std::function<void()> beforePopup_;
};

constexpr int kPortNumberRole = Qt::UserRole;

// Appends "COM1" .. "COM10" (each with its number as item data).
void AddComEntries(QComboBox* list) {
    for (int i = 0; i < kPortEntryCount; ++i) {
        list->insertItem(i, QString::fromStdString(PortEntryText(i + 1)), i + 1);
    }
}

// The scan's progress window, shown at once rather than after Qt's estimate says the work is long:
// once shown, a modal progress window runs the event loop at every step, so the window is
// repainted after each port.
class ScanProgress : public QProgressDialog {
public:
    using QProgressDialog::QProgressDialog;
    void ShowNow() { forceShow(); }
};

}  // namespace

CDialogSetup::CDialogSetup(QWidget* parent) : QWidget(parent) { BuildControls(); }

CDialogSetup::~CDialogSetup() = default;

void CDialogSetup::BuildControls() {
    const DialogUnits du = widgets::SizeAsPage(this);

    // Left column: the device, the kind of port, the program.
    MakeGroupDu(this, du, "Device Name", 4, 2, 146, 30);
    device_ = MakeControlDu<QComboBox>(this, du, kIdDeviceList, "deviceList", {12, 13, 130, 13});

    MakeGroupDu(this, du, "Port", 4, 36, 146, 52);
    struct Radio {
        int id;
        const char* caption;
        const char* name;
        int x, y;
    };
    const Radio radios[] = {
        {kIdRadioAll, "A&ll", "radioAll", 12, 47},         {kIdRadioUsb, "&USB", "radioUsb", 80, 47},
        {kIdRadioCom, "&COM", "radioCom", 12, 60},         {kIdRadioNetwork, "&Network", "radioNetwork", 80, 60},
        {kIdRadioLpt, "L&PT", "radioLpt", 12, 73},         {kIdRadioBluetooth, "&Bluetooth", "radioBluetooth", 80, 73},
    };
    const std::pair<int, PortKind> kinds[] = {{kIdRadioAll, PortKind::All}, {kIdRadioUsb, PortKind::Usb},
                                              {kIdRadioCom, PortKind::Com}, {kIdRadioNetwork, PortKind::Network},
                                              {kIdRadioLpt, PortKind::Lpt}, {kIdRadioBluetooth, PortKind::Bluetooth}};
    for (const Radio& r : radios) {
        auto* button =
            MakeControlDu<QRadioButton>(this, du, r.id, r.name, {r.x, r.y, 60, 10}, QString::fromLatin1(r.caption));
        PortKind kind = PortKind::Com;
        for (const auto& [id, k] : kinds) {
            if (id == r.id) kind = k;
        }
        connect(button, &QRadioButton::toggled, this, [this, kind](bool on) {
            if (on) ChoosePortKind(kind);
        });
        if (r.id == kIdRadioCom) com_ = button;
    }

    MakeGroupDu(this, du, "About", 4, 92, 146, 60);
    auto* about = new QLabel(QStringLiteral("Pellory\nReceipt printer test and set-up tool\nVersion %1")
                                 .arg(QString::fromLatin1(kProgramVersion)),
                             this);
    about->setObjectName(QStringLiteral("aboutText"));
    about->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    PlaceDu(about, du, 12, 104, 130, 42);

    // Right column: the line settings and the two checks.
    MakeGroupDu(this, du, "Port Setting", 154, 2, 144, 150);
    port_ = new PopupHookCombo(this, [this] { RefreshPortTips(); });
    baud_ = new QComboBox(this);
    dataBits_ = new QComboBox(this);
    parity_ = new QComboBox(this);
    stopBits_ = new QComboBox(this);
    handshake_ = new QComboBox(this);
    struct Row {
        QComboBox* list;
        int id;
        const char* name;
        const char* label;
    };
    const Row rows[] = {
        {port_, kIdPortList, "portList", "PortName"},
        {baud_, kIdBaudList, "baudList", "Baudrate"},
        {dataBits_, kIdDataBitList, "dataBitList", "BitLength"},
        {parity_, kIdParityList, "parityList", "Parity"},
        {stopBits_, kIdStopBitList, "stopBitList", "StopBit"},
        {handshake_, kIdHandshakeList, "handshakeList", "Handshake"},
    };
    int y = 14;
    for (const Row& r : rows) {
        MakeLabelDu(this, du, QString::fromLatin1(r.label), 162, y + 2, 46);
        SetControlId(r.list, r.id, QString::fromLatin1(r.name));
        PlaceDu(r.list, du, 210, y, 80, 13);
        y += 18;
    }

    // "Network": the address in place of the "PortName" list.
    host_ = MakeControlDu<QLineEdit>(this, du, kIdHostField, "hostField", {210, 14, 52, 13});
    host_->setPlaceholderText(QStringLiteral("Host"));
    networkPort_ = MakeControlDu<QLineEdit>(this, du, kIdNetworkPortField, "networkPortField", {264, 14, 26, 13},
                                            QString::fromLatin1(kDefaultNetworkPortText));
    networkPort_->setToolTip(QStringLiteral("Port"));
    host_->hide();
    networkPort_->hide();
    connect(host_, &QLineEdit::editingFinished, this, [this] { OnNetworkAddress(); });
    connect(networkPort_, &QLineEdit::editingFinished, this, [this] { OnNetworkAddress(); });
    answersStatus_ = MakeControlDu<QCheckBox>(this, du, kIdAnswersStatusBox, "answersStatusBox", {162, 120, 128, 10},
                                              widgets::WithMnemonic(QString::fromLatin1(kAnswersStatusText), u's'));
    answersStatus_->setChecked(true);
    answersStatus_->hide();
    connect(answersStatus_, &QCheckBox::toggled, this, [](bool on) { link::PortSettings.answersStatus = on; });

    autoConnect_ = MakeControlDu<QPushButton>(this, du, kIdAutoConnect, "autoConnect", {162, 132, 60, 15},
                                              QStringLiteral("&Auto Connect"));
    commTest_ = MakeControlDu<QPushButton>(this, du, kIdCommTest, "commTest", {230, 132, 60, 15},
                                           QStringLiteral("Comm. &Test"));

    // Selection changes; the program's own selections are made with the signals blocked.
    connect(device_, &QComboBox::currentIndexChanged, this, [this](int i) { OnDeviceChanged(i); });
    connect(port_, &QComboBox::currentIndexChanged, this, [this](int i) { OnPortChanged(i); });
    connect(baud_, &QComboBox::currentIndexChanged, this, [this](int i) { OnBaudChanged(i); });
    connect(dataBits_, &QComboBox::currentIndexChanged, this, [this](int i) { OnDataBitsChanged(i); });
    connect(parity_, &QComboBox::currentIndexChanged, this, [this](int i) { OnParityChanged(i); });
    connect(stopBits_, &QComboBox::currentIndexChanged, this, [this](int i) { OnStopBitsChanged(i); });
    connect(handshake_, &QComboBox::currentIndexChanged, this, [this](int i) { OnHandshakeChanged(i); });
    connect(autoConnect_, &QPushButton::clicked, this, [this] { OnAutoConnect(); });
    connect(commTest_, &QPushButton::clicked, this, [this] { OnCommTest(); });
}

void CDialogSetup::InitSetupPage() {
    // The lists stay silent until the page has started.
    QSignalBlocker blockers[] = {QSignalBlocker(device_),   QSignalBlocker(port_),   QSignalBlocker(baud_),
                                 QSignalBlocker(dataBits_), QSignalBlocker(parity_), QSignalBlocker(stopBits_),
                                 QSignalBlocker(handshake_)};

    ReplaceEntries(device_, kDeviceEntries, kInitialDevice);
    port_->clear();
    AddComEntries(port_);
    port_->setCurrentIndex(kInitialPort);
    ReplaceEntries(baud_, kBaudEntries, kInitialBaud);
    ReplaceEntries(dataBits_, kDataBitEntries, kInitialDataBits);
    ReplaceEntries(parity_, kParityEntries, kInitialParity);
    ReplaceEntries(stopBits_, kStopBitEntries, kInitialStopBits);
    ReplaceEntries(handshake_, kHandshakeEntries, kInitialHandshake);

    // The settings are read back from the selected entries.
    SetupSelection s;
    s.device = device_->currentIndex();
    s.portNumber = port_->currentData(kPortNumberRole).toInt();
    s.baudRate = ReadEntryNumber(baud_->currentText().toStdString());
    s.dataBits = ReadEntryNumber(dataBits_->currentText().toStdString());
    s.parity = ParityCode(parity_->currentText().toStdString()).value_or(0);
    s.stopBits = StopBitCode(stopBits_->currentText().toStdString()).value_or(0);
    s.handshake = handshake_->currentIndex();
    Start(s);
    RefreshPortTips();
}

void CDialogSetup::CheckComRadio() {
    if (com_) com_->setChecked(true);
}

void CDialogSetup::RefreshPortTips() {
    for (int i = 0; i < port_->count(); ++i) {
        const int n = port_->itemData(i, kPortNumberRole).toInt();
        port_->setItemData(i, QString::fromStdString(PortTip(n, kind_)), Qt::ToolTipRole);
    }
}

void CDialogSetup::OnDeviceChanged(int index) {
    if (busy_ || index < 0) return;
    SelectDevice(index);
}

void CDialogSetup::OnPortChanged(int index) {
    if (busy_ || index < 0) return;
    SelectPort(port_->itemData(index, kPortNumberRole).toInt());
    RefreshLineLists();
}

void CDialogSetup::ChoosePortKind(PortKind kind) {
    if (busy_) return;
    kind_ = kind;
    const bool network = kind == PortKind::Network;
    port_->setVisible(!network);
    host_->setVisible(network);
    networkPort_->setVisible(network);
    answersStatus_->setVisible(kind == PortKind::Usb || kind == PortKind::Lpt || kind == PortKind::Network);
    if (network) {
        if (!host_->text().isEmpty()) OnNetworkAddress();
        RefreshLineLists();
        return;
    }
    {
        QSignalBlocker block(port_);
        port_->clear();
        if (kind == PortKind::Com) {
            AddComEntries(port_);
        } else {
            for (const int n : PortsOfKind(kind)) port_->addItem(QString::fromStdString(PortEntryText(n)), n);
        }
        const int at = port_->findData(link::PortSettings.portNumber, kPortNumberRole);
        port_->setCurrentIndex(at >= 0 ? at : (port_->count() > 0 ? 0 : -1));
    }
    RefreshPortTips();
    if (port_->currentIndex() >= 0) SelectPort(port_->currentData(kPortNumberRole).toInt());
    RefreshLineLists();
}

void CDialogSetup::OnNetworkAddress() {
    if (busy_ || kind_ != PortKind::Network) return;
    const std::string host = host_->text().trimmed().toStdString();
    if (host.empty()) return;
    std::string error;
    const int n = MapNetworkPort(host, networkPort_->text().trimmed().toStdString(), &error);
    if (n == 0) {
        ShowMessage(error);
        return;
    }
    SelectPort(n);
    RefreshLineLists();
}

void CDialogSetup::RefreshLineLists() {
    const bool apply = kind_ != PortKind::Network && LineSettingsApply(link::PortSettings.portNumber);
    for (QComboBox* list : {baud_, dataBits_, parity_, stopBits_, handshake_}) list->setEnabled(apply);
}

void CDialogSetup::OnBaudChanged(int index) {
    if (busy_ || index < 0) return;
    busy_ = true;
    ChangeBaudRate(ReadEntryNumber(baud_->itemText(index).toStdString()));
    busy_ = false;
}

void CDialogSetup::OnDataBitsChanged(int index) {
    if (busy_ || index < 0) return;
    SelectDataBits(ReadEntryNumber(dataBits_->itemText(index).toStdString()));
}

void CDialogSetup::OnParityChanged(int index) {
    if (busy_ || index < 0) return;
    if (const auto code = ParityCode(parity_->itemText(index).toStdString())) SelectParity(*code);
}

void CDialogSetup::OnStopBitsChanged(int index) {
    if (busy_ || index < 0) return;
    if (const auto code = StopBitCode(stopBits_->itemText(index).toStdString())) SelectStopBits(*code);
}

void CDialogSetup::OnHandshakeChanged(int index) {
    if (busy_ || index < 0) return;
    busy_ = true;
    ChangeHandshake(index);
    busy_ = false;
}

void CDialogSetup::OnAutoConnect() {
    if (busy_) return;
    busy_ = true;
    std::vector<int> ports;
    if (!AutoConnectCandidates(kind_, host_->text().trimmed().toStdString(),
                               networkPort_->text().trimmed().toStdString(), ports)) {
        busy_ = false;
        return;
    }
    const int count = static_cast<int>(ports.size());
    int found = 0;
    {
        // Shown for the whole scan; it blocks the window and has no cancel button: ports that
        // nothing maps cost no time, so a scan takes a fraction of a second per mapped port.
        ScanProgress progress(QString::fromStdString(ScanTitle(ports)), QString(), 0, count, this);
        progress.setObjectName(QString::fromLatin1(kAutoConnectProgressName));
        progress.setWindowTitle(QString::fromLatin1(link::kProgramTitle));
        progress.setWindowModality(Qt::WindowModal);
        progress.setCancelButton(nullptr);
        progress.setMinimumDuration(0);
        progress.setAutoClose(false);
        progress.setAutoReset(false);
        progress.setValue(0);
        progress.ShowNow();
        int tried = 0;
        found = ScanPorts(ports, [&progress, &tried, count](int) {
            ++tried;
            progress.setLabelText(
                QStringLiteral("Looking for the printer: %1 of %2 ports tried").arg(tried).arg(count));
            progress.setValue(tried);  // a modal progress window runs the event loop here
        });
    }
    const bool network = kind_ == PortKind::Network;
    FinishAutoConnect(found, network && count > 0 ? ports.front() : 0);
    if (network) {
        RefreshLineLists();
    } else if (found > 0) {
        ShowFoundPort(found);
    } else {
        const QSignalBlocker block(port_);
        port_->setCurrentIndex(-1);
    }
    RefreshPortTips();
    busy_ = false;
}

void CDialogSetup::ShowFoundPort(int n) {
    const QSignalBlocker block(port_);
    int index = port_->findData(n, kPortNumberRole);
    if (index < 0) {
        index = port_->count();
        port_->insertItem(index, QString::fromStdString(PortEntryText(n)), n);
    }
    port_->setCurrentIndex(index);
}

void CDialogSetup::OnCommTest() {
    if (busy_) return;
    busy_ = true;
    CommTest();
    busy_ = false;
}

}  // namespace pellory::pages
