#include "support.h"

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <stdexcept>

#include "link/hex_echo.h"
#include "platform/port_map.h"

namespace pellory::test {

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

MappedPrinter::MappedPrinter(int number, vprinter::VirtualPrinter::Transport transport)
    : number_(number), printer_(std::make_unique<vprinter::VirtualPrinter>()) {
    std::string error;
    if (!printer_->start(transport, &error)) throw std::runtime_error("virtual printer: " + error);
    path_ = printer_->slavePath();
    platform::PortMap::instance().setOverride(number_, path_, "virtual printer (test)");
}

MappedPrinter::~MappedPrinter() {
    platform::PortMap::instance().clearOverride(number_);
    printer_->stop();
}

SilentPort::SilentPort(int number) : number_(number) {
    char name[128] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");
    termios t{};
    tcgetattr(slave_, &t);
    cfmakeraw(&t);
    tcsetattr(slave_, TCSANOW, &t);
    path_ = name;
    platform::PortMap::instance().setOverride(number_, path_, "silent port (test)");
}

SilentPort::~SilentPort() {
    platform::PortMap::instance().clearOverride(number_);
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
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
