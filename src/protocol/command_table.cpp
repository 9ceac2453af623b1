// The table of the printer's commands (see command_table.h).
//
// Adding a command
// ----------------
// A command is one entry here (with its name in CommandId, at the same place) plus its effect in
// the interpreter. Example: FS W n, Kanji at quadruple size while bit 0 of n is set. An entry with
// its length only (no kUnderstood) is bounded by the splitter, shown "unknown" by the decoding and
// passed by in the interpreter; FS W's is understood and named, the steps below draw it. A
// command without an entry is added the same way, starting with a new line here. A command of
// another printer family is flagged kOtherFamily: its length and that family's name for it.
//
//  1. The entry, understood (src/protocol/command_table.cpp; CommandId in command_table.h):
//        {Id::KanjiQuadruple, Fs('W'), Fixed(3), "FS W", "n", "Kanji quadruple size", Kind::Mode, kUnderstood},
//     The splitter takes FS W with its n wherever it reads a stream (virtual printer, renderer,
//     decoding), and the decoding writes "FS W 01  Kanji quadruple size".
//  2. Its effect, a case in PrinterModes::apply (src/receipt/printer_modes.cpp) on a mode the
//     interpreter reads where it draws Kanji (Interpreter::scaleX and scaleY):
//        case Id::KanjiQuadruple: kanjiQuadruple = a & 1; break;
//  3. Where the decoding should show the value too, a case in Detail (src/receipt/decoding.cpp):
//        case Id::KanjiQuadruple: m += OnOff(a); break;   // "Kanji quadruple size on"
//
// A length that none of the rules (Rule) tells needs a rule of its own: its case in RuleFrame
// (src/protocol/command_splitter.cpp) and in the generator of tests/receipt/test_length_rules.cpp.
// A command the virtual printer answers (a real-time request) is found by its entry in ReactTo
// (src/vprinter/printer_answers.cpp), for the printer server and the program's own printer alike.
#include "protocol/command_table.h"

namespace pellory::protocol {

namespace {

using Id = CommandId;
using Kind = CommandKind;

constexpr Introducer Single(uint8_t b) { return {{b, 0, 0}, 1}; }
constexpr Introducer Dle(uint8_t f) { return {{kDle, f, 0}, 2}; }
constexpr Introducer Esc(uint8_t f) { return {{kEsc, f, 0}, 2}; }
constexpr Introducer Fs(uint8_t f) { return {{kFs, f, 0}, 2}; }
constexpr Introducer Gs(uint8_t f) { return {{kGs, f, 0}, 2}; }
constexpr Introducer Gs(uint8_t f, uint8_t g) { return {{kGs, f, g}, 3}; }
constexpr Introducer Esc(uint8_t f, uint8_t g) { return {{kEsc, f, g}, 3}; }
constexpr Introducer Fs(uint8_t f, uint8_t g) { return {{kFs, f, g}, 3}; }

constexpr LengthRule Fixed(uint16_t size) { return {Rule::Fixed, size, 0}; }
constexpr LengthRule ZeroTerminated(uint16_t head, uint16_t limit) { return {Rule::ZeroTerminated, head, limit}; }
constexpr LengthRule Prefix16(uint16_t head) { return {Rule::Prefix16, head, 0}; }
constexpr LengthRule Prefix32(uint16_t head) { return {Rule::Prefix32, head, 0}; }
constexpr LengthRule Of(Rule rule, uint16_t head, uint16_t limit = 0) { return {rule, head, limit}; }
constexpr LengthRule kUnsized{Rule::Unsized, 2, 0};

constexpr uint8_t kBoth = kUnderstood | kFunctionByte;
// A request: answered, nothing on the paper.
constexpr uint8_t kRequest = kUnderstood | kAnswers | kNoPaperEffect;

// In the order of CommandId.
constexpr CommandEntry kTable[] = {
    // --- one control byte ---
    {Id::HorizontalTab, Single(kHt), Fixed(1), "HT", "", "next tab position", Kind::Print, kUnderstood},
    {Id::LineFeed, Single(kLf), Fixed(1), "LF", "", "print and feed one line", Kind::Print, kUnderstood},
    {Id::FormFeed, Single(kFf), Fixed(1), "FF", "", "print and feed one line", Kind::Print, kUnderstood},
    {Id::CarriageReturn, Single(kCr), Fixed(1), "CR", "", "carriage return (no feed)", Kind::Print,
     kUnderstood | kNoPaperEffect},
    {Id::Cancel, Single(kCan), Fixed(1), "CAN", "", "cancel (nothing to cancel)", Kind::Print,
     kUnderstood | kNoPaperEffect},
    {Id::Null, Single(kNul), Fixed(1), "NUL", "", "nothing (passed by)", Kind::Print, kUnderstood | kNoPaperEffect},
    {Id::CondensedOffEscP, Single(0x12), Fixed(1), "DC2", "", "ESC/P: condensed printing off", Kind::Mode,
     kOtherFamily},
    {Id::CondensedSi, Single(0x0F), Fixed(1), "SI", "", "ESC/P: condensed printing on", Kind::Mode, kOtherFamily},
    {Id::LineWideSo, Single(0x0E), Fixed(1), "SO", "", "ESC/P and Star: double width to the end of the line",
     Kind::Mode, kOtherFamily},
    {Id::LineWideOffDc4, Single(0x14), Fixed(1), "DC4", "", "ESC/P and Star: double width of SO off", Kind::Mode,
     kOtherFamily},

    // --- DLE: real-time ---
    {Id::RealTimeStatus, Dle(kEot), Fixed(3), "DLE EOT", "n", "status request", Kind::RealTime, kRequest},
    {Id::RealTimeRequest, Dle(kEnq), Fixed(3), "DLE ENQ", "n", "real-time request", Kind::RealTime,
     kUnderstood | kNoPaperEffect},
    {Id::RealTimeFunction, Dle(kDc4), Of(Rule::RealTimeFunction, 3), "DLE DC4", "fn (1, 2: m t; 3: a n r t1 t2; 7: m; 8: d1...d7)",
     "real-time function", Kind::RealTime, kUnderstood},

    // --- ESC ---
    {Id::PageModePrint, Esc(kFf), Fixed(2), "ESC FF", "", "print the page, page mode goes on", Kind::Print, kUnderstood},
    {Id::CharacterSpacing, Esc(' '), Fixed(3), "ESC SP", "n", "character spacing", Kind::Mode, kUnderstood},
    {Id::PrintMode, Esc('!'), Fixed(3), "ESC !", "n", "print mode", Kind::Mode, kUnderstood},
    {Id::AbsolutePosition, Esc('$'), Fixed(4), "ESC $", "nL nH", "absolute position", Kind::Print, kUnderstood},
    {Id::UserCharacterSet, Esc('%'), Fixed(3), "ESC %", "n", "user-defined characters", Kind::Mode, kUnderstood},
    {Id::DefineUserCharacters, Esc('&'), Of(Rule::UserCharacters, 5), "ESC &", "y c1 c2 [x d1...d(y*x)]...",
     "define user-defined characters", Kind::Image, kUnderstood},
    {Id::EscFunction, Esc('('), kUnsized, "ESC (", "fn pL pH ...", "function-coded command", Kind::Device, kFunctionByte},
    {Id::BitImage, Esc('*'), Of(Rule::BitImage, 5), "ESC *", "m nL nH d1...dk", "bit image", Kind::Image, kUnderstood},
    {Id::Underline, Esc('-'), Fixed(3), "ESC -", "n", "underline", Kind::Mode, kUnderstood},
    {Id::DefaultLineSpacing, Esc('2'), Fixed(2), "ESC 2", "", "default line spacing", Kind::Mode, kUnderstood},
    {Id::LineSpacing, Esc('3'), Fixed(3), "ESC 3", "n", "line spacing", Kind::Mode, kUnderstood},
    {Id::ReturnHome, Esc('<'), Fixed(2), "ESC <", "", "return home", Kind::Print, 0},
    {Id::SelectDevice, Esc('='), Fixed(3), "ESC =", "n", "select device", Kind::Device, kUnderstood},
    {Id::CancelUserCharacter, Esc('?'), Fixed(3), "ESC ?", "n", "cancel user-defined character", Kind::Mode, kUnderstood},
    {Id::Initialise, Esc('@'), Fixed(2), "ESC @", "", "initialise printer", Kind::Mode, kUnderstood},
    {Id::TabPositions, Esc('D'), ZeroTerminated(2, 32), "ESC D", "n1...nk NUL", "tab positions", Kind::Mode, kUnderstood},
    {Id::Emphasized, Esc('E'), Fixed(3), "ESC E", "n", "emphasized", Kind::Mode, kUnderstood},
    {Id::DoubleStrike, Esc('G'), Fixed(3), "ESC G", "n", "double-strike", Kind::Mode, kUnderstood},
    {Id::FeedDots, Esc('J'), Fixed(3), "ESC J", "n", "print and feed", Kind::Print, kUnderstood},
    {Id::ReverseFeed, Esc('K'), Fixed(3), "ESC K", "n", "print and feed back", Kind::Print, kUnderstood},
    {Id::PageMode, Esc('L'), Fixed(2), "ESC L", "", "page mode", Kind::Mode, kUnderstood},
    {Id::Font, Esc('M'), Fixed(3), "ESC M", "n", "font", Kind::Mode, kUnderstood},
    {Id::RightMargin, Esc('Q'), Fixed(3), "ESC Q", "n", "right margin", Kind::Mode, kUnderstood},
    {Id::InternationalSet, Esc('R'), Fixed(3), "ESC R", "n", "international character set", Kind::Mode, kUnderstood},
    {Id::StandardMode, Esc('S'), Fixed(2), "ESC S", "", "standard mode (the page is discarded)", Kind::Mode, kUnderstood},
    {Id::PageDirection, Esc('T'), Fixed(3), "ESC T", "n", "print direction in page mode", Kind::Mode, kUnderstood},
    {Id::Unidirectional, Esc('U'), Fixed(3), "ESC U", "n", "unidirectional printing", Kind::Mode, 0},
    {Id::Rotation, Esc('V'), Fixed(3), "ESC V", "n", "90-degree rotation", Kind::Mode, kUnderstood},
    {Id::PageArea, Esc('W'), Of(Rule::PageArea, 10), "ESC W", "xL xH yL yH dxL dxH dyL dyH", "print area in page mode",
     Kind::Mode, kUnderstood},
    {Id::RelativePosition, Esc('\\'), Fixed(4), "ESC \\", "nL nH", "relative position", Kind::Print, kUnderstood},
    {Id::Alignment, Esc('a'), Fixed(3), "ESC a", "n", "alignment", Kind::Mode, kUnderstood},
    {Id::PaperSensors, Esc('c'), Fixed(4), "ESC c", "fn n", "paper sensors", Kind::Device, kBoth},
    {Id::FeedLines, Esc('d'), Fixed(3), "ESC d", "n", "print and feed", Kind::Print, kUnderstood},
    {Id::ReverseFeedLines, Esc('e'), Fixed(3), "ESC e", "n", "print and feed back", Kind::Print, kUnderstood},
    {Id::PartialCut, Esc('i'), Fixed(2), "ESC i", "", "partial cut", Kind::Print, kUnderstood},
    {Id::ReverseFeedDots, Esc('j'), Fixed(3), "ESC j", "n", "print and feed back", Kind::Print, kUnderstood},
    {Id::LeftMargin, Esc('l'), Fixed(3), "ESC l", "n", "left margin", Kind::Mode, kUnderstood},
    {Id::PrintDensity, Esc('m'), Fixed(3), "ESC m", "n", "print density", Kind::Mode, kUnderstood},
    {Id::DrawerPulse, Esc('p'), Fixed(5), "ESC p", "m t1 t2", "drawer pulse", Kind::Device,
     kUnderstood | kNoPaperEffect},
    {Id::PrintColour, Esc('r'), Fixed(3), "ESC r", "n", "print colour", Kind::Mode, kUnderstood},
    {Id::CodeTable, Esc('t'), Fixed(3), "ESC t", "n", "code table", Kind::Mode, kUnderstood},
    {Id::PeripheralStatus, Esc('u'), Fixed(3), "ESC u", "n", "peripheral status", Kind::Device, 0},
    {Id::PaperStatus, Esc('v'), Fixed(2), "ESC v", "", "paper status", Kind::Device, 0},
    {Id::UpsideDown, Esc('{'), Fixed(3), "ESC {", "n", "upside-down", Kind::Mode, kUnderstood},
    {Id::Beeper, Esc('(', 'A'), Prefix16(5), "ESC ( A", "pL pH fn n c t1 t2", "beeper", Kind::Device, kBoth},
    {Id::CondensedEscP, Esc(0x0F), Fixed(2), "ESC SI", "", "ESC/P: condensed printing on", Kind::Mode, kOtherFamily},
    {Id::ItalicOnEscP, Esc('4'), Fixed(2), "ESC 4", "", "ESC/P: italic on (Star: highlight on)", Kind::Mode,
     kOtherFamily},
    {Id::ItalicOffEscP, Esc('5'), Fixed(2), "ESC 5", "", "ESC/P: italic off (Star: highlight off)", Kind::Mode,
     kOtherFamily},
    {Id::LineWideEscSo, Esc(0x0E), Fixed(2), "ESC SO", "", "ESC/P: double width to the end of the line", Kind::Mode,
     kOtherFamily},
    // Other makers' 2-D code: the kind GS Z chose, v e k, then nL + 256 nH bytes of data.
    {Id::DialectSymbol, Esc('Z'), Prefix16(7), "ESC Z", "v e k nL nH d1...dn", "other makers: print a 2-D code",
     Kind::Symbol, kOtherFamily},

    // --- FS ---
    {Id::KanjiPrintMode, Fs('!'), Fixed(3), "FS !", "n", "Kanji print mode", Kind::Mode, kUnderstood},
    {Id::KanjiOn, Fs('&'), Fixed(2), "FS &", "", "Kanji mode on", Kind::Mode, kUnderstood},
    // Data of at most 64 KiB, kept whole.
    {Id::FsFunction, Fs('('), Prefix16(5), "FS (", "fn pL pH d1...dk", "function-coded command", Kind::Mode, kFunctionByte},
    {Id::KanjiUnderline, Fs('-'), Fixed(3), "FS -", "n", "Kanji underline", Kind::Mode, kUnderstood},
    {Id::KanjiOff, Fs('.'), Fixed(2), "FS .", "", "Kanji mode off", Kind::Mode, kUnderstood},
    {Id::DefineKanji, Fs('2'), Fixed(4 + 72), "FS 2", "c1 c2 d1...d72", "define a 24 x 24 Kanji character", Kind::Image, 0},
    {Id::KanjiCodeSystem, Fs('C'), Fixed(3), "FS C", "n", "Kanji code system", Kind::Mode, kUnderstood},
    {Id::KanjiSpacing, Fs('S'), Fixed(4), "FS S", "n1 n2", "Kanji spacing", Kind::Mode, kUnderstood},
    {Id::TableRow, Fs('V'), Of(Rule::TableRow, 3, 255), "FS V", "k r1...rk c x1...xc [s text NUL]...", "table row",
     Kind::Print, kUnderstood},
    {Id::KanjiQuadruple, Fs('W'), Fixed(3), "FS W", "n", "Kanji quadruple size", Kind::Mode, kUnderstood},
    {Id::UserMemory, Fs('g'), kUnsized, "FS g", "fn ...", "user memory", Kind::Device, kFunctionByte},
    {Id::PrintStoredImage, Fs('p'), Fixed(4), "FS p", "n m", "print stored image", Kind::Image, kUnderstood},
    {Id::StoreImages, Fs('q'), Of(Rule::StoredImages, 3), "FS q", "n [xL xH yL yH d1...dk]...", "store images",
     Kind::Image, kUnderstood},
    {Id::PrintSpeed, Fs('s'), Fixed(3), "FS s", "n", "print speed", Kind::Mode, kUnderstood | kNoPaperEffect},
    {Id::KanjiFont, Fs('(', 'A'), Prefix16(5), "FS ( A", "pL pH fn m", "Kanji font", Kind::Mode, kBoth},

    // --- GS ---
    {Id::CharacterSize, Gs('!'), Fixed(3), "GS !", "n", "character size", Kind::Mode, kUnderstood},
    {Id::PageVerticalPosition, Gs('$'), Fixed(4), "GS $", "nL nH", "vertical position in page mode", Kind::Print, kUnderstood},
    // GS ( fn pL pH: data of at most 64 KiB, kept whole (the set-up commands are read).
    {Id::GsFunction, Gs('('), Prefix16(5), "GS (", "fn pL pH d1...dk", "function-coded command", Kind::Device, kFunctionByte},
    {Id::PrinterSetup, Gs('(', 'E'), Prefix16(5), "GS ( E", "pL pH fn d1...dk", "printer set-up", Kind::Device, kBoth},
    {Id::ProcessId, Gs('(', 'H'), Prefix16(5), "GS ( H", "pL pH fn m d1...d4", "process ID response", Kind::Device,
     kBoth},
    {Id::Graphics, Gs('(', 'L'), Prefix16(5), "GS ( L", "pL pH m fn d1...dk", "graphics", Kind::Image, kBoth},
    {Id::Symbol2D, Gs('(', 'k'), Prefix16(5), "GS ( k", "pL pH cn fn d1...dk", "2D symbol function", Kind::Symbol, kBoth},
    {Id::DefineDownloadedImage, Gs('*'), Of(Rule::DownloadedImage, 4), "GS *", "x y d1...d(x*y*8)",
     "define downloaded image", Kind::Image, kUnderstood},
    {Id::PrintDownloadedImage, Gs('/'), Fixed(3), "GS /", "m", "print downloaded image", Kind::Image, kUnderstood},
    {Id::LargeGraphics, Gs('8'), Prefix32(7), "GS 8", "fn p1 p2 p3 p4 d1...dk", "graphics (32-bit length)", Kind::Image,
     kBoth},
    {Id::Macro, Gs(':'), Fixed(2), "GS :", "", "macro definition start or end", Kind::Device, 0},
    {Id::ReversePrinting, Gs('B'), Fixed(3), "GS B", "n", "reverse printing", Kind::Mode, kUnderstood},
    {Id::Counter, Gs('C'), kUnsized, "GS C", "fn ...", "counter printing", Kind::Print, kFunctionByte},
    {Id::BarcodeTextPosition, Gs('H'), Fixed(3), "GS H", "n (position)", "barcode text", Kind::Symbol, kUnderstood},
    {Id::PrinterId, Gs('I'), Fixed(3), "GS I", "n", "printer ID", Kind::Device, kRequest},
    {Id::LeftMarginDots, Gs('L'), Fixed(4), "GS L", "nL nH", "left margin", Kind::Mode, kUnderstood},
    {Id::MotionUnits, Gs('P'), Fixed(4), "GS P", "x y", "motion units", Kind::Mode, kUnderstood},
    {Id::VariableImage, Gs('Q'), kUnsized, "GS Q", "fn ...", "variable-size bit image", Kind::Image, kFunctionByte},
    {Id::LineStart, Gs('T'), Fixed(3), "GS T", "n", "print position to the line's start", Kind::Print, 0},
    {Id::Cut, Gs('V'), Of(Rule::Cut, 3), "GS V", "m [n]", "cut", Kind::Print, kUnderstood},
    {Id::PrintAreaWidth, Gs('W'), Fixed(4), "GS W", "nL nH", "print area width", Kind::Mode, kUnderstood},
    {Id::PageRelativePosition, Gs('\\'), Fixed(4), "GS \\", "nL nH", "relative vertical position in page mode",
     Kind::Print, kUnderstood},
    {Id::RunMacro, Gs('^'), Fixed(5), "GS ^", "r t m", "run macro", Kind::Device, 0},
    {Id::AutomaticStatus, Gs('a'), Fixed(3), "GS a", "n", "automatic status back", Kind::Device, kRequest},
    {Id::Smoothing, Gs('b'), Fixed(3), "GS b", "n", "smoothing", Kind::Mode, kUnderstood},
    {Id::PrintCounter, Gs('c'), Fixed(2), "GS c", "", "print counter", Kind::Print, 0},
    {Id::BarcodeTextFont, Gs('f'), Fixed(3), "GS f", "n (font)", "barcode text", Kind::Symbol, kUnderstood},
    {Id::MaintenanceCounter, Gs('g'), Fixed(6), "GS g", "fn m nL nH", "maintenance counter", Kind::Device,
     kBoth},
    {Id::BarcodeHeight, Gs('h'), Fixed(3), "GS h", "n", "barcode height", Kind::Symbol, kUnderstood},
    {Id::Barcode, Gs('k'), Of(Rule::Barcode, 3, 255), "GS k", "m d1...dk NUL | m n d1...dn", "barcode", Kind::Symbol,
     kUnderstood},
    {Id::StatusRequest, Gs('r'), Fixed(3), "GS r", "n", "status request", Kind::Device, kRequest},
    {Id::RasterFunction, Gs('v'), kUnsized, "GS v", "fn ...", "raster image of another function", Kind::Image,
     kFunctionByte},
    {Id::RasterImage, Gs('v', '0'), Of(Rule::RasterImage, 8), "GS v 0", "m xL xH yL yH d1...dk", "raster image",
     Kind::Image, kBoth},
    {Id::BarcodeWidth, Gs('w'), Fixed(3), "GS w", "n", "barcode module width", Kind::Symbol, kUnderstood},
    {Id::OnlineRecovery, Gs('z'), kUnsized, "GS z", "fn ...", "online recovery wait", Kind::Device, kFunctionByte},
    {Id::TestPrint, Gs('(', 'A'), Prefix16(5), "GS ( A", "pL pH n m", "test print (not drawn)", Kind::Device,
     kBoth | kNoPaperEffect},
    {Id::CharacterEffects, Gs('(', 'N'), Prefix16(5), "GS ( N", "pL pH fn m", "character effects", Kind::Mode, kBoth},
    {Id::CommandSetBematech, Gs(0xF9, '5'), Fixed(4), "GS F9 5", "n", "Bematech: select the command set",
     Kind::Device, kOtherFamily},
    {Id::DialectSymbolKind, Gs('Z'), Fixed(3), "GS Z", "n", "other makers: 2-D code kind", Kind::Symbol, kOtherFamily},
};

static_assert(std::size(kTable) == kCommandCount, "one entry per CommandId");

constexpr bool InIdOrder() {
    for (size_t i = 0; i < std::size(kTable); ++i) {
        if (kTable[i].id != static_cast<CommandId>(i)) return false;
    }
    return true;
}
static_assert(InIdOrder(), "the entries follow the order of CommandId");

// The table says whether a command is answered, or leaves the paper as it is, only of a command the
// interpreter knows.
constexpr bool FlagsOfUnderstoodOnly() {
    for (const CommandEntry& e : kTable) {
        if ((e.answers() || e.noPaperEffect()) && !e.understood()) return false;
    }
    return true;
}
static_assert(FlagsOfUnderstoodOnly(), "only an understood command answers or is flagged as leaving the paper as it is");

// --- the index: from the introducer to the entry ---

constexpr int kNone = -1;
constexpr size_t kMaxTriples = 16;

constexpr int LeadIndex(uint8_t b) {
    switch (b) {
        case kEsc: return 0;
        case kFs: return 1;
        case kGs: return 2;
        case kDle: return 3;
        default: return kNone;
    }
}

struct Index {
    std::array<int16_t, 32> single{};                      // the entry of a one-byte command
    std::array<std::array<int16_t, 256>, 4> pair{};        // the entry of a two-byte introducer
    std::array<std::array<bool, 256>, 4> hasTriples{};     // three-byte entries under these two bytes
    std::array<std::array<bool, 256>, 4> functionByte{};
    std::array<int16_t, kMaxTriples> triples{};            // the entries of three-byte introducers
    size_t tripleCount = 0;
    bool valid = true;  // no introducer twice, every introducer of a form the lookup reads
};

constexpr Index MakeIndex() {
    Index x;
    x.single.fill(kNone);
    for (auto& row : x.pair) row.fill(kNone);
    for (size_t i = 0; i < std::size(kTable); ++i) {
        const Introducer& in = kTable[i].introducer;
        const auto e = static_cast<int16_t>(i);
        if (in.size == 1) {
            if (in.bytes[0] >= 32 || LeadIndex(in.bytes[0]) != kNone || x.single[in.bytes[0]] != kNone) x.valid = false;
            else x.single[in.bytes[0]] = e;
            continue;
        }
        const int lead = LeadIndex(in.bytes[0]);
        if (lead == kNone || in.size > 3) {
            x.valid = false;
            continue;
        }
        const auto l = static_cast<size_t>(lead);
        if (kTable[i].functionByte()) x.functionByte[l][in.bytes[1]] = true;
        if (in.size == 2) {
            if (x.pair[l][in.bytes[1]] != kNone) x.valid = false;
            x.pair[l][in.bytes[1]] = e;
            // An unsized command is taken as its introducer, as an unknown one is.
            if (kTable[i].length.rule == Rule::Unsized && UnknownCommandLength(in.bytes[0]) != 2) x.valid = false;
            continue;
        }
        for (size_t t = 0; t < x.tripleCount; ++t) {
            const Introducer& other = kTable[static_cast<size_t>(x.triples[t])].introducer;
            if (other.bytes == in.bytes) x.valid = false;
        }
        if (x.tripleCount == kMaxTriples) {
            x.valid = false;
            continue;
        }
        x.triples[x.tripleCount++] = e;
        x.hasTriples[l][in.bytes[1]] = true;
    }
    return x;
}

constexpr Index kIndex = MakeIndex();
static_assert(kIndex.valid, "every introducer once, of one to three bytes, led by ESC, FS, GS or DLE past one byte");

}  // namespace

std::span<const CommandEntry> CommandTable() { return kTable; }

const CommandEntry& EntryOf(CommandId id) { return kTable[static_cast<size_t>(id)]; }

CommandMatch MatchCommand(const uint8_t* p, size_t n) {
    using Status = CommandMatch::Status;
    if (n == 0) return {Status::NeedMore, nullptr};
    const uint8_t first = p[0];
    if (first >= kFirstText) return {Status::Text, nullptr};
    const int lead = LeadIndex(first);
    if (lead == kNone) {
        const int16_t e = kIndex.single[first];
        return e == kNone ? CommandMatch{Status::Unknown, nullptr} : CommandMatch{Status::Found, &kTable[static_cast<size_t>(e)]};
    }
    if (n < 2) return {Status::NeedMore, nullptr};
    const auto l = static_cast<size_t>(lead);
    const uint8_t function = p[1];
    if (kIndex.hasTriples[l][function]) {
        if (n < 3) return {Status::NeedMore, nullptr};
        for (size_t t = 0; t < kIndex.tripleCount; ++t) {
            const CommandEntry& e = kTable[static_cast<size_t>(kIndex.triples[t])];
            if (e.introducer.bytes[0] == first && e.introducer.bytes[1] == function && e.introducer.bytes[2] == p[2]) {
                return {Status::Found, &e};
            }
        }
    }
    const int16_t e = kIndex.pair[l][function];
    return e == kNone ? CommandMatch{Status::Unknown, nullptr} : CommandMatch{Status::Found, &kTable[static_cast<size_t>(e)]};
}

bool HasFunctionByte(uint8_t first, uint8_t function) {
    const int lead = LeadIndex(first);
    return lead != kNone && kIndex.functionByte[static_cast<size_t>(lead)][function];
}

}  // namespace pellory::protocol
