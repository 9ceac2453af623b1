// The rows of the command history: one row per echo handed over by a page, with its tick and its
// "Tips" reading, shown as three columns (check box, "Hex", "Tips"). A row keeps the bytes sent
// (once, shared with the record handed over); its hex text (three characters per byte) is made
// only when it is shown, saved or read.
#pragma once

#include <QAbstractTableModel>

#include <string>
#include <string_view>
#include <vector>

#include "link/ui_seam.h"

namespace pellory::app {

class HistoryModel : public QAbstractTableModel, public link::HistorySink {
public:
    enum Column : int { kCheckColumn = 0, kHexColumn = 1, kTipsColumn = 2, kColumnCount = 3 };

    // The complete cell text (the whole hex text, or the whole reading shown with DisplayReading).
    // Qt::EditRole gives the same. Qt::DisplayRole and Qt::ToolTipRole give bounded texts only.
    static constexpr int kFullTextRole = Qt::UserRole;
    // Characters of a cell that Qt::DisplayRole shows at most; longer texts end in U+2026.
    static constexpr int kDisplayLimit = 512;
    // Characters of a cell that Qt::ToolTipRole shows at most; longer texts end in U+2026.
    static constexpr int kToolTipLimit = 200;

    explicit HistoryModel(QObject* parent = nullptr);

    // Appends a ticked row for the echo; an empty one adds nothing (returns false).
    bool AddRow(const link::EchoRecord& echo);
    // link::HistorySink: the pages' hand-over.
    void AddHistoryRow(const link::EchoRecord& echo) override;
    // Removes every row.
    void Clear();

    int RowCount() const { return static_cast<int>(rows_.size()); }
    // The hex text of a row ("1B 40 ", trailing space included), made on each call.
    std::string Echo(int row) const;
    // The bytes of a row.
    const link::EchoRecord& Record(int row) const;
    // The complete reading of a row (raw bytes, HistoryReading), worked out on each call.
    std::string Reading(int row) const;
    bool IsTicked(int row) const;
    void SetTicked(int row, bool ticked);

    // QAbstractItemModel
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    struct Row {
        link::EchoRecord echo;
        // The start of the reading (kDisplayLimit characters at most) kept for painting, so that
        // a huge row is never read again in full to be shown.
        std::string readingHead;
        bool readingCut = false;
        bool ticked = true;
    };

    QString HexText(const Row& row, int limit) const;
    QString TipsText(const Row& row, int limit) const;

    std::vector<Row> rows_;
};

}  // namespace pellory::app
