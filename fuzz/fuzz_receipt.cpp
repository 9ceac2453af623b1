// libFuzzer target: the receipt interpreter on any byte stream, fed in two pieces split where the
// first input byte says, drawing and decoding at once. It must neither crash nor read out of
// bounds, and the paper must stay within the roll's bound.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "receipt/interpreter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t split = size > 1 ? data[0] % size : 0;
    for (const int width : {pellory::receipt::kOrva58Dots, pellory::receipt::kOrva80Dots}) {
        pellory::receipt::Interpreter printer(width);
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
    return 0;
}
