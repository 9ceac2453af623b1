// The command-history model (its list view: tests/app/test_history_view.cpp).
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <cstdint>
#include <string>
#include <vector>

#include "history/history_decoding.h"
#include "history/history_model.h"
#include "history/history_reading.h"
#include "link/hex_echo.h"

namespace pellory::app {
namespace {

QCoreApplication& App() {
    static int argc = 1;
    static char name[] = "test_history_model";
    static char* argv[] = {name, nullptr};
    static auto* app = new QCoreApplication(argc, argv);  // left alive until the process ends
    return *app;
}

// A raster-image row of 200,000 bytes: 600,000 characters of echo text.
std::string HugeEcho() {
    std::string echo = "1D 76 30 00 30 00 20 00 ";
    while (echo.size() < 600000) echo += "AA ";
    return echo;
}

class HistoryModelTest : public ::testing::Test {
protected:
    void SetUp() override { App(); }
    HistoryModel model;
};

TEST_F(HistoryModelTest, EmptyEchoAddsNoRow) {
    int inserted = 0;
    QObject::connect(&model, &QAbstractItemModel::rowsInserted, [&] { ++inserted; });
    EXPECT_FALSE(model.AddRow(""));
    static_cast<link::HistorySink&>(model).AddHistoryRow("");
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(inserted, 0);
}

TEST_F(HistoryModelTest, RowsAreAppendedTickedWithTheirTextAndReading) {
    EXPECT_TRUE(model.AddRow("1B 61 01 "));
    static_cast<link::HistorySink&>(model).AddHistoryRow("48 69 0A ");
    ASSERT_EQ(model.rowCount(), 2);
    ASSERT_EQ(model.columnCount(), 3);

    EXPECT_EQ(model.Echo(0), "1B 61 01 ");
    EXPECT_EQ(model.Reading(1), "Hi\n");
    EXPECT_TRUE(model.IsTicked(0));
    EXPECT_TRUE(model.IsTicked(1));

    EXPECT_EQ(model.index(0, 0).data(Qt::CheckStateRole).toInt(), Qt::Checked);
    EXPECT_FALSE(model.index(0, 0).data(Qt::DisplayRole).isValid());
    EXPECT_EQ(model.index(0, 1).data().toString(), "1B 61 01 ");  // trailing space kept
    EXPECT_EQ(model.index(0, 2).data().toString(), "ESC a 01 ");
    EXPECT_EQ(model.index(1, 2).data().toString(), QStringLiteral("Hi\\x0A"));
    EXPECT_EQ(model.index(1, 2).data(HistoryModel::kFullTextRole).toString(), QStringLiteral("Hi\\x0A"));

    EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), "");
    EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), "Hex");
    EXPECT_EQ(model.headerData(2, Qt::Horizontal).toString(), "Tips");
    EXPECT_EQ(model.headerData(0, Qt::Horizontal, Qt::TextAlignmentRole).toInt(),
              int(Qt::AlignCenter));

    EXPECT_TRUE(model.flags(model.index(0, 0)) & Qt::ItemIsUserCheckable);
    EXPECT_FALSE(model.flags(model.index(0, 1)) & Qt::ItemIsUserCheckable);
    EXPECT_FALSE(model.flags(model.index(0, 2)) & Qt::ItemIsEditable);
}

TEST_F(HistoryModelTest, CheckStateToggles) {
    model.AddRow("0A ");
    model.AddRow("0A ");
    int changes = 0;
    QObject::connect(&model, &QAbstractItemModel::dataChanged,
                     [&](const QModelIndex& from, const QModelIndex& to) {
                         EXPECT_EQ(from, model.index(1, 0));
                         EXPECT_EQ(to, model.index(1, 0));
                         ++changes;
                     });
    EXPECT_TRUE(model.setData(model.index(1, 0), Qt::Unchecked, Qt::CheckStateRole));
    EXPECT_FALSE(model.IsTicked(1));
    EXPECT_TRUE(model.IsTicked(0));
    EXPECT_EQ(model.index(1, 0).data(Qt::CheckStateRole).toInt(), Qt::Unchecked);
    EXPECT_TRUE(model.setData(model.index(1, 0), Qt::Unchecked, Qt::CheckStateRole));
    EXPECT_EQ(changes, 1);  // no change, no signal
    model.SetTicked(1, true);
    EXPECT_TRUE(model.IsTicked(1));
    EXPECT_EQ(changes, 2);
    // Only the check column takes a check state.
    EXPECT_FALSE(model.setData(model.index(1, 1), Qt::Unchecked, Qt::CheckStateRole));
    EXPECT_FALSE(model.setData(model.index(1, 0), "x", Qt::EditRole));
    EXPECT_TRUE(model.IsTicked(1));
}

// The cell texts of rows kept as bytes are cut from their hex text exactly where the hex text
// itself was cut: rows whose hex text is just under, at and over each limit.
TEST_F(HistoryModelTest, CellTextsOfRowsAroundTheLimitsAreCutFromTheirHexText) {
    const auto cutText = [](const std::string& hex, int limit) {
        const bool cut = hex.size() > static_cast<std::size_t>(limit);
        QString text = QString::fromLatin1(hex.data(), cut ? limit : static_cast<qsizetype>(hex.size()));
        if (cut) text += QChar(0x2026);
        return text;
    };
    int row = 0;
    for (const std::size_t n : {std::size_t{1}, std::size_t{66}, std::size_t{67}, std::size_t{170},
                                std::size_t{171}, std::size_t{172}, std::size_t{1000}}) {
        std::vector<uint8_t> bytes(n);
        for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(0x41 + i * 13);
        const std::string hex = link::HexEcho(bytes.data(), bytes.size());
        ASSERT_TRUE(model.AddRow(link::EchoRecord(bytes)));
        EXPECT_EQ(model.Echo(row), hex);
        EXPECT_EQ(model.Record(row).size(), n);
        EXPECT_EQ(model.index(row, 1).data(Qt::DisplayRole).toString(), cutText(hex, HistoryModel::kDisplayLimit)) << n;
        // The tooltip shows the bytes 16 to a line, the first kTooltipHexBytes of them.
        const QString tip = model.index(row, 1).data(Qt::ToolTipRole).toString();
        EXPECT_EQ(tip.count(QLatin1Char('\n')),
                  static_cast<qsizetype>((std::min(n, kTooltipHexBytes) - 1) / 16 + (n > kTooltipHexBytes ? 1 : 0)))
            << n;
        EXPECT_TRUE(QString::fromLatin1(hex).startsWith(tip.left(47))) << n;
        EXPECT_EQ(model.index(row, 1).data(HistoryModel::kFullTextRole).toString(), QString::fromLatin1(hex));
        EXPECT_EQ(model.Reading(row), HistoryReading(hex));
        ++row;
    }
}

TEST_F(HistoryModelTest, HugeRowIsShownBoundedAndKeptWhole) {
    const std::string echo = HugeEcho();
    model.AddRow("0A ");
    model.AddRow(echo);
    const QString hex = model.index(1, 1).data(Qt::DisplayRole).toString();
    EXPECT_EQ(hex.size(), HistoryModel::kDisplayLimit + 1);
    EXPECT_TRUE(hex.endsWith(QChar(0x2026)));
    EXPECT_TRUE(QString::fromLatin1(echo.data(), 600000).startsWith(hex.chopped(1)));

    const QString tips = model.index(1, 2).data(Qt::DisplayRole).toString();
    EXPECT_EQ(tips.size(), HistoryModel::kDisplayLimit + 1);
    EXPECT_TRUE(tips.startsWith("GS v 0 00 30 00 20 00 AA "));
    // The tooltips stay bounded: the first kTooltipHexBytes bytes of hex, the first commands.
    const QString hexTip = model.index(1, 1).data(Qt::ToolTipRole).toString();
    EXPECT_LE(hexTip.size(), static_cast<qsizetype>(kTooltipHexBytes * 3 + 64));
    EXPECT_TRUE(hexTip.endsWith(QStringLiteral(" more bytes")));
    EXPECT_LE(model.index(1, 2).data(Qt::ToolTipRole).toString().count(QLatin1Char('\n')),
              static_cast<qsizetype>(kTooltipCommands + 1));

    EXPECT_EQ(model.Echo(1), echo);
    EXPECT_EQ(model.index(1, 1).data(HistoryModel::kFullTextRole).toString().size(), 600000);
    EXPECT_EQ(model.Reading(1), HistoryReading(echo));
    EXPECT_EQ(model.index(1, 2).data(Qt::EditRole).toString().size(),
              static_cast<qsizetype>(HistoryReading(echo).size()));
    // A short row is not marked as cut.
    EXPECT_EQ(model.index(0, 1).data().toString(), "0A ");
}

TEST_F(HistoryModelTest, TooltipsShowTheWholeHexTextAndTheDecoding) {
    model.AddRow("1B 21 08 48 69 0A ");
    EXPECT_EQ(model.index(0, 1).data(Qt::ToolTipRole).toString(), QStringLiteral("1B 21 08 48 69 0A"));
    const QString decoding = model.index(0, 2).data(Qt::ToolTipRole).toString();
    EXPECT_EQ(decoding, QStringLiteral("0000  1B 21 08  ESC ! 08  print mode: emphasized\n"
                                       "0003  48 69  \"Hi\"\n"
                                       "0005  0A  LF  print and feed one line"));
    // 20 bytes: 16 to a line.
    model.AddRow("00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13 ");
    EXPECT_EQ(model.index(1, 1).data(Qt::ToolTipRole).toString(),
              QStringLiteral("00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\n10 11 12 13"));
}

TEST_F(HistoryModelTest, ClearRemovesEveryRow) {
    model.AddRow("0A ");
    model.AddRow("1B 40 ");
    int resets = 0;
    QObject::connect(&model, &QAbstractItemModel::modelReset, [&] { ++resets; });
    model.Clear();
    EXPECT_EQ(model.RowCount(), 0);
    EXPECT_EQ(resets, 1);
    model.AddRow("1B 40 ");
    EXPECT_EQ(model.RowCount(), 1);
    EXPECT_TRUE(model.IsTicked(0));
}

}  // namespace
}  // namespace pellory::app
