#include "history/history_model.h"

#include <algorithm>
#include <utility>

#include "history/history_decoding.h"
#include "history/history_reading.h"

namespace pellory::app {
namespace {

const QChar kEllipsis(0x2026);

// Up to `limit` characters of text, with an ellipsis when something was left out.
QString Bounded(QString text, int limit, bool moreFollows) {
    if (text.size() > limit) {
        text.truncate(limit);
        moreFollows = true;
    }
    if (moreFollows) text += kEllipsis;
    return text;
}

}  // namespace

HistoryModel::HistoryModel(QObject* parent) : QAbstractTableModel(parent) {}

bool HistoryModel::AddRow(const link::EchoRecord& echo) {
    if (echo.empty()) return false;
    Row row;
    row.readingHead = HistoryReadingPrefix(echo.bytes(), kDisplayLimit, &row.readingCut);
    row.readingHead.shrink_to_fit();
    row.echo = echo;
    const int at = RowCount();
    beginInsertRows(QModelIndex(), at, at);
    rows_.push_back(std::move(row));
    endInsertRows();
    return true;
}

void HistoryModel::AddHistoryRow(const link::EchoRecord& echo) { AddRow(echo); }

void HistoryModel::Clear() {
    if (rows_.empty()) return;
    beginResetModel();
    rows_.clear();
    rows_.shrink_to_fit();
    endResetModel();
}

std::string HistoryModel::Echo(int row) const { return rows_.at(row).echo.hex(); }

const link::EchoRecord& HistoryModel::Record(int row) const { return rows_.at(row).echo; }

std::string HistoryModel::Reading(int row) const { return HistoryReading(rows_.at(row).echo.bytes()); }

bool HistoryModel::IsTicked(int row) const { return rows_.at(row).ticked; }

void HistoryModel::SetTicked(int row, bool ticked) {
    Row& r = rows_.at(row);
    if (r.ticked == ticked) return;
    r.ticked = ticked;
    const QModelIndex cell = index(row, kCheckColumn);
    emit dataChanged(cell, cell, {Qt::CheckStateRole});
}

int HistoryModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : RowCount();
}

int HistoryModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QString HistoryModel::HexText(const Row& row, int limit) const {
    // Only the bytes whose hex text can be shown are written out.
    const auto chars = static_cast<std::size_t>(limit);
    std::string head;
    row.echo.AppendHex(head, 0, chars / 3 + 1);
    if (head.size() > chars) head.resize(chars);
    return Bounded(QString::fromLatin1(head.data(), static_cast<qsizetype>(head.size())), limit,
                   row.echo.hexSize() > chars);
}

QString HistoryModel::TipsText(const Row& row, int limit) const {
    // The kept head is at most kDisplayLimit bytes; shown with visible control characters it is
    // at most four times as many characters, cut to the limit here.
    const std::string shown = DisplayReading(row.readingHead);
    return Bounded(QString::fromUtf8(shown.data(), static_cast<qsizetype>(shown.size())), limit,
                   row.readingCut);
}

QVariant HistoryModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.parent().isValid() || index.row() < 0 ||
        index.row() >= RowCount()) {
        return {};
    }
    const Row& row = rows_[index.row()];
    switch (index.column()) {
        case kCheckColumn:
            if (role == Qt::CheckStateRole) return row.ticked ? Qt::Checked : Qt::Unchecked;
            if (role == Qt::TextAlignmentRole) return int(Qt::AlignCenter);
            return {};
        case kHexColumn:
            switch (role) {
                case Qt::DisplayRole:
                    return HexText(row, kDisplayLimit);
                case Qt::ToolTipRole: {
                    const std::string tip = HistoryRowHexTooltip(row.echo.bytes());
                    return QString::fromUtf8(tip.data(), static_cast<qsizetype>(tip.size()));
                }
                case Qt::EditRole:
                case kFullTextRole: {
                    const std::string hex = row.echo.hex();
                    return QString::fromLatin1(hex.data(), static_cast<qsizetype>(hex.size()));
                }
                case Qt::TextAlignmentRole:
                    return int(Qt::AlignLeft | Qt::AlignVCenter);
                default:
                    return {};
            }
        case kTipsColumn:
            switch (role) {
                case Qt::DisplayRole:
                    return TipsText(row, kDisplayLimit);
                case Qt::ToolTipRole: {
                    const std::string tip = HistoryRowDecoding(row.echo.bytes());
                    return QString::fromUtf8(tip.data(), static_cast<qsizetype>(tip.size()));
                }
                case Qt::EditRole:
                case kFullTextRole: {
                    const std::string shown = DisplayReading(HistoryReading(row.echo.bytes()));
                    return QString::fromUtf8(shown.data(), static_cast<qsizetype>(shown.size()));
                }
                case Qt::TextAlignmentRole:
                    return int(Qt::AlignLeft | Qt::AlignVCenter);
                default:
                    return {};
            }
        default:
            return {};
    }
}

bool HistoryModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || index.parent().isValid() || index.column() != kCheckColumn ||
        role != Qt::CheckStateRole || index.row() < 0 || index.row() >= RowCount()) {
        return false;
    }
    SetTicked(index.row(), value.toInt() == Qt::Checked);
    return true;
}

Qt::ItemFlags HistoryModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags result = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (index.column() == kCheckColumn) result |= Qt::ItemIsUserCheckable;
    return result;
}

QVariant HistoryModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    if (role == Qt::DisplayRole) {
        switch (section) {
            case kCheckColumn:
                return QString();
            case kHexColumn:
                return QStringLiteral("Hex");
            case kTipsColumn:
                return QStringLiteral("Tips");
            default:
                return {};
        }
    }
    if (role == Qt::TextAlignmentRole) {
        return section == kCheckColumn ? int(Qt::AlignCenter) : int(Qt::AlignLeft | Qt::AlignVCenter);
    }
    return {};
}

}  // namespace pellory::app
