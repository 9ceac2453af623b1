// What the "COM Setup" page does without its widgets: the process-wide port settings and
// printable width, the printer's baud-rate and flow-control set-up, the one-port attempt, the
// automatic search for the printer's port and the communication test. The command line uses the
// same class, so both send the same bytes and write the same settings.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pages/core/page_link.h"
#include "platform/usb_details.h"
#include "protocol/model_profile.h"

namespace pellory::pages {

// --- the entries of the page's lists, in their order ---
// "Device Name": each model's name, in the order of protocol::Model.
inline constexpr std::array<const char*, 2> kDeviceEntries = {protocol::ProfileOf(protocol::Model::Orva58).name,
                                                              protocol::ProfileOf(protocol::Model::Orva80).name};
constexpr int kPortEntryCount = 10;  // "COM1" .. "COM10"
inline constexpr std::array<const char*, 7> kBaudEntries = {"2400",  "4800",  "9600",  "19200",
                                                            "38400", "57600", "115200"};
inline constexpr std::array<const char*, 1> kDataBitEntries = {"8"};
inline constexpr std::array<const char*, 3> kParityEntries = {"NONE", "ODD", "EVEN"};
inline constexpr std::array<const char*, 2> kStopBitEntries = {"1", "2"};
inline constexpr std::array<const char*, 4> kHandshakeEntries = {"None", "CTS/RTS", "DTR/DSR", "Xon/Xoff"};

// The entries selected at start-up (positions in the lists above).
constexpr int kInitialDevice = 0;
constexpr int kInitialPort = 0;
constexpr int kInitialBaud = 2;
constexpr int kInitialDataBits = 0;
constexpr int kInitialParity = 0;
constexpr int kInitialStopBits = 0;
constexpr int kInitialHandshake = 1;

// The automatic connection tries COM1 .. COM254.
constexpr int kAutoConnectLastPort = 254;

inline constexpr const char* kConnectedSuccessText = "Connected Success";
inline constexpr const char* kConnectedFailText = "Connected Fail";
inline constexpr const char* kCommSuccessText = "Communicate Success.";
inline constexpr const char* kNoPortChosenText = "No port is chosen.";

// --- conversions of list entries ---

// The signed decimal number at the start of an entry's text ("115200" -> 115200); text that does
// not start with a number reads as 0. Values past the 32-bit range saturate.
int32_t ReadEntryNumber(std::string_view text);
// The model of a "Device Name" position: the entry's; the last entry's (ORVA80) for a position
// outside the list (-1: none chosen).
protocol::Model ModelOfDevice(int position);
// The width pictures are sent at on the model of a "Device Name" position (its profile's
// pictureDots).
int32_t PrintableWidthForDevice(int position);
// The model the last "Device Name" choice (or the command line's --model) made the printer: the
// one whose picture width link::PrintableWidth is.
protocol::Model ChosenModel();
// The platform's parity code of a "Parity" entry: 0 "NONE", 1 "ODD", 2 "EVEN".
std::optional<int32_t> ParityCode(std::string_view entry);
// The platform's stop-bit code of a "StopBit" entry: 0 for "1", 2 for "2".
std::optional<int32_t> StopBitCode(std::string_view entry);
// The value d of the flow-control set-up command for a "Handshake" position (0..3).
std::optional<uint8_t> PrinterFlowValue(int position);
// "COM<n>".
std::string PortEntryText(int n);
// What COM<n> stands for on this machine: the device path and its description, or a sentence
// saying that nothing is attached under that number.
std::string PortDescription(int n);

// --- the kinds of port of the "Port" group ---

// The six radio buttons, by kind of port.
enum class PortKind { All, Com, Usb, Lpt, Network, Bluetooth };

// What kind a port map entry is: Network for tcp:// entries, Bluetooth for rfcomm terminals,
// Lpt for parallel printer files (lp<k>), Usb for USB printers (usb/lp<k>) and USB serial
// adapters (ttyUSB, ttyACM), Com for every other (a serial terminal). An adapter counts for both
// Usb and Com.
bool PortIsOfKind(const std::string& path, PortKind kind);
// The COM numbers the port map gives the ports of a kind, ascending.
std::vector<int> PortsOfKind(PortKind kind);
// Whether the serial line settings mean something on COM<n>: a serial terminal, or a number
// nothing is mapped to yet (opening it decides). False for printer device files and network
// printers.
bool LineSettingsApply(int n);
// Maps tcp://HOST:PORT to a COM number so that every page can use it: the number that maps it
// already, else the lowest free number above every system port. 0 (with error set) for a
// malformed address or when no number is free. Resolves nothing: a slow name service is met
// only when a page opens the port.
int MapNetworkPort(const std::string& host, const std::string& port, std::string* error = nullptr);
// The tooltip of COM<n>'s entry on the "PortName" list while a kind is chosen: on USB the path
// with the maker and product that sysfs (at sysRoot) gives, or the path alone; elsewhere
// PortDescription(n).
std::string PortTip(int n, PortKind kind, const std::string& sysRoot = platform::kSysfsRoot);
// The COM numbers "Auto Connect" tries for a kind of port, in order. COM: 1 .. 254 as ever,
// passing over the numbers the map gives a port of another kind (a printer device file, a
// network printer). USB, LPT, Bluetooth, All: the ports the map gives that kind (All: every one
// it knows). Network: networkPort alone, the number the address typed in is mapped to (nothing
// when 0): a network is never searched.
std::vector<int> AutoConnectPorts(PortKind kind, int networkPort = 0);
// The first line of the search's progress window: "Looking for the printer on COM1 .. COM254",
// or the ports one by one when they are few.
std::string ScanTitle(const std::vector<int>& ports);
inline constexpr const char* kAnswersStatusText = "Printer answers status";
inline constexpr const char* kDefaultNetworkPortText = "9100";

// --- the set-up commands, as bytes (for checks and for the command line's dry output) ---
// GS ( E function 11, a = 1, the rate as ASCII decimal digits.
std::vector<uint8_t> BaudSetupCommand(int32_t rate);
// GS ( E function 11, a = 3, d.
std::vector<uint8_t> HandshakeSetupCommand(uint8_t d);

// The values the page's lists hold when it starts (or what the command line chose instead).
struct SetupSelection {
    int device = kInitialDevice;       // position in kDeviceEntries
    int32_t portNumber = kInitialPort + 1;
    int32_t baudRate = 9600;
    int32_t dataBits = 8;
    int32_t parity = 0;
    int32_t stopBits = 0;
    int32_t handshake = kInitialHandshake;
};

class SetupActions : public PageLink {
public:
    enum class CommResult { OpenFailed, NoAnswer, Answered, NotAPrinter };

    SetupActions();
    ~SetupActions() override;

    // Start-up: writes PortSettings (baudRate and requestedBaudRate both from the selection) and
    // PrintableWidth, and switches the echo on.
    void Start(const SetupSelection& selection);

    // List changes that only write a setting; nothing is sent.
    void SelectDevice(int position);
    void SelectPort(int32_t portNumber);
    void SelectDataBits(int32_t bits);
    void SelectParity(int32_t code);
    void SelectStopBits(int32_t code);

    // "Baudrate" change: tells the printer to use rate (when it differs from baudRate), then
    // opens later links with it whether or not the printer got the command.
    void ChangeBaudRate(int32_t rate);
    // "Handshake" change to position 0..3: opens with the new flow control and tells the printer.
    // False (nothing done) for another position.
    bool ChangeHandshake(int position);

    // One attempt on COM<n>: true when a printer answered the probe (a status byte). Shows no message; adds the
    // probe's history row when the port opened. Leaves the link closed.
    bool TryPort(int n);
    // Tries COM1 .. COM254 in turn and returns the first number that answered (0 for none).
    // progress, when set, is called with n after each attempt. Ends early (0) when a stop of the
    // program is requested.
    int ScanForPrinter(const std::function<void(int n)>& progress = {});
    // Tries the given ports in turn, as ScanForPrinter does.
    int ScanPorts(const std::vector<int>& ports, const std::function<void(int n)>& progress = {});
    // The ports "Auto Connect" tries for the chosen kind (AutoConnectPorts); for Network the
    // address typed in, which is mapped to a COM number first. False, with the reason shown,
    // for a malformed address: then nothing is to be tried. An empty host gives no port.
    bool AutoConnectCandidates(PortKind kind, const std::string& host, const std::string& port,
                               std::vector<int>& ports);
    // Ends the automatic connection: shows "Connected Success" and sets portNumber to found, or
    // shows "Connected Fail" and sets portNumber to chosenOnFail: 0 (no port chosen) but for a
    // network address typed in, which stays chosen.
    void FinishAutoConnect(int found, int chosenOnFail = 0);
    // Both of the above.
    int AutoConnect(const std::function<void(int n)>& progress = {});

    // "Comm. Test": one probe on portNumber; says what happened (kNotAPrinterText for a reply no
    // printer gives) and leaves the link closed.
    CommResult CommTest();

private:
    // Opens COM<n> in the pages' mode with the page's time-outs and flow control and restarts
    // the threads for a probe. Bytes queued while the link was closed are dropped first.
    bool OpenForCheck(int32_t n, bool setEventMask5, platform::LineSettings& saved);
    // Sends the probe and returns what came back; the history row goes before or after the wait.
    link::StatusReply Probe(bool handOverBeforeWait);
    void CloseAfterCheck(const platform::LineSettings& saved);
};

}  // namespace pellory::pages
