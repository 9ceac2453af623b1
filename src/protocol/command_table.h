// The printer's commands: one table (command_table.cpp) that names each command, tells how long it
// is and what it does. The command splitter reads the lengths from it, the interpreter dispatches
// on its entries, the decoding and the history's "Tips" name commands by it, and the virtual printer
// finds the real-time requests by it. The functions of the function-coded commands (GS ( k, GS ( L,
// DLE DC4, ...) have a table of their own under this one (function_table.h).
//
// A command starts with its introducer: a control byte alone (LF), or ESC, FS, GS or DLE and a
// function byte (ESC !), or, where the byte after the function byte selects the command, those
// three (GS ( k, GS v 0). An entry with a two-byte introducer stands for every command of that
// introducer that no three-byte entry names.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "protocol/control_bytes.h"

namespace pellory::protocol {

// What a command does, broadly.
enum class CommandKind : uint8_t {
    RealTime,  // done at once, ahead of the print data (the DLE requests)
    Print,     // prints, feeds, positions or cuts
    Mode,      // sets a mode that later printing follows
    Image,     // carries or prints dot images
    Symbol,    // barcodes and 2D symbols
    Device,    // the printer itself: set-up, status, drawer, sensors, memory
};

// How long a command is, counted from its first byte. `head` is the size of its head: the bytes
// before its data (all of it for a Fixed command); `limit` bounds the data that end at a zero byte.
enum class Rule : uint8_t {
    Fixed,             // head bytes in all
    ZeroTerminated,    // data up to a zero byte, at most `limit` bytes before it (ESC D)
    Prefix16,          // the head ends with a 16-bit length pL pH; that many bytes follow (GS ( k)
    Prefix32,          // the head ends with a 32-bit length p1 p2 p3 p4; that many data bytes follow (GS 8 L)
    BitImage,          // ESC * m nL nH: nL + 256 nH columns of one byte, of three in the modes 32 and 33
    DownloadedImage,   // GS * x y: x * y * 8 bytes
    RasterImage,       // GS v 0 m xL xH yL yH: (xL + 256 xH) * (yL + 256 yH) bytes
    StoredImages,      // FS q n: n images, each xL xH yL yH and (xL + 256 xH) * (yL + 256 yH) * 8 bytes
    UserCharacters,    // ESC & y c1 c2: for each character c1..c2, x and y * x bytes; ends with the first
                       // y, code or x out of range (y 1-3, codes 32-126, x 0-12)
    TableRow,          // FS V k, k rules, c, c positions, then c cells: a style byte and a text up to
                       // a zero byte (at most `limit` bytes before it)
    Cut,               // GS V m: one byte n more with m 65, 66, 97, 98, 103 or 104
    Barcode,           // GS k m: m below 65: data up to a zero byte (at most `limit`); else n and n bytes
    RealTimeFunction,  // DLE DC4 fn: fn 1 to 3: 5 bytes; 7: 4; 8: 10; any other: 3
    PageArea,          // ESC W: `head` bytes, but ESC W n (n 0, 1, 48 or 49) with a byte of 8 or more
                       // after n is the 3-byte double-width command of the Star and ESC/P printers (as
                       // ESC W of this printer, it would start an area 2048 dots or more to the right)
    Unsized,           // its length is not read: it is taken as its introducer alone, as an unknown
                       // command is
};

struct LengthRule {
    Rule rule = Rule::Fixed;
    uint16_t head = 0;
    uint16_t limit = 0;
};

// The entries, in the order of the table.
enum class CommandId : uint8_t {
    // One control byte.
    HorizontalTab, LineFeed, FormFeed, CarriageReturn, Cancel, Null, CondensedOffEscP, CondensedSi, LineWideSo,
    LineWideOffDc4,
    // DLE
    RealTimeStatus, RealTimeRequest, RealTimeFunction,
    // ESC
    PageModePrint, CharacterSpacing, PrintMode, AbsolutePosition, UserCharacterSet,
    DefineUserCharacters, EscFunction, BitImage, Underline, DefaultLineSpacing, LineSpacing,
    ReturnHome, SelectDevice, CancelUserCharacter, Initialise, TabPositions, Emphasized,
    DoubleStrike, FeedDots, ReverseFeed, PageMode, Font, RightMargin, InternationalSet, StandardMode,
    PageDirection, Unidirectional, Rotation, PageArea, RelativePosition, Alignment, PaperSensors,
    FeedLines, ReverseFeedLines, PartialCut, ReverseFeedDots, LeftMargin, PrintDensity,
    DrawerPulse, PrintColour, CodeTable, PeripheralStatus, PaperStatus, UpsideDown, Beeper,
    CondensedEscP, ItalicOnEscP, ItalicOffEscP, LineWideEscSo, DialectSymbol,
    // FS
    KanjiPrintMode, KanjiOn, FsFunction, KanjiUnderline, KanjiOff, DefineKanji, KanjiCodeSystem,
    KanjiSpacing, TableRow, KanjiQuadruple, UserMemory, PrintStoredImage, StoreImages, PrintSpeed,
    KanjiFont,
    // GS
    CharacterSize, PageVerticalPosition, GsFunction, PrinterSetup, ProcessId, Graphics, Symbol2D,
    DefineDownloadedImage, PrintDownloadedImage, LargeGraphics, Macro, ReversePrinting, Counter,
    BarcodeTextPosition, PrinterId, LeftMarginDots, MotionUnits, VariableImage, LineStart, Cut,
    PrintAreaWidth, PageRelativePosition, RunMacro, AutomaticStatus, Smoothing, PrintCounter,
    BarcodeTextFont, MaintenanceCounter, BarcodeHeight, Barcode, StatusRequest, RasterFunction,
    RasterImage, BarcodeWidth, OnlineRecovery, TestPrint, CharacterEffects, CommandSetBematech,
    DialectSymbolKind,
    Count_
};

inline constexpr size_t kCommandCount = static_cast<size_t>(CommandId::Count_);

// The bytes that introduce a command: one, two or three.
struct Introducer {
    std::array<uint8_t, 3> bytes{};
    uint8_t size = 0;
};

enum CommandFlag : uint8_t {
    // The interpreter knows the command: the decoding names it (others it shows "unknown", with
    // the length the table gives), and it takes effect where it has one on the paper.
    kUnderstood = 1,
    // The byte after the function byte names a function or mode (ESC c 3, GS ( k, GS 8 L): the
    // "Tips" reading shows it as a character.
    kFunctionByte = 2,
    // A command of another printer family (ESC/P, Star, Bematech) that this printer does not know:
    // the decoding shows it "unknown" and names it by the other family's meaning; the interpreter
    // takes it at the length the other family has it, and draws its effect where that is clear
    // (condensed, one-line double width) or passes it by.
    kOtherFamily = 4,
    // The printer answers it (the virtual printer sends bytes back); of a function-coded command
    // the function table tells it for each function instead.
    kAnswers = 8,
    // The printer takes it but the paper shows nothing of it, now or later (a request, the
    // drawer, a setting the drawing has no part for).
    kNoPaperEffect = 16,
};

struct CommandEntry {
    CommandId id;
    Introducer introducer;
    LengthRule length;
    std::string_view mnemonic;    // "ESC !"
    std::string_view parameters;  // "n"
    std::string_view meaning;     // "print mode": what the decoding writes, before the values
    CommandKind kind;
    uint8_t flags;

    constexpr bool understood() const { return (flags & kUnderstood) != 0; }
    constexpr bool functionByte() const { return (flags & kFunctionByte) != 0; }
    constexpr bool otherFamily() const { return (flags & kOtherFamily) != 0; }
    constexpr bool answers() const { return (flags & kAnswers) != 0; }
    constexpr bool noPaperEffect() const { return (flags & kNoPaperEffect) != 0; }
};

// Every entry, in the order of CommandId.
std::span<const CommandEntry> CommandTable();
const CommandEntry& EntryOf(CommandId id);

// What the bytes at the start of a command are.
struct CommandMatch {
    enum class Status : uint8_t {
        Text,      // a text byte (0x20 and up): no command
        Found,     // entry names the command
        Unknown,   // a control byte or an introducer that no entry names
        NeedMore,  // the bytes end before the introducer does (or there are none)
    };
    Status status = Status::NeedMore;
    const CommandEntry* entry = nullptr;  // Found
};
CommandMatch MatchCommand(const uint8_t* p, size_t n);

// The entry of the command at p (its introducer whole in the n bytes), or nullptr.
inline const CommandEntry* FindCommand(const uint8_t* p, size_t n) {
    const CommandMatch m = MatchCommand(p, n);
    return m.status == CommandMatch::Status::Found ? m.entry : nullptr;
}

// The length of a command no entry names: DLE alone is one byte, ESC, FS and GS take their
// function byte (two bytes), a control byte is one.
constexpr size_t UnknownCommandLength(uint8_t first) { return first == kEsc || first == kFs || first == kGs ? 2 : 1; }

// Whether commands introduced by these two bytes carry a function byte (kFunctionByte).
bool HasFunctionByte(uint8_t first, uint8_t function);

}  // namespace pellory::protocol
