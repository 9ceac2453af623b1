#include "pages/command_edit.h"

#include <QKeyEvent>
#include <QTextCursor>

#include "pages/core/hex_text.h"

namespace pellory::pages {

namespace {

// Keys that move the cursor, delete or leave the field without typing a character; some
// platforms still give them a text (Delete as 7F, Escape as 1B), so they are recognised by key.
bool TypesNoCharacter(int key) {
    switch (key) {
        case Qt::Key_Escape:
        case Qt::Key_Delete:
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_Home:
        case Qt::Key_End:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
        case Qt::Key_Insert:
            return true;
        default:
            return false;
    }
}

}  // namespace

CCommandEdit::CCommandEdit(QWidget* parent) : QPlainTextEdit(parent) {
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setTabChangesFocus(false);
}

std::u32string CCommandEdit::TypedCodes(const QKeyEvent& event) {
    const int key = event.key();
    if (TypesNoCharacter(key)) return {};
    if (key == Qt::Key_Backspace) return U"\b";
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        return (event.modifiers() & Qt::ControlModifier) ? U"\n" : U"\r";
    }
    return event.text().toStdU32String();
}

void CCommandEdit::keyPressEvent(QKeyEvent* event) {
    if (!hexOnly) {
        QPlainTextEdit::keyPressEvent(event);
        return;
    }
    const std::u32string codes = TypedCodes(*event);
    size_t allowed = 0;
    for (char32_t c : codes) {
        if (hextext::IsHexModeInputAllowed(c)) ++allowed;
    }
    if (allowed == codes.size()) {
        // Every character may go in (or the key types none): the edit's own handling.
        QPlainTextEdit::keyPressEvent(event);
        return;
    }
    // One key can type several characters (a compose sequence); each is judged on its own and
    // only the printable ones that pass are inserted.
    QString keep;
    for (char32_t c : codes) {
        if (hextext::IsHexModeInputAllowed(c) && c >= 0x20) keep += QChar(static_cast<char16_t>(c));
    }
    if (!keep.isEmpty() && !isReadOnly()) insertPlainText(keep);
    event->accept();
}

}  // namespace pellory::pages
