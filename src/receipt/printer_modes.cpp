#include "receipt/printer_modes.h"

#include <algorithm>
#include <utility>

#include "protocol/functions.h"

namespace pellory::receipt {

namespace {

using Id = protocol::CommandId;

size_t Word(const uint8_t* p) { return static_cast<size_t>(p[0]) | static_cast<size_t>(p[1]) << 8; }

// A position past this many dots down the page is far past any area: it stays there.
constexpr int kFarDown = 1 << 20;
// ESC W's bytes: ESC W xL xH yL yH dxL dxH dyL dyH (other families' ESC W n is shorter).
constexpr size_t kPageAreaBytes = 10;

}  // namespace

int MotionDots(int64_t n, int unit) {
    const int64_t dots = n * kDotsPerInch / std::max(unit, 1);
    return static_cast<int>(std::clamp<int64_t>(dots, -kFarDown, kFarDown));
}

void PrinterModes::reset() {
    font = 0;
    mode = 0;
    emphasized = doubleStrike = false;
    underline = 0;
    reverse = false;
    sizeW = sizeH = 1;
    kanjiQuadruple = condensed = lineWide = false;
    turned = upsideDown = userSet = false;
    chars = CharacterState{};
    chars.kanjiSystem = kanjiModel;
    align = 0;
    leftMargin = rightMargin = leftMarginDots = 0;
    printWidth = 0;
    lineSpacing = otherLineSpacing = kDefaultLineSpacing;
    charSpacing = otherCharSpacing = 0;
    tabs.clear();
    for (int c = kDefaultTabColumns; c < 256; c += kDefaultTabColumns) tabs.push_back(c);
    density = Paper::kDefaultDensity;
    red = false;
    barWidth = 3;
    barHeight = 162;
    hri = 0;
    hriFont = 0;
    symbols2D = Symbols2D{};
    unitX = unitY = kDotsPerInch;
    pageArea.reset();
    direction = PrintDirection::LeftToRight;
}

void PrinterModes::leavePage() {
    if (pageMode) {
        std::swap(lineSpacing, otherLineSpacing);
        std::swap(charSpacing, otherCharSpacing);
    }
    pageMode = false;
    pageArea.reset();  // ESC W returns to the default area
}

bool PrinterModes::sideways() const {
    return pageMode && (direction == PrintDirection::BottomToTop || direction == PrintDirection::TopToBottom);
}

int PrinterModes::across(int64_t n) const { return MotionDots(n, sideways() ? unitY : unitX); }
int PrinterModes::along(int64_t n) const { return MotionDots(n, sideways() ? unitX : unitY); }

PageStep PrinterModes::apply(protocol::CommandId id, const uint8_t* p, size_t n, bool lineStarted, int paperWidth) {
    const uint8_t a = n > 2 ? p[2] : 0;
    const auto fromAscii = [](uint8_t v) { return v >= 48 ? v - 48 : static_cast<int>(v); };
    switch (id) {
        // Page mode and what holds in either mode.
        case Id::MotionUnits:
            unitX = a ? a : kDotsPerInch;
            unitY = p[3] ? p[3] : kDotsPerInch;
            break;
        case Id::PageArea: {
            if (n < kPageAreaBytes) break;
            const std::optional<PageArea> area = Page::Fit(MotionDots(static_cast<int64_t>(Word(p + 2)), unitX),
                                                           MotionDots(static_cast<int64_t>(Word(p + 4)), unitY),
                                                           MotionDots(static_cast<int64_t>(Word(p + 6)), unitX),
                                                           MotionDots(static_cast<int64_t>(Word(p + 8)), unitY),
                                                           paperWidth);
            if (!area) break;  // an origin outside the page or a size of 0: ignored
            pageArea = area;
            return PageStep::Framed;
        }
        case Id::PageDirection: {
            const std::optional<PrintDirection> d = DirectionOf(a);
            if (!d) break;
            direction = *d;
            return PageStep::Framed;
        }
        case Id::PageMode:  // taken at the start of a line in standard mode only
            if (pageMode || lineStarted) break;
            pageMode = true;
            std::swap(lineSpacing, otherLineSpacing);
            std::swap(charSpacing, otherCharSpacing);
            return PageStep::Entered;
        case Id::StandardMode:
        case Id::FormFeed:  // in standard mode, a line feed
            if (!pageMode) break;
            leavePage();
            return PageStep::Left;
        case Id::Initialise: {
            const bool wasPage = pageMode;
            leavePage();
            reset();
            return wasPage ? PageStep::Left : PageStep::None;
        }

        // Text.
        case Id::CharacterSpacing:
            charSpacing = across(a);
            break;
        case Id::PrintMode:  // bit 0 chooses the font as ESC M does: Font1 or Font2
            mode = a;
            font = a & 1;
            // The size as its bits 5 and 4 say (single or double), in place of what GS ! set.
            sizeW = (a & protocol::kModeDoubleWidth) ? 2 : 1;
            sizeH = (a & protocol::kModeDoubleHeight) ? 2 : 1;
            kanjiQuadruple = false;
            break;
        case Id::Underline:
            underline = fromAscii(a) > 2 ? 0 : fromAscii(a);
            break;
        case Id::DefaultLineSpacing:
            lineSpacing = kDefaultLineSpacing;
            break;
        case Id::LineSpacing:
            lineSpacing = along(a);
            break;
        case Id::TabPositions:
            tabs.clear();
            for (size_t i = 2; i < n && p[i] != 0; ++i) {
                if (tabs.empty() || p[i] > tabs.back()) tabs.push_back(p[i]);
            }
            break;
        case Id::Emphasized:
            emphasized = a & 1;
            break;
        case Id::DoubleStrike:
            doubleStrike = a & 1;
            break;
        case Id::UserCharacterSet:
            userSet = a & 1;
            break;
        case Id::Rotation:
            turned = (a % 48 == 1 || a % 48 == 2) && a < 51;
            break;  // 1, 2, 49, 50
        case Id::UpsideDown:
            upsideDown = a & 1;
            break;
        case Id::Font:
            font = std::clamp(fromAscii(a), 0, kFontCount - 1);
            break;
        case Id::RightMargin:
            rightMargin = a;
            break;
        case Id::InternationalSet:
            chars.international = a;
            break;
        case Id::Alignment:
            align = std::clamp(fromAscii(a), 0, 2);
            break;
        case Id::LeftMargin:
            leftMargin = a;
            break;
        case Id::PrintDensity:
            density = static_cast<uint8_t>(std::clamp<int>(a, 1, 8));
            break;
        case Id::CodeTable:
            chars.codeTable = a;
            break;
        case Id::PrintColour:  // 0 or 48: black; 1 or 49: red; any other: no change
            if (a == 0 || a == 48 || a == 1 || a == 49) red = (a & 1) != 0;
            break;
        case Id::KanjiOn:
            chars.kanji = true;
            break;
        case Id::KanjiOff:
            chars.kanji = false;
            break;
        case Id::KanjiCodeSystem:
            chars.kanjiSystem = SystemOfFsC(chars.kanjiSystem, a);
            break;
        case Id::KanjiQuadruple:
            kanjiQuadruple = a & 1;
            break;
        case Id::CharacterSize:  // an n with bit 3 or 7 set is out of range: ignored
            if (a & 0x88) break;
            sizeW = ((a >> 4) & 7) + 1;
            sizeH = (a & 7) + 1;
            kanjiQuadruple = false;
            break;
        case Id::ReversePrinting:
            reverse = a & 1;
            break;
        case Id::LeftMarginDots:
            leftMarginDots = across(static_cast<int64_t>(Word(p + 2)));
            break;
        case Id::PrintAreaWidth:
            printWidth = across(static_cast<int64_t>(Word(p + 2)));
            break;

        // Symbols.
        case Id::BarcodeTextPosition:
            hri = a & 3;
            break;
        case Id::BarcodeTextFont:
            hriFont = std::clamp(fromAscii(a), 0, 1);
            break;
        case Id::BarcodeHeight:
            barHeight = a;
            break;
        case Id::BarcodeWidth:
            barWidth = a;
            break;
        case Id::Symbol2D:
            symbol2D(p, n);
            break;

        default:
            otherFamily(id, p, n);
            break;
    }
    return PageStep::None;
}

void PrinterModes::otherFamily(protocol::CommandId id, const uint8_t* p, size_t n) {
    switch (id) {
        case Id::CondensedEscP:
        case Id::CondensedSi:
            condensed = true;
            break;
        case Id::CondensedOffEscP:
            condensed = false;
            break;
        case Id::LineWideSo:
        case Id::LineWideEscSo:
            lineWide = true;
            break;
        case Id::LineWideOffDc4:
            lineWide = false;
            break;
        case Id::DialectSymbolKind:
            if (n == 3) dialectKind = p[2];
            break;
        default:
            break;  // ESC 4, ESC 5: italic to one family, highlight to another; the text stays as it is
    }
}

void PrinterModes::symbol2D(const uint8_t* p, size_t n) {
    namespace k = protocol::symbol2d;
    if (n < 7) return;
    const uint8_t cn = p[5], fn = p[6];
    const uint8_t a = n > 7 ? p[7] : 0, b = n > 8 ? p[8] : 0, c = n > 9 ? p[9] : 0;
    Symbols2D& s = symbols2D;
    // The data of a store function: after m (and the type byte where there is one).
    const auto from = [&](size_t at) { return std::vector<uint8_t>(p + std::min(at, n), p + n); };
    const auto inRange = [](int v, int lo, int hi) { return v >= lo && v <= hi; };
    if (fn == k::kStore && cn >= 48 && cn < 56) symbolStores = static_cast<uint8_t>(symbolStores | 1 << (cn - 48));
    switch (cn) {
        case k::kPdf417:
            switch (fn) {
                case 65:
                    if (a <= 30) s.pdf417.columns = a;
                    break;
                case 66:
                    if (a == 0 || inRange(a, 3, 90)) s.pdf417.rows = a;
                    break;
                case 67:
                    if (inRange(a, 2, 8)) s.pdf417.moduleWidth = a;
                    break;
                case 68:
                    if (inRange(a, 2, 8)) s.pdf417.rowHeight = a;
                    break;
                case 69:
                    if (a == 48 && inRange(b, 48, 56)) {
                        s.pdf417.byRatio = false;
                        s.pdf417.errorValue = b - 48;
                    } else if (a == 49 && inRange(b, 1, 40)) {
                        s.pdf417.byRatio = true;
                        s.pdf417.errorValue = b;
                    }
                    break;
                case 70:
                    if (a <= 1) s.pdf417.truncated = a == 1;
                    break;
                case k::kStore:
                    s.pdf417Data = from(8);
                    break;
                default:
                    break;
            }
            break;
        case k::kQr: {
            namespace qr = protocol::qr;
            switch (fn) {
                case qr::kModel:
                    s.qr.model = a >= 49 && a <= 51 ? a - 48 : 2;
                    break;
                case qr::kModuleSize:
                    s.qr.moduleSize = std::clamp<int>(a, 1, 16);
                    break;
                case qr::kErrorLevel:
                    s.qr.errorLevel = a >= 48 && a <= 51 ? a - 48 : 0;
                    break;
                case qr::kStore:
                    s.qrData = from(8);
                    break;
                default:
                    break;
            }
            break;
        }
        case k::kMaxiCode:
            switch (fn) {
                case 65:
                    if (inRange(a, 50, 54)) s.maxiMode = a - 48;
                    break;
                case k::kStore:
                    s.maxiData = from(8);
                    break;
                default:
                    break;
            }
            break;
        case k::kDataBar:
            switch (fn) {
                case 67:
                    if (inRange(a, 2, 8)) s.dataBar.moduleWidth = a;
                    break;
                case 71:
                    s.dataBar.maxWidth = a | b << 8;
                    break;
                case k::kStore:
                    s.dataBarType = b;
                    s.dataBarData = from(9);
                    break;
                default:
                    break;
            }
            break;
        case k::kComposite:
            switch (fn) {
                case 67:
                    if (inRange(a, 2, 8)) s.composite.moduleWidth = a;
                    break;
                case 71:
                    s.composite.maxWidth = a | b << 8;
                    break;
                case k::kStore:
                    // m = 48, then the element (48 the linear one, 49 the 2-D one), its type, the data.
                    if (a != 48) break;
                    if (b == 48) {
                        s.compositeLinearType = c;
                        s.compositeLinear = from(10);
                    } else if (b == 49) {
                        s.compositeData = from(10);
                    }
                    break;
                default:
                    break;
            }
            break;
        case k::kAztec:
            switch (fn) {
                case 50:
                    if (a <= 1 && b <= (a == 1 ? 4 : 32)) {
                        s.aztec.compact = a == 1;
                        s.aztec.layers = b;
                    }
                    break;
                case 51:
                    if (inRange(a, 2, 16)) s.aztec.moduleSize = a;
                    break;
                case 53:
                    if (inRange(a, 5, 95)) s.aztec.errorPercent = a;
                    break;
                case k::kStore:
                    s.aztecData = from(8);
                    break;
                default:
                    break;
            }
            break;
        case k::kDataMatrix:
            switch (fn) {
                case 66:
                    if (a <= 1) {
                        s.dataMatrix.rectangle = a == 1;
                        s.dataMatrix.columns = b;
                        s.dataMatrix.rows = a == 1 ? c : 0;
                    }
                    break;
                case 67:
                    if (inRange(a, 2, 16)) s.dataMatrix.moduleSize = a;
                    break;
                case k::kStore:
                    s.dataMatrixData = from(8);
                    break;
                default:
                    break;
            }
            break;
        default:
            break;
    }
}

}  // namespace pellory::receipt
