// The window's signal closer on Windows: the console's control events (Ctrl-C, Ctrl-Break, the
// console closed, logging off, shutting down) stand for the signals. The handler runs on a thread
// of the system's: it queues onSignal for the event loop of the thread that built the closer.
// (QSocketNotifier: the header holds one for the POSIX systems; none is made here.)
#include <QCoreApplication>
#include <QMetaObject>
#include <QSocketNotifier>

#include <windows.h>

#include <atomic>

#include "app/pellory_app.h"

namespace pellory::app {

namespace {

// Windows ends the process once the handler of a console close returns, and at the latest some
// 5 s after the event: the handler waits (in steps) at most this long for the window to close.
constexpr int kCloseWaitMs = 4500;
constexpr DWORD kCloseStepMs = 50;

// The closer that lives (one at a time), read on the event loop's thread only; gActive for the
// handler's thread.
SignalCloser* gCloser = nullptr;
std::function<void()>* gOnSignal = nullptr;
std::atomic<bool> gActive{false};

// On the event loop's thread: the closer that queued it may be gone by now.
void CallOnSignal() {
    if (gOnSignal && *gOnSignal) (*gOnSignal)();
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (!gActive.load()) return FALSE;
    QCoreApplication* app = QCoreApplication::instance();
    if (app) QMetaObject::invokeMethod(app, &CallOnSignal, Qt::QueuedConnection);
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        for (int waited = 0; waited < kCloseWaitMs && gActive.load(); waited += static_cast<int>(kCloseStepMs)) {
            ::Sleep(kCloseStepMs);
        }
    }
    return TRUE;
}

}  // namespace

SignalCloser::SignalCloser(std::function<void()> onSignal) : onSignal_(std::move(onSignal)) {
    if (gCloser != nullptr) return;
    if (!::SetConsoleCtrlHandler(OnConsoleEvent, TRUE)) return;
    gCloser = this;
    gOnSignal = &onSignal_;
    gActive = true;
    active_ = true;
}

SignalCloser::~SignalCloser() {
    if (!active_) return;
    gActive = false;
    ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    gOnSignal = nullptr;
    gCloser = nullptr;
}

}  // namespace pellory::app
