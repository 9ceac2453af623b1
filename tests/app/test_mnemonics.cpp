// Keyboard mnemonics: every push button of every page has one, and so does every check box and
// radio button; none clashes with another of its page or with the window's own; Alt+letter
// presses the button of the page shown, not one of a hidden page.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QKeySequence>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTest>

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "app/main_window.h"
#include "pages/page_settings_guard.h"
#include "support/captions.h"
#include "support/support.h"
#include "widgets/dialog_layout.h"
#include "widgets/qt_test_app.h"

namespace pellory::app {
namespace {

// The mnemonic letter of a caption ("" without one), upper case.
QString Letter(const QString& caption) { return QKeySequence::mnemonic(caption).toString(QKeySequence::PortableText); }

class Mnemonics : public ::testing::Test {
protected:
    void SetUp() override { window = std::make_unique<CPelloryDlg>(); }
    void TearDown() override { window.reset(); }
    std::unique_ptr<CPelloryDlg> window;
};

TEST_F(Mnemonics, EveryButtonOfEveryPageHasOneAndNoneClashes) {
    CPelloryDlg& w = *window;
    // The window's own mnemonics (its buttons and tab titles), which no page may take.
    std::map<QString, std::string> windowLetters;
    for (QAbstractButton* b : w.findChildren<QAbstractButton*>(Qt::FindDirectChildrenOnly)) {
        if (!Letter(b->text()).isEmpty()) windowLetters[Letter(b->text())] = test::CaptionText(b);
    }
    for (int i = 0; i < w.TabControl().count(); ++i) {
        const QString letter = Letter(w.TabControl().tabText(i));
        if (!letter.isEmpty()) windowLetters[letter] = w.TabControl().tabText(i).toStdString();
    }

    int pushButtons = 0;
    for (int page = 0; page < kPageCount; ++page) {
        SCOPED_TRACE(w.TabControl().tabText(page).toStdString());
        std::map<QString, std::string> taken;
        for (QAbstractButton* b : w.PageWidget(page).findChildren<QAbstractButton*>()) {
            // Display-only buttons (the status lamps) take no focus and no keys.
            if (b->focusPolicy() == Qt::NoFocus) continue;
            const bool control = qobject_cast<QPushButton*>(b) || qobject_cast<QCheckBox*>(b) ||
                                 qobject_cast<QRadioButton*>(b);
            if (!control) continue;
            pushButtons += qobject_cast<QPushButton*>(b) != nullptr;
            const QString letter = Letter(b->text());
            const std::string caption = test::CaptionText(b);
            EXPECT_FALSE(letter.isEmpty()) << caption << " has no mnemonic";
            if (letter.isEmpty()) continue;
            EXPECT_EQ(b->text().count(QLatin1Char('&')), 1) << b->text().toStdString();
            const auto [at, fresh] = taken.emplace(letter, caption);
            EXPECT_TRUE(fresh) << caption << " and " << at->second << " share " << letter.toStdString();
            EXPECT_EQ(windowLetters.count(letter), 0u) << caption << " takes the window's " << letter.toStdString();
        }
    }
    EXPECT_EQ(pushButtons, 27) << "every page's push buttons were looked at";
}

TEST_F(Mnemonics, AltLetterPressesTheButtonOfThePageShown) {
    CPelloryDlg& w = *window;
    test::ScriptedPrompt prompt;
    w.SetPrompt(&prompt);
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w, 60000));

    // "Text Print": Alt+C is its "Clear" of the typed text. "Printer Test" has Alt+C for "Cut",
    // which must stay quiet while its page is hidden (it would ask for a port).
    w.TabControl().setCurrentIndex(kPageTextPrint);
    ASSERT_FALSE(w.TextPrintPage().TransmitText().empty());
    QTest::keyClick(&w, Qt::Key_C, Qt::AltModifier);
    // A mnemonic presses the button as a click does, shown pressed for a moment first.
    EXPECT_TRUE(widgets::testing::ProcessEventsUntil([&] { return w.TextPrintPage().TransmitText().empty(); }));
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_EQ(w.History().RowCount(), 0);

    // "Image Print": Alt+S ticks "Show dots"; a second Alt+S clears it.
    w.TabControl().setCurrentIndex(kPageImagePrint);
    auto* showDots = widgets::FindControl<QCheckBox>(&w.ImagePrintPage(), pages::CDialogPPrint::kIdShowDots);
    ASSERT_NE(showDots, nullptr);
    const bool before = showDots->isChecked();
    QTest::keyClick(&w, Qt::Key_S, Qt::AltModifier);
    EXPECT_TRUE(widgets::testing::ProcessEventsUntil([&] { return showDots->isChecked() != before; }));
    QTest::keyClick(&w, Qt::Key_S, Qt::AltModifier);
    EXPECT_TRUE(widgets::testing::ProcessEventsUntil([&] { return showDots->isChecked() == before; }));
}

TEST(WithMnemonic, MarksAWordStartFirstAndKeepsTheCaptionsAmpersands) {
    using widgets::WithMnemonic;
    EXPECT_EQ(WithMnemonic(QStringLiteral("Printer States"), u's'), QStringLiteral("Printer &States"));
    EXPECT_EQ(WithMnemonic(QStringLiteral("Print Position"), u'o'), QStringLiteral("Print P&osition"));
    EXPECT_EQ(WithMnemonic(QStringLiteral("Printer characters"), u'R'), QStringLiteral("P&rinter characters"));
    EXPECT_EQ(WithMnemonic(QStringLiteral("Cut"), u'x'), QStringLiteral("Cut"));
    EXPECT_EQ(WithMnemonic(QStringLiteral("Bits & Bytes"), u'b'), QStringLiteral("&Bits && Bytes"));
    EXPECT_EQ(test::Shown(WithMnemonic(QStringLiteral("Bits & Bytes"), u'y')), QStringLiteral("Bits & Bytes"));
}

}  // namespace
}  // namespace pellory::app
