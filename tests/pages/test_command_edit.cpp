// CCommandEdit: what typing does with and without hex-only mode. Keys arrive as real key events
// through the event system, as the window would deliver them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QTextCursor>

#include "pages/command_edit.h"
#include "widgets/qt_test_app.h"

using pellory::pages::CCommandEdit;

namespace {

// One key press (and its release) with the text it types.
void Press(QWidget* w, int key, const QString& text = {}, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QKeyEvent press(QEvent::KeyPress, key, mods, text);
    QCoreApplication::sendEvent(w, &press);
    QKeyEvent release(QEvent::KeyRelease, key, mods, text);
    QCoreApplication::sendEvent(w, &release);
}

// Types one printable character as its key.
void Type(QWidget* w, QChar c) {
    const int key = c.isLetter() ? c.toUpper().unicode() : c.unicode();
    Press(w, key, QString(c));
}

void TypeAll(QWidget* w, const QString& text) {
    for (QChar c : text) Type(w, c);
}

void Tab(QWidget* w) { Press(w, Qt::Key_Tab, QStringLiteral("\t")); }

class CommandEditTest : public ::testing::Test {
protected:
    void SetUp() override { edit.show(); }
    QString Text() const { return edit.toPlainText(); }
    void CursorTo(QTextCursor::MoveOperation op) {
        QTextCursor c = edit.textCursor();
        c.movePosition(op);
        edit.setTextCursor(c);
    }
    CCommandEdit edit;
};

}  // namespace

TEST_F(CommandEditTest, StartsOutOfHexModeAndTakesEveryCharacter) {
    EXPECT_FALSE(edit.hexOnly);
    TypeAll(&edit, QStringLiteral("gx-"));
    Tab(&edit);
    Type(&edit, QLatin1Char('7'));
    // The same keys that hex-only mode drops reach the field here, so the events do arrive.
    EXPECT_EQ(Text(), QStringLiteral("gx-\t7"));
    // Enter inserts a line break.
    Press(&edit, Qt::Key_Return, QStringLiteral("\r"));
    Type(&edit, QLatin1Char('Z'));
    EXPECT_EQ(Text(), QStringLiteral("gx-\t7\nZ"));
}

TEST_F(CommandEditTest, HexOnlyDropsEveryOtherCharacter) {
    edit.hexOnly = true;
    TypeAll(&edit, QStringLiteral("gx"));
    Tab(&edit);
    TypeAll(&edit, QStringLiteral("-G#,.zé"));
    Press(&edit, Qt::Key_unknown, QString(QChar(0x20AC)));  // a character beyond Latin-1
    Press(&edit, Qt::Key_A, QStringLiteral("\x01"), Qt::ControlModifier);  // Ctrl+A types 01
    EXPECT_EQ(Text(), QString());
}

TEST_F(CommandEditTest, HexOnlyTakesHexDigitsSpaceAndLineBreaks) {
    edit.hexOnly = true;
    TypeAll(&edit, QStringLiteral("7cE 0a"));
    Press(&edit, Qt::Key_Return, QStringLiteral("\r"));
    TypeAll(&edit, QStringLiteral("1B"));
    Press(&edit, Qt::Key_Enter, QStringLiteral("\r"), Qt::KeypadModifier);
    Type(&edit, QLatin1Char('f'));
    EXPECT_EQ(Text(), QStringLiteral("7cE 0a\n1B\nf"));
    Press(&edit, Qt::Key_Backspace, QStringLiteral("\b"));
    EXPECT_EQ(Text(), QStringLiteral("7cE 0a\n1B\n"));
}

TEST_F(CommandEditTest, HexOnlyKeepsNavigationAndDeleteWorking) {
    edit.hexOnly = true;
    edit.setPlainText(QStringLiteral("ABCD"));
    CursorTo(QTextCursor::Start);
    // Delete may carry the text 7F, which is no allowed character; it still deletes.
    Press(&edit, Qt::Key_Delete, QStringLiteral("\x7f"));
    EXPECT_EQ(Text(), QStringLiteral("BCD"));
    Press(&edit, Qt::Key_End);
    Press(&edit, Qt::Key_Left);
    Press(&edit, Qt::Key_Backspace, QStringLiteral("\b"));
    EXPECT_EQ(Text(), QStringLiteral("BD"));
    Press(&edit, Qt::Key_Home);
    Type(&edit, QLatin1Char('0'));
    EXPECT_EQ(Text(), QStringLiteral("0BD"));
}

TEST_F(CommandEditTest, HexOnlyKeepsClipboardAndUndoAndDoesNotFilterPastedOrSetText) {
    edit.hexOnly = true;
    edit.setPlainText(QStringLiteral("xyz"));  // set by the program: kept as it is
    EXPECT_EQ(Text(), QStringLiteral("xyz"));

    edit.selectAll();
    Press(&edit, Qt::Key_X, QStringLiteral("\x18"), Qt::ControlModifier);  // cut
    EXPECT_EQ(Text(), QString());
    Press(&edit, Qt::Key_Z, QStringLiteral("\x1a"), Qt::ControlModifier);  // undo
    EXPECT_EQ(Text(), QStringLiteral("xyz"));

    QApplication::clipboard()->setText(QStringLiteral("q-r\t"));
    CursorTo(QTextCursor::End);
    Press(&edit, Qt::Key_V, QStringLiteral("\x16"), Qt::ControlModifier);  // paste, unfiltered
    EXPECT_EQ(Text(), QStringLiteral("xyzq-r\t"));

    edit.selectAll();
    Press(&edit, Qt::Key_C, QStringLiteral("\x03"), Qt::ControlModifier);  // copy
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("xyzq-r\t"));
}

TEST_F(CommandEditTest, OneKeyTypingSeveralCharactersKeepsOnlyTheAllowedOnes) {
    edit.hexOnly = true;
    Press(&edit, Qt::Key_unknown, QStringLiteral("1x2"));
    EXPECT_EQ(Text(), QStringLiteral("12"));
}

TEST(CommandEditCodes, KeysMapToTheCharacterCodesTheFilterJudges) {
    auto codes = [](int key, const QString& text, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        return CCommandEdit::TypedCodes(QKeyEvent(QEvent::KeyPress, key, mods, text));
    };
    EXPECT_EQ(codes(Qt::Key_Return, QStringLiteral("\r")), U"\r");
    EXPECT_EQ(codes(Qt::Key_Return, QString(), Qt::ControlModifier), U"\n");
    EXPECT_EQ(codes(Qt::Key_Enter, QString(), Qt::ControlModifier | Qt::KeypadModifier), U"\n");
    EXPECT_EQ(codes(Qt::Key_Backspace, QString()), U"\b");
    EXPECT_EQ(codes(Qt::Key_Delete, QStringLiteral("\x7f")), U"");
    EXPECT_EQ(codes(Qt::Key_Left, QString()), U"");
    EXPECT_EQ(codes(Qt::Key_Escape, QStringLiteral("\x1b")), U"");
    EXPECT_EQ(codes(Qt::Key_G, QStringLiteral("g")), U"g");
}
