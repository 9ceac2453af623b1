// The printer's modes: what the commands set that later commands read, apart from any painting.
// Text modes (font, print mode, size, underline, emphasis, spacing, tabs, margins, alignment),
// the characters' code table, international set and Kanji mode, the barcodes' and 2-D symbols'
// settings and stored data, the motion units, and page mode with its area and direction.
//
// One apply takes each command by its entry in the command table; the interpreter draws over the
// modes and asks them, and the decoding follows the same modes through the same apply with no
// paper. Distances are kept in dots: a value in motion units (GS P) is turned into dots when its
// command comes, as the printer does. Not thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "protocol/command_table.h"
#include "receipt/characters.h"
#include "receipt/page_mode.h"
#include "receipt/paper.h"
#include "receipt/symbols.h"

namespace pellory::receipt {

// The print head's resolution: 8 dots per mm. The motion units of GS P are 1/x inch; until set,
// one unit is one dot.
inline constexpr int kDotsPerInch = 203;

// n motion units of 1/unit inch, in dots, bounded to a million dots either way.
int MotionDots(int64_t n, int unit);

// What a command did to page mode, for the painter to follow with its page.
enum class PageStep : uint8_t {
    None,
    Entered,  // ESC L at the start of a line: page mode from now on
    Left,     // ESC S, FF or ESC @ in page mode: back to standard mode
    Framed,   // ESC W or ESC T taken: a new area or direction
};

struct PrinterModes {
    // The kinds of 2-D code other makers' GS Z n chooses for their ESC Z.
    static constexpr uint8_t kDialectPdf417 = 0, kDialectDataMatrix = 1, kDialectQr = 2;
    static constexpr int kDefaultLineSpacing = 33;
    static constexpr int kDefaultTabColumns = 8;  // a tab stop every 8 characters until ESC D

    explicit PrinterModes(charset::KanjiSystem model = charset::ModelKanjiSystem(protocol::kStartModel)) : kanjiModel(model) { reset(); }

    // Takes one complete command of the stream, by its entry: `lineStarted` tells whether a line
    // has begun in standard mode (ESC L is taken at the start of a line only) and `paperWidth`
    // the dots ESC W's area must fit in. Commands that set no mode leave the modes as they are.
    PageStep apply(protocol::CommandId id, const uint8_t* p, size_t n, bool lineStarted, int paperWidth);
    // The modes of the printer's start (ESC @); the stored symbol data's marks stay.
    void reset();
    // Back to standard mode, the line spacing and character spacing of standard mode back in use
    // and the page area let go (the paper changed, or a command left page mode).
    void leavePage();
    // Whether `id` ends page mode when it comes now (its page is then let go).
    bool endsPage(protocol::CommandId id) const {
        using Id = protocol::CommandId;
        return pageMode && (id == Id::StandardMode || id == Id::FormFeed || id == Id::Initialise);
    }

    // Dots of n motion units along the characters and down the lines: the horizontal and vertical
    // units, swapped in page mode's sideways directions.
    int across(int64_t n) const;
    int along(int64_t n) const;
    bool sideways() const;
    bool turnedNow() const { return turned && !pageMode; }  // ESC V is not applied in page mode
    // What ink the paper gets: the density, and red while the second colour is chosen.
    uint8_t ink() const { return static_cast<uint8_t>(density | (red ? Paper::kRedInk : 0)); }

    // Text.
    int font = 0;
    uint8_t mode = 0;             // ESC !
    bool emphasized = false;      // ESC E
    bool doubleStrike = false;    // ESC G (drawn as emphasis)
    int underline = 0;            // ESC -: 0, 1 or 2 dots
    bool reverse = false;         // GS B
    int sizeW = 1, sizeH = 1;     // GS ! or ESC !, whichever came last
    bool kanjiQuadruple = false;  // FS W: Kanji at double width and height
    bool condensed = false;       // ESC SI or SI (other families) until DC2: narrower cells
    bool lineWide = false;        // SO or ESC SO (other families): double width until the line ends or DC4
    bool turned = false;          // ESC V: characters turned 90 degrees clockwise
    bool upsideDown = false;      // ESC {
    bool userSet = false;         // ESC %: the user-defined characters print
    CharacterState chars;
    // The model's Kanji code system: ESC @ brings it back.
    charset::KanjiSystem kanjiModel = charset::ModelKanjiSystem(protocol::kStartModel);

    // Lines and the print area.
    int align = 0;
    int leftMargin = 0, rightMargin = 0;  // units of 8 dots
    int leftMarginDots = 0;               // GS L
    int printWidth = 0;                   // GS W, dots from the left margin; 0: to the right edge
    int lineSpacing = kDefaultLineSpacing;
    int charSpacing = 0;
    std::vector<int> tabs;  // character columns
    uint8_t density = Paper::kDefaultDensity;
    bool red = false;  // ESC r: the second colour

    // Symbols.
    int barWidth = 3, barHeight = 162, hri = 0, hriFont = 0;
    Symbols2D symbols2D;               // GS ( k: the settings and stored data of each symbol
    uint8_t symbolStores = 0;          // bit cn - 48: the stream stored data for that symbol (ESC @ keeps it)
    uint8_t dialectKind = kDialectQr;  // GS Z n: the kind ESC Z prints (kept until the next GS Z)

    // Page mode, and what ESC W, ESC T and GS P set (kept from standard mode on, as the printer
    // keeps them).
    bool pageMode = false;
    std::optional<PageArea> pageArea;  // ESC W; the page's default area while none is set
    PrintDirection direction = PrintDirection::LeftToRight;
    int unitX = kDotsPerInch, unitY = kDotsPerInch;  // GS P: 1/x and 1/y inch
    // ESC SP and ESC 3 have a value for each mode: the one of the mode not in use.
    int otherLineSpacing = kDefaultLineSpacing, otherCharSpacing = 0;

    bool operator==(const PrinterModes&) const = default;

private:
    void symbol2D(const uint8_t* p, size_t n);  // a GS ( k setting or store
    void otherFamily(protocol::CommandId id, const uint8_t* p, size_t n);
};

}  // namespace pellory::receipt
