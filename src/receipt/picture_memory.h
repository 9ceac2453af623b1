// The pictures a printer keeps between print jobs: NV graphics and downloaded graphics (GS ( L /
// GS 8 L, by their two key bytes), NV bit images (FS q, by number) and the downloaded bit image
// (GS *), each store bounded by a capacity in bytes of picture (one bit per dot, rows rounded
// up to whole bytes). A definition that does not fit is refused whole and the store stays as it
// was, as the printer ignores it. The memory lives as long as its interpreter: ESC @ and a new
// paper keep it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "receipt/glyphs.h"

namespace pellory::receipt {

// Pictures under two-byte keys, at most `capacity` bytes of them.
class KeyedPictures {
public:
    explicit KeyedPictures(size_t capacity) : capacity_(capacity) {}

    // Defines (or replaces) the picture of `key`; false, and nothing changed, when it does not fit.
    bool define(uint16_t key, Bitmap picture);
    const Bitmap* find(uint16_t key) const;
    void erase(uint16_t key);
    void clear();
    std::vector<uint16_t> keys() const;
    size_t used() const { return used_; }
    size_t capacity() const { return capacity_; }

private:
    size_t capacity_;
    size_t used_ = 0;
    std::map<uint16_t, Bitmap> pictures_;
};

inline size_t PictureBytes(const Bitmap& b) { return b.bits.size(); }

// Pictures in column format (the form of ESC *, GS * and FS q): `columns` columns of
// `columnBytes` bytes each, top to bottom, the first dot of each byte in its top bit.
Bitmap ColumnPicture(const uint8_t* data, int columns, int columnBytes, int heightDots);
// Raster format: `heightDots` rows of (widthDots + 7) / 8 bytes, the first dot of each in its top bit.
Bitmap RasterPicture(const uint8_t* data, int widthDots, int heightDots);
// The picture scaled by whole factors.
Bitmap ScaledPicture(const Bitmap& b, int sx, int sy);

struct PictureMemory {
    // Capacities (bytes of picture): a choice, of the size the common 58/80 mm printers have.
    static constexpr size_t kNvGraphicsCapacity = 256 * 1024;
    static constexpr size_t kDownloadGraphicsCapacity = 256 * 1024;
    static constexpr size_t kNvImagesCapacity = 256 * 1024;

    KeyedPictures nvGraphics{kNvGraphicsCapacity};
    KeyedPictures downloadGraphics{kDownloadGraphicsCapacity};
    std::vector<Bitmap> nvImages;      // FS q: image n is nvImages[n - 1]
    std::optional<Bitmap> downloaded;  // GS *
};

}  // namespace pellory::receipt
