// Test support: a scripted message seam, a recording command history, and virtual printers
// mapped to COM numbers. Its includers have the link's settings put back around every test
// (settings_guard.h).
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/ui_seam.h"
#include "support/settings_guard.h"
#include "vprinter/virtual_printer.h"

namespace pellory::test {

// Answers file dialogs from a script and records every message box.
class ScriptedPrompt : public link::UserPrompt {
public:
    struct Message {
        std::string text, caption, informative;
    };
    void ShowMessage(const std::string& text, const std::string& caption = {},
                     const std::string& informative = {}) override;
    std::optional<std::string> AskOpenFile(const std::string& filter) override;
    std::optional<std::string> AskSaveFile(const std::string& filter) override;

    // Next file dialog answers (nullopt = cancel). An empty script cancels.
    void QueueFile(std::optional<std::string> answer) { files.push_back(std::move(answer)); }
    std::vector<std::string> Texts() const;

    std::vector<Message> messages;
    std::vector<std::string> filters;  // every filter a dialog was shown with
    std::deque<std::optional<std::string>> files;
};

// Records history rows as the command history would add them (empty text adds nothing).
class RecordingHistory : public link::HistorySink {
public:
    void AddHistoryRow(const link::EchoRecord& echo) override {
        if (!echo.empty()) rows.push_back(echo.hex());
    }
    std::vector<std::string> rows;
};

// A virtual printer on a pseudo-terminal (or on the loopback network), mapped to COM<number>
// for the lifetime of the object. It records what it receives (received(), commands()).
class MappedPrinter {
public:
    // Pseudo-terminals where the system has them, else the loopback network.
#ifdef _WIN32
    static constexpr auto kDefaultTransport = vprinter::VirtualPrinter::Transport::Tcp;
#else
    static constexpr auto kDefaultTransport = vprinter::VirtualPrinter::Transport::PseudoTerminal;
#endif
    explicit MappedPrinter(int number, vprinter::VirtualPrinter::Transport transport = kDefaultTransport);
    ~MappedPrinter();
    vprinter::VirtualPrinter& printer() { return *printer_; }
    vprinter::VirtualPrinter* operator->() { return printer_.get(); }
    int number() const { return number_; }
    const std::string& path() const { return path_; }

private:
    int number_;
    std::string path_;
    std::unique_ptr<vprinter::VirtualPrinter> printer_;
};

// The transport of printers a parameterised test maps, for its name: "Pty" or "Tcp".
inline const char* TransportName(vprinter::VirtualPrinter::Transport t) {
    return t == vprinter::VirtualPrinter::Transport::Tcp ? "Tcp" : "Pty";
}

// A pseudo-terminal whose far end nobody reads or answers (a port with nothing attached); POSIX
// systems only.
class SilentPort {
public:
    explicit SilentPort(int number);
    ~SilentPort();
    const std::string& path() const { return path_; }
    int masterFd() const { return master_; }

private:
    int number_;
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

// Stands for a slow name service while it lives: every name lookup of a network printer waits on
// its helper thread until Release(), the end of the object, or watchdogMs (a bound only, so that
// a test that goes wrong cannot hang).
class SlowNameService {
public:
    explicit SlowNameService(uint32_t watchdogMs = 20000);
    ~SlowNameService();
    SlowNameService(const SlowNameService&) = delete;
    SlowNameService& operator=(const SlowNameService&) = delete;
    // Lets every waiting lookup, and every later one, go on to the real name service.
    void Release();
    // How many lookups have come so far, and how many of them wait now.
    int Lookups() const;
    int Waiting() const;
    // The host names asked for, in order.
    std::vector<std::string> Hosts() const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

// Bytes from a hex text such as "1B 40 0A".
std::vector<uint8_t> Hex(const std::string& text);
// The echo form of bytes ("1B 40 0A ").
std::string Echo(const std::vector<uint8_t>& bytes);
std::string Echo(const std::string& text);

}  // namespace pellory::test
