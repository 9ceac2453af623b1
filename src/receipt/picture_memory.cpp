#include "receipt/picture_memory.h"

#include <algorithm>

#include "receipt/bit_rows.h"

namespace pellory::receipt {

bool KeyedPictures::define(uint16_t key, Bitmap picture) {
    const auto it = pictures_.find(key);
    const size_t old = it == pictures_.end() ? 0 : PictureBytes(it->second);
    const size_t size = PictureBytes(picture);
    if (used_ - old + size > capacity_) return false;
    used_ = used_ - old + size;
    pictures_[key] = std::move(picture);
    return true;
}

const Bitmap* KeyedPictures::find(uint16_t key) const {
    const auto it = pictures_.find(key);
    return it == pictures_.end() ? nullptr : &it->second;
}

void KeyedPictures::erase(uint16_t key) {
    const auto it = pictures_.find(key);
    if (it == pictures_.end()) return;
    used_ -= PictureBytes(it->second);
    pictures_.erase(it);
}

void KeyedPictures::clear() {
    pictures_.clear();
    used_ = 0;
}

std::vector<uint16_t> KeyedPictures::keys() const {
    std::vector<uint16_t> out;
    for (const auto& [key, picture] : pictures_) out.push_back(key);
    return out;
}

Bitmap ColumnPicture(const uint8_t* data, int columns, int columnBytes, int heightDots) {
    Bitmap b(columns, heightDots);
    ColumnsToRows(b.bits.data(), static_cast<size_t>(b.stride), heightDots, data, columns, columnBytes);
    return b;
}

Bitmap RasterPicture(const uint8_t* data, int widthDots, int heightDots) {
    Bitmap b(widthDots, heightDots);
    const size_t stride = static_cast<size_t>(b.stride);
    for (int y = 0; y < heightDots; ++y) {
        uint8_t* row = b.bits.data() + static_cast<size_t>(y) * stride;
        std::copy_n(data + static_cast<size_t>(y) * stride, stride, row);
        if (widthDots % 8)
            row[stride - 1] &= static_cast<uint8_t>(0xFF00u >> (widthDots % 8));  // no dots past the width
    }
    return b;
}

Bitmap ScaledPicture(const Bitmap& b, int sx, int sy) {
    if (sx == 1 && sy == 1) return b;
    Bitmap out(b.width * sx, b.height * sy);
    const auto stride = static_cast<size_t>(out.stride);
    for (int y = 0; y < b.height; ++y) {
        uint8_t* first = out.bits.data() + static_cast<size_t>(y * sy) * stride;
        if (sx == 1) {
            OrDots(first, out.width, 0, b.row(y), b.width);
        } else if (sx == 2) {
            DoubleDots(first, b.row(y), b.width);
        } else {
            for (int x = 0; x < b.width; ++x) {
                if (!b.get(x, y)) continue;
                for (int dx = 0; dx < sx; ++dx) out.set(x * sx + dx, y * sy);
            }
        }
        for (int dy = 1; dy < sy; ++dy) std::copy_n(first, stride, first + static_cast<size_t>(dy) * stride);
    }
    return out;
}

}  // namespace pellory::receipt
