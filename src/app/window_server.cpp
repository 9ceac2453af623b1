#include "app/window_server.h"

#include "cli/own_printer_wait.h"
#include "link/serial_engine.h"
#include "platform/port_map.h"
#include "platform/threads.h"
#include "protocol/model_profile.h"

namespace pellory::app {

namespace {

cli::StationOptions OptionsFor(const vprinter::ListenAddress& address, vprinter::Model model,
                               WindowServer::Limits limits) {
    cli::StationOptions o;
    o.server.model = model;
    o.server.listen = {address};
    o.recording.widthDots = protocol::ProfileOf(model).paperDots;
    // The window lists what came on each connection; nothing reads a job's counts, so none is drawn.
    o.recording.countUnsaved = false;
    o.recording.writers = 1;
    o.kept = {limits.jobs, limits.bytes};
    return o;
}

}  // namespace

std::string PortPathOf(const vprinter::ListenAddress& bound) {
    const std::string port = std::to_string(bound.port);
    if (bound.host.empty() || bound.host == "0.0.0.0") return "tcp://127.0.0.1:" + port;
    if (bound.host == "::") return "tcp://[::1]:" + port;
    if (bound.host.find(':') != std::string::npos) return "tcp://[" + bound.host + "]:" + port;
    return "tcp://" + bound.host + ":" + port;
}

WindowServer::WindowServer(vprinter::ListenAddress address, vprinter::Model model, Limits limits)
    : station_(OptionsFor(address, model, limits), {}, {}) {
    station_.open(nullptr);  // without a folder it cannot fail
    station_.server().setPrintObserver([this](uint64_t, const uint8_t* bytes, size_t n) { print(bytes, n); });
}

WindowServer::~WindowServer() {
    if (previousWait_) link::SetReplyWaitHook(*previousWait_);
    if (number_ != 0) platform::PortMap::instance().removeVirtual(path_);
    station_.stop();
}

bool WindowServer::Start(std::string_view program, std::ostream& err) {
    std::string error;
    if (!station_.start(&error)) {
        err << program << ": the virtual printer cannot start: " << error << "; the window starts without it\n";
        return false;
    }
    const vprinter::ListenAddress bound = BoundAddress();
    path_ = PortPathOf(bound);
    number_ = platform::PortMap::instance().addVirtual(path_, "Pellory virtual printer (printer server)");
    if (number_ == 0) {
        station_.server().stop();
        err << program << ": no free COM number for the virtual printer; the window starts without it\n";
        return false;
    }
    const std::string listening = vprinter::ListenAddressText(bound);
    err << "Pellory: virtual printer on COM" << number_ << " (" << path_ << "), a printer server on " << listening
        << "\n";
    if (const std::string warning = vprinter::NotLoopbackWarning(bound); !warning.empty())
        err << program << ": " << warning << "\n";
    // A probe or status query on its number waits for its answer as for the program's own
    // printer: the server answers at once, but a busy machine may not run its thread in time.
    previousWait_ = link::CurrentReplyWaitHook();
    link::SetReplyWaitHook([this, previous = *previousWait_](link::CSerialEngine& link) {
        if (link.LastOpenPort() != number_) {
            if (previous) previous(link);
            return;
        }
        const uint32_t start = platform::TickCount();
        while (link.IsOpen() && link.ReceiveBuffer().Count() == 0 && !Stopping() &&
               !(station_.server().states() & vprinter::kSilent) &&
               platform::TickCount() - start < kOwnPrinterReplyBoundMs) {
            platform::SleepMs(2);
        }
    });
    return true;
}

vprinter::ListenAddress WindowServer::BoundAddress() const {
    const std::vector<vprinter::ListenAddress> bound = station_.server().boundAddresses();
    return bound.empty() ? vprinter::ListenAddress{} : bound.front();
}

void WindowServer::SetPrintObserver(PrintObserver observer) {
    platform::MutexLock lock(observerMutex_);
    observer_ = std::move(observer);
}

void WindowServer::print(const uint8_t* bytes, size_t n) {
    platform::MutexLock lock(observerMutex_);
    if (observer_) observer_(bytes, n);
}

std::vector<std::shared_ptr<const ListedJob>> WindowServer::Jobs() const { return station_.keptJobs(); }

uint64_t WindowServer::JobsTaken() const { return station_.jobsKept(); }

}  // namespace pellory::app
