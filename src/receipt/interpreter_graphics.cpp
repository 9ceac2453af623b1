// The interpreter's graphics and stored pictures: GS ( L / GS 8 L, FS q / FS p and GS * / GS /
// (see interpreter.h and picture_memory.h).
#include <algorithm>

#include "receipt/bit_rows.h"
#include "receipt/interpreter.h"

namespace pellory::receipt {

namespace {

size_t Word(const uint8_t* p) { return static_cast<size_t>(p[0]) | static_cast<size_t>(p[1]) << 8; }

// A definition longer than this cannot fit the capacities (its headers aside): it is not kept,
// whether it comes whole or is gathered as a long command.
constexpr size_t kLongestDefinition = std::max(PictureMemory::kNvGraphicsCapacity, PictureMemory::kNvImagesCapacity) +
                                      1024;

// A scale factor of the graphics functions: 1 or 2, else 0 (the command is ignored).
int Factor(uint8_t v) { return v == 1 || v == 2 ? v : 0; }

// The print modes of FS p and GS /: normal, double width, double height, quadruple (0-3, 48-51).
bool ImageMode(uint8_t m, int& sx, int& sy) {
    if (m >= 48) m = static_cast<uint8_t>(m - 48);
    if (m > 3) return false;
    sx = (m & 1) ? 2 : 1;
    sy = (m & 2) ? 2 : 1;
    return true;
}

// The data bytes of a picture of x by y dots in raster (rows) or column format.
size_t GraphicsBytes(bool raster, size_t x, size_t y) { return raster ? (x + 7) / 8 * y : x * ((y + 7) / 8); }

// A picture of x by y dots, of which the first `kept` rows are kept.
Bitmap GraphicsPicture(bool raster, const uint8_t* data, int x, int y, int kept) {
    return raster ? RasterPicture(data, x, kept) : ColumnPicture(data, x, (y + 7) / 8, kept);
}

// Every colour's dots on one picture (the paper has one ink: see README).
void Overlay(Bitmap& onto, const Bitmap& b, int sx = 1, int sy = 1) {
    if (sx != 1 || sy != 1) {
        Overlay(onto, ScaledPicture(b, sx, sy));
        return;
    }
    const int rows = std::min(onto.height, b.height);
    for (int y = 0; y < rows; ++y) {
        OrDots(onto.bits.data() + static_cast<size_t>(y) * static_cast<size_t>(onto.stride), onto.width, 0, b.row(y),
               b.width);
    }
}

}  // namespace

void Interpreter::graphics(const uint8_t* d, size_t n) {
    // d: m fn and the function's parameters (after pL pH of GS ( L, after p1..p4 of GS 8 L).
    if (n < 2) return;
    namespace g = protocol::graphics;
    const uint8_t fn = d[1];
    // 80 (the downloaded graphics' capacity) to 85: the downloaded graphics' functions.
    const bool download = fn >= g::kDeleteAllNv + g::kDownloaded - 1 && fn <= g::kPrintNv + g::kDownloaded;
    // The NV graphics' function of a downloaded one's.
    const int nv = download ? fn - g::kDownloaded : fn;
    KeyedPictures& store = download ? pictures_.downloadGraphics : pictures_.nvGraphics;
    if (fn == g::kPrintBufferOld || fn == g::kPrintBuffer) {
        printGraphicsBuffer();
        return;
    }
    switch (nv) {
        case g::kDeleteAllNv:  // d1 d2 d3 "CLR"
            if (n >= 5 && d[2] == 'C' && d[3] == 'L' && d[4] == 'R') store.clear();
            break;
        case g::kDeleteNv:
            if (n >= 4) store.erase(static_cast<uint16_t>(d[2] << 8 | d[3]));
            break;
        case g::kDefineNvRaster:
        case g::kDefineNvColumn:
            defineGraphics(store, nv == g::kDefineNvRaster, d, n);
            break;
        case g::kPrintNv: {  // print kc1 kc2 x y
            if (n < 6) break;
            const Bitmap* picture = store.find(static_cast<uint16_t>(d[2] << 8 | d[3]));
            const int sx = Factor(d[4]), sy = Factor(d[5]);
            if (picture && sx && sy) printBlock(ScaledPicture(*picture, sx, sy), Block::StandardOnly);
            break;
        }
        case g::kStoreRaster:
        case g::kStoreColumn:
            storeGraphics(nv == g::kStoreRaster, d, n);
            break;
        default:
            break;  // capacity and key queries (no answer here), the reference dot density
    }
}

void Interpreter::defineGraphics(KeyedPictures& store, bool raster, const uint8_t* d, size_t n) {
    // m fn a kc1 kc2 b xL xH yL yH, then for each of the b colours: c and its data.
    if (n < 10 || n > kLongestDefinition || d[2] != 48) return;
    const unsigned colours = d[5];
    const size_t x = Word(d + 6), y = Word(d + 8);
    if (colours < 1 || colours > 4 || x == 0 || y == 0) return;
    const size_t k = GraphicsBytes(raster, x, y);
    if (n < 10 + colours * (1 + k)) return;  // cut short: nothing is defined
    Bitmap picture;
    for (size_t i = 0; i < colours; ++i) {
        const uint8_t* at = d + 10 + i * (1 + k);
        if (at[0] < 49 || at[0] > 52) return;
        Bitmap colour = GraphicsPicture(raster, at + 1, static_cast<int>(x), static_cast<int>(y), static_cast<int>(y));
        if (i == 0) {
            picture = std::move(colour);
        } else {
            Overlay(picture, colour);
        }
    }
    store.define(static_cast<uint16_t>(d[3] << 8 | d[4]), std::move(picture));
}

void Interpreter::storeGraphics(bool raster, const uint8_t* d, size_t n) {
    // m fn a bx by c xL xH yL yH d1...dk
    if (n < 10 || d[2] != 48) return;
    const int sx = Factor(d[3]), sy = Factor(d[4]);
    const uint8_t c = d[5];
    const size_t x = Word(d + 6), y = Word(d + 8);
    if (!sx || !sy || c < 49 || c > 52 || x == 0 || y == 0) return;
    if (n < 10 + GraphicsBytes(raster, x, y)) return;
    BufferedGraphics& slot = graphicsBuffer_[c - 49];
    if (slot.sx) return;  // each colour once before the print (a second is ignored)
    // At most the rows a long GS 8 L keeps (see graphicsRow), however the stream's pieces came.
    const size_t rows = std::min<size_t>(y, static_cast<size_t>(kMaxGraphicsRows / sy));
    slot.picture = GraphicsPicture(raster, d + 10, static_cast<int>(x), static_cast<int>(y), static_cast<int>(rows));
    slot.sx = sx;
    slot.sy = sy;
}

void Interpreter::printGraphicsBuffer() {
    int width = 0, height = 0;
    for (const BufferedGraphics& g : graphicsBuffer_) {
        if (!g.sx) continue;
        width = std::max(width, g.picture.width * g.sx);
        height = std::max(height, g.picture.height * g.sy);
    }
    if (width == 0) return;
    // Dots past the line's far edge are dropped: the paper's right edge, or in page mode the area's
    // edge along the characters (its height in the sideways directions).
    Bitmap block(std::min(width, lineLimit()), height);
    for (BufferedGraphics& g : graphicsBuffer_) {
        if (!g.sx) continue;
        Overlay(block, g.picture, g.sx, g.sy);
        g = BufferedGraphics{};
    }
    printBlock(block, Block::Upright);
}

void Interpreter::graphicsRow(size_t index, const uint8_t* row) {
    const std::vector<uint8_t>& h = long_->graphicsHead();  // m fn a bx by c xL xH yL yH
    if (index == 0) {
        longGraphics_ = -2;
        const int sx = Factor(h[3]), sy = Factor(h[4]);
        const uint8_t c = h[5];
        if (h[2] != 48 || !sx || !sy || c < 49 || c > 52 || graphicsBuffer_[c - 49].sx) return;
        // Only the dots that can reach the paper are kept: as many as the paper is wide, or a page's
        // area is long in a sideways direction (the print may come in either mode).
        const int reach = std::max(paper_.width(), Page::kMaxRows);
        const int width = static_cast<int>(std::min<size_t>(Word(h.data() + 6), static_cast<size_t>((reach + sx - 1) / sx)));
        const int height =
            static_cast<int>(std::min<size_t>(Word(h.data() + 8), static_cast<size_t>(kMaxGraphicsRows / sy)));
        graphicsBuffer_[c - 49] = BufferedGraphics{Bitmap(width, height), sx, sy};
        longGraphics_ = c - 49;
    }
    if (longGraphics_ < 0) return;
    Bitmap& b = graphicsBuffer_[static_cast<size_t>(longGraphics_)].picture;
    if (index >= static_cast<size_t>(b.height)) return;
    uint8_t* out = b.bits.data() + index * static_cast<size_t>(b.stride);
    std::copy_n(row, b.stride, out);
    if (b.width % 8) out[b.stride - 1] &= static_cast<uint8_t>(0xFF00u >> (b.width % 8));
}

bool Interpreter::IsLongDefinition(const uint8_t* p, size_t n) {
    const protocol::CommandEntry* e = protocol::FindCommand(p, n);
    if (e && e->id == protocol::CommandId::StoreImages) return true;
    // GS 8 L p1 p2 p3 p4 m fn
    return e && e->id == protocol::CommandId::LargeGraphics && n > 8 && p[2] == 'L' && p[7] == 48 &&
           (p[8] == 67 || p[8] == 68 || p[8] == 83 || p[8] == 84);
}

void Interpreter::gatherDefinition(const uint8_t* p, size_t n) {
    if (longDefinition_.size() + n > kLongestDefinition) {  // past what could be stored: let go
        gatherLong_ = false;
        longDefinition_ = std::vector<uint8_t>();
        return;
    }
    longDefinition_.insert(longDefinition_.end(), p, p + n);
}

void Interpreter::defineGathered() {
    const uint8_t* p = longDefinition_.data();
    const size_t n = longDefinition_.size();
    if (p[0] == protocol::kFs) {
        storeImages(p, n);
    } else {
        graphics(p + 7, n - 7);
    }
}

void Interpreter::storeImages(const uint8_t* p, size_t n) {
    // FS q n [xL xH yL yH d1...dk]...: each image (xL + 256 xH) * 8 dots wide and (yL + 256 yH) * 8
    // tall, in column format. The new images replace all the stored ones.
    if (n < 3 || n > kLongestDefinition || p[2] == 0) return;
    std::vector<Bitmap> images;
    size_t off = 3, bytes = 0;
    for (unsigned i = 0; i < p[2]; ++i) {
        if (n < off + 4) return;
        const size_t x = Word(p + off), y = Word(p + off + 2);
        const size_t k = x * y * 8;
        if (x == 0 || y == 0 || x > 1023 || y > 288 || n < off + 4 + k) return;
        bytes += k;
        if (bytes > PictureMemory::kNvImagesCapacity) return;  // past the capacity: nothing is stored
        images.push_back(
            ColumnPicture(p + off + 4, static_cast<int>(x * 8), static_cast<int>(y), static_cast<int>(y * 8)));
        off += 4 + k;
    }
    pictures_.nvImages = std::move(images);
}

void Interpreter::printStoredImage(uint8_t number, uint8_t mode) {
    int sx = 1, sy = 1;
    if (number == 0 || number > pictures_.nvImages.size() || !ImageMode(mode, sx, sy)) return;
    printBlock(ScaledPicture(pictures_.nvImages[number - 1u], sx, sy), Block::StandardOnly);
}

void Interpreter::defineDownloadedImage(const uint8_t* p, size_t n) {
    // GS * x y d1...d(x*y*8): x * 8 columns of y bytes.
    if (n < 4) return;
    const size_t x = p[2], y = p[3];
    if (x == 0 || y == 0 || y > 48 || x * y > 1536 || n < 4 + x * y * 8) return;
    pictures_.downloaded = ColumnPicture(p + 4, static_cast<int>(x * 8), static_cast<int>(y), static_cast<int>(y * 8));
}

void Interpreter::printDownloadedImage(uint8_t mode) {
    int sx = 1, sy = 1;
    if (!pictures_.downloaded || !ImageMode(mode, sx, sy)) return;
    printBlock(ScaledPicture(*pictures_.downloaded, sx, sy), Block::Turned);
}

}  // namespace pellory::receipt
