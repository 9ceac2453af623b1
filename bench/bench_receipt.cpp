// Receipt rendering speed: the twelve samples together (target: under 50 ms), a 1 MB mixed
// stream (target: at least 20 MB/s), one second of a 115200-baud stream as the live view
// takes it (target: under 5 % of one core, that is under 50 ms per second of stream), and every
// stream of the shared corpus drawn and written as PNG one after another, as `pellory-cli render`
// does each (target: under 100 ms in all).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "pages/core/samples.h"
#include "receipt/interpreter.h"
#include "receipt/offline_roll.h"
#include "receipt/paper_image.h"
#include "receipt/paper_png.h"

namespace {

using pellory::receipt::Interpreter;
using Bytes = std::vector<uint8_t>;

Bytes SampleStream() {
    Bytes out;
    for (const auto& sample : pellory::samples::Samples()) {
        for (const auto& row : sample.rows) {
            const Bytes b = pellory::samples::RowBytes(row);
            out.insert(out.end(), b.begin(), b.end());
        }
    }
    return out;
}

// Text lines in changing modes, raster images, bit-image stripes and barcodes, to about 1 MB.
Bytes MixedStream(size_t size) {
    std::mt19937 rng(7);
    Bytes out;
    auto add = [&](std::initializer_list<int> v) {
        for (int b : v) out.push_back(static_cast<uint8_t>(b));
    };
    const std::string line = "Item 0042  Receipt renderer line     12.50\n";
    int k = 0;
    while (out.size() < size) {
        switch (k++ % 8) {
            case 0: add({0x1B, 0x21, 0x08}); break;
            case 1: add({0x1B, 0x21, 0x30}); break;
            case 2: add({0x1B, 0x21, 0x00}); break;
            case 3: {  // raster 48 bytes x 64 rows
                add({0x1D, 0x76, 0x30, 0, 48, 0, 64, 0});
                for (int i = 0; i < 48 * 64; ++i) out.push_back(static_cast<uint8_t>(rng()));
                break;
            }
            case 4: {  // 24-dot double-density stripe of 384 columns
                add({0x1B, 0x2A, 33, 0x80, 0x01});
                for (int i = 0; i < 384 * 3; ++i) out.push_back(static_cast<uint8_t>(rng()));
                add({0x1B, 0x4A, 24});
                break;
            }
            case 5: {
                add({0x1D, 0x6B, 0x43, 12});
                for (char c : std::string("012345678900")) out.push_back(static_cast<uint8_t>(c));
                break;
            }
            default: break;
        }
        for (int i = 0; i < 20; ++i) out.insert(out.end(), line.begin(), line.end());
    }
    return out;
}

void BM_TwelveSamples(benchmark::State& state) {
    const Bytes stream = SampleStream();
    for (auto _ : state) {
        Interpreter printer;
        printer.feed(stream);
        benchmark::DoNotOptimize(printer.paper().endRow());
    }
}
BENCHMARK(BM_TwelveSamples)->Unit(benchmark::kMillisecond);

void BM_MixedStream1MB(benchmark::State& state) {
    const Bytes stream = MixedStream(1u << 20);
    for (auto _ : state) {
        Interpreter printer;
        printer.feed(stream);
        benchmark::DoNotOptimize(printer.paper().endRow());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(stream.size()));
}
BENCHMARK(BM_MixedStream1MB)->Unit(benchmark::kMillisecond);

// One second of a 115200-baud stream (11,520 bytes) in 20 pieces of 50 ms, each followed by
// the picture of the 640 newest rows, as the window draws it.
void BM_LiveViewOneSecond(benchmark::State& state) {
    const Bytes stream = MixedStream(11520);
    for (auto _ : state) {
        Interpreter printer;
        const size_t piece = stream.size() / 20;
        for (size_t at = 0; at < stream.size(); at += piece) {
            printer.feed(stream.data() + at, std::min(piece, stream.size() - at));
            const auto& paper = printer.paper();
            const QImage view = pellory::receipt::PaperImage(paper, true, paper.endRow() - 640, paper.endRow());
            benchmark::DoNotOptimize(view.constBits());
        }
    }
}
BENCHMARK(BM_LiveViewOneSecond)->Unit(benchmark::kMillisecond);

// The streams of ../shared/escpos-corpus, each drawn on a roll of its own and written as one PNG
// (into memory), in the order of their names. "streams" counts them, "png_KB" what was written.
void BM_CorpusStreams(benchmark::State& state) {
    namespace fs = std::filesystem;
    std::vector<Bytes> streams;
    std::vector<fs::path> files;
    std::error_code ec;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(PELLORY_ESCPOS_CORPUS, ec)) {
        if (e.is_regular_file() && e.path().filename() != "README.md") files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
        std::ifstream in(file, std::ios::binary);
        streams.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    if (streams.size() < 40) {
        state.SkipWithError("the shared corpus (../shared/escpos-corpus) is missing");
        return;
    }
    size_t written = 0;
    for (auto _ : state) {
        written = 0;
        const pellory::receipt::ByteSink sink = [&written](const uint8_t*, size_t n) {
            written += n;
            return true;
        };
        for (const Bytes& stream : streams) {
            using pellory::receipt::OfflineRoll;
            OfflineRoll roll(pellory::receipt::kOrva58Dots, OfflineRoll::Pieces::WholeRoll,
                             [&sink](const pellory::receipt::Paper& paper, int64_t from, int64_t to) {
                                 return pellory::receipt::WritePaperPng(paper, from, to, sink,
                                                                        pellory::receipt::kRenderCompression);
                             });
            roll.feed(stream.data(), stream.size());
            roll.finish();
        }
    }
    state.counters["streams"] = static_cast<double>(streams.size());
    state.counters["png_KB"] = static_cast<double>(written) / 1000;
}
BENCHMARK(BM_CorpusStreams)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
