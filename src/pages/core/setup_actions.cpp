#include "pages/core/setup_actions.h"

#include <algorithm>
#include <span>

#include "link/port_settings.h"
#include "pages/core/field_reader.h"
#include "platform/device_kind.h"
#include "platform/port_map.h"
#include "platform/stop_request.h"
#include "platform/threads.h"
#include "protocol/control_bytes.h"
#include "protocol/encode.h"
#include "protocol/function_table.h"
#include "protocol/functions.h"
#include "protocol/model_profile.h"

namespace pellory::pages {

using link::PortSettings;

// A list entry is read by its leading number ("115200", "8"): the rest of its text, if any, does
// not matter, unlike in a number field.
int32_t ReadEntryNumber(std::string_view text) { return ReadLeadingNumber(text).value; }

protocol::Model ModelOfDevice(int position) {
    const auto& all = protocol::kModelProfiles;
    return position >= 0 && static_cast<size_t>(position) < all.size() ? all[static_cast<size_t>(position)].model
                                                                       : all.back().model;
}

int32_t PrintableWidthForDevice(int position) { return protocol::ProfileOf(ModelOfDevice(position)).pictureDots; }

protocol::Model ChosenModel() {
    for (const protocol::ModelProfile& p : protocol::kModelProfiles) {
        if (p.pictureDots == link::PrintableWidth) return p.model;
    }
    return protocol::ProfileForWidth(link::PrintableWidth).model;
}

std::optional<int32_t> ParityCode(std::string_view entry) {
    for (size_t i = 0; i < kParityEntries.size(); ++i) {
        if (entry == kParityEntries[i]) return static_cast<int32_t>(i);
    }
    return std::nullopt;
}

std::optional<int32_t> StopBitCode(std::string_view entry) {
    if (entry == "1") return 0;
    if (entry == "2") return 2;
    return std::nullopt;
}

std::optional<uint8_t> PrinterFlowValue(int position) {
    switch (position) {
        case 0:
            return link::kPrinterFlowNone;
        case 1:
        case 2:
            return link::kPrinterFlowHardware;
        case 3:
            return link::kPrinterFlowXonXoff;
        default:
            return std::nullopt;
    }
}

std::string PortEntryText(int n) { return "COM" + std::to_string(n); }

std::string PortDescription(int n) {
    const auto entry = platform::PortMap::instance().resolve(n);
    if (!entry) return "Nothing is attached as " + PortEntryText(n) + ".";
    if (entry->description.empty()) return entry->path;
    return entry->path + " - " + entry->description;
}

namespace {

std::string BaseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// "lp" followed by digits only.
bool IsLpName(const std::string& name) {
    return name.size() > 2 && StartsWith(name, "lp") &&
           name.find_first_not_of("0123456789", 2) == std::string::npos;
}

}  // namespace

bool PortIsOfKind(const std::string& path, PortKind kind) {
    if (kind == PortKind::All) return true;
    const bool network = platform::IsNetworkEntry(path);
    const std::string name = BaseName(path);
    const bool usbDir = path.find("/usb/") != std::string::npos;
    const bool lp = !network && IsLpName(name);
    switch (kind) {
        case PortKind::Network: return network;
        case PortKind::Bluetooth: return !network && StartsWith(name, "rfcomm");
        case PortKind::Lpt: return lp && !usbDir;
        case PortKind::Usb: return (lp && usbDir) || (!network && (StartsWith(name, "ttyUSB") || StartsWith(name, "ttyACM")));
        case PortKind::Com: return !network && !lp;
        case PortKind::All: break;
    }
    return true;
}

std::vector<int> PortsOfKind(PortKind kind) {
    std::vector<int> numbers;
    for (const platform::PortEntry& e : platform::PortMap::instance().entries()) {
        if (PortIsOfKind(e.path, kind)) numbers.push_back(e.number);
    }
    return numbers;
}

bool LineSettingsApply(int n) {
    const auto entry = platform::PortMap::instance().resolve(n);
    if (!entry) return true;
    return PortIsOfKind(entry->path, PortKind::Com);
}

int MapNetworkPort(const std::string& host, const std::string& port, std::string* error) {
    std::string text = host;
    if (text.find(':') != std::string::npos && text.front() != '[') text = "[" + text + "]";
    const std::string entry = std::string(platform::kNetworkScheme) + text + ":" + (port.empty() ? "9100" : port);
    const std::optional<platform::NetworkAddress> address = platform::ParseNetworkEntry(entry, error);
    if (!address) return 0;
    const std::string canonical = platform::NetworkEntry(*address);
    platform::PortMap& ports = platform::PortMap::instance();
    int highest = 0;
    for (const platform::PortEntry& e : ports.entries()) {
        if (e.path == canonical) return e.number;
        if (e.source == platform::PortEntry::Source::System) highest = std::max(highest, e.number);
    }
    for (int n = highest + 1; n <= platform::kMaxPortNumber; ++n) {
        if (!ports.resolve(n)) {
            ports.setOverride(n, canonical, "network printer");
            return n;
        }
    }
    if (error) *error = "no free COM number for " + canonical;
    return 0;
}

std::string PortTip(int n, PortKind kind, const std::string& sysRoot) {
    if (kind != PortKind::Usb) return PortDescription(n);
    const auto entry = platform::PortMap::instance().resolve(n);
    if (!entry) return PortDescription(n);
    return platform::UsbPortTip(entry->path, sysRoot);
}

std::vector<int> AutoConnectPorts(PortKind kind, int networkPort) {
    if (kind == PortKind::Network) return networkPort > 0 ? std::vector<int>{networkPort} : std::vector<int>{};
    if (kind != PortKind::Com) return PortsOfKind(kind);
    std::vector<int> numbers;
    std::vector<platform::PortEntry> mapped = platform::PortMap::instance().entries();
    auto next = mapped.begin();
    for (int n = 1; n <= kAutoConnectLastPort; ++n) {
        while (next != mapped.end() && next->number < n) ++next;
        if (next != mapped.end() && next->number == n && !PortIsOfKind(next->path, PortKind::Com)) continue;
        numbers.push_back(n);
    }
    return numbers;
}

std::string ScanTitle(const std::vector<int>& ports) {
    constexpr size_t kListedOneByOne = 4;
    std::string text = "Looking for the printer on ";
    if (ports.empty()) return text + "no port";
    if (ports.size() > kListedOneByOne) {
        return text + PortEntryText(ports.front()) + " .. " + PortEntryText(ports.back());
    }
    for (size_t i = 0; i < ports.size(); ++i) text += (i ? ", " : "") + PortEntryText(ports[i]);
    return text;
}

namespace {

// GS ( E fn 11: the serial interface.
const protocol::FunctionEntry& SerialFunction() {
    return *protocol::FindFunction(protocol::CommandId::PrinterSetup, 0, protocol::setup::kSerial);
}

}  // namespace

std::vector<uint8_t> BaudSetupCommand(int32_t rate) {
    // The same digits the link's set-up command sends: up to eight, no leading zeros.
    uint32_t value = static_cast<uint32_t>(rate);
    std::string digits;
    for (int i = 0; i < 8; ++i) {
        digits.insert(digits.begin(), static_cast<char>('0' + value % 10));
        value /= 10;
    }
    const size_t first = digits.find_first_not_of('0');
    if (first == std::string::npos) return {};
    digits.erase(0, first);
    const uint8_t a[1] = {protocol::setup::kBaudRate};
    return protocol::EncodeFunction(SerialFunction(), a,
                                    std::span(reinterpret_cast<const uint8_t*>(digits.data()), digits.size()));
}

std::vector<uint8_t> HandshakeSetupCommand(uint8_t d) {
    const uint8_t parameters[2] = {protocol::setup::kFlowControl, d};
    return protocol::EncodeFunction(SerialFunction(), parameters);
}

SetupActions::SetupActions() : PageLink({link::kOpenErrorText, true}) {}

SetupActions::~SetupActions() = default;

void SetupActions::Start(const SetupSelection& selection) {
    PortSettings.portNumber = selection.portNumber;
    PortSettings.baudRate = selection.baudRate;
    PortSettings.requestedBaudRate = selection.baudRate;
    PortSettings.dataBits = selection.dataBits;
    PortSettings.parity = selection.parity;
    PortSettings.stopBits = selection.stopBits;
    PortSettings.handshake = selection.handshake;
    link::PrintableWidth = PrintableWidthForDevice(selection.device);
    echoSwitch = true;
}

void SetupActions::SelectDevice(int position) { link::PrintableWidth = PrintableWidthForDevice(position); }

void SetupActions::SelectPort(int32_t portNumber) { PortSettings.portNumber = portNumber; }

void SetupActions::SelectDataBits(int32_t bits) { PortSettings.dataBits = bits; }

void SetupActions::SelectParity(int32_t code) { PortSettings.parity = code; }

void SetupActions::SelectStopBits(int32_t code) { PortSettings.stopBits = code; }

void SetupActions::ChangeBaudRate(int32_t rate) {
    PortSettings.requestedBaudRate = rate;
    if (PortSettings.requestedBaudRate == PortSettings.baudRate) return;
    // Opens at the old rate, the one the printer still uses.
    OpenAndProbe();
    // Sent even when the link stayed closed: the history shows it, and it waits in the send
    // buffer until the next opening drops it.
    SetPrinterBaud();
    HandOver();
    platform::SleepMs(link::kProbeWaitMs);  // lets the writer put the command on the line
    PortSettings.baudRate = PortSettings.requestedBaudRate;
    if (IsOpen()) {
        Close(link::kLinkStopTimeoutMs);
        SendBuffer().ClearLocked();
    }
}

bool SetupActions::ChangeHandshake(int position) {
    const auto d = PrinterFlowValue(position);
    if (!d) return false;
    PortSettings.handshake = position;
    OpenAndProbe();  // already opens with the new flow control
    SetPrinterHandshake(*d);
    platform::SleepMs(link::kProbeWaitMs);
    if (IsOpen()) {
        Close(link::kLinkStopTimeoutMs);
        SendBuffer().ClearLocked();
    }
    HandOver();
    return true;
}

bool SetupActions::OpenForCheck(int32_t n, bool setEventMask5, platform::LineSettings& saved) {
    link::SetPageLinkMode(*this, setEventMask5);
    // Whatever a change queued while the link was closed is stale now; it must not reach the
    // printer through the writer that Open starts.
    SendBuffer().ClearLocked();
    if (!link::OpenWithPortSettings(*this, n, Prompt())) return false;
    link::ApplyPageTimeoutsAndHandshake(*this);
    saved = link::RestartThreadsForProbe(*this);
    return true;
}

link::StatusReply SetupActions::Probe(bool handOverBeforeWait) {
    const uint8_t work[3] = {link::kProbeRequest[0], link::kProbeRequest[1], link::kProbeRequest[2]};
    Send(work, sizeof work);
    if (handOverBeforeWait) HandOver();
    link::WaitForReply(*this, link::kProbeWaitMs);
    if (!handOverBeforeWait) HandOver();
    return link::TakeStatusReply(*this);  // what the reader buffered by now
}

void SetupActions::CloseAfterCheck(const platform::LineSettings& saved) {
    SetStoredLineSettings(saved);
    Close(link::kLinkStopTimeoutMs);
    SendBuffer().ClearLocked();
}

bool SetupActions::TryPort(int n) {
    if (IsOpen()) Close(link::kLinkStopTimeoutMs);
    platform::LineSettings saved;
    if (!OpenForCheck(n, true, saved)) return false;
    const link::StatusReply reply = Probe(false);
    CloseAfterCheck(saved);
    return reply.kind == link::StatusReply::Kind::Status;
}

int SetupActions::ScanForPrinter(const std::function<void(int n)>& progress) {
    std::vector<int> ports(kAutoConnectLastPort);
    for (int n = 1; n <= kAutoConnectLastPort; ++n) ports[static_cast<size_t>(n - 1)] = n;
    return ScanPorts(ports, progress);
}

int SetupActions::ScanPorts(const std::vector<int>& ports, const std::function<void(int n)>& progress) {
    for (const int n : ports) {
        if (platform::StopRequested()) break;  // the program is ending
        const bool answered = TryPort(n);
        if (progress) progress(n);
        if (answered) return n;
    }
    return 0;
}

bool SetupActions::AutoConnectCandidates(PortKind kind, const std::string& host, const std::string& port,
                                         std::vector<int>& ports) {
    int networkPort = 0;
    if (kind == PortKind::Network && !host.empty()) {
        std::string error;
        networkPort = MapNetworkPort(host, port, &error);
        if (networkPort == 0) {
            ShowMessage(error);
            ports.clear();
            return false;
        }
    }
    ports = AutoConnectPorts(kind, networkPort);
    return true;
}

void SetupActions::FinishAutoConnect(int found, int chosenOnFail) {
    // The message first, then the new port number (the page then selects its entry).
    ShowMessage(found > 0 ? kConnectedSuccessText : kConnectedFailText);
    PortSettings.portNumber = found > 0 ? found : chosenOnFail;
}

int SetupActions::AutoConnect(const std::function<void(int n)>& progress) {
    const int found = ScanForPrinter(progress);
    FinishAutoConnect(found);
    return found;
}

SetupActions::CommResult SetupActions::CommTest() {
    platform::LineSettings saved;
    if (!OpenForCheck(PortSettings.portNumber, false, saved)) {
        // Out of range the link does not even look the number up, so its own record of the
        // port would still name the last port it tried.
        const bool chosen =
            PortSettings.portNumber >= platform::kMinPortNumber && PortSettings.portNumber <= platform::kMaxPortNumber;
        if (Prompt() && !link::OpenWasStopped(*this)) {
            Prompt()->ShowMessage(link::kOpenErrorText, {}, chosen ? link::OpenFailureReason(*this) : kNoPortChosenText);
        }
        return CommResult::OpenFailed;
    }
    const link::StatusReply reply = Probe(true);
    // A device that went away (or filled up) during the probe: that message alone.
    if (DeviceRemoved()) {
        SetStoredLineSettings(saved);
        link::ReportRemoval(*this, Prompt());
        return CommResult::OpenFailed;
    }
    if (reply.kind == link::StatusReply::Kind::NotAPrinter) {
        SetStoredLineSettings(saved);
        link::ReportNotAPrinter(*this, Prompt(), reply.bytes);
        return CommResult::NotAPrinter;
    }
    const bool answered = reply.kind == link::StatusReply::Kind::Status;
    ShowMessage(answered ? kCommSuccessText : link::kNoAnswerText);
    CloseAfterCheck(saved);
    return answered ? CommResult::Answered : CommResult::NoAnswer;
}

}  // namespace pellory::pages
