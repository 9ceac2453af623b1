// What the printer samples and the status lamps of the "Printer Test" page must produce, written
// out by hand from the printer commands (not taken from the program's own sample table), so that
// the page tests and the command-line tests check against the same independent expectations.
//
// Each sample lists its history rows in order, the title rows included; the bytes the printer
// receives are the rows one after another.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "pages/core/sample_picture.h"

namespace pellory::test::expect {

using Bytes = std::vector<uint8_t>;

// Bytes from a hex text such as "1B 21 08".
inline Bytes H(std::string_view hex) {
    Bytes out;
    int nibbles = 0;
    uint8_t value = 0;
    for (char c : hex) {
        int v;
        if (c >= '0' && c <= '9') v = c - '0';
        else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
        else continue;
        value = static_cast<uint8_t>((value << 4) | v);
        if (++nibbles == 2) {
            out.push_back(value);
            nibbles = 0;
            value = 0;
        }
    }
    return out;
}

// The ASCII bytes of a text, without a terminating zero.
inline Bytes S(std::string_view text) { return Bytes(text.begin(), text.end()); }

// Several sends that form one history row.
inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// The echo form of bytes: two upper-case hex digits and a space per byte.
inline std::string EchoOf(const Bytes& bytes) {
    static const char* const kDigits = "0123456789ABCDEF";
    std::string out;
    for (uint8_t b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 0x0F];
        out += ' ';
    }
    return out;
}

struct SampleExpectation {
    const char* button;
    int controlId;
    const char* title;
    std::vector<Bytes> rows;  // history rows, in order
    uint32_t waitMs;          // how long the window waits after the rows
};

// The probe and the status request.
inline const std::string kRequestRow = "10 04 05 ";

// One row of the vertical-tab sample, in full.
inline Bytes VerticalTabRow() {
    return H("1C 56 05 00 08 10 18 20 04 02 0A 12 1A"
             " 02 20 20 4F 70 74 69 6F 6E 20 00"
             " 01 20 20 44 61 74 61 31 00"
             " 01 20 20 44 61 74 61 32 00"
             " 01 20 20 44 61 74 61 33 00");
}

inline const std::vector<SampleExpectation>& SampleExpectations() {
    static const std::vector<SampleExpectation> all = [] {
        const Bytes lf = H("0A");
        const Bytes feed = H("1B 4A 30");
        auto titled = [&](const char* title, std::vector<Bytes> own) {
            std::vector<Bytes> rows = {lf, H("1B 21 08"), S(title), lf, H("1B 21 00")};
            rows.insert(rows.end(), own.begin(), own.end());
            return rows;
        };
        Bytes characters;
        for (int c = 0x20; c <= 0xFF; ++c) characters.push_back(static_cast<uint8_t>(c));
        const Bytes table = VerticalTabRow();
        const std::vector<uint8_t>& picture = samples::SamplePicture();

        std::vector<SampleExpectation> v;
        v.push_back({"Font Sample", 1038, "Font", titled("Font", {characters, lf, lf, feed}), 1000});
        v.push_back({"Print and Feed", 1039, "Print and Paper Feed",
                     titled("Print and Paper Feed",
                            {S("Print and Feed Paper 100 dot-line"), H("1B 4A 64"), H("1B 21 08"),
                             S("Print and Paper Feed"), lf, Cat({H("1B 21 00"), S("Print and Feed Paper 2 line")}),
                             H("1B 64 02")}),
                     0});
        v.push_back({"Margins", 1003, "Margins",
                     titled("Margins", {H("1B 6C 0A"), H("1B 51 0A"),
                                        S("Left Margins and Right Margins of 80 dots, the print buffer also "
                                          "according to the page margins automatically print control"),
                                        lf, feed, H("1B 6C 00"), H("1B 51 00")}),
                     0});
        v.push_back({"Print Position", 1040, "Horizon Absolute Coordinates",
                     titled("Horizon Absolute Coordinates",
                            {H("1B 24 64 00"), S("Coordinates is 100 dots"), lf, S("Coordinates only effective once"),
                             lf, feed}),
                     0});
        v.push_back({"Density", 1005, "Print Density",
                     titled("Print Density", {H("1B 6D 08"), S("Density of level 8"), lf, H("1B 6D 04"),
                                              S("Density of level 4"), lf, feed}),
                     0});
        v.push_back({"H tab", 1006, "Horizontal Tab",
                     titled("Horizontal Tab",
                            {H("1B 44 0C 18 00"), H("1B 21 08"), S("Option A"), H("09"), S("Option B"), H("09"),
                             S("Option C"), lf, H("1B 21 00"), S("Data1"), H("09"), S("Data2"), H("09"), S("Data3"),
                             lf, feed}),
                     0});
        v.push_back({"Vert tab", 1007, "Vertial Tab", titled("Vertial Tab", {table, table, table, table, feed}), 0});
        v.push_back({"Image", 1008, "Bit Image",
                     titled("Bit Image", {Cat({H("1D 76 30 00 28 00 E2 00"), picture}), feed}), 0});
        v.push_back({"Alignment", 1009, "Horizontal Alignment",
                     titled("Horizontal Alignment", {H("1B 61 00"), S("left"), lf, H("1B 61 01"), S("Center"), lf,
                                                     H("1B 61 02"), S("Right"), lf, H("1B 61 00"), feed}),
                     0});
        v.push_back({"Barcode", 1010, "Barcode",
                     titled("Barcode", {S("Example: EAN13"), lf, H("1D 68 60"), H("1D 77 02"), H("1D 48 02"),
                                        H("1D 6B 43 0C 30 31 32 33 34 35 36 37 38 39 30 30"), feed}),
                     0});
        v.push_back({"QR Code", 1011, "QR code",
                     titled("QR code", {H("1D 28 6B 04 00 31 41 32 00"), H("1D 28 6B 03 00 31 43 05"),
                                        H("1D 28 6B 03 00 31 45 30"),
                                        Cat({H("1D 28 6B 1F 00 31 50 30"), S("Westhaven PELLRY Development")}),
                                        H("1D 28 6B 03 00 31 51 30"), feed}),
                     0});
        v.push_back({"Cut", 1012, "Cut Paper", titled("Cut Paper", {S("Haft-cut"), lf, H("1D 56 42 78"), feed}), 0});
        return v;
    }();
    return all;
}

// The history rows of a sample in echo form.
inline std::vector<std::string> EchoRows(const SampleExpectation& e) {
    std::vector<std::string> out;
    for (const Bytes& r : e.rows) out.push_back(EchoOf(r));
    return out;
}

// Everything the printer receives for a sample.
inline Bytes AllBytes(const SampleExpectation& e) {
    Bytes out;
    for (const Bytes& r : e.rows) out.insert(out.end(), r.begin(), r.end());
    return out;
}

// Lamps lit by a status byte, by caption.
struct LampExpectation {
    uint8_t status;
    std::vector<std::string> lit;
};

inline const std::vector<LampExpectation>& LampExpectations() {
    static const std::vector<LampExpectation> all = {
        {0x00, {"Online"}},
        {0x0C, {"Over Heat", "Paper Error"}},
        {0x12, {"Platen Open"}},
        {0x21, {"Over Voltage", "Cutter Error"}},
        {0x40, {}},
        {0x80, {}},
        {0x10, {}},  // no reply reads as 0x10
        {0x2F, {"Over Heat", "Paper Error", "Platen Open", "Over Voltage", "Cutter Error"}},
    };
    return all;
}

}  // namespace pellory::test::expect
