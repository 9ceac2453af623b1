// The command-history list of the main window: a table with grid lines, full-row selection and a
// check box per row, showing a HistoryModel. It keeps the newest row in sight and stays quick with
// tens of thousands of rows of any length: rows have one fixed height, no size is ever measured
// from a cell's text, and cells are painted from a bounded start of their text.
#pragma once

#include <QStyledItemDelegate>
#include <QTableView>

namespace pellory::app {

class HistoryModel;

// Paints history cells: the check box centred in its column, the texts elided from a start that
// is bounded by the cell's width; reports a fixed size without measuring any text.
class HistoryItemDelegate : public QStyledItemDelegate {
public:
    explicit HistoryItemDelegate(QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // Where the check box of a cell of the check column is drawn (and can be clicked).
    static QRect CheckBoxRect(const QStyleOptionViewItem& option, const QWidget* widget);

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
};

class HistoryView : public QTableView {
public:
    // Fixed widths of the check column and the "Tips" column, in pixels; the "Hex" column gets
    // the list's client width less kClientWidthReserve.
    static constexpr int kCheckColumnWidth = 22;
    static constexpr int kTipsColumnWidth = 90;
    static constexpr int kClientWidthReserve = 117;

    // Creates the view with its own, empty HistoryModel.
    explicit HistoryView(QWidget* parent = nullptr);

    HistoryModel& Model() { return *model_; }
    const HistoryModel& Model() const { return *model_; }

    // Sets the three column widths from the list's present client width (the window calls it
    // once the list has its final size), or from a given client width. When the list then grows
    // wider, "Hex" and "Tips" share what it gains (half each, the odd pixel to "Tips"); back at
    // its width of the set-up they have their set-up widths again.
    void SetUpColumns();
    void SetUpColumns(int clientWidth);
    // The client width that SetUpColumns() uses: the inside of the frame.
    int ClientWidth() const;
    // The fixed height of every row, in pixels.
    int RowHeight() const;

protected:
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    // Keeps a list that shows its last row at the bottom when its geometry changes, for example
    // when a new row brings in the scroll bars and the visible part shrinks.
    void updateGeometries() override;

private:
    void ApplyRowHeight();
    // Gives "Hex" and "Tips" their base widths plus their shares of the width gained since
    // SetUpColumns.
    void FitColumns();
    // The part of the gained width that goes to the "Hex" column, and to the "Tips" column.
    int HexShare() const;
    int TipsShare() const;

    HistoryModel* model_;
    int baseClientWidth_ = 0;
    int baseHexWidth_ = 0;
    int baseTipsWidth_ = kTipsColumnWidth;
    bool fitting_ = false;  // the columns are being sized by the view itself
};

}  // namespace pellory::app
