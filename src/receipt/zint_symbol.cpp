#include "receipt/zint_symbol.h"

#include <zint.h>

#include <algorithm>

namespace pellory::receipt::zint {

void SymbolDeleter::operator()(zint_symbol* s) const { ZBarcode_Delete(s); }

SymbolPtr Encode(int type, int inputMode, const std::string& data, std::string* error, const Options& options) {
    SymbolPtr s(ZBarcode_Create());
    if (!s) {
        if (error) *error = "out of memory";
        return nullptr;
    }
    s->symbology = type;
    s->input_mode = inputMode;
    s->option_1 = options.option1;
    s->option_2 = options.option2;
    s->option_3 = options.option3;
    s->show_hrt = 1;
    if (options.readerInit) s->output_options |= READER_INIT;
    if (!options.primary.empty()) {
        const size_t n = std::min(options.primary.size(), sizeof s->primary - 1);
        options.primary.copy(s->primary, n);
        s->primary[n] = 0;
    }
    const int rc =
        ZBarcode_Encode(s.get(), reinterpret_cast<const unsigned char*>(data.data()), static_cast<int>(data.size()));
    if (rc >= ZINT_ERROR) {
        if (error) *error = s->errtxt;
        return nullptr;
    }
    return s;
}

bool ModuleSet(const zint_symbol* s, int row, int column) {
    return (s->encoded_data[row][column >> 3] >> (column & 7)) & 1;
}
int Rows(const zint_symbol* s) { return s->rows; }
int Columns(const zint_symbol* s) { return s->width; }
std::string Text(const zint_symbol* s) { return reinterpret_cast<const char*>(s->text); }

int RowHeight(const zint_symbol* s, int row) {
    return row >= 0 && row < s->rows ? static_cast<int>(s->row_height[row] + 0.5f) : 0;
}

Bitmap Matrix(const zint_symbol* s, int moduleWidth, int moduleHeight, const std::vector<int>& rowHeights) {
    std::vector<int> top(static_cast<size_t>(s->rows) + 1, 0);
    for (int r = 0; r < s->rows; ++r) {
        const auto i = static_cast<size_t>(r);
        top[i + 1] = top[i] + (i < rowHeights.size() ? rowHeights[i] : moduleHeight);
    }
    Bitmap out(s->width * moduleWidth, top.back());
    for (int r = 0; r < s->rows; ++r) {
        for (int c = 0; c < s->width; ++c) {
            if (!ModuleSet(s, r, c)) continue;
            for (int y = top[static_cast<size_t>(r)]; y < top[static_cast<size_t>(r) + 1]; ++y) {
                for (int x = c * moduleWidth; x < (c + 1) * moduleWidth; ++x) out.set(x, y);
            }
        }
    }
    return out;
}

}  // namespace pellory::receipt::zint
