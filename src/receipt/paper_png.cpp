#include "receipt/paper_png.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <vector>

namespace pellory::receipt {

namespace {

// Palette entries: white, the cut's grey, black, red (the second colour).
constexpr uint8_t kWhite = 0, kGrey = 1, kBlack = 2;
constexpr size_t kChunkData = 64 * 1024;  // IDAT chunks of at most this much
constexpr size_t kDeflateStep = 16 * 1024;

// A byte of the paper (eight dots, the leftmost in the top bit) as two bytes of two-bit pixels:
// each dot black or white.
constexpr std::array<uint16_t, 256> MakeSpread() {
    std::array<uint16_t, 256> t{};
    for (unsigned b = 0; b < 256; ++b) {
        uint16_t v = 0;
        for (int i = 0; i < 8; ++i) {
            if (b & (0x80u >> i)) v = static_cast<uint16_t>(v | (kBlack << (14 - 2 * i)));
        }
        t[b] = v;
    }
    return t;
}
constexpr std::array<uint16_t, 256> kSpread = MakeSpread();

void PutBig32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

class PngChunks {
public:
    explicit PngChunks(const ByteSink& sink) : sink_(sink) {}

    bool Signature() {
        static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
        return sink_(kSignature, sizeof kSignature);
    }
    bool Chunk(const char* type, const uint8_t* data, size_t n) {
        std::vector<uint8_t> head;
        PutBig32(head, static_cast<uint32_t>(n));
        head.insert(head.end(), type, type + 4);
        uLong crc = crc32(0L, Z_NULL, 0);
        crc = crc32(crc, head.data() + 4, 4);
        if (n > 0) crc = crc32(crc, data, static_cast<uInt>(n));
        std::vector<uint8_t> tail;
        PutBig32(tail, static_cast<uint32_t>(crc));
        return sink_(head.data(), head.size()) && (n == 0 || sink_(data, n)) && sink_(tail.data(), tail.size());
    }

private:
    const ByteSink& sink_;
};

// The zlib stream of the image data, cut into IDAT chunks as it grows.
class ImageData {
public:
    ImageData(PngChunks& chunks, int compression) : chunks_(chunks), out_(kChunkData) {
        ok_ = deflateInit(&z_, compression) == Z_OK;
    }
    ~ImageData() { deflateEnd(&z_); }
    ImageData(const ImageData&) = delete;
    ImageData& operator=(const ImageData&) = delete;

    // Lines are gathered and compressed some 16 KB at a time: zlib takes a few large pieces
    // faster than many of a line each.
    bool Add(const uint8_t* data, size_t n) {
        pending_.insert(pending_.end(), data, data + n);
        if (pending_.size() < kDeflateStep) return ok_;
        const bool ok = Deflate(pending_.data(), pending_.size(), Z_NO_FLUSH);
        pending_.clear();
        return ok;
    }
    bool Finish() {
        const bool ok = Deflate(pending_.data(), pending_.size(), Z_FINISH);
        pending_.clear();
        return ok;
    }

private:
    bool Deflate(const uint8_t* data, size_t n, int flush) {
        if (!ok_) return false;
        z_.next_in = const_cast<Bytef*>(data);
        z_.avail_in = static_cast<uInt>(n);
        for (;;) {
            z_.next_out = out_.data() + used_;
            z_.avail_out = static_cast<uInt>(out_.size() - used_);
            const int result = deflate(&z_, flush);
            if (result == Z_STREAM_ERROR) return ok_ = false;
            used_ = out_.size() - z_.avail_out;
            if (used_ == out_.size() || (flush == Z_FINISH && used_ > 0)) {
                if (!chunks_.Chunk("IDAT", out_.data(), used_)) return ok_ = false;
                used_ = 0;
            }
            if (flush == Z_FINISH ? result == Z_STREAM_END : z_.avail_in == 0) return true;
        }
    }

    PngChunks& chunks_;
    z_stream z_{};
    std::vector<uint8_t> out_;
    std::vector<uint8_t> pending_;  // lines not yet compressed
    size_t used_ = 0;
    bool ok_ = false;
};

}  // namespace

bool WritePaperPng(const Paper& paper, int64_t fromRow, int64_t toRow, const ByteSink& sink, int compression) {
    fromRow = std::max(fromRow, paper.firstRow());
    toRow = std::min(toRow, paper.endRow());
    const int64_t rows = std::max<int64_t>(toRow - fromRow, 0);
    const int width = paper.width();
    std::vector<int64_t> cuts(paper.cuts().begin(), paper.cuts().end());
    auto cut = std::lower_bound(cuts.begin(), cuts.end(), fromRow);
    const int64_t endLine = fromRow + std::max<int64_t>(rows, 1);  // one white line when there are no rows
    // Without a cut among the rows (a receipt from cut to cut), black and white are all there is:
    // one bit a pixel, the paper's own bytes (its leftmost dot in the top bit, as in a PNG).
    const bool cutShown = cut != cuts.end() && *cut < toRow;
    // Red (the second colour, ESC r) takes two bits a pixel as the cut's grey does.
    const bool redShown = paper.anyRed(fromRow, toRow);
    const bool twoBits = cutShown || redShown;
    PngChunks chunks(sink);
    std::vector<uint8_t> header;
    PutBig32(header, static_cast<uint32_t>(width));
    PutBig32(header, static_cast<uint32_t>(std::max<int64_t>(rows, 1)));
    header.insert(header.end(), {static_cast<uint8_t>(twoBits ? 2 : 1), 3, 0, 0, 0});  // bits, palette, no interlace
    const uint8_t palette[12] = {255, 255, 255, kCutGreyLevel, kCutGreyLevel, kCutGreyLevel, 0, 0, 0, 255, 0, 0};
    const uint8_t twoColours[6] = {255, 255, 255, 0, 0, 0};  // white, black
    if (!chunks.Signature() || !chunks.Chunk("IHDR", header.data(), header.size()) ||
        !(twoBits ? chunks.Chunk("PLTE", palette, redShown ? 12 : 9)
                  : chunks.Chunk("PLTE", twoColours, sizeof twoColours))) {
        return false;
    }
    ImageData data(chunks, compression);
    if (!twoBits) {
        // Each line: its filter byte (none), then the row's bytes; the bits past the width are 0.
        const size_t lineBytes = static_cast<size_t>((width + 7) / 8);
        const uint8_t lastMask = static_cast<uint8_t>(0xFF00u >> (width % 8 == 0 ? 8 : width % 8));
        std::vector<uint8_t> line(1 + lineBytes, 0);
        for (int64_t y = fromRow; y < endLine; ++y) {
            const uint8_t* bits = y < toRow ? paper.row(y) : nullptr;
            if (bits) {
                std::copy(bits, bits + lineBytes, line.begin() + 1);
                line[lineBytes] &= lastMask;
            } else {
                std::fill(line.begin() + 1, line.end(), uint8_t{0});
            }
            if (!data.Add(line.data(), line.size())) return false;
        }
        return data.Finish() && chunks.Chunk("IEND", nullptr, 0);
    }
    // Each line: its filter byte (none), then four pixels a byte.
    const size_t lineBytes = static_cast<size_t>((width + 3) / 4);
    std::vector<uint8_t> line(1 + 2 * paper.stride(), 0);
    for (int64_t y = fromRow; y < endLine; ++y) {
        const uint8_t* bits = y < toRow ? paper.row(y) : nullptr;
        // A red dot is black's 2 with its low bit set: 3.
        const bool red = bits && paper.red(y);
        for (size_t i = 0; i < paper.stride(); ++i) {
            uint16_t v = bits ? kSpread[bits[i]] : 0;
            if (red) v = static_cast<uint16_t>(v | v >> 1);
            line[1 + 2 * i] = static_cast<uint8_t>(v >> 8);
            line[2 + 2 * i] = static_cast<uint8_t>(v);
        }
        if (cut != cuts.end() && *cut == y) {
            for (int x = 0; x < width; ++x) {
                if ((x / kCutDash) % 2 != 0) continue;
                uint8_t& b = line[1 + static_cast<size_t>(x / 4)];
                const int shift = 6 - 2 * (x % 4);
                if (((b >> shift) & 3) == kWhite) b = static_cast<uint8_t>(b | (kGrey << shift));
            }
            ++cut;
        }
        if (!data.Add(line.data(), 1 + lineBytes)) return false;
    }
    return data.Finish() && chunks.Chunk("IEND", nullptr, 0);
}

}  // namespace pellory::receipt
