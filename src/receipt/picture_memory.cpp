#include "receipt/picture_memory.h"

#include <algorithm>

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
    for (int c = 0; c < columns; ++c) {
        for (int k = 0; k < columnBytes; ++k) {
            const uint8_t v = data[static_cast<size_t>(c) * static_cast<size_t>(columnBytes) + static_cast<size_t>(k)];
            for (int bit = 0; v && bit < 8; ++bit) {
                const int y = k * 8 + bit;
                if (y < heightDots && (v & (0x80 >> bit))) b.set(c, y);
            }
        }
    }
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
    for (int y = 0; y < b.height; ++y) {
        for (int x = 0; x < b.width; ++x) {
            if (!b.get(x, y)) continue;
            for (int dy = 0; dy < sy; ++dy) {
                for (int dx = 0; dx < sx; ++dx) out.set(x * sx + dx, y * sy + dy);
            }
        }
    }
    return out;
}

}  // namespace pellory::receipt
