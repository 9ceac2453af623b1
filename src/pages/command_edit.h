// CCommandEdit: the transmit field of the "Text Print" page. A multi-line edit (Enter inserts a
// line break) that, while hexOnly is set, lets through only the typed characters that belong in
// hex command text: hexadecimal digits, space, Backspace, Enter (CR), Ctrl+Enter (LF) and the
// editing shortcuts Ctrl+C, V, X, Z, Y. Keys that type no character (arrows, Delete, Home, End,
// page keys, Escape) are never filtered. Text that arrives by pasting or is set by the program is not
// filtered either.
#pragma once

#include <QPlainTextEdit>

#include <string>

class QKeyEvent;

namespace pellory::pages {

class CCommandEdit : public QPlainTextEdit {
public:
    explicit CCommandEdit(QWidget* parent = nullptr);

    // Hex-only mode; the owning page sets it directly.
    bool hexOnly = false;

    // The character codes a key press types, in the single-byte form the filter judges: the
    // event's text, or 08 for Backspace, 0D for Enter, 0A for Ctrl+Enter. Empty for keys that
    // type nothing.
    static std::u32string TypedCodes(const QKeyEvent& event);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace pellory::pages
