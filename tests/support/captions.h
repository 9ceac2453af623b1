// What a control's caption shows: its text without the mnemonic marks ("&Print" shows
// "Print", "&&" shows one '&').
#pragma once

#include <QAbstractButton>
#include <QString>

#include <string>

namespace pellory::test {

inline QString Shown(const QString& text) {
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('&') && i + 1 < text.size()) ++i;  // the mark goes, "&&" keeps one
        out += text[i];
    }
    return out;
}

inline QString Caption(const QAbstractButton* button) { return button ? Shown(button->text()) : QString(); }

inline std::string CaptionText(const QAbstractButton* button) { return Caption(button).toStdString(); }

}  // namespace pellory::test
