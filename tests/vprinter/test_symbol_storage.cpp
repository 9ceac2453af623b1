// The symbol storage area as the size request needs it: the settings and data GS ( k leaves for
// PDF417 and the QR code, taken as the renderer takes them; and the answer to GS ( k fn 82 over a
// real connection, byte for byte, from the size the program's measure gives (here one that
// reports what it was asked, in place of the renderer's, which the server may not use).
#include <gtest/gtest.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "protocol/command_splitter.h"
#include "support/server_clients.h"
#include "vprinter/symbol_storage.h"

namespace pellory::vprinter {
namespace {

using test::Bytes;
using test::HexBytes;
using Kind = StoredSymbol::Kind;

// GS ( k pL pH cn fn and the rest.
std::string Gsk(int cn, int fn, const std::string& rest = "") {
    const size_t n = 2 + HexBytes(rest).size();
    char head[48];
    std::snprintf(head, sizeof head, "1D 28 6B %02zX %02zX %02X %02X", n & 0xFF, n >> 8, cn, fn);
    return rest.empty() ? head : std::string(head) + " " + rest;
}

SymbolStorage Fed(const std::vector<std::string>& commands) {
    SymbolStorage s;
    for (const std::string& c : commands) {
        const Bytes b = HexBytes(c);
        for (const protocol::Command& cmd : protocol::SplitCommands(b).commands)
            s.take(cmd.bytes.data(), cmd.bytes.size());
    }
    return s;
}

TEST(SymbolStorage, SettingsAndDataAsTheRendererTakesThem) {
    struct Case {
        const char* name;
        std::vector<std::string> commands;
        Kind kind;
        StoredSymbol expected;
    };
    auto qr = [](int model, int module, int level, const char* data) {
        StoredSymbol s = StoredSymbol::Of(Kind::Qr);
        s.model = model;
        s.moduleSize = module;
        s.errorLevel = level;
        s.stored = data != nullptr;
        if (data) s.data = HexBytes(data);
        return s;
    };
    auto pdf = [](int columns, int rows, int width, int height, bool ratio, int error, bool truncated) {
        StoredSymbol s = StoredSymbol::Of(Kind::Pdf417);
        s.columns = columns;
        s.rows = rows;
        s.moduleWidth = width;
        s.rowHeight = height;
        s.errorByRatio = ratio;
        s.errorValue = error;
        s.truncated = truncated;
        return s;
    };
    const Case cases[] = {
        {"QR: model 1, module 6, level Q, data",
         {Gsk(49, 65, "31 00"), Gsk(49, 67, "06"), Gsk(49, 69, "32"), Gsk(49, 80, "30 41 42")},
         Kind::Qr,
         qr(1, 6, 2, "41 42")},
        {"QR: out of range is the default model and level, module size brought into 1..16",
         {Gsk(49, 65, "31 00"), Gsk(49, 69, "33"), Gsk(49, 65, "39 00"), Gsk(49, 69, "40"), Gsk(49, 67, "20")},
         Kind::Qr,
         qr(2, 16, 0, nullptr)},
        {"QR: the data stored last, the PDF417's apart",
         {Gsk(49, 80, "30 41"), Gsk(48, 80, "30 5A"), Gsk(49, 80, "30 42 43")},
         Kind::Qr,
         qr(2, 3, 0, "42 43")},
        {"PDF417: every setting in range",
         {Gsk(48, 65, "05"), Gsk(48, 66, "0A"), Gsk(48, 67, "04"), Gsk(48, 68, "05"), Gsk(48, 69, "30 33"),
          Gsk(48, 70, "01")},
         Kind::Pdf417,
         pdf(5, 10, 4, 5, false, 3, true)},
        {"PDF417: out of range is ignored, the setting before stays",
         {Gsk(48, 65, "05"), Gsk(48, 65, "1F"), Gsk(48, 66, "02"), Gsk(48, 67, "09"), Gsk(48, 68, "01"),
          Gsk(48, 69, "31 05"), Gsk(48, 69, "31 29"), Gsk(48, 69, "30 39"), Gsk(48, 70, "02")},
         Kind::Pdf417,
         pdf(5, 0, 3, 3, true, 5, false)},
        {"ESC @ forgets the data and the settings",
         {Gsk(49, 67, "08"), Gsk(49, 80, "30 41"), "1B 40"},
         Kind::Qr,
         qr(2, 3, 0, nullptr)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const SymbolStorage storage = Fed(c.commands);
        const StoredSymbol& got = storage.symbol(c.kind);
        const StoredSymbol& want = c.expected;
        EXPECT_EQ(got.kind, want.kind);
        EXPECT_EQ(got.stored, want.stored);
        EXPECT_EQ(got.data, want.data);
        EXPECT_EQ(got.columns, want.columns);
        EXPECT_EQ(got.rows, want.rows);
        EXPECT_EQ(got.moduleWidth, want.moduleWidth);
        EXPECT_EQ(got.rowHeight, want.rowHeight);
        EXPECT_EQ(got.errorByRatio, want.errorByRatio);
        EXPECT_EQ(got.errorValue, want.errorValue);
        EXPECT_EQ(got.truncated, want.truncated);
        EXPECT_EQ(got.model, want.model);
        EXPECT_EQ(got.moduleSize, want.moduleSize);
        EXPECT_EQ(got.errorLevel, want.errorLevel);
    }
}

// A measure that answers a size from the symbol's settings and data (module size or width times
// the data's length; "nofit" cannot be encoded) and counts its calls.
struct Measured {
    std::mutex m;
    int calls = 0;
    SymbolMeasure measure() {
        return [this](const StoredSymbol& s) -> std::optional<SymbolSize> {
            std::lock_guard lock(m);
            ++calls;
            if (std::string(s.data.begin(), s.data.end()) == "nofit") return std::nullopt;
            const int unit = s.kind == Kind::Qr ? s.moduleSize : s.moduleWidth;
            return SymbolSize{unit * static_cast<int>(s.data.size()), 7 * static_cast<int>(s.data.size())};
        };
    }
};

TEST(SymbolStorage, TheSizeAnswerOverAConnection) {
    struct Case {
        const char* name;
        std::string stream;
        const char* answer;  // empty: none
        int calls;           // of the measure
    };
    std::string twenty = "30";
    for (int i = 0; i < 20; ++i) twenty += " 41";
    std::string hundred = "30";
    for (int i = 0; i < 100; ++i) hundred += " 41";
    const Case cases[] = {
        // 5 x 20 = 100 dots by 7 x 20 = 140: "100" 1F "140" 1F "1" 1F "0" (printable) NUL.
        {"QR code", Gsk(49, 67, "05") + " " + Gsk(49, 80, twenty) + " " + Gsk(49, 82, "30"),
         "37 36 31 30 30 1F 31 34 30 1F 31 1F 30 00", 1},
        {"PDF417", Gsk(48, 67, "02") + " " + Gsk(48, 80, twenty) + " " + Gsk(48, 82, "30"),
         "37 2F 34 30 1F 31 34 30 1F 31 1F 30 00", 1},
        {"nothing stored: 0 x 0, not printable, the measure not asked", Gsk(49, 82, "30"),
         "37 36 30 1F 30 1F 31 1F 31 00", 0},
        {"stored, then forgotten by ESC @", Gsk(48, 80, twenty) + " 1B 40 " + Gsk(48, 82, "30"),
         "37 2F 30 1F 30 1F 31 1F 31 00", 0},
        {"data the symbol cannot hold", Gsk(49, 80, "30 6E 6F 66 69 74") + " " + Gsk(49, 82, "30"),
         "37 36 30 1F 30 1F 31 1F 31 00", 1},
        // 6 x 100 = 600 dots, past the ORVA80's 576: its size, and not printable.
        {"wider than the paper", Gsk(49, 67, "06") + " " + Gsk(49, 80, hundred) + " " + Gsk(49, 82, "30"),
         "37 36 36 30 30 1F 37 30 30 1F 31 1F 31 00", 1},
        {"m other than 48 is no request", Gsk(49, 80, twenty) + " " + Gsk(49, 82, "31"), "", 0},
        {"another symbol's size is not answered", Gsk(50, 82, "30"), "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Measured measured;
        ServerOptions options = test::LoopbackOptions();
        options.symbolMeasure = measured.measure();
        test::ServedPrinter printer(options);
        ASSERT_TRUE(printer.started) << printer.error;
        const auto client = printer.connect();
        ASSERT_TRUE(client->ok());
        // A real-time status request after it, answered at once, ahead of the size answer, which
        // waits for what came before it to print.
        const Bytes stream = HexBytes(c.stream + " 10 04 01");
        ASSERT_TRUE(client->send(stream));
        const Bytes expected = HexBytes(std::string("12 ") + c.answer);
        EXPECT_EQ(test::HexText(client->read(expected.size())), test::HexText(expected));
        EXPECT_EQ(client->readQuiet(200), Bytes{});
        std::lock_guard lock(measured.m);
        EXPECT_EQ(measured.calls, c.calls);
    }
}

TEST(SymbolStorage, ASilentPrinterAnswersNothingAndNoMeasureAnswersNoSymbol) {
    std::string twenty = "30";
    for (int i = 0; i < 20; ++i) twenty += " 41";
    const std::string request = Gsk(49, 80, twenty) + " " + Gsk(49, 82, "30") + " 10 04 01";
    {
        Measured measured;
        ServerOptions options = test::LoopbackOptions();
        options.symbolMeasure = measured.measure();
        options.states = kSilent;
        test::ServedPrinter printer(options);
        ASSERT_TRUE(printer.started) << printer.error;
        const auto client = printer.connect();
        ASSERT_TRUE(client->send(HexBytes(request)));
        EXPECT_EQ(client->readQuiet(300), Bytes{});
    }
    test::ServedPrinter printer(test::LoopbackOptions());
    ASSERT_TRUE(printer.started) << printer.error;
    const auto client = printer.connect();
    ASSERT_TRUE(client->send(HexBytes(request)));
    EXPECT_EQ(test::HexText(client->read(11)), "12 37 36 30 1F 30 1F 31 1F 31 00");
}

}  // namespace
}  // namespace pellory::vprinter
