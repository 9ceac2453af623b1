// One QApplication for a widget test executable, created before the first test runs, with the
// offscreen platform when none is chosen, and the program's resources registered.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QByteArray>
#include <QElapsedTimer>

#include <functional>

#include "widgets/resources.h"

namespace pellory::widgets::testing {

class QtApplicationEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
        }
        static int argc = 1;
        static char name[] = "pellory_widget_test";
        static char* argv[] = {name, nullptr};
        if (QApplication::instance() == nullptr) {
            app_ = new QApplication(argc, argv);
        }
        InitPelloryResources();
    }
    void TearDown() override {
        delete app_;
        app_ = nullptr;
    }

private:
    QApplication* app_ = nullptr;
};

// Runs the window thread's events until done() holds, at most boundMs: a watchdog only, the
// test waits for the event itself. False when the watchdog ended the wait.
inline bool ProcessEventsUntil(const std::function<bool()>& done, int boundMs = 10000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > boundMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// Registered once per executable however many of its sources include this header.
inline ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

}  // namespace pellory::widgets::testing
