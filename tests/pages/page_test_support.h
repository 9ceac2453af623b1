// Fixture helpers the page and window tests share: finding a page's control by id, the user's
// actions on lists and fields, what a virtual printer received, and running the window thread's
// events for a while or until a dialog shows up.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "link/port_settings.h"
#include "pages/core/page_link.h"
#include "pages/page_settings_guard.h"
#include "pages/setup_page.h"
#include "support/support.h"
#include "vprinter/virtual_printer.h"
#include "widgets/dialog_layout.h"

namespace pellory::test {

// The control with this id on a page, as T; a failed expectation when there is none.
template <typename T>
T* PageControl(QWidget* page, int id) {
    T* w = widgets::FindControl<T>(page, id);
    EXPECT_NE(w, nullptr) << id;
    return w;
}

// The texts of a list's entries, in order.
inline QStringList Entries(const QComboBox* list) {
    QStringList out;
    for (int i = 0; i < list->count(); ++i) out << list->itemText(i);
    return out;
}

// The user picks the entry at index: the selection changes, then the list says so.
inline void ChooseEntry(QComboBox* list, int index) {
    list->setCurrentIndex(index);
    emit list->activated(index);
}

// The user selects the whole text of a field, then types the characters one at a time (an empty
// text deletes the selection).
inline void TypeOver(QLineEdit* edit, const std::string& text) {
    edit->selectAll();
    if (text.empty()) {
        edit->del();
        return;
    }
    for (char c : text) edit->insert(QString(QChar::fromLatin1(c)));
}

// Waits up to byteWaitMs until the printer got n bytes, then up to quietBoundMs until it fell
// quiet for quietMs; returns every byte it got.
inline vprinter::Bytes ReceivedWhenQuiet(MappedPrinter& p, size_t n, uint32_t byteWaitMs, uint32_t quietMs = 30,
                                         uint32_t quietBoundMs = 500) {
    EXPECT_TRUE(p->waitForBytes(n, byteWaitMs)) << "got " << p->receivedCount() << " of " << n;
    p->waitForQuiet(quietMs, quietBoundMs);
    return p->received();
}

// n digits counting up from 0 and wrapping after 9 ("0123456789012...").
inline std::string Digits(size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += static_cast<char>('0' + i % 10);
    return s;
}

// Runs the window thread's events for ms milliseconds.
inline void ProcessFor(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// Acts on the first modal dialog (or popup menu, with popup set) that shows up while it exists;
// closes every modal dialog and popup after five seconds in any case, so that a dialog that does
// not behave cannot hang the test.
class WhenShown {
public:
    WhenShown(bool popup, std::function<void(QWidget*)> act) : act_(std::move(act)) {
        QObject::connect(&poll_, &QTimer::timeout, [this, popup] {
            QWidget* w = popup ? QApplication::activePopupWidget() : QApplication::activeModalWidget();
            if (w == nullptr || handled_) return;
            handled_ = true;
            poll_.stop();
            act_(w);
        });
        QObject::connect(&watchdog_, &QTimer::timeout, [] {
            while (QWidget* w = QApplication::activePopupWidget()) w->close();
            while (QWidget* w = QApplication::activeModalWidget()) w->close();
        });
        poll_.start(10);
        watchdog_.setSingleShot(true);
        watchdog_.start(5000);
    }
    bool handled() const { return handled_; }

private:
    std::function<void(QWidget*)> act_;
    QTimer poll_;
    QTimer watchdog_;
    bool handled_ = false;
};

// A page set up as the main window sets it up: the ready flag is clear while the page
// initialises and set at the end, the page's messages go to a script (a Prompt) and its echo to a
// recorded history (a History), and PortSettings names the test's printer. InitPage runs the
// page's own start-up; PresetSettings, before the page is made, may set what the start-up must
// find. The settings are put back after each test (page_settings_guard.h).
template <typename Page, typename Prompt = ScriptedPrompt, typename History = RecordingHistory>
class PageTest : public ::testing::Test {
protected:
    explicit PageTest(int com) : com_(com) {}
    virtual void InitPage(Page& p) = 0;
    virtual void PresetSettings() {}

    void SetUp() override {
        link::PortSettings.portNumber = com_;
        PresetSettings();
        pages::ReadyFlag = false;
        page = std::make_unique<Page>();
        page->SetPrompt(&prompt);
        page->SetMainWindow(&history);
        InitPage(*page);
        pages::ReadyFlag = true;
    }
    void TearDown() override { page.reset(); }

    template <typename T>
    T* Control(int id) {
        return PageControl<T>(page.get(), id);
    }

    Prompt prompt;
    History history;
    std::unique_ptr<Page> page;

private:
    int com_;
};

// The "COM Setup" page as the main window starts it: its own start-up, then the COM kind chosen.
template <typename Prompt = ScriptedPrompt, typename History = RecordingHistory>
class ComSetupPageTest : public PageTest<pages::CDialogSetup, Prompt, History> {
protected:
    explicit ComSetupPageTest(int com = link::PortSettingsRecord{}.portNumber)
        : PageTest<pages::CDialogSetup, Prompt, History>(com) {}
    void InitPage(pages::CDialogSetup& p) override {
        p.InitSetupPage();
        p.CheckComRadio();
    }
};

}  // namespace pellory::test
