// The table of the functions of the function-coded commands (see function_table.h).
//
// Adding a function
// -----------------
// A function is one entry here, in its place by command, cn and fn, plus its effect where the
// interpreter draws it (src/receipt/) and its answer where the printer answers it
// (src/vprinter/printer_answers.cpp). The table test (tests/cli/test_command_functions.cpp)
// takes every entry with a sample of its bytes: a function without a sample there fails it, as
// does one whose sample the decoding calls unknown, one that changes nothing on the paper unless
// flagged kFunctionNoPaperEffect, and one flagged kFunctionAnswered that the printer leaves
// unanswered.
#include "protocol/function_table.h"

#include <algorithm>

namespace pellory::protocol {

namespace {

using Id = CommandId;

constexpr uint8_t kAnswered = kFunctionAnswered;
constexpr uint8_t kNoPaper = kFunctionNoPaperEffect;
constexpr uint8_t kRequest = kFunctionAnswered | kFunctionNoPaperEffect;

constexpr std::array<ParameterRange, 2> R(uint8_t low, uint8_t high) { return {ParameterRange{low, high}, {}}; }
constexpr std::array<ParameterRange, 2> R(uint8_t l1, uint8_t h1, uint8_t l2, uint8_t h2) {
    return {ParameterRange{l1, h1}, ParameterRange{l2, h2}};
}
constexpr std::array<ParameterRange, 2> kAny{};

namespace g = graphics;
namespace k = symbol2d;
namespace rt = realtime;

// In the order of CommandId.
constexpr FunctionLayout kLayouts[] = {
    {Id::RealTimeFunction, 0, 2, 0},    // DLE DC4 fn
    {Id::PaperSensors, 0, 2, 0},        // ESC c fn
    {Id::Beeper, 0, 5, 0},              // ESC ( A pL pH fn
    {Id::KanjiFont, 0, 5, 0},           // FS ( A pL pH fn
    {Id::PrinterSetup, 0, 5, 0},        // GS ( E pL pH fn
    {Id::ProcessId, 0, 5, 6},           // GS ( H pL pH fn m
    {Id::Graphics, 0, 6, 5},            // GS ( L pL pH m fn
    {Id::Symbol2D, 5, 6, 7},            // GS ( k pL pH cn fn m
    {Id::LargeGraphics, 0, 8, 7},       // GS 8 L p1 p2 p3 p4 m fn
    {Id::MaintenanceCounter, 0, 2, 0},  // GS g fn
    {Id::CharacterEffects, 0, 5, 0},    // GS ( N pL pH fn
};

// By command (in the order of CommandId), then cn, then fn.
constexpr FunctionEntry kFunctions[] = {
    // --- DLE DC4: the length of each function is the command's ---
    {Id::RealTimeFunction, 0, rt::kDrawerPulse, 0, "drawer pulse", "m t", R(0, 1, 1, 8), 2, 5, kNoPaper},
    {Id::RealTimeFunction, 0, rt::kPowerOff, 0, "power off", "a b", R(1, 1, 8, 8), 2, 5, kNoPaper},
    {Id::RealTimeFunction, 0, rt::kBuzzer, 0, "buzzer", "a n r t1 t2", kAny, 0, 8, kNoPaper},
    {Id::RealTimeFunction, 0, rt::kSendStatus, 0, "send the status m names (not answered here)", "m", kAny, 0, 4,
     kNoPaper},
    {Id::RealTimeFunction, 0, rt::kClearBuffers, 0, "clear the buffers", "d1...d7", R(1, 1, 3, 3), 2, 10, kRequest},

    // --- ESC c, ESC ( A, FS ( A, GS ( E, GS ( H ---
    {Id::PaperSensors, 0, '3', 0, "paper sensors that signal paper end", "n", kAny, 0, 0, kNoPaper},
    {Id::PaperSensors, 0, '4', 0, "paper sensors that stop printing", "n", kAny, 0, 0, kNoPaper},
    {Id::PaperSensors, 0, '5', 0, "panel buttons", "n", R(0, 1), 1, 0, kNoPaper},
    {Id::Beeper, 0, 97, 0, "beeper", "n c t1 t2", kAny, 0, 0, kNoPaper},
    {Id::KanjiFont, 0, 48, 0, "Kanji font", "m", R(0, 49), 1, 0, kNoPaper},
    {Id::PrinterSetup, 0, setup::kSerial, 0, "serial interface", "a d1...dk", R(setup::kBaudRate, setup::kFlowControl),
     1, 0, kNoPaper},
    {Id::ProcessId, 0, processid::kResponse, processid::kResponse, "process ID response", "d1 d2 d3 d4", kAny, 0, 0,
     kRequest},

    // --- GS ( L: m 48 ---
    {Id::Graphics, 0, g::kPrintBufferOld, g::kMode, "print the graphics buffer", "", kAny, 0, 0, 0},
    {Id::Graphics, 0, g::kPrintBuffer, g::kMode, "print the graphics buffer", "", kAny, 0, 0, 0},
    {Id::Graphics, 0, g::kDeleteAllNv, g::kMode, "delete all NV graphics", "d1 d2 d3 (CLR)", kAny, 0, 0, 0},
    {Id::Graphics, 0, g::kDeleteNv, g::kMode, "delete NV graphics", "kc1 kc2", R(32, 126, 32, 126), 2, 0, 0},
    {Id::Graphics, 0, g::kDefineNvRaster, g::kMode, "define NV graphics (raster)", "a kc1 kc2 b xL xH yL yH c d1...dk",
     R(48, 48, 32, 126), 2, 0, 0},
    {Id::Graphics, 0, g::kDefineNvColumn, g::kMode, "define NV graphics (columns)", "a kc1 kc2 b xL xH yL yH c d1...dk",
     R(48, 48, 32, 126), 2, 0, 0},
    {Id::Graphics, 0, g::kPrintNv, g::kMode, "print NV graphics", "kc1 kc2 x y", R(32, 126, 32, 126), 2, 0, 0},
    {Id::Graphics, 0, g::kDeleteAllNv + g::kDownloaded, g::kMode, "delete all downloaded graphics", "d1 d2 d3 (CLR)",
     kAny, 0, 0, 0},
    {Id::Graphics, 0, g::kDeleteNv + g::kDownloaded, g::kMode, "delete downloaded graphics", "kc1 kc2",
     R(32, 126, 32, 126), 2, 0, 0},
    {Id::Graphics, 0, g::kDefineNvRaster + g::kDownloaded, g::kMode, "define downloaded graphics (raster)",
     "a kc1 kc2 b xL xH yL yH c d1...dk", R(48, 48, 32, 126), 2, 0, 0},
    {Id::Graphics, 0, g::kDefineNvColumn + g::kDownloaded, g::kMode, "define downloaded graphics (columns)",
     "a kc1 kc2 b xL xH yL yH c d1...dk", R(48, 48, 32, 126), 2, 0, 0},
    {Id::Graphics, 0, g::kPrintNv + g::kDownloaded, g::kMode, "print downloaded graphics", "kc1 kc2 x y",
     R(32, 126, 32, 126), 2, 0, 0},
    {Id::Graphics, 0, g::kStoreRaster, g::kMode, "store raster graphics in the buffer", "a bx by c xL xH yL yH d1...dk",
     R(48, 48, 1, 2), 2, 0, 0},
    {Id::Graphics, 0, g::kStoreColumn, g::kMode, "store column graphics in the buffer", "a bx by c xL xH yL yH d1...dk",
     R(48, 48, 1, 2), 2, 0, 0},

    // --- GS ( k: by symbol ---
    {Id::Symbol2D, k::kPdf417, 65, 0, "PDF417: columns", "n", R(0, 30), 1, 0, 0},
    {Id::Symbol2D, k::kPdf417, 66, 0, "PDF417: rows", "n", R(0, 90), 1, 0, 0},
    {Id::Symbol2D, k::kPdf417, 67, 0, "PDF417: module width", "n", R(2, 8), 1, 0, 0},
    {Id::Symbol2D, k::kPdf417, 68, 0, "PDF417: row height", "n", R(2, 8), 1, 0, 0},
    {Id::Symbol2D, k::kPdf417, 69, 0, "PDF417: error correction", "m n", R(48, 49, 1, 56), 2, 0, 0},
    {Id::Symbol2D, k::kPdf417, 70, 0, "PDF417: standard or truncated", "m", R(0, 1), 1, 0, 0},
    {Id::Symbol2D, k::kPdf417, k::kStore, 48, "PDF417: store the data", "d1...dk", kAny, 0, 0, 0},
    {Id::Symbol2D, k::kPdf417, k::kPrint, 48, "PDF417: print", "", kAny, 0, 0, 0},
    {Id::Symbol2D, k::kPdf417, k::kSendSize, 48, "PDF417: send the size", "", kAny, 0, 0, kRequest},
    {Id::Symbol2D, k::kQr, qr::kModel, 0, "QR code: model", "n1 n2", R(49, 51, 0, 0), 2, 0, 0},
    {Id::Symbol2D, k::kQr, qr::kModuleSize, 0, "QR code: module size", "n", R(1, 16), 1, 0, 0},
    {Id::Symbol2D, k::kQr, qr::kErrorLevel, 0, "QR code: error correction", "n", R(48, 51), 1, 0, 0},
    {Id::Symbol2D, k::kQr, qr::kStore, 48, "QR code: store the data", "d1...dk", kAny, 0, 0, 0},
    {Id::Symbol2D, k::kQr, qr::kPrint, 48, "QR code: print", "", kAny, 0, 0, 0},
    {Id::Symbol2D, k::kQr, qr::kSendSize, 48, "QR code: send the size", "", kAny, 0, 0, kRequest},
    {Id::Symbol2D, k::kMaxiCode, 65, 0, "MaxiCode: mode", "n", R(50, 54), 1, 0, 0},
    {Id::Symbol2D, k::kMaxiCode, k::kStore, 48, "MaxiCode: store the data", "d1...dk", kAny, 0, 0, 0},
    {Id::Symbol2D, k::kMaxiCode, k::kPrint, 48, "MaxiCode: print", "", kAny, 0, 0, 0},
    {Id::Symbol2D, k::kMaxiCode, k::kSendSize, 48, "MaxiCode: send the size (not answered here)", "", kAny, 0, 0,
     kNoPaper},
    {Id::Symbol2D, k::kDataBar, 67, 0, "GS1 DataBar: module width", "n", R(2, 8), 1, 0, 0},
    {Id::Symbol2D, k::kDataBar, 71, 0, "GS1 DataBar: expanded stacked width", "nL nH", kAny, 0, 0, 0},
    {Id::Symbol2D, k::kDataBar, k::kStore, 48, "GS1 DataBar: store the data", "type d1...dk", R(72, 76), 1, 0, 0},
    {Id::Symbol2D, k::kDataBar, k::kPrint, 48, "GS1 DataBar: print", "", kAny, 0, 0, 0},
    {Id::Symbol2D, k::kDataBar, k::kSendSize, 48, "GS1 DataBar: send the size (not answered here)", "", kAny, 0, 0,
     kNoPaper},
    {Id::Symbol2D, k::kComposite, 67, 0, "composite symbol: module width", "n", R(2, 8), 1, 0, 0},
    {Id::Symbol2D, k::kComposite, 71, 0, "composite symbol: expanded stacked width", "nL nH", kAny, 0, 0, 0},
    {Id::Symbol2D, k::kComposite, 72, 0, "composite symbol: HRI font", "n", kAny, 0, 0, kNoPaper},
    {Id::Symbol2D, k::kComposite, k::kStore, 48, "composite symbol: store a part", "element type d1...dk", R(48, 49), 1,
     0, 0},
    {Id::Symbol2D, k::kComposite, k::kPrint, 48, "composite symbol: print", "", kAny, 0, 0, 0},
    {Id::Symbol2D, k::kComposite, k::kSendSize, 48, "composite symbol: send the size (not answered here)", "", kAny, 0,
     0, kNoPaper},
    {Id::Symbol2D, k::kAztec, 50, 0, "Aztec Code: mode and layers", "n1 n2", R(0, 1, 0, 32), 2, 0, 0},
    {Id::Symbol2D, k::kAztec, 51, 0, "Aztec Code: module size", "n", R(2, 16), 1, 0, 0},
    {Id::Symbol2D, k::kAztec, 53, 0, "Aztec Code: error correction", "n", R(5, 95), 1, 0, 0},
    {Id::Symbol2D, k::kAztec, k::kStore, 48, "Aztec Code: store the data", "d1...dk", kAny, 0, 0, 0},
    {Id::Symbol2D, k::kAztec, k::kPrint, 48, "Aztec Code: print", "", kAny, 0, 0, 0},
    {Id::Symbol2D, k::kAztec, k::kSendSize, 48, "Aztec Code: send the size (not answered here)", "", kAny, 0, 0,
     kNoPaper},
    {Id::Symbol2D, k::kDataMatrix, 66, 0, "DataMatrix: shape and size", "m d1 d2", R(0, 1), 1, 0, 0},
    {Id::Symbol2D, k::kDataMatrix, 67, 0, "DataMatrix: module size", "n", R(2, 16), 1, 0, 0},
    {Id::Symbol2D, k::kDataMatrix, k::kStore, 48, "DataMatrix: store the data", "d1...dk", kAny, 0, 0, 0},
    {Id::Symbol2D, k::kDataMatrix, k::kPrint, 48, "DataMatrix: print", "", kAny, 0, 0, 0},
    {Id::Symbol2D, k::kDataMatrix, k::kSendSize, 48, "DataMatrix: send the size (not answered here)", "", kAny, 0, 0,
     kNoPaper},

    // --- GS 8 L: m 48, the functions whose data may pass 64 KiB ---
    {Id::LargeGraphics, 0, g::kDefineNvRaster, g::kMode, "define NV graphics (raster)",
     "a kc1 kc2 b xL xH yL yH c d1...dk", R(48, 48, 32, 126), 2, 0, 0},
    {Id::LargeGraphics, 0, g::kDefineNvColumn, g::kMode, "define NV graphics (columns)",
     "a kc1 kc2 b xL xH yL yH c d1...dk", R(48, 48, 32, 126), 2, 0, 0},
    {Id::LargeGraphics, 0, g::kDefineNvRaster + g::kDownloaded, g::kMode, "define downloaded graphics (raster)",
     "a kc1 kc2 b xL xH yL yH c d1...dk", R(48, 48, 32, 126), 2, 0, 0},
    {Id::LargeGraphics, 0, g::kDefineNvColumn + g::kDownloaded, g::kMode, "define downloaded graphics (columns)",
     "a kc1 kc2 b xL xH yL yH c d1...dk", R(48, 48, 32, 126), 2, 0, 0},
    {Id::LargeGraphics, 0, g::kStoreRaster, g::kMode, "store raster graphics in the buffer",
     "a bx by c xL xH yL yH d1...dk", R(48, 48, 1, 2), 2, 0, 0},
    {Id::LargeGraphics, 0, g::kStoreColumn, g::kMode, "store column graphics in the buffer",
     "a bx by c xL xH yL yH d1...dk", R(48, 48, 1, 2), 2, 0, 0},

    // --- GS g, GS ( N ---
    {Id::MaintenanceCounter, 0, 48, 0, "reset a maintenance counter", "m nL nH", kAny, 0, 0, kNoPaper},
    {Id::MaintenanceCounter, 0, 50, 0, "send a maintenance counter (not answered here)", "m nL nH", kAny, 0, 0,
     kNoPaper},
    {Id::CharacterEffects, 0, 48, 0, "character colour", "m", R(48, 51), 1, 0, kNoPaper},
    {Id::CharacterEffects, 0, 49, 0, "background colour", "m", R(48, 51), 1, 0, kNoPaper},
    {Id::CharacterEffects, 0, 50, 0, "shading", "m", R(48, 49), 1, 0, kNoPaper},
};

constexpr auto Order(const FunctionEntry& e) { return static_cast<unsigned>(e.command) << 16 | e.cn << 8 | e.fn; }

// The layout of each command, by CommandId: its index in kLayouts, or -1.
constexpr std::array<int8_t, kCommandCount> MakeLayoutIndex() {
    std::array<int8_t, kCommandCount> x{};
    x.fill(-1);
    for (size_t i = 0; i < std::size(kLayouts); ++i)
        x[static_cast<size_t>(kLayouts[i].command)] = static_cast<int8_t>(i);
    return x;
}
constexpr std::array<int8_t, kCommandCount> kLayoutIndex = MakeLayoutIndex();

constexpr const FunctionLayout* Layout(CommandId c) {
    const int8_t i = kLayoutIndex[static_cast<size_t>(c)];
    return i < 0 ? nullptr : &kLayouts[static_cast<size_t>(i)];
}

constexpr bool LayoutsInOrder() {
    for (size_t i = 1; i < std::size(kLayouts); ++i) {
        if (kLayouts[i - 1].command >= kLayouts[i].command) return false;
    }
    for (const FunctionLayout& l : kLayouts) {
        // The function byte follows the symbol; a mode byte sits next to the function.
        if (l.fnAt < 2 || (l.cnAt != 0 && l.cnAt >= l.fnAt)) return false;
        if (l.mAt != 0 && l.mAt + 1 != l.fnAt && l.mAt != l.fnAt + 1) return false;
    }
    return true;
}
static_assert(LayoutsInOrder(), "the layouts follow CommandId, each once, fn after cn, m next to fn");

constexpr bool InOrderOnce() {
    for (size_t i = 1; i < std::size(kFunctions); ++i) {
        if (Order(kFunctions[i - 1]) >= Order(kFunctions[i])) return false;
    }
    return true;
}
static_assert(InOrderOnce(), "the functions are ordered by command, cn and fn, each once");

constexpr bool EntriesFitTheirLayouts() {
    for (const FunctionEntry& e : kFunctions) {
        const FunctionLayout* l = Layout(e.command);
        if (l == nullptr || e.name.empty()) return false;
        if ((e.cn != 0) != (l->cnAt != 0)) return false;  // a symbol exactly where the command has one
        if (e.m != 0 && l->mAt == 0) return false;
        if (e.ranges > e.range.size()) return false;
        for (size_t r = 0; r < e.ranges; ++r) {
            if (e.range[r].low > e.range[r].high) return false;
        }
        // Only DLE DC4 takes its length from its function, and every one of its functions gives it.
        if ((e.length != 0) != (e.command == Id::RealTimeFunction)) return false;
        if (e.length != 0 && e.length < l->fnAt + 1u + e.ranges) return false;
    }
    for (const FunctionLayout& l : kLayouts) {
        bool used = false;
        for (const FunctionEntry& e : kFunctions) used = used || e.command == l.command;
        if (!used) return false;
    }
    return true;
}
static_assert(EntriesFitTheirLayouts(),
              "each entry has a layout, a name, a symbol where its command has one, ranges low to high, and a "
              "length just where the function decides it (DLE DC4); each layout has entries");

constexpr bool Has(CommandId c, uint8_t cn, uint8_t fn, uint8_t flags = 0) {
    for (const FunctionEntry& e : kFunctions) {
        if (e.command == c && e.cn == cn && e.fn == fn) return (e.flags & flags) == flags;
    }
    return false;
}

// The names of functions.h are functions of the table.
constexpr bool NamesAreEntries() {
    for (uint8_t fn : {qr::kModel, qr::kModuleSize, qr::kErrorLevel, qr::kStore, qr::kPrint, qr::kSendSize}) {
        if (!Has(Id::Symbol2D, qr::kSymbol, fn)) return false;
    }
    for (uint8_t cn = k::kPdf417; cn <= k::kDataMatrix; ++cn) {
        for (uint8_t fn : {k::kStore, k::kPrint, k::kSendSize}) {
            if (!Has(Id::Symbol2D, cn, fn)) return false;
        }
    }
    for (uint8_t fn : {g::kPrintBufferOld, g::kPrintBuffer, g::kDeleteAllNv, g::kDeleteNv, g::kDefineNvRaster,
                       g::kDefineNvColumn, g::kPrintNv, g::kStoreRaster, g::kStoreColumn}) {
        if (!Has(Id::Graphics, 0, fn)) return false;
    }
    for (uint8_t fn : {rt::kDrawerPulse, rt::kPowerOff, rt::kBuzzer, rt::kSendStatus, rt::kClearBuffers}) {
        if (!Has(Id::RealTimeFunction, 0, fn)) return false;
    }
    return Has(Id::PrinterSetup, 0, setup::kSerial) && Has(Id::ProcessId, 0, processid::kResponse, kAnswered) &&
           Has(Id::Symbol2D, qr::kSymbol, qr::kSendSize, kAnswered);
}
static_assert(NamesAreEntries(), "every function functions.h names has its entry");

}  // namespace

std::span<const FunctionEntry> FunctionTable() { return kFunctions; }

std::span<const FunctionLayout> FunctionLayouts() { return kLayouts; }

const FunctionLayout* LayoutOf(CommandId command) { return Layout(command); }

const FunctionEntry* FindFunction(CommandId command, uint8_t cn, uint8_t fn) {
    const FunctionEntry key{command, cn, fn, 0, {}, {}, {}, 0, 0, 0};
    const auto* it =
        std::lower_bound(std::begin(kFunctions), std::end(kFunctions), key,
                         [](const FunctionEntry& a, const FunctionEntry& b) { return Order(a) < Order(b); });
    return it != std::end(kFunctions) && Order(*it) == Order(key) ? it : nullptr;
}

const FunctionEntry* FunctionOf(const CommandEntry& entry, const uint8_t* p, size_t n) {
    const FunctionLayout* l = Layout(entry.id);
    if (l == nullptr || n <= l->fnAt || n <= l->cnAt) return nullptr;
    // GS 8 carries graphics only as GS 8 L.
    if (entry.id == Id::LargeGraphics && p[2] != 'L') return nullptr;
    const FunctionEntry* e = FindFunction(entry.id, l->cnAt ? p[l->cnAt] : 0, p[l->fnAt]);
    if (e == nullptr || e->m == 0) return e;
    return n > l->mAt && p[l->mAt] == e->m ? e : nullptr;
}

size_t RealTimeFunctionLength(uint8_t fn) {
    const FunctionEntry* e = FindFunction(Id::RealTimeFunction, 0, fn);
    return e ? e->length : EntryOf(Id::RealTimeFunction).length.head;
}

}  // namespace pellory::protocol
