#include "widgets/dialog_layout.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFontMetrics>
#include <QStyle>

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QVariant>

#include <algorithm>

namespace pellory::widgets {

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics fm(font);
    // The average width of the letters, rounded, as dialog layouts measure it.
    static const QString kLetters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    baseX_ = std::max(1, (fm.horizontalAdvance(kLetters) / 26 + 1) / 2);
    baseY_ = std::max(1, fm.height());
}

int DialogUnits::x(int du) const { return (du * baseX_ + 2) / 4; }
int DialogUnits::y(int du) const { return (du * baseY_ + 4) / 8; }

DialogUnits SizeAsPage(QWidget* page) {
    const DialogUnits du(page->font());
    page->resize(du.size(kPageWidthDu, kPageHeightDu));
    page->setMinimumSize(du.size(kPageWidthDu, kPageHeightDu));
    return du;
}

void PlaceDu(QWidget* w, const DialogUnits& du, int left, int top, int width, int height) {
    w->setGeometry(du.rect(left, top, width, height));
}

QGroupBox* MakeGroupDu(QWidget* parent, const DialogUnits& du, const QString& title, int x, int y, int w, int h) {
    auto* group = new QGroupBox(title, parent);
    PlaceDu(group, du, x, y, w, h);
    return group;
}

QLabel* MakeLabelDu(QWidget* parent, const DialogUnits& du, const QString& text, int x, int y, int w, int h) {
    auto* label = new QLabel(text, parent);
    PlaceDu(label, du, x, y, w, h);
    return label;
}

void SetControlId(QWidget* w, int id, const QString& name) {
    w->setProperty(kControlIdProperty, id);
    w->setObjectName(name);
}

void LimitToDigits(QLineEdit* field) {
    field->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), field));
}

int ControlId(const QWidget* w) {
    const QVariant v = w->property(kControlIdProperty);
    return v.isValid() ? v.toInt() : 0;
}

QWidget* FindControl(QWidget* root, int id) {
    const auto children = root->findChildren<QWidget*>();
    for (QWidget* w : children) {
        if (ControlId(w) == id) return w;
    }
    return nullptr;
}

namespace {

// The width the open list needs for its longest entry: the text, an icon if any, the view's
// frame and a scroll bar's room.
void FitPopupToEntries(QComboBox* combo) {
    const QFontMetrics metrics(combo->view()->font());
    int widest = 0;
    for (int i = 0; i < combo->count(); ++i) {
        int w = metrics.horizontalAdvance(combo->itemText(i));
        if (!combo->itemIcon(i).isNull()) w += combo->iconSize().width() + 4;
        widest = std::max(widest, w);
    }
    QAbstractItemView* view = combo->view();
    const int extra = 2 * view->frameWidth() + view->style()->pixelMetric(QStyle::PM_ScrollBarExtent) +
                      2 * view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + metrics.averageCharWidth() * 2;
    view->setMinimumWidth(widest + extra);
}

}  // namespace

QString WithMnemonic(const QString& caption, QChar letter) {
    QString text = caption;
    text.replace(QLatin1Char('&'), QStringLiteral("&&"));
    const QChar wanted = letter.toLower();
    qsizetype at = -1;
    for (qsizetype i = 0; i < text.size() && at < 0; ++i) {
        const bool wordStart = i == 0 || !text[i - 1].isLetterOrNumber();
        if (wordStart && text[i].toLower() == wanted) at = i;
    }
    for (qsizetype i = 0; i < text.size() && at < 0; ++i) {
        if (text[i].toLower() == wanted && (i == 0 || text[i - 1] != QLatin1Char('&'))) at = i;
    }
    if (at >= 0) text.insert(at, QLatin1Char('&'));
    return text;
}

void WidenDropDownLists(QWidget* root) {
    for (QComboBox* combo : root->findChildren<QComboBox*>()) {
        if (combo->property("pelloryWidened").toBool()) continue;
        combo->setProperty("pelloryWidened", true);
        FitPopupToEntries(combo);
        QAbstractItemModel* model = combo->model();
        auto refit = [combo] { FitPopupToEntries(combo); };
        QObject::connect(model, &QAbstractItemModel::rowsInserted, combo, refit);
        QObject::connect(model, &QAbstractItemModel::rowsRemoved, combo, refit);
        QObject::connect(model, &QAbstractItemModel::modelReset, combo, refit);
        QObject::connect(model, &QAbstractItemModel::dataChanged, combo, refit);
    }
}

}  // namespace pellory::widgets
