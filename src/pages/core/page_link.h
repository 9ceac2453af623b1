// What every tab page is besides its widgets: one link (CORVA_LIB) with the page's variant of
// the connection procedure, the command history it hands its echo to (the main-window pointer,
// null until the main window has finished its start-up), and the message seam.
// The command line builds the same objects without widgets, so both send the same bytes.
#pragma once

#include <string>
#include <utility>

#include "link/open_and_probe.h"
#include "link/orva_lib.h"
#include "link/ui_seam.h"

namespace pellory::pages {

// Set by the main window at the very end of its start-up; the number fields and the HRI step
// act only while it is set.
inline bool ReadyFlag = false;

class PageLink : public link::CORVA_LIB {
public:
    explicit PageLink(const link::ProbeOptions& options) : options_(options) {}

    // The main-window pointer: where echo text goes (dropped while null).
    void SetMainWindow(link::HistorySink* history) { context_.history = history; }
    link::HistorySink* MainWindow() const { return context_.history; }
    void SetPrompt(link::UserPrompt* prompt) { context_.prompt = prompt; }
    link::UserPrompt* Prompt() const { return context_.prompt; }
    // Who is given the bytes received before a probe or status query (null: they are dropped).
    void SetEarlierBytesKeeper(link::EarlierBytesKeeper keep) { keepEarlier_ = std::move(keep); }
    const link::EarlierBytesKeeper& KeepEarlierBytes() const { return keepEarlier_; }
    const link::PageContext& Context() const { return context_; }
    const link::ProbeOptions& ProbeOptions() const { return options_; }

    // This page's copy of the connection procedure.
    void OpenAndProbe() { link::OpenAndProbe(*this, options_, context_, keepEarlier_); }
    // Takes the echo text and hands it to the command history.
    void HandOver() { link::HandOverEcho(*this, context_.history); }
    // Sends bytes in one Send call.
    void SendBytes(const std::vector<uint8_t>& bytes) { Send(bytes.data(), bytes.size()); }
    void SendText(const std::string& text) {
        Send(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    }
    // A message box owned by the page (the program's title as caption when caption is empty).
    void ShowMessage(const std::string& text, const std::string& caption = {}) {
        if (context_.prompt) context_.prompt->ShowMessage(text, caption);
    }
    // What the main window does to this page's link on a tab change: close it and empty its
    // send buffer. Bytes already queued are written out first (for as long as the port takes
    // them), so that a tab change right after a print never cuts a command in half.
    void CloseLink() {
        if (IsOpen()) {
            WaitUntilSent(kCloseStallMs);
            Close(link::kLinkStopTimeoutMs);
        } else if (DeviceRemoved()) {
            Close(link::kLinkStopTimeoutMs);  // a device that went away: release it at once
        }
        SendBuffer().ClearLocked();
    }
    static constexpr uint32_t kCloseStallMs = 2000;

private:
    link::ProbeOptions options_;
    link::PageContext context_;
    link::EarlierBytesKeeper keepEarlier_;
};

}  // namespace pellory::pages
