// Typed text to printer bytes and received bytes to display text, against the Latin-1 rule's
// plain copy of the same amount of text in the same run (compare the ratios, not the times).
#include <benchmark/benchmark.h>

#include <string>

#include "charset/printer_text.h"
#include "pages/core/hex_text.h"

namespace {

using namespace pellory;

// 64 KiB of UTF-8 text with an accented letter in every word.
std::string Text() {
    std::string text;
    while (text.size() < 64 * 1024) text += "Caf\u00E9 cr\u00E8me br\u00FBl\u00E9e, na\u00EFve fa\u00E7ade. ";
    return text;
}

void BM_Latin1Copy(benchmark::State& state) {
    const std::string text = Text();
    for (auto _ : state) benchmark::DoNotOptimize(hextext::TextToWireBytes(text));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Latin1Copy);

void BM_EncodePc437(benchmark::State& state) {
    const std::string text = Text();
    const charset::PrinterState pc437;
    for (auto _ : state) benchmark::DoNotOptimize(charset::EncodeUtf8(text, pc437));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_EncodePc437);

void BM_EncodeKanji(benchmark::State& state) {
    std::string text;
    while (text.size() < 64 * 1024) text += "\u4E2D\u6587\u6253\u5370\u6D4B\u8BD5 ABC ";
    const charset::PrinterState kanji{charset::CodeTable::PC437, 0, true};
    for (auto _ : state) benchmark::DoNotOptimize(charset::EncodeUtf8(text, kanji));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_EncodeKanji);

void BM_DisplayPc437(benchmark::State& state) {
    const charset::EncodeResult bytes = charset::EncodeUtf8(Text(), charset::PrinterState{});
    for (auto _ : state) {
        benchmark::DoNotOptimize(charset::DisplayText(bytes.bytes.data(), bytes.bytes.size(), charset::PrinterState{}));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.bytes.size()));
}
BENCHMARK(BM_DisplayPc437);

// Two-byte codes back to characters: the Chinese text of BM_EncodeKanji as GB18030 bytes, shown.
void BM_DisplayKanji(benchmark::State& state) {
    std::string text;
    while (text.size() < 64 * 1024) text += "\u4E2D\u6587\u6253\u5370\u6D4B\u8BD5 ABC ";
    const charset::PrinterState kanji{charset::CodeTable::PC437, 0, true};
    const charset::EncodeResult bytes = charset::EncodeUtf8(text, kanji);
    for (auto _ : state) benchmark::DoNotOptimize(charset::DisplayText(bytes.bytes.data(), bytes.bytes.size(), kanji));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.bytes.size()));
}
BENCHMARK(BM_DisplayKanji);

}  // namespace

BENCHMARK_MAIN();
