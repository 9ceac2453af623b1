#include "app/qt_prompt.h"

#include <QFile>
#include <QFileDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QEventLoop>
#include <QGuiApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QRegularExpression>
#include <QScreen>
#include <QStringList>
#include <QThread>

#include <algorithm>
#include <system_error>
#include <thread>
#include <vector>

namespace pellory::app {

namespace {

QString Trimmed(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())).trimmed(); }

std::optional<std::string> PathResult(const QString& path) {
    if (path.isEmpty()) return std::nullopt;
    return QFile::encodeName(path).toStdString();
}

// One entry of a Qt file filter. Qt shows the entry as it is and takes its patterns from the
// last "(...)" group, separated by spaces. A name that already ends with its own patterns
// ("BMP file(*.bmp)") is shown once, its separators made spaces so that Qt reads the same
// patterns; any other name gets the patterns appended.
QString FilterEntry(const QString& name, const QStringList& patterns) {
    static const QRegularExpression kOwnPatterns(QStringLiteral(R"(^(.*)\(([^()]*)\)$)"));
    const QRegularExpressionMatch m = kOwnPatterns.match(name);
    if (m.hasMatch()) {
        QStringList own = m.captured(2).split(QRegularExpression(QStringLiteral("[,; ]+")), Qt::SkipEmptyParts);
        QStringList wanted = patterns;
        own.sort();
        wanted.sort();
        if (own == wanted) {
            QStringList inOrder = m.captured(2).split(QRegularExpression(QStringLiteral("[,; ]+")), Qt::SkipEmptyParts);
            return m.captured(1) + QLatin1Char('(') + inOrder.join(QLatin1Char(' ')) + QLatin1Char(')');
        }
    }
    return name + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
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
        entries << FilterEntry(name, patterns);
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
    if (!informative.empty()) {
        const QString reason = QString::fromStdString(informative);
        box.setInformativeText(reason);
        // The reason's label is as wide as its longest line (up to two thirds of the screen), so
        // a reason such as a path and the system's words does not wrap into a narrow column.
        if (auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"))) {
            int widest = 0;
            const QFontMetrics metrics(label->font());
            for (const QString& line : reason.split(QLatin1Char('\n'))) {
                widest = std::max(widest, metrics.horizontalAdvance(line));
            }
            const QScreen* screen = box.screen() ? box.screen() : QGuiApplication::primaryScreen();
            const int cap = screen ? screen->availableGeometry().width() * 2 / 3 : 640;
            label->setMinimumWidth(std::min(widest + 1, cap));
        }
    }
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

void RunKeepingWindowAlive(const std::function<void()>& step) {
    const QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || QThread::currentThread() != app->thread()) {
        step();
        return;
    }
    QEventLoop loop;
    std::thread worker;
    try {
        worker = std::thread([&step, &loop] {
            step();
            // Queued: the loop may not have started yet; it ends as soon as it sees this.
            QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
        });
    } catch (const std::system_error&) {
        step();
        return;
    }
    // Returns early only when the program quits (every running loop is told to end); the step
    // is bounded, so the join below waits out at most the rest of it.
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();
}

void QtPrompt::RunLongStep(const std::function<void()>& step) {
    const bool gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
    if (gui) QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    RunKeepingWindowAlive(step);
    if (gui) QGuiApplication::restoreOverrideCursor();
}

}  // namespace pellory::app
