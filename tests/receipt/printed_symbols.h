// Reads back every barcode and 2-D code on a receipt, whatever drew it (a barcode command, a 2-D
// code command, a picture of a code): the paper is cut into blocks at runs of blank rows, and each
// block is read by zbar, then by zxing-cpp where zbar reads nothing, then by zxing-cpp as one
// symbol alone (MaxiCode). Each symbol is named by a kind of its own, whichever reader read it, with
// its data as readers give it. Tests only.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "receipt_test_support.h"
#include "zxing_reader.h"

namespace pellory::receipt::test {

struct ReadBack {
    std::string kind;  // EAN13, EAN8, UPCA, UPCE, CODE39, CODE93, CODE128, ITF, CODABAR, QR, PDF417, ...
    std::string data;
    int64_t row = 0, end = 0;  // the rows [row, end) of the block it was read in
};

// The kind of a symbol by either reader's name of it; the name itself when it is neither's.
inline std::string KindOf(const std::string& readerName) {
    static const std::map<std::string, std::string> kinds = {
        {"EAN-13", "EAN13"},
        {"EAN-8", "EAN8"},
        {"UPC-A", "UPCA"},
        {"UPC-E", "UPCE"},
        {"CODE-39", "CODE39"},
        {"Code39", "CODE39"},
        {"CODE-93", "CODE93"},
        {"Code93", "CODE93"},
        {"CODE-128", "CODE128"},
        {"Code128", "CODE128"},
        {"I2/5", "ITF"},
        {"ITF", "ITF"},
        {"Codabar", "CODABAR"},
        {"QR-Code", "QR"},
        {"QRCode", "QR"},
        {"PDF417", "PDF417"},
        {"MaxiCode", "MAXICODE"},
        {"DataBar", "DATABAR"},
        {"DataMatrix", "DATAMATRIX"},
        {"DataBar-Exp", "DATABAR-EXPANDED"},
        {"DataBarExpanded", "DATABAR-EXPANDED"},
        {"Aztec", "AZTEC"},
    };
    const auto k = kinds.find(readerName);
    return k == kinds.end() ? readerName : k->second;
}

// Rows [from, to) of the paper on a paper of their own.
inline Paper RowsOfPaper(const Paper& p, int64_t from, int64_t to) {
    Paper rows(p.width());
    for (int64_t y = std::max(from, p.firstRow()); y < std::min(to, p.endRow()); ++y) {
        rows.extendTo(y - from + 1);
        rows.blit(y - from, 0, p.row(y), p.width(), Paper::kDefaultDensity);
    }
    return rows;
}

// The blocks of rows with ink, [first, end), apart where at least `gap` blank rows part them.
inline std::vector<std::pair<int64_t, int64_t>> InkBlocks(const Paper& p, int64_t gap) {
    std::vector<std::pair<int64_t, int64_t>> blocks;
    int64_t start = -1, lastInk = -1;
    for (int64_t y = p.firstRow(); y < p.endRow(); ++y) {
        const uint8_t* r = p.row(y);
        const bool ink = std::any_of(r, r + p.stride(), [](uint8_t b) { return b != 0; });
        if (!ink) continue;
        if (start >= 0 && y - lastInk > gap) {
            blocks.emplace_back(start, lastInk + 1);
            start = -1;
        }
        if (start < 0) start = y;
        lastInk = y;
    }
    if (start >= 0) blocks.emplace_back(start, lastInk + 1);
    return blocks;
}

// Every symbol on the paper, top to bottom, each once. The paper is read in blocks parted by 12
// blank rows, then again in blocks parted by 8 and by 3 (and in `steps`), for symbols printed close together (a QR
// code under another, a MaxiCode under a PDF417, which zxing-cpp reads only alone; the rows of
// hexagons of a MaxiCode stand up to 6 blank rows apart): zbar first, zxing-cpp where
// zbar reads nothing, zxing-cpp on the block as one symbol alone where neither does. A symbol read
// in both passes (its kind and data the same, its blocks overlapping) counts once.
// `steps` adds blocks of its own: the rows each print step drew (a printer leaves no quiet zone
// about a symbol, so a QR code printed right under another is one block of ink with it).
inline std::vector<ReadBack> ReadEverySymbol(const Paper& p,
                                             const std::vector<std::pair<int64_t, int64_t>>& steps = {}) {
    std::vector<ReadBack> out;
    const auto add = [&out](ReadBack r) {
        const bool seen = std::any_of(out.begin(), out.end(), [&r](const ReadBack& o) {
            return o.kind == r.kind && o.data == r.data && o.row < r.end && r.row < o.end;
        });
        if (!seen) out.push_back(std::move(r));
    };
    std::vector<std::vector<std::pair<int64_t, int64_t>>> passes;
    for (const int64_t gap : {12, 8, 3}) passes.push_back(InkBlocks(p, gap));
    passes.push_back(steps);
    for (const auto& blocks : passes) {
        for (const auto& [from, to] : blocks) {
            const Paper block = RowsOfPaper(p, from, to);
            const std::vector<ReadSymbol> zbar = ReadSymbols(block);
            for (const ReadSymbol& s : zbar) add({KindOf(s.type), s.data, from, to});
            if (!zbar.empty()) continue;
            std::vector<ZxingSymbol> zxing = ZxingRead(block);
            if (zxing.empty()) zxing = ZxingRead(block, INT64_MIN, INT64_MAX, true);
            for (const ZxingSymbol& s : zxing) add({KindOf(s.format), s.text, from, to});
        }
    }
    std::stable_sort(out.begin(), out.end(), [](const ReadBack& a, const ReadBack& b) { return a.row < b.row; });
    return out;
}

// Whether a symbol read as `read` holds the data `expected` of kind `kind`, as the manifest writes
// them: EAN and UPC by their digits with the check digit (a UPC-A may read as an EAN-13 with a
// leading 0), CODABAR with its start and stop characters (which a reader may leave out), CODE39
// without the '*' at its ends, GS1 data with or without the parentheses around its identifiers
// (GS1 DataBar: the 14 digits of its item number, with or without its identifier 01).
inline bool SameSymbol(const std::string& kind, const std::string& expected, const ReadBack& read) {
    const auto without = [](std::string s, const std::string& chars) {
        s.erase(std::remove_if(s.begin(), s.end(), [&](char c) { return chars.find(c) != std::string::npos; }),
                s.end());
        return s;
    };
    if (kind == "UPCA" && read.kind == "EAN13") return read.data == "0" + expected;
    if (read.kind != kind) return false;
    if (kind == "CODABAR") {
        const auto core = [](const std::string& s) {
            const bool ends = s.size() >= 2 && std::string("ABCDabcd").find(s.front()) != std::string::npos &&
                              std::string("ABCDabcd").find(s.back()) != std::string::npos;
            return ends ? s.substr(1, s.size() - 2) : s;
        };
        return core(read.data) == core(expected);
    }
    if (kind == "CODE39") return without(read.data, "*") == without(expected, "*");
    if (kind == "DATABAR") {
        const std::string d = without(read.data, "()");
        return d == expected || d == "01" + expected;
    }
    if (kind == "DATABAR-EXPANDED" || kind == "CODE128") {
        return read.data == expected || without(read.data, "()\x1d") == without(expected, "()");
    }
    return read.data == expected;
}

}  // namespace pellory::receipt::test
