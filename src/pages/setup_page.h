// The "COM Setup" tab page: the widgets over SetupActions.
//
// Port list: the entries "COM1" .. "COM10" keep their positions (position + 1 is the port
// number). When "Auto Connect" finds the printer on a number beyond 10, the page appends an
// entry "COMn" for it at the end of the list (once per number) and selects it; every entry
// carries its port number as item data, so picking it later sets that number again. Each
// entry's tooltip names the device it stands for on this machine; the tooltips are refreshed at
// start-up, after "Auto Connect" and whenever the list pops up. On "USB" the tooltip gives the
// device's path with its maker and product instead.
#pragma once

#include <QWidget>

#include "pages/core/setup_actions.h"

class QComboBox;
class QPushButton;
class QRadioButton;

class QLineEdit;
class QCheckBox;

namespace pellory::pages {

// Control ids of the page.
enum SetupControlId : int {
    kIdDeviceList = 1024,
    kIdRadioAll = 1025,
    kIdRadioUsb = 1026,
    kIdRadioCom = 1008,
    kIdRadioNetwork = 1009,
    kIdRadioLpt = 1010,
    kIdRadioBluetooth = 1011,
    kIdPortList = 1014,
    kIdBaudList = 1015,
    kIdDataBitList = 1017,
    kIdParityList = 1018,
    kIdStopBitList = 1019,
    kIdHandshakeList = 1020,
    kIdAutoConnect = 1021,
    kIdCommTest = 1022,
    kIdHostField = 1027,
    kIdNetworkPortField = 1028,
    kIdAnswersStatusBox = 1029,
};

// Object name of the progress window shown while "Auto Connect" scans.
inline constexpr const char* kAutoConnectProgressName = "autoConnectProgress";

class CDialogSetup : public QWidget, public SetupActions {
public:
    explicit CDialogSetup(QWidget* parent = nullptr);
    ~CDialogSetup() override;

    void InitSetupPage();
    // Checks the "COM" radio button (the main window does it after InitSetupPage).
    void CheckComRadio();

    // The button handlers.
    void OnAutoConnect();
    void OnCommTest();

    // Writes every port entry's tooltip from the port map as it is now.
    void RefreshPortTips();

    // A radio button of the "Port" group was chosen: the "PortName" list shows the ports of
    // that kind ("COM": today's COM1..COM10), or for "Network" the "Host" and "Port" fields.
    void ChoosePortKind(PortKind kind);
    PortKind ChosenPortKind() const { return kind_; }

private:
    void BuildControls();
    void OnDeviceChanged(int index);
    void OnPortChanged(int index);
    void OnBaudChanged(int index);
    void OnDataBitsChanged(int index);
    void OnParityChanged(int index);
    void OnStopBitsChanged(int index);
    void OnHandshakeChanged(int index);
    // Selects the entry of port n (appending "COMn" when the list has none), sending nothing.
    void ShowFoundPort(int n);
    // The address typed in the "Host" and "Port" fields: mapped to a COM number and chosen.
    void OnNetworkAddress();
    // Enables the line-setting lists where they mean something for the chosen port.
    void RefreshLineLists();

    QComboBox* device_ = nullptr;
    QComboBox* port_ = nullptr;
    QComboBox* baud_ = nullptr;
    QComboBox* dataBits_ = nullptr;
    QComboBox* parity_ = nullptr;
    QComboBox* stopBits_ = nullptr;
    QComboBox* handshake_ = nullptr;
    QRadioButton* com_ = nullptr;
    QLineEdit* host_ = nullptr;
    QLineEdit* networkPort_ = nullptr;
    QCheckBox* answersStatus_ = nullptr;
    PortKind kind_ = PortKind::Com;
    QPushButton* autoConnect_ = nullptr;
    QPushButton* commTest_ = nullptr;
    // True while an action of the page runs; handlers called meanwhile (through the event loop
    // of the progress window) do nothing.
    bool busy_ = false;
};

}  // namespace pellory::pages
