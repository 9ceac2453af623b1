#include "app/qt_prompt.h"

#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

#include <vector>

namespace pellory::app {

namespace {

QString Trimmed(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())).trimmed(); }

std::optional<std::string> PathResult(const QString& path) {
    if (path.isEmpty()) return std::nullopt;
    return QFile::encodeName(path).toStdString();
}

}  // namespace

QString QtFileFilter(std::string_view filter) {
    // Split at '|'; the first empty name (the "||" at the end) ends the list.
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (start <= filter.size()) {
        const size_t bar = filter.find('|', start);
        const size_t end = bar == std::string_view::npos ? filter.size() : bar;
        parts.push_back(filter.substr(start, end - start));
        if (bar == std::string_view::npos) break;
        start = bar + 1;
    }
    QStringList entries;
    for (size_t i = 0; i < parts.size(); i += 2) {
        const QString name = Trimmed(parts[i]);
        if (name.isEmpty()) break;
        QStringList patterns;
        if (i + 1 < parts.size()) {
            const QString list = Trimmed(parts[i + 1]);
            for (const QString& p : list.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
                const QString t = p.trimmed();
                if (!t.isEmpty()) patterns << t;
            }
        }
        if (patterns.isEmpty()) patterns << QStringLiteral("*");
        entries << name + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return entries.join(QStringLiteral(";;"));
}

QtPrompt::QtPrompt(QWidget* parent) : parent_(parent) {}

void QtPrompt::ShowMessage(const std::string& text, const std::string& caption, const std::string& informative) {
    QMessageBox box(parent_.data());
    box.setIcon(QMessageBox::NoIcon);
    box.setWindowTitle(QString::fromStdString(caption.empty() ? std::string(link::kProgramTitle) : caption));
    box.setText(QString::fromStdString(text));
    box.setTextFormat(Qt::PlainText);
    if (!informative.empty()) box.setInformativeText(QString::fromStdString(informative));
    box.setStandardButtons(QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
}

std::optional<std::string> QtPrompt::AskOpenFile(const std::string& filter) {
    return PathResult(QFileDialog::getOpenFileName(parent_.data(), QString(), QString(), QtFileFilter(filter)));
}

std::optional<std::string> QtPrompt::AskSaveFile(const std::string& filter) {
    // No default suffix and no initial name; Qt asks before overwriting by default.
    return PathResult(QFileDialog::getSaveFileName(parent_.data(), QString(), QString(), QtFileFilter(filter)));
}

}  // namespace pellory::app
