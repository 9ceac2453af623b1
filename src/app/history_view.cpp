#include "app/history_view.h"

#include <QApplication>
#include <QEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScrollBar>

#include <algorithm>

#include "history/history_model.h"

namespace pellory::app {
namespace {

const QStyle* StyleOf(const QWidget* widget) {
    return widget ? widget->style() : QApplication::style();
}

// No glyph of a list font is narrower than this many pixels, so a cell never shows more
// characters than its width divided by it.
constexpr int kNarrowestGlyph = 2;

}  // namespace

// --- HistoryItemDelegate ----------------------------------------------------------------------

HistoryItemDelegate::HistoryItemDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

QRect HistoryItemDelegate::CheckBoxRect(const QStyleOptionViewItem& option, const QWidget* widget) {
    const QStyle* style = StyleOf(widget);
    const QSize size(style->pixelMetric(QStyle::PM_IndicatorWidth, &option, widget),
                     style->pixelMetric(QStyle::PM_IndicatorHeight, &option, widget));
    return QStyle::alignedRect(option.direction, Qt::AlignCenter, size, option.rect);
}

void HistoryItemDelegate::initStyleOption(QStyleOptionViewItem* option,
                                          const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    option->features &= ~QStyleOptionViewItem::WrapText;
    if (index.column() == HistoryModel::kCheckColumn) return;
    // The model already bounds its display text; cut it further to what the cell can show at
    // all, so that the elision works on a few dozen characters rather than hundreds.
    const int fits = std::max(8, option->rect.width() / kNarrowestGlyph + 2);
    if (option->text.size() > fits) {
        option->text.truncate(fits);
        option->text += QChar(0x2026);
    }
}

void HistoryItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
    if (index.column() != HistoryModel::kCheckColumn) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QWidget* widget = opt.widget;
    const QStyle* style = StyleOf(widget);

    // Background, selection and focus of the cell, without the style's own (left-hand) box.
    const bool checkable = opt.features & QStyleOptionViewItem::HasCheckIndicator;
    const Qt::CheckState state = opt.checkState;
    opt.features &= ~QStyleOptionViewItem::HasCheckIndicator;
    opt.text.clear();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
    if (!checkable) return;

    QStyleOptionViewItem box = opt;
    box.rect = CheckBoxRect(option, widget);
    box.state &= ~QStyle::State_HasFocus;
    box.state |= state == Qt::Checked ? QStyle::State_On
                 : state == Qt::PartiallyChecked ? QStyle::State_NoChange
                                                 : QStyle::State_Off;
    style->drawPrimitive(QStyle::PE_IndicatorItemViewItemCheck, &box, painter, widget);
}

QSize HistoryItemDelegate::sizeHint(const QStyleOptionViewItem& option,
                                    const QModelIndex& index) const {
    // Never measured from the text: a row can hold hundreds of thousands of characters.
    const int height = option.fontMetrics.height() + 4;
    if (index.column() == HistoryModel::kCheckColumn) {
        return {HistoryView::kCheckColumnWidth, height};
    }
    return {option.fontMetrics.averageCharWidth() * 12, height};
}

bool HistoryItemDelegate::editorEvent(QEvent* event, QAbstractItemModel* model,
                                      const QStyleOptionViewItem& option,
                                      const QModelIndex& index) {
    if (!model || !index.isValid()) return false;
    const QModelIndex box = index.siblingAtColumn(HistoryModel::kCheckColumn);
    const Qt::ItemFlags flags = model->flags(box);
    if (!(flags & Qt::ItemIsUserCheckable) || !(flags & Qt::ItemIsEnabled)) return false;
    const QVariant value = model->data(box, Qt::CheckStateRole);
    if (!value.isValid()) return false;

    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseButtonRelease: {
            if (index.column() != HistoryModel::kCheckColumn) return false;
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() != Qt::LeftButton ||
                !CheckBoxRect(option, option.widget).contains(mouse->position().toPoint())) {
                return false;
            }
            // The press and the second click of a double click are taken, so that they neither
            // start an edit nor toggle twice; the release toggles.
            if (event->type() != QEvent::MouseButtonRelease) return true;
            break;
        }
        case QEvent::KeyPress: {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key != Qt::Key_Space && key != Qt::Key_Select) return false;
            break;
        }
        default:
            return false;
    }
    const bool ticked = value.toInt() == Qt::Checked;
    return model->setData(box, ticked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
}

// --- HistoryView ------------------------------------------------------------------------------

HistoryView::HistoryView(QWidget* parent) : QTableView(parent), model_(new HistoryModel(this)) {
    setModel(model_);
    setItemDelegate(new HistoryItemDelegate(this));

    setShowGrid(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setTextElideMode(Qt::ElideRight);
    setSortingEnabled(false);
    setCornerButtonEnabled(false);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);

    // Rows: one fixed height, never measured from their contents; no row numbers.
    QHeaderView* rows = verticalHeader();
    rows->hide();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    ApplyRowHeight();

    QHeaderView* columns = horizontalHeader();
    columns->setMinimumSectionSize(0);
    columns->setSectionResizeMode(QHeaderView::Interactive);
    columns->setStretchLastSection(false);
    columns->setHighlightSections(false);
    columns->setSectionsClickable(false);
    SetUpColumns();
    // A column the user drags keeps its new width, the gained width still shared on top of it.
    connect(columns, &QHeaderView::sectionResized, this, [this](int column, int, int size) {
        if (fitting_) return;
        if (column == HistoryModel::kHexColumn) baseHexWidth_ = size - HexShare();
        if (column == HistoryModel::kTipsColumn) baseTipsWidth_ = size - TipsShare();
    });

    // Connected after setModel(), so that the headers have taken the new row before the list
    // scrolls to it.
    connect(model_, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int, int) { scrollToBottom(); });
}

int HistoryView::ClientWidth() const { return width() - 2 * frameWidth(); }

void HistoryView::SetUpColumns() { SetUpColumns(ClientWidth()); }

void HistoryView::SetUpColumns(int clientWidth) {
    // What the list gains from here on is shared out.
    baseClientWidth_ = ClientWidth();
    baseHexWidth_ = std::max(0, clientWidth - kClientWidthReserve);
    baseTipsWidth_ = kTipsColumnWidth;
    fitting_ = true;
    horizontalHeader()->resizeSection(HistoryModel::kCheckColumn, kCheckColumnWidth);
    fitting_ = false;
    FitColumns();
}

int HistoryView::HexShare() const { return std::max(0, ClientWidth() - baseClientWidth_) / 2; }

int HistoryView::TipsShare() const { return std::max(0, ClientWidth() - baseClientWidth_) - HexShare(); }

void HistoryView::FitColumns() {
    fitting_ = true;
    QHeaderView* columns = horizontalHeader();
    columns->resizeSection(HistoryModel::kHexColumn, std::max(0, baseHexWidth_ + HexShare()));
    columns->resizeSection(HistoryModel::kTipsColumn, std::max(0, baseTipsWidth_ + TipsShare()));
    fitting_ = false;
}

void HistoryView::resizeEvent(QResizeEvent* event) {
    QTableView::resizeEvent(event);
    if (event->size().width() != event->oldSize().width()) FitColumns();
}

int HistoryView::RowHeight() const { return verticalHeader()->defaultSectionSize(); }

void HistoryView::ApplyRowHeight() {
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const int indicator = style()->pixelMetric(QStyle::PM_IndicatorHeight, &option, this);
    const int height = std::max(fontMetrics().height(), indicator) + 4;
    QHeaderView* rows = verticalHeader();
    rows->setMinimumSectionSize(height);
    rows->setDefaultSectionSize(height);
}

void HistoryView::updateGeometries() {
    QScrollBar* bar = verticalScrollBar();
    const bool atBottom = bar->value() == bar->maximum();
    QTableView::updateGeometries();
    if (atBottom && bar->value() != bar->maximum()) bar->setValue(bar->maximum());
}

void HistoryView::changeEvent(QEvent* event) {
    QTableView::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        ApplyRowHeight();
    }
}

}  // namespace pellory::app
