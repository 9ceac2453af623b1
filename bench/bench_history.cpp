// The command history under load: 10,000 rows, 100 of them raster images of 600,000 characters
// of echo text, added one by one to the history list and painted, next to a plain QListWidget
// holding the same rows.
//
// The "per_row" counters give the time per added row; the Repaint benchmarks give the time per
// repaint of the visible part of the list (one iteration = one scroll and one repaint).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QListWidget>
#include <QPixmap>
#include <QScrollBar>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "app/history_view.h"
#include "history/history_model.h"
#include "link/hex_echo.h"

namespace {

using pellory::app::HistoryView;

constexpr int kRows = 10000;
constexpr int kHugeEvery = 100;  // rows 99, 199, ...: 100 huge rows
constexpr std::size_t kHugeLength = 600000;
// The size of the history list in the main window (119 x 165 dialog units).
constexpr int kListWidth = 180;
constexpr int kListHeight = 270;

// The loaded lists of the repaint benchmarks, built once and destroyed before the application.
std::unique_ptr<HistoryView> g_history;
std::unique_ptr<QListWidget> g_list;

const std::vector<std::string>& Rows() {
    static const std::vector<std::string> rows = [] {
        const std::vector<std::string> commands = {
            "1B 61 01 ", "0A ", "10 04 05 ", "1B 21 08 ", "1D 28 6B 03 00 31 43 05 ",
            "1C 56 05 00 08 10 18 20 04 02 0A 12 1A ", "48 65 6C 6C 6F 2C 20 77 6F 72 6C 64 0A ",
            "1D 6B 43 0C 30 31 32 33 34 35 36 37 38 39 30 30 "};
        std::string huge = "1D 76 30 00 30 00 20 00 ";
        while (huge.size() < kHugeLength) huge += "AA ";
        std::vector<std::string> out;
        out.reserve(kRows);
        for (int i = 0; i < kRows; ++i) {
            out.push_back(i % kHugeEvery == kHugeEvery - 1 ? huge : commands[i % commands.size()]);
        }
        return out;
    }();
    return rows;
}

// The same rows as the pages hand them over: the bytes sent.
const std::vector<pellory::link::EchoRecord>& Records() {
    static const std::vector<pellory::link::EchoRecord> records(Rows().begin(), Rows().end());
    return records;
}

QString ListText(const std::string& echo) {
    return QString::fromLatin1(echo.data(), static_cast<qsizetype>(echo.size()));
}

void SetPerRow(benchmark::State& state, int rows) {
    state.counters["per_row"] = benchmark::Counter(
        rows, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

std::unique_ptr<HistoryView> NewHistoryView() {
    auto view = std::make_unique<HistoryView>();
    view->resize(kListWidth, kListHeight);
    view->SetUpColumns();
    view->show();
    QApplication::processEvents();
    return view;
}

std::unique_ptr<QListWidget> NewListWidget() {
    auto list = std::make_unique<QListWidget>();
    list->resize(kListWidth, kListHeight);
    list->show();
    QApplication::processEvents();
    return list;
}

// All 10,000 rows, added as the window adds them: one row per hand-over, scrolled to each.
void BM_HistoryView_AddRows(benchmark::State& state) {
    const auto& rows = Records();
    for (auto _ : state) {
        state.PauseTiming();
        auto view = NewHistoryView();
        state.ResumeTiming();
        for (const pellory::link::EchoRecord& echo : rows) view->Model().AddRow(echo);
        benchmark::DoNotOptimize(view->verticalScrollBar()->value());
        state.PauseTiming();
        view.reset();
        state.ResumeTiming();
    }
    SetPerRow(state, kRows);
}
BENCHMARK(BM_HistoryView_AddRows)->Unit(benchmark::kMillisecond)->Iterations(3);

// The same rows into a plain list widget, scrolled once at the end: scrolling to every new row
// lays out (and measures) every item again, see the next benchmark.
void BM_ListWidget_AddRows(benchmark::State& state) {
    const auto& rows = Rows();
    for (auto _ : state) {
        state.PauseTiming();
        auto list = NewListWidget();
        state.ResumeTiming();
        for (const std::string& echo : rows) list->addItem(ListText(echo));
        list->scrollToBottom();
        benchmark::DoNotOptimize(list->verticalScrollBar()->value());
        state.PauseTiming();
        list.reset();
        state.ResumeTiming();
    }
    SetPerRow(state, kRows);
}
BENCHMARK(BM_ListWidget_AddRows)->Unit(benchmark::kMillisecond)->Iterations(1);

// The plain list widget scrolled to every new row like the history: only the first 200 rows
// (two of them huge), the whole run would take hours.
void BM_ListWidget_AddRowsScrolling(benchmark::State& state) {
    const auto& rows = Rows();
    const int count = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        auto list = NewListWidget();
        state.ResumeTiming();
        for (int i = 0; i < count; ++i) {
            list->addItem(ListText(rows[i]));
            list->scrollToBottom();
        }
        state.PauseTiming();
        list.reset();
        state.ResumeTiming();
    }
    SetPerRow(state, count);
}
BENCHMARK(BM_ListWidget_AddRowsScrolling)->Arg(200)->Unit(benchmark::kMillisecond)->Iterations(1);

// Scroll positions for the repaints: the last page (a huge row at its bottom) and pages spread
// over the list, every other one with a huge row in sight.
std::vector<int> FirstRows(int visibleRows) {
    std::vector<int> first;
    for (int page = 1; page <= 20; ++page) {
        const int huge = page * 500 - 1;  // a huge row
        first.push_back(page % 2 ? huge - visibleRows / 2 : huge - visibleRows * 3);
    }
    first.push_back(kRows - visibleRows);
    return first;
}

void BM_HistoryView_Repaint(benchmark::State& state) {
    if (!g_history) {
        g_history = NewHistoryView();
        for (const pellory::link::EchoRecord& echo : Records()) g_history->Model().AddRow(echo);
        QApplication::processEvents();
    }
    HistoryView* view = g_history.get();
    const std::vector<int> first = FirstRows(view->viewport()->height() / view->RowHeight());
    std::size_t next = 0;
    for (auto _ : state) {
        view->scrollTo(view->Model().index(first[next++ % first.size()], 1),
                       QAbstractItemView::PositionAtTop);
        const QPixmap shot = view->viewport()->grab();
        benchmark::DoNotOptimize(shot.cacheKey());
    }
}
BENCHMARK(BM_HistoryView_Repaint)->Unit(benchmark::kMicrosecond)->MinTime(1.0);

void BM_ListWidget_Repaint(benchmark::State& state) {
    if (!g_list) {
        g_list = NewListWidget();
        for (const std::string& echo : Rows()) g_list->addItem(ListText(echo));
        g_list->scrollToBottom();
        QApplication::processEvents();
    }
    QListWidget* list = g_list.get();
    const int rowHeight = list->visualItemRect(list->item(0)).height();
    const std::vector<int> first = FirstRows(list->viewport()->height() / std::max(1, rowHeight));
    std::size_t next = 0;
    for (auto _ : state) {
        list->scrollToItem(list->item(first[next++ % first.size()]),
                           QAbstractItemView::PositionAtTop);
        const QPixmap shot = list->viewport()->grab();
        benchmark::DoNotOptimize(shot.cacheKey());
    }
}
BENCHMARK(BM_ListWidget_Repaint)->Unit(benchmark::kMicrosecond)->Iterations(21);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_history.reset();
    g_list.reset();
    return 0;
}
