#include "cli/own_printer.h"

#include "cli/symbol_measure.h"
#include "link/port_messages.h"

namespace pellory::app {

PortBinding::~PortBinding() {
    if (number_ == 0) return;
    platform::PortMap& ports = platform::PortMap::instance();
    ports.clearOverride(number_);
    if (previous_) ports.setOverride(number_, previous_->path, previous_->description);
    if (byPath_) link::SetNamedByPath(number_, false);
}

void PortBinding::Bind(int n, const std::string& path, const std::string& description, bool byPath) {
    platform::PortMap& ports = platform::PortMap::instance();
    const std::optional<platform::PortEntry> before = ports.resolve(n);
    if (before && before->source == platform::PortEntry::Source::Override) previous_ = before;
    ports.setOverride(n, path, description);
    number_ = n;
    byPath_ = byPath;
    if (byPath_) link::SetNamedByPath(n, true);
}

int PortBinding::FreeNumber() {
    platform::PortMap& ports = platform::PortMap::instance();
    for (int n = platform::kMaxPortNumber; n >= platform::kMinPortNumber; --n) {
        if (!ports.resolve(n)) return n;
    }
    return 0;
}

OwnVirtualPrinter::~OwnVirtualPrinter() {
    wait_.reset();
    if (!registered_.empty()) platform::PortMap::instance().removeVirtual(registered_);
}  // then the binding puts back what it found, then the printer stops

bool OwnVirtualPrinter::Start(const Request& request, std::ostream& err) {
    constexpr const char* kDescription = "Pellory virtual printer";
    std::string error;
    printer_.setSymbolMeasure(MeasureStoredSymbol);
    if (!printer_.start(request.transport, &error)) {
        err << request.program << ": the virtual printer cannot start: " << error << '\n';
        return false;
    }
    const std::string& path = printer_.slavePath();
    if (request.portNumber == 0) {
        number_ = platform::PortMap::instance().addVirtual(path, kDescription);
        if (number_ == 0) {
            err << request.program << ": no free COM number for the virtual printer\n";
            return false;
        }
        registered_ = path;
        err << "Pellory: virtual printer on COM" << number_ << " (" << path << ")\n";
    } else {
        number_ = request.portNumber;
        binding_.Bind(number_, path, kDescription, false);
        if (request.transport == vprinter::VirtualPrinter::Transport::Tcp) {
            err << request.program << ": virtual printer on " << path << " (COM" << number_ << ")\n";
        }
    }
    wait_.emplace(printer_, number_);
    return true;
}

}  // namespace pellory::app
