#include "support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>

#include "link/hex_echo.h"
#include "link/open_and_probe.h"
#include "platform/device_kind.h"
#include "platform/port_map.h"
#include "platform/threads.h"

namespace pellory::test {

namespace {

// The mapped virtual printers by COM number.
std::mutex printersMutex;
std::map<int, vprinter::VirtualPrinter*> printers;

// The pages wait a fixed time for a reply and then take what has arrived. In the tests that
// wait lasts until the reply of the link's virtual printer is there (when that printer answers
// at all), bounded only as a watchdog: how fast the machine is must not decide the outcome.
void WaitForTheTestPrintersReply(link::CSerialEngine& link) {
    constexpr uint32_t kWatchdogMs = 30000;
    const uint32_t start = platform::TickCount();
    while (link.IsOpen() && link.ReceiveBuffer().Count() == 0 && platform::TickCount() - start < kWatchdogMs) {
        {
            std::lock_guard<std::mutex> lock(printersMutex);
            const auto it = printers.find(link.LastOpenPort());
            // Printers the program starts itself are waited for by the program.
            if (it == printers.end() || !it->second->answersNow()) return;
        }
        platform::SleepMs(2);
    }
}

[[maybe_unused]] const bool kReplyWaitHookSet = [] {
    link::SetReplyWaitHook(WaitForTheTestPrintersReply);
    return true;
}();

}  // namespace

void ScriptedPrompt::ShowMessage(const std::string& text, const std::string& caption, const std::string& informative) {
    messages.push_back({text, caption, informative});
}

std::optional<std::string> ScriptedPrompt::AskOpenFile(const std::string& filter) {
    filters.push_back(filter);
    if (files.empty()) return std::nullopt;
    auto answer = files.front();
    files.pop_front();
    return answer;
}

std::optional<std::string> ScriptedPrompt::AskSaveFile(const std::string& filter) { return AskOpenFile(filter); }

std::vector<std::string> ScriptedPrompt::Texts() const {
    std::vector<std::string> out;
    for (const auto& m : messages) out.push_back(m.text);
    return out;
}

struct SlowNameService::State {
    mutable std::mutex m;
    std::condition_variable cv;
    bool released = false;
    int lookups = 0;
    int waiting = 0;
    std::vector<std::string> hosts;
};

SlowNameService::SlowNameService(uint32_t watchdogMs) : state_(std::make_shared<State>()) {
    // The hook holds the state: a lookup still waiting when the object goes keeps it alive.
    platform::SetNameLookupHook([state = state_, watchdogMs](const std::string& host) {
        std::unique_lock<std::mutex> lock(state->m);
        ++state->lookups;
        state->hosts.push_back(host);
        ++state->waiting;
        state->cv.wait_for(lock, std::chrono::milliseconds(watchdogMs), [&] { return state->released; });
        --state->waiting;
        return std::vector<std::string>{};  // then the name service answers
    });
}

SlowNameService::~SlowNameService() {
    platform::SetNameLookupHook({});
    Release();
}

void SlowNameService::Release() {
    std::lock_guard<std::mutex> lock(state_->m);
    state_->released = true;
    state_->cv.notify_all();
}

int SlowNameService::Lookups() const {
    std::lock_guard<std::mutex> lock(state_->m);
    return state_->lookups;
}

int SlowNameService::Waiting() const {
    std::lock_guard<std::mutex> lock(state_->m);
    return state_->waiting;
}

std::vector<std::string> SlowNameService::Hosts() const {
    std::lock_guard<std::mutex> lock(state_->m);
    return state_->hosts;
}

MappedPrinter::MappedPrinter(int number, vprinter::VirtualPrinter::Transport transport)
    : number_(number), printer_(std::make_unique<vprinter::VirtualPrinter>()) {
    std::string error;
    printer_->setRecording(true);  // the tests look at every byte it received
    if (!printer_->start(transport, &error)) throw std::runtime_error("virtual printer: " + error);
    path_ = printer_->slavePath();
    platform::PortMap::instance().setOverride(number_, path_, "virtual printer (test)");
    std::lock_guard<std::mutex> lock(printersMutex);
    printers[number_] = printer_.get();
}

MappedPrinter::~MappedPrinter() {
    {
        std::lock_guard<std::mutex> lock(printersMutex);
        if (printers[number_] == printer_.get()) printers.erase(number_);
    }
    platform::PortMap::instance().clearOverride(number_);
    printer_->stop();
}

std::vector<uint8_t> Hex(const std::string& text) {
    std::vector<uint8_t> out;
    std::string digits;
    for (char c : text) {
        if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
    }
    for (size_t i = 0; i + 1 < digits.size(); i += 2) {
        out.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    }
    return out;
}

std::string Echo(const std::vector<uint8_t>& bytes) { return link::HexEcho(bytes.data(), bytes.size()); }

std::string Echo(const std::string& text) {
    return link::HexEcho(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

}  // namespace pellory::test
