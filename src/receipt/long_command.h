// A command too long to be held whole: a raster image (GS v 0, up to 4 GB of data), stored
// graphics data (GS 8 L, a 32-bit length) or stored images (FS q, up to 255 images). It is taken
// piece by piece as its bytes come; only its first bytes are kept (enough to name it), and of a
// raster image the row being filled, so that its memory does not grow with its length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace pellory::receipt {

class LongCommand {
public:
    // The first bytes kept to name the command (its header and the first data bytes).
    static constexpr size_t kHeadBytes = 24;  // GS 8 L with its function's header (17)

    // Each complete row of a raster image, with its number (from 0) and rowBytes() bytes.
    using RowSink = std::function<void(size_t index, const uint8_t* row)>;

    // Whether the bytes at the start of a command begin one of the long commands and hold its
    // whole header (so that it can be named and its length is known).
    static bool Recognised(const uint8_t* p, size_t n);

    // Takes bytes of the command, from its first byte on; returns how many were its own (fewer
    // than n when it ends inside them). Rows of a raster image go to row as they complete.
    size_t take(const uint8_t* p, size_t n, const RowSink& row);

    bool complete() const { return phase_ == Phase::Done; }
    uint64_t taken() const { return taken_; }
    // The whole length once known (stored images: once the last image's header has come).
    std::optional<uint64_t> length() const;
    const std::vector<uint8_t>& head() const { return head_; }

    bool isRaster() const { return kind_ == Kind::Raster; }
    // Graphics stored in the print buffer in raster format (GS 8 L, function 112): its rows come
    // as a raster image's do, once graphicsHead() holds m fn a bx by c xL xH yL yH.
    bool isGraphicsRaster() const { return graphicsRaster_; }
    const std::vector<uint8_t>& graphicsHead() const { return graphicsHead_; }
    static constexpr size_t kGraphicsHead = 10;
    uint8_t rasterMode() const { return rasterMode_; }
    size_t rowBytes() const { return rowBytes_; }
    size_t rows() const { return rows_; }
    size_t rowsDone() const { return rowsDone_; }

    enum class Kind { Unknown, Raster, Graphics, StoredImages };

private:
    enum class Phase { Header, ImageHeader, Data, Done };

    void headerComplete();
    void dataComplete();
    void takeRaster(const uint8_t* p, size_t n, const RowSink& row);

    Kind kind_ = Kind::Unknown;
    Phase phase_ = Phase::Header;
    std::vector<uint8_t> head_;
    std::vector<uint8_t> header_;  // the header being gathered (of the command, or of an image)
    uint64_t taken_ = 0;
    uint64_t dataLeft_ = 0;
    uint64_t knownEnd_ = 0;    // bytes up to the end of the part whose header has come
    unsigned imagesLeft_ = 0;  // stored images whose header has not come yet
    uint8_t rasterMode_ = 0;
    size_t rowBytes_ = 0, rows_ = 0, rowsDone_ = 0;
    std::vector<uint8_t> row_;  // a raster row being filled
    std::vector<uint8_t> graphicsHead_;  // the first data bytes of GS 8 L
    bool graphicsRaster_ = false;
    uint64_t rowsFrom_ = 0;  // bytes of the command before its first row
};

}  // namespace pellory::receipt
