#include "receipt/long_command.h"

#include <algorithm>

#include "protocol/command_table.h"

namespace pellory::receipt {

namespace {

using protocol::CommandId;

// The heads of the long commands, from the command table.
size_t HeadOf(CommandId id) { return protocol::EntryOf(id).length.head; }
const size_t kRasterHeader = HeadOf(CommandId::RasterImage);      // GS v 0 m xL xH yL yH
const size_t kGraphicsHeader = HeadOf(CommandId::LargeGraphics);  // GS 8 fn p1 p2 p3 p4
const size_t kImagesHeader = HeadOf(CommandId::StoreImages);      // FS q n
constexpr size_t kImageHeader = 4;  // xL xH yL yH of each stored image

uint64_t Word(const uint8_t* p) { return static_cast<uint64_t>(p[0]) | static_cast<uint64_t>(p[1]) << 8; }

// The kind of the long command that p starts, with its whole introducer.
LongCommand::Kind KindOf(const uint8_t* p, size_t n) {
    const protocol::CommandEntry* e = protocol::FindCommand(p, n);
    if (!e) return LongCommand::Kind::Unknown;
    switch (e->id) {
        case CommandId::RasterImage: return LongCommand::Kind::Raster;
        case CommandId::LargeGraphics: return LongCommand::Kind::Graphics;
        case CommandId::StoreImages: return LongCommand::Kind::StoredImages;
        default: return LongCommand::Kind::Unknown;
    }
}

// The length of the header of the long command that p starts, or 0 when it starts none.
size_t HeaderLength(const uint8_t* p, size_t n) {
    switch (KindOf(p, n)) {
        case LongCommand::Kind::Raster: return kRasterHeader;
        case LongCommand::Kind::Graphics: return kGraphicsHeader;
        case LongCommand::Kind::StoredImages: return kImagesHeader;
        case LongCommand::Kind::Unknown: break;
    }
    return 0;
}

}  // namespace

bool LongCommand::Recognised(const uint8_t* p, size_t n) {
    const size_t header = HeaderLength(p, n);
    return header != 0 && n >= header;
}

std::optional<uint64_t> LongCommand::length() const {
    if (kind_ == Kind::Unknown || (phase_ == Phase::Header && taken_ > 0)) return std::nullopt;
    if (kind_ == Kind::StoredImages && (imagesLeft_ > 0 || phase_ == Phase::ImageHeader)) return std::nullopt;
    return knownEnd_;
}

size_t LongCommand::take(const uint8_t* p, size_t n, const RowSink& row) {
    size_t used = 0;
    while (used < n && phase_ != Phase::Done) {
        const uint8_t* at = p + used;
        const size_t left = n - used;
        size_t k = 0;
        if (phase_ == Phase::Header && kind_ == Kind::Unknown) {
            // The first bytes name the kind; the caller starts with the whole header.
            const size_t header = HeaderLength(at, left);
            if (header == 0 || left < header) {
                phase_ = Phase::Done;
                break;
            }
            kind_ = KindOf(at, left);
        }
        switch (phase_) {
            case Phase::Header:
            case Phase::ImageHeader: {
                const size_t size = phase_ == Phase::ImageHeader ? kImageHeader
                                    : kind_ == Kind::Raster      ? kRasterHeader
                                    : kind_ == Kind::Graphics    ? kGraphicsHeader
                                                                 : kImagesHeader;
                k = std::min(size - header_.size(), left);
                header_.insert(header_.end(), at, at + k);
                if (header_.size() == size) headerComplete();
                break;
            }
            case Phase::Data:
                k = static_cast<size_t>(std::min<uint64_t>(dataLeft_, left));
                if (kind_ == Kind::Graphics && graphicsHead_.size() < kGraphicsHead) {
                    k = std::min(k, kGraphicsHead - graphicsHead_.size());
                    graphicsHead_.insert(graphicsHead_.end(), at, at + k);
                    if (graphicsHead_.size() == kGraphicsHead && graphicsHead_[0] == 48 && graphicsHead_[1] == 112) {
                        rowBytes_ = static_cast<size_t>((Word(graphicsHead_.data() + 6) + 7) / 8);
                        rows_ = static_cast<size_t>(Word(graphicsHead_.data() + 8));
                        graphicsRaster_ = rowBytes_ > 0 && rows_ > 0;
                        rowsFrom_ = kGraphicsHeader + kGraphicsHead;
                    }
                } else if (kind_ == Kind::Raster || graphicsRaster_) {
                    takeRaster(at, k, row);
                }
                dataLeft_ -= k;
                if (dataLeft_ == 0) dataComplete();
                break;
            case Phase::Done:
                break;
        }
        if (head_.size() < kHeadBytes) head_.insert(head_.end(), at, at + std::min(kHeadBytes - head_.size(), k));
        taken_ += k;
        used += k;
    }
    return used;
}

void LongCommand::headerComplete() {
    const uint8_t* h = header_.data();
    if (phase_ == Phase::ImageHeader) {
        dataLeft_ = Word(h) * Word(h + 2) * 8;
        --imagesLeft_;
        knownEnd_ += kImageHeader + dataLeft_;
    } else if (kind_ == Kind::Raster) {
        rasterMode_ = h[3];
        rowBytes_ = static_cast<size_t>(Word(h + 4));
        rows_ = static_cast<size_t>(Word(h + 6));
        rowsFrom_ = kRasterHeader;
        dataLeft_ = static_cast<uint64_t>(rowBytes_) * rows_;
        knownEnd_ = kRasterHeader + dataLeft_;
    } else if (kind_ == Kind::Graphics) {
        dataLeft_ = Word(h + 3) | Word(h + 5) << 16;
        knownEnd_ = kGraphicsHeader + dataLeft_;
    } else {
        imagesLeft_ = h[2];
        knownEnd_ = kImagesHeader;
    }
    header_.clear();
    phase_ = Phase::Data;
    if (dataLeft_ == 0) dataComplete();
}

void LongCommand::dataComplete() {
    phase_ = kind_ == Kind::StoredImages && imagesLeft_ > 0 ? Phase::ImageHeader : Phase::Done;
}

void LongCommand::takeRaster(const uint8_t* p, size_t n, const RowSink& row) {
    if (!row) {  // decoding only: the rows are counted, not gathered
        const uint64_t data = taken_ + n - rowsFrom_;
        rowsDone_ = static_cast<size_t>(std::min<uint64_t>(data / rowBytes_, rows_));
        return;
    }
    size_t i = 0;
    while (i < n) {
        if (rowsDone_ >= rows_) return;  // data past the picture's rows (GS 8 L longer than it)
        if (row_.empty() && n - i >= rowBytes_) {  // a whole row in the piece: straight from it
            row(rowsDone_++, p + i);
            i += rowBytes_;
            continue;
        }
        const size_t part = std::min(rowBytes_ - row_.size(), n - i);
        row_.insert(row_.end(), p + i, p + i + part);
        i += part;
        if (row_.size() == rowBytes_) {
            row(rowsDone_++, row_.data());
            row_.clear();
        }
    }
}

}  // namespace pellory::receipt
