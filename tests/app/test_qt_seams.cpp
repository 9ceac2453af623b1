// The Qt seams of the window thread: link notifications turned into events for a window, the
// message boxes and file dialogs, the file-filter conversion, and the program's options.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QLabel>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "app/pellory_app.h"
#include "app/qt_notify.h"
#include "app/qt_prompt.h"
#include "link/open_and_probe.h"
#include "link/port_settings.h"
#include "link/serial_engine.h"
#include "pages/page_test_support.h"
#include "support/support.h"
#include "widgets/qt_test_app.h"

namespace pellory::app {
namespace {

using namespace std::chrono_literals;
using test::ProcessFor;

struct Received {
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
    QThread* thread;
};

// --- file filters ---

TEST(QtFileFilter, ShowsEachFilterOnce) {
    EXPECT_EQ(QtFileFilter("TXT files(*.txt)|*.txt||"), QStringLiteral("TXT files(*.txt)"));
    EXPECT_EQ(QtFileFilter("txt Files (*.txt)|*.txt||"), QStringLiteral("txt Files (*.txt)"));
    // Qt reads the patterns of the last "(...)" group, split at spaces: the comma becomes one.
    EXPECT_EQ(QtFileFilter("BMP file(*.bmp)|*.bmp|JPEG/JPG files(*.jpg,*.jpeg)|*.jpg;*.jpeg|Others(*.*)|*.*||"),
              QStringLiteral("BMP file(*.bmp);;JPEG/JPG files(*.jpg *.jpeg);;Others(*.*)"));
    // A name whose own group names other patterns keeps it and gets the real ones after it.
    EXPECT_EQ(QtFileFilter("Logs(*.log)|*.txt||"), QStringLiteral("Logs(*.log) (*.txt)"));
}

TEST(QtFileFilter, OddFormsStayUsable) {
    // Nothing at all: Qt then shows every file.
    EXPECT_EQ(QtFileFilter(""), QString());
    EXPECT_EQ(QtFileFilter("||"), QString());
    // Without the closing "||", and with spaces around the patterns.
    EXPECT_EQ(QtFileFilter("Hex(*.hex)| *.hex ; *.txt "), QStringLiteral("Hex(*.hex) (*.hex *.txt)"));
    EXPECT_EQ(QtFileFilter("Hex(*.txt;*.hex)| *.hex ; *.txt "), QStringLiteral("Hex(*.txt *.hex)"));
    // A name without patterns matches every file; entries after the "||" end are ignored.
    EXPECT_EQ(QtFileFilter("All|"), QStringLiteral("All (*)"));
    EXPECT_EQ(QtFileFilter("A|*.a||B|*.b||"), QStringLiteral("A (*.a)"));
}

// --- the message seam on Qt ---

// Acts on the first modal dialog that shows up while it exists.
class ModalHandler : public test::WhenShown {
public:
    explicit ModalHandler(std::function<void(QWidget*)> act) : WhenShown(false, std::move(act)) {}
};

TEST(QtPrompt, MessageBoxShowsTextCaptionAndInformativeTextOverItsParent) {
    QWidget page;
    QtPrompt prompt(&page);
    struct Seen {
        QString title, text, informative;
        QWidget* parent = nullptr;
        int buttons = 0;
    };
    auto look = [](Seen& seen) {
        return [&seen](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            ASSERT_NE(box, nullptr);
            seen = {box->windowTitle(), box->text(), box->informativeText(), box->parentWidget(),
                    static_cast<int>(box->buttons().size())};
            box->button(QMessageBox::Ok)->click();
        };
    };

    Seen plain;
    {
        ModalHandler handler(look(plain));
        prompt.ShowMessage("No Data");
        EXPECT_TRUE(handler.handled());
    }
    EXPECT_EQ(plain.title, QStringLiteral("Pellory"));
    EXPECT_EQ(plain.text, QStringLiteral("No Data"));
    EXPECT_TRUE(plain.informative.isEmpty());
    EXPECT_EQ(plain.parent, &page);
    EXPECT_EQ(plain.buttons, 1);

    Seen full;
    {
        ModalHandler handler(look(full));
        prompt.ShowMessage("Load file failed!", "Note", "No such file or directory");
        EXPECT_TRUE(handler.handled());
    }
    EXPECT_EQ(full.title, QStringLiteral("Note"));
    EXPECT_EQ(full.text, QStringLiteral("Load file failed!"));
    EXPECT_EQ(full.informative, QStringLiteral("No such file or directory"));
}

TEST(QtPrompt, AReasonOnOneLineDoesNotWrapIntoANarrowColumn) {
    QWidget page;
    QtPrompt prompt(&page);
    const QString reason = QStringLiteral("Cannot read /home/technician/receipts/logo-final-version-2.bmp: Permission denied");
    int labelWidth = 0;
    int textWidth = 0;
    {
        ModalHandler handler([&](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            ASSERT_NE(box, nullptr);
            for (QLabel* label : box->findChildren<QLabel*>()) {
                if (label->text() == reason) {
                    labelWidth = label->width();
                    textWidth = label->fontMetrics().horizontalAdvance(reason);
                }
            }
            box->button(QMessageBox::Ok)->click();
        });
        prompt.ShowMessage("Picture load fail", "Note", reason.toStdString());
        EXPECT_TRUE(handler.handled());
    }
    ASSERT_GT(textWidth, 0) << "the reason's label was not found";
    EXPECT_GE(labelWidth, textWidth);
}

TEST(QtPrompt, FileDialogsUseTheConvertedFilterAndReturnTheChosenPath) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QWidget window;
    QtPrompt prompt(&window);
    const QString target = QDir(dir.path()).filePath(QStringLiteral("history.txt"));

    QStringList filters;
    QWidget* parent = nullptr;
    std::optional<std::string> saved;
    {
        ModalHandler handler([&](QWidget* w) {
            auto* dialog = qobject_cast<QFileDialog*>(w);
            ASSERT_NE(dialog, nullptr);
            filters = dialog->nameFilters();
            parent = dialog->parentWidget();
            // Typed into the name field (selectFile leaves a focused name field alone).
            dialog->setDirectory(dir.path());
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            ASSERT_NE(name, nullptr);
            name->setText(QStringLiteral("history.txt"));
            QMetaObject::invokeMethod(dialog, "accept");
        });
        saved = prompt.AskSaveFile("TXT files(*.txt)|*.txt||");
        EXPECT_TRUE(handler.handled());
    }
    EXPECT_EQ(filters, QStringList({QStringLiteral("TXT files(*.txt)")}));
    EXPECT_EQ(parent, &window);
    ASSERT_TRUE(saved.has_value());
    EXPECT_EQ(*saved, target.toStdString());

    std::optional<std::string> opened = std::string("not asked");
    {
        ModalHandler handler([&](QWidget* w) {
            auto* dialog = qobject_cast<QFileDialog*>(w);
            ASSERT_NE(dialog, nullptr);
            filters = dialog->nameFilters();
            dialog->reject();
        });
        opened = prompt.AskOpenFile("BMP file(*.bmp)|*.bmp|JPEG/JPG files(*.jpg,*.jpeg)|*.jpg;*.jpeg|Others(*.*)|*.*||");
        EXPECT_TRUE(handler.handled());
    }
    EXPECT_EQ(filters.size(), 3);
    EXPECT_FALSE(opened.has_value()) << "a cancelled dialog gives nothing";
}

// --- link notifications as events ---

class QtNotifyTargetTest : public ::testing::Test {
protected:
    QtNotifyTarget::Handler Recorder() {
        return [this](uint32_t m, uintptr_t w, intptr_t l) { received.push_back({m, w, l, QThread::currentThread()}); };
    }
    std::vector<Received> received;  // touched on the window thread only
};

TEST_F(QtNotifyTargetTest, PostFromAWorkerArrivesOnTheWindowThreadInOrder) {
    QObject receiver;
    auto target = QtNotifyTarget::Create(&receiver, Recorder());
    EXPECT_TRUE(target->IsLive());
    EXPECT_EQ(target->Receiver(), &receiver);

    std::thread worker([&] {
        for (int i = 0; i < 5; ++i) target->Post(1642u + static_cast<uint32_t>(i), 40u + static_cast<uintptr_t>(i), -i);
    });
    worker.join();
    EXPECT_TRUE(received.empty()) << "posting queues; only the window thread's event loop delivers";

    ASSERT_TRUE(widgets::testing::ProcessEventsUntil([&] { return received.size() >= 5; }));
    ProcessFor(20);
    ASSERT_EQ(received.size(), 5u);
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(received[i].message, 1642u + static_cast<uint32_t>(i));
        EXPECT_EQ(received[i].wParam, 40u + static_cast<uintptr_t>(i));
        EXPECT_EQ(received[i].lParam, -i);
        EXPECT_EQ(received[i].thread, QThread::currentThread());
    }
}

TEST_F(QtNotifyTargetTest, ADestroyedReceiverGetsNothing) {
    auto* receiver = new QObject;
    auto target = QtNotifyTarget::Create(receiver, Recorder());
    std::thread before([&] { for (int i = 0; i < 3; ++i) target->Post(1642, 1, 0); });
    before.join();
    delete receiver;  // with three messages still queued
    EXPECT_FALSE(target->IsLive());
    EXPECT_EQ(target->Receiver(), nullptr);

    std::thread after([&] {
        target->Post(1642, 1, 0);
        target->Send(1643, 1, 1);  // returns at once
    });
    after.join();
    ProcessFor(50);
    EXPECT_TRUE(received.empty());
}

TEST_F(QtNotifyTargetTest, DetachDropsQueuedMessagesAndKeepsTheReceiver) {
    QObject receiver;
    QPointer<QObject> alive(&receiver);
    auto target = QtNotifyTarget::Create(&receiver, Recorder());
    std::thread worker([&] { target->Post(1642, 3, 0); target->Post(1642, 3, 0); });
    worker.join();
    target->Detach();
    EXPECT_FALSE(target->IsLive());
    target->Post(1642, 3, 0);
    ProcessFor(50);
    EXPECT_TRUE(received.empty());
    EXPECT_FALSE(alive.isNull());
}

TEST_F(QtNotifyTargetTest, DroppingTheTargetDropsQueuedMessages) {
    QObject receiver;
    auto target = QtNotifyTarget::Create(&receiver, Recorder());
    std::thread worker([&] { target->Post(1642, 9, 0); });
    worker.join();
    target.reset();
    ProcessFor(50);
    EXPECT_TRUE(received.empty());
}

TEST_F(QtNotifyTargetTest, SendFromAWorkerWaitsUntilTheWindowHandledIt) {
    QObject receiver;
    std::atomic<bool> handled{false};
    std::atomic<bool> returned{false};
    std::atomic<bool> handledBeforeReturn{false};
    auto target = QtNotifyTarget::Create(&receiver, [&](uint32_t m, uintptr_t w, intptr_t l) {
        received.push_back({m, w, l, QThread::currentThread()});
        handled = true;
    });
    std::thread worker([&] {
        target->Send(1644, 12, 1);
        handledBeforeReturn = handled.load();
        returned = true;
    });
    std::this_thread::sleep_for(150ms);  // no events processed meanwhile
    EXPECT_FALSE(returned.load()) << "Send must wait for the window thread";
    EXPECT_TRUE(widgets::testing::ProcessEventsUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_TRUE(handledBeforeReturn.load());
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].message, 1644u);
    EXPECT_EQ(received[0].wParam, 12u);
    EXPECT_EQ(received[0].lParam, 1);
    EXPECT_EQ(received[0].thread, QThread::currentThread());
}

TEST_F(QtNotifyTargetTest, SendOnTheReceiversThreadIsHandledAtOnce) {
    QObject receiver;
    auto target = QtNotifyTarget::Create(&receiver, Recorder());
    target->Send(1648, 2, 0);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].message, 1648u);
}

TEST_F(QtNotifyTargetTest, ABlockedSendGivesUpWhenTheReceiverGoes) {
    auto* receiver = new QObject;
    auto target = QtNotifyTarget::Create(receiver, Recorder());
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        target->Send(1649, 5, 0);
        returned = true;
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(returned.load());
    delete receiver;
    QElapsedTimer timer;
    timer.start();
    while (!returned.load() && timer.elapsed() < 2000) std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(returned.load()) << "Send must not outlive its window";
    worker.join();
    ProcessFor(20);
    EXPECT_TRUE(received.empty());
}

TEST_F(QtNotifyTargetTest, AnOpenLinkTellsItsWindowOfReceivedBytes) {
    test::MappedPrinter printer(41);
    auto* window = new QObject;
    auto target = QtNotifyTarget::Create(window, Recorder());
    {
        link::CSerialEngine engine;
        link::SetPageLinkMode(engine, false);
        engine.SetNotifyTarget(target);
        ASSERT_TRUE(engine.Open(41, 8, 0, 0));

        ASSERT_TRUE(printer->sendUnsolicited({0x37, 0x41, 0x00}));
        ASSERT_TRUE(widgets::testing::ProcessEventsUntil([&] { return !received.empty(); }));
        EXPECT_EQ(received[0].message, link::MSG_LINK_RECEIVE);
        EXPECT_EQ(received[0].wParam, 41u);
        EXPECT_EQ(received[0].lParam, 0);
        EXPECT_EQ(received[0].thread, QThread::currentThread());

        // The window goes while the link's reader still has bytes to report.
        delete window;
        received.clear();
        ASSERT_TRUE(printer->sendUnsolicited({0x01, 0x02}));
        std::this_thread::sleep_for(150ms);  // three reader polls
        ProcessFor(20);
        EXPECT_TRUE(received.empty());
        engine.Close(link::kLinkStopTimeoutMs);
    }
}

// --- the program's options ---

TEST(StartOptions, KnownOptionsAndErrors) {
    StartOptions o;
    std::string error;
    EXPECT_TRUE(ParseStartOptions({}, o, &error));
    EXPECT_FALSE(o.help);
    EXPECT_FALSE(o.virtualPrinter);
    EXPECT_TRUE(ParseStartOptions({"--virtual-printer", "-h"}, o, &error));
    EXPECT_TRUE(o.virtualPrinter);
    EXPECT_TRUE(o.help);

    StartOptions bad;
    EXPECT_FALSE(ParseStartOptions({"--virtual-printer", "--virtual"}, bad, &error));
    EXPECT_NE(error.find("--virtual"), std::string::npos);
    EXPECT_FALSE(ParseStartOptions({"COM1"}, bad, &error));
    EXPECT_NE(error.find("COM1"), std::string::npos);

    char name[] = "pellory", com[] = "--com", map[] = "1=/dev/null", help[] = "--help";
    char* withHelp[] = {name, com, map, help, nullptr};
    char* without[] = {name, com, map, nullptr};
    EXPECT_TRUE(AsksForHelp(4, withHelp));
    EXPECT_FALSE(AsksForHelp(3, without));
}

}  // namespace
}  // namespace pellory::app
