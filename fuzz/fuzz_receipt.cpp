// libFuzzer target: the receipt interpreter on any byte stream, fed in two pieces split where the
// first input byte says, drawing and decoding at once. It must neither crash nor read out of
// bounds, and the paper must stay within the roll's bound. The first byte's high bits choose
// the model's Kanji code system, so that every system reads two-byte text. The same stream is also drawn offline
// a receipt at a time on a short bounded paper, each receipt written as a PNG: every picture
// lies within the rows the paper still holds and within the bound.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "receipt/interpreter.h"
#include "receipt/offline_roll.h"
#include "receipt/paper_png.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t split = size > 1 ? data[0] % size : 0;
    for (const int width : {pellory::receipt::kOrva58Dots, pellory::receipt::kOrva80Dots}) {
        pellory::receipt::Interpreter printer(width);
        printer.setKanjiModel(static_cast<pellory::charset::KanjiSystem>((data[0] >> 4) % 5));
        size_t lines = 0;
        printer.setDecodeSink([&](const pellory::receipt::DecodedCommand& c) {
            lines += pellory::receipt::FormatDecoded(c).empty() ? 0 : 1;
        });
        printer.feed(data + 1, split);
        printer.feed(data + 1 + split, size - 1 - split);
        printer.finish();
        if (printer.paper().keptRows() > static_cast<size_t>(pellory::receipt::Paper::kMaxRows)) std::abort();
        if (printer.bytesFed() != size - 1) std::abort();
    }
    using pellory::receipt::OfflineRoll;
    constexpr int64_t kBound = 600;
    OfflineRoll roll(pellory::receipt::kOrva58Dots, OfflineRoll::Pieces::EachReceipt,
                     [](const pellory::receipt::Paper& paper, int64_t from, int64_t to) {
                         if (from < paper.firstRow() || to > paper.endRow() || to - from > kBound || to <= from) std::abort();
                         size_t bytes = 0;
                         const bool written = pellory::receipt::WritePaperPng(paper, from, to, [&](const uint8_t*, size_t n) {
                             bytes += n;
                             return true;
                         });
                         if (!written || bytes == 0) std::abort();
                         return true;
                     },
                     kBound);
    if (roll.feed(data + 1, split)) roll.feed(data + 1 + split, size - 1 - split);
    roll.finish();
    return 0;
}
