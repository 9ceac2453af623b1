// The printer's interpreter: fed with the byte stream in pieces as it arrives, it hands each
// command to the printer's modes (PrinterModes) and prints on its Paper over them as the printer
// would, dot for dot. Text, bit images
// of ESC * and the cells of FS V gather in a line that prints on LF, ESC J, ESC d or when it is
// full; raster images, barcodes and QR codes print at once, each starting a line of its own.
//
// Commands too long to hold whole (raster images, stored graphics and images past 64 KiB) are taken
// piece by piece as they come (see LongCommand): a raster image prints row by row, and the memory
// of the interpreter does not grow with the length of a command.
//
// Geometry: the paper is the print head's width (the model's, protocol/model_profile.h); margins
// of ESC l and ESC Q count 8 dots (one mm) per unit; line spacing, feeds and positions count dots.
// Not thread-safe: one thread feeds it and reads its paper.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "protocol/command_splitter.h"
#include "protocol/command_table.h"
#include "protocol/functions.h"
#include "protocol/model_profile.h"
#include "receipt/characters.h"
#include "receipt/decoding.h"
#include "receipt/decoding_lines.h"
#include "receipt/glyphs.h"
#include "receipt/long_command.h"
#include "receipt/page_mode.h"
#include "receipt/paper.h"
#include "receipt/picture_memory.h"
#include "receipt/printer_modes.h"
#include "receipt/symbol_maker.h"
#include "receipt/symbols.h"
#include "receipt/user_characters.h"

namespace pellory::receipt {

inline constexpr int kOrva58Dots = protocol::ProfileOf(protocol::Model::Orva58).paperDots;
inline constexpr int kOrva80Dots = protocol::ProfileOf(protocol::Model::Orva80).paperDots;

class Interpreter {
public:
    // The kinds of 2-D code other makers' GS Z n chooses for their ESC Z.
    static constexpr uint8_t kDialectPdf417 = PrinterModes::kDialectPdf417,
                             kDialectDataMatrix = PrinterModes::kDialectDataMatrix,
                             kDialectQr = PrinterModes::kDialectQr;

    // paperRows and atBound: the paper's bound (see Paper); the live view's 2 m roll unless given.
    explicit Interpreter(int widthDots = protocol::ProfileOf(protocol::kStartModel).paperDots, int64_t paperRows = Paper::kMaxRows,
                         Paper::AtBound atBound = Paper::AtBound::Scroll);

    // Takes the next bytes of the stream.
    void feed(const uint8_t* data, size_t n);
    void feed(const std::vector<uint8_t>& data) { feed(data.data(), data.size()); }
    // The end of the stream: bytes of a command that never completed are reported to the
    // decoding as an unknown command (a long command whose header came is named, with how much of
    // it came). The line still being gathered stays unprinted, as on the printer, until more
    // bytes come.
    void finish();

    // Each command, as it is interpreted. A text run comes as one command however the pieces cut
    // it (a run longer than kTextLineBytes in parts of at most that many bytes); it is handed
    // out when the next command comes, or at finish().
    static constexpr size_t kTextLineBytes = DecodingLines::kTextLineBytes;
    void setDecodeSink(std::function<void(const DecodedCommand&)> sink) { lines_.setSink(std::move(sink)); }
    // While drawing, the decoding says of a symbol that prints nothing what a decoding alone says:
    // its width against the widest paper, not against the print area drawn. For one pass that both
    // draws a stream and writes the decoding "pellory-cli decode" prints.
    void decodeAsAlone() { decodeAlone_ = true; }
    // Each cut, once its line is on the paper, with its row: nothing is drawn above it any more.
    void setCutSink(std::function<void(int64_t row)> sink) { cutSink_ = std::move(sink); }
    // Lets go of the paper above `row` (see Paper::tearOff); rows the printer has passed only.
    void tearOff(int64_t row) { paper_.tearOff(std::min(row, y_)); }
    // Called before each command, and after each line printed in standard mode (a long run of
    // text prints line after line within one command): the paper above position() is then final,
    // but for a reverse feed (ESC e, ESC K: a line's height at most, never above the last cut).
    void setProgressSink(std::function<void()> sink) { progressSink_ = std::move(sink); }
    // Ends the interpretation at once: the rest of the bytes being fed, and every byte fed later,
    // is passed by unread, and the paper stays as it is. For a drawing that is to stop now (from
    // a sink, a bound reached).
    void halt() { halted_ = true; }
    bool halted() const { return halted_; }
    // Long blank paper drawn short (interpreter_blank_runs.cpp): a run of blank paper (no ink, no
    // cut) longer than longerThan rows is drawn drawnAs rows tall (at most longerThan) with a mark
    // in its middle that says how long it was (BlankRunMark); the feeds past the bound never reach
    // the paper. 0: every run as long as it is (the default; the live view, render).
    void shortenBlankRuns(int64_t longerThan, int64_t drawnAs);
    // Ends a blank run being shortened: its mark is drawn now (the paper is to be handed out).
    // The run is ended by itself once anything is printed after it, by a cut and by finish().
    void endBlankRun();

    const Paper& paper() const { return paper_; }
    // See Paper::reserveRows.
    void reservePaper(int64_t rows) { paper_.reserveRows(rows); }
    // The paper row the next line starts at (the paper reaches at least this far).
    int64_t position() const { return y_; }
    size_t bytesFed() const { return offset_; }
    uint8_t density() const { return modes_.density; }
    const CharacterState& characterState() const { return modes_.chars; }
    // The modes the commands set so far.
    const PrinterModes& modes() const { return modes_; }

    // Empties the paper and starts again at its top; the modes stay.
    void clearPaper();
    // A new paper width (clears the paper).
    void setWidth(int widthDots);
    // The model's Kanji code system (GB18030 unless set): the Kanji mode reads in it from the
    // next ESC @ on, and at once.
    void setKanjiModel(charset::KanjiSystem system) {
        modes_.kanjiModel = system;
        modes_.chars.kanjiSystem = system;
    }

private:
    // A line holds at most this many pieces (characters, images, rules): a stream that never ends
    // its line prints it when it is full, as the printer's line buffer does.
    static constexpr size_t kMaxLineElements = 4096;
    // Far right of the paper: a position past it prints nothing, whatever more is added.
    static constexpr int kFarRight = 1 << 24;

    struct Element {
        int x = 0;
        int y = 0;  // offset from the line's top; -1: aligned to the line's bottom
        const Bitmap* bitmap = nullptr;
        uint8_t density = Paper::kDefaultDensity;
    };

    void command(const protocol::CommandView& view);
    void finishCommands();  // finish() but for the blank run
    void text(const uint8_t* p, size_t n);
    // The effect of a command on the modes and the paper, by its entry in the command table.
    void apply(protocol::CommandId id, const uint8_t* p, size_t n);
    // The print area a symbol is judged against (see SymbolArea).
    SymbolArea symbolArea() const;
    int areaLeft() const;
    int areaRight() const;
    int cellWidth() const;
    // The size characters print at, 1 to 8 times: of GS ! or ESC !, whichever came last; a Kanji
    // character at double width and height while FS W is on (and neither came after it); twice as
    // wide again (at most 8) on a line that SO made double width.
    int scaleX(bool kanji = false) const;
    int scaleY(bool kanji = false) const;
    uint8_t glyphStyle() const;
    uint64_t glyphLook(bool kanji = false) const;  // the text modes a styled glyph depends on, as a key
    const Bitmap& styledGlyph(char32_t ch, bool wide);
    void putCharacter(char32_t ch, bool wide);
    void placeGlyph(const Bitmap& glyph);
    // Puts the user-defined character of `code` in the current font, if ESC % chose them and
    // one is defined (interpreter_text_modes.cpp).
    bool putUserCharacter(uint8_t code);
    // ESC e, ESC K: prints the line, then feeds back (bounded, see kMaxReverseFeed).
    void reverseFeed(int dots);
    void putInLine(const Bitmap* bitmap, int width);
    // Prints the gathered line and feeds `feed` dots from its top (at least its height when
    // atLeastHeight).
    void printLine(int feed, bool atLeastHeight);
    void startLine();  // an empty line at the left of the area, in the upside-down mode now set
    // How ESC { and page mode take a block: Upright (GS v 0, the print buffer's graphics) prints as
    // it is; Turned (barcodes, 2-D codes, GS /) turns with ESC {; StandardOnly (FS p, stored
    // graphics) turns with ESC { and is ignored in page mode.
    enum class Block : uint8_t { Upright, Turned, StandardOnly };
    void printBlock(const Bitmap& block, Block kind);  // a picture, barcode or code, aligned
    void drawBitmap(const Bitmap& b, int x, int64_t y, uint8_t density);
    void bitImage(const uint8_t* p, size_t n);
    // Where a raster image goes: begun once its header is known, then row by row, then ended.
    struct RasterPlace {
        int x = 0;
        size_t xBytes = 0, usedBytes = 0;
        int sx = 1, sy = 1;
    };
    RasterPlace rasterStart(uint8_t mode, size_t xBytes);
    void rasterRow(const RasterPlace& place, size_t index, const uint8_t* src);
    void rasterEnd(const RasterPlace& place, size_t rows);
    void raster(const uint8_t* p, size_t n);
    // Long commands: the splitter's incomplete command taken over, fed (its rows drawn when draw),
    // and ended.
    void takeOverLong(bool draw);
    size_t feedLong(const uint8_t* data, size_t n, bool draw = true);
    void endLong(bool complete);
    void barcode(const uint8_t* p, size_t n);
    // The print of GS ( k (its settings and data are the modes') and of other makers' ESC Z, with
    // the symbol the modes make (interpreter_symbols.cpp).
    void symbol2D(const uint8_t* p, size_t n);
    void dialectSymbol(const uint8_t* p, size_t n);
    void tableRow(const uint8_t* p, size_t n);
    // Graphics and stored pictures (interpreter_graphics.cpp). graphics: d is m fn and the
    // function's parameters, of GS ( L and GS 8 L alike.
    void graphics(const uint8_t* d, size_t n);
    void defineGraphics(KeyedPictures& store, bool raster, const uint8_t* d, size_t n);
    void storeGraphics(bool raster, const uint8_t* d, size_t n);
    void printGraphicsBuffer();
    void graphicsRow(size_t index, const uint8_t* row);  // a row of a long GS 8 L function 112
    // A long definition (GS 8 L 67/68/83/84, FS q) is gathered as it comes, up to what the
    // capacities could take, and defined at its end.
    static bool IsLongDefinition(const uint8_t* p, size_t n);
    void gatherDefinition(const uint8_t* p, size_t n);
    void defineGathered();
    void storeImages(const uint8_t* p, size_t n);
    void printStoredImage(uint8_t number, uint8_t mode);
    void defineDownloadedImage(const uint8_t* p, size_t n);
    void printDownloadedImage(uint8_t mode);
    void cut(int feed);
    const Bitmap& keep(Bitmap b);

    // The position moves down to row `to` over paper left blank (a feed), a long blank run
    // shortened (interpreter_blank_runs.cpp).
    void feedTo(int64_t to);
    // Rows drawn blank (a blank image, blank lines) since the last ink: a long run is shortened.
    void shortenDrawnBlank();
    // Ends the blank run being shortened once anything is printed after it.
    void settleBlankRun() {
        if (blankRun_.open && paper_.inkEnd() > blankRun_.from) endBlankRun();
    }
    void openBlankRun(int64_t rows);  // a run of that many rows since the last ink

    // Page mode (interpreter_page.cpp). pageCommand takes the commands that act on the page once
    // the modes took theirs (step: what they did to page mode) and tells whether it did; the others
    // go on as in standard mode.
    bool pageCommand(protocol::CommandId id, const uint8_t* p, PageStep step);
    void openPage();   // the modes entered page mode: a page of the area and direction set
    void closePage();  // the modes leave page mode: the page is let go
    void printPage();
    // Puts the gathered line on the page with its top at the vertical position, then moves down
    // `feed` dots; the position across is kept when keepX (the line goes on from there).
    void placePageLine(int feed, bool keepX = false);
    void placePageBlock(const Bitmap& block);
    void movePageDown(int dots);
    // Dots of n motion units (GS P) along the characters and down the lines (see PrinterModes).
    int across(int64_t n) const { return modes_.across(n); }
    int along(int64_t n) const { return modes_.along(n); }
    bool turnedNow() const { return modes_.turnedNow(); }
    int lineLimit() const { return page_ ? page_->across() : paper_.width(); }  // a line's far edge

    Paper paper_;
    protocol::CommandSplitter splitter_;
    std::unique_ptr<LongCommand> long_;    // a long command being taken, if any
    std::optional<RasterPlace> longRaster_;  // where its rows go (a raster image, once begun)
    std::vector<uint8_t> rasterWide_;      // a raster row with its dots doubled
    DecodingLines lines_;                  // the decoding, while it has a sink
    bool decodeAlone_ = false;             // decodeAsAlone()
    std::function<void(int64_t)> cutSink_;
    std::function<void()> progressSink_;
    bool halted_ = false;
    // A run of blank paper being shortened, rows long: the paper holds blankDrawnAs_ rows of it
    // from row from, the position is past them.
    struct BlankRun {
        int64_t from = 0;
        int64_t rows = 0;
        bool open = false;
    };
    int64_t blankLongerThan_ = 0, blankDrawnAs_ = 0;  // 0: runs as they are
    BlankRun blankRun_;
    std::shared_ptr<const CharacterDecoder> decoder_;
    size_t offset_ = 0;

    PrinterModes modes_;
    SymbolMaker symbols_;
    uint8_t ink() const { return modes_.ink(); }
    PictureMemory pictures_;  // kept for the interpreter's life (ESC @ clears the downloaded image)
    // Graphics in the print buffer (GS ( L 112/113), one per colour 1-4 until printed.
    struct BufferedGraphics {
        Bitmap picture;
        int sx = 0, sy = 0;  // 0: none stored
    };
    std::array<BufferedGraphics, 4> graphicsBuffer_{};
    // Rows of a long GS 8 L function 112 beyond this many (the reference's most) are not kept.
    static constexpr int kMaxGraphicsRows = 1662;
    int longGraphics_ = -1;  // the buffer's colour its rows go to; -2: none (ignored)
    bool gatherLong_ = false;
    std::vector<uint8_t> longDefinition_;  // the long definition's bytes so far
    std::vector<uint8_t> lead_;  // lead byte of a Kanji pair cut by the end of a piece

    // The line being gathered.
    int x_ = 0;  // dots from the paper's left edge
    bool lineStarted_ = false;
    bool xSet_ = false;     // ESC $, ESC \ or HT placed the next character
    bool inTable_ = false;  // drawing the cells of FS V
    std::vector<Element> line_;
    std::vector<std::unique_ptr<Bitmap>> owned_;  // images of the line
    int64_t y_ = 0;

    bool lineUpsideDown_ = false;  // ESC { as it was when the line being gathered began
    UserCharacters userChars_;     // ESC &: kept until ESC @ or ESC ?
    // Styled user-defined characters, by font, code and look, made for the generation of the
    // definitions in userGlyphsOf_ (older ones move to owned_ while the line still shows them).
    std::unordered_map<uint64_t, std::unique_ptr<Bitmap>> userGlyphs_;
    uint64_t userGlyphsOf_ = 0;

    // Page mode: the page while in it (drawing only; its area and direction are the modes').
    std::unique_ptr<Page> page_;
    int pageY_ = 0;  // the top of the next line, in the direction's frame

    std::unordered_map<uint64_t, Bitmap> glyphs_;  // styled glyphs
    // Bit images of ESC * made before, by their command's bytes past ESC *: a logo sent the same
    // way on every receipt is turned into rows once. At most kBitImageMemo of them, each of a
    // command of at most kBitImageMemoBytes; emptied when full while no line shows one.
    static constexpr size_t kBitImageMemo = 64, kBitImageMemoBytes = 4096;
    std::unordered_map<std::string, Bitmap> bitImages_;
    std::vector<uint8_t> lineBuffer_;
    std::array<const Bitmap*, 128> asciiGlyphs_{};  // ASCII glyphs in the current style
    uint64_t asciiLook_ = ~uint64_t{0};
};

}  // namespace pellory::receipt
