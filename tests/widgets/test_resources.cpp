// The compiled-in pictures: each id loads with its size, the two lamps differ in nothing but the
// lamp colour, and the barcode sample is a readable UPC-A symbol with a correct check digit.
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QPixmap>
#include <algorithm>
#include <array>
#include <map>
#include <string>
#include <vector>

#include "widgets/qt_test_app.h"
#include "widgets/resources.h"

namespace pellory::widgets {
namespace {

QImage LoadImage(const char* path) {
    QImage image(QString::fromLatin1(path));
    return image.convertToFormat(QImage::Format_ARGB32);
}

TEST(Resources, EveryIdLoadsWithItsSize) {
    const std::map<int, QSize> expected{
        {kIdBitmapBarcodeSample, {161, 61}},
        {kIdIconProgram, {32, 32}},
        {kIdIconLampDark, {kLampIconSize, kLampIconSize}},
        {kIdIconLampLit, {kLampIconSize, kLampIconSize}},
    };
    for (const auto& [id, size] : expected) {
        SCOPED_TRACE(id);
        ASSERT_NE(ResourcePath(id), nullptr);
        const QPixmap pixmap = LoadResourcePixmap(id);
        ASSERT_FALSE(pixmap.isNull());
        EXPECT_EQ(pixmap.size(), size);
    }
    EXPECT_EQ(LoadImage(kIconProgramSmall).size(), QSize(16, 16));

    for (int unknown : {0, 101, 154, 156, 164, 168}) {
        EXPECT_EQ(ResourcePath(unknown), nullptr) << unknown;
        EXPECT_TRUE(LoadResourcePixmap(unknown).isNull()) << unknown;
    }
}

TEST(Resources, ProgramIconOffersBothSizesAndIsDrawn) {
    const QIcon icon = ProgramIcon();
    const QList<QSize> sizes = icon.availableSizes();
    EXPECT_TRUE(sizes.contains(QSize(16, 16)));
    EXPECT_TRUE(sizes.contains(QSize(32, 32)));

    for (const char* path : {kIconProgram, kIconProgramSmall}) {
        SCOPED_TRACE(path);
        const QImage image = LoadImage(path);
        int opaque = 0;
        int transparent = 0;
        int distinctColours = 0;
        QList<QRgb> seen;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QRgb p = image.pixel(x, y);
                if (qAlpha(p) == 255) {
                    ++opaque;
                    if (!seen.contains(p)) {
                        seen.append(p);
                        ++distinctColours;
                    }
                } else if (qAlpha(p) == 0) {
                    ++transparent;
                }
            }
        }
        const int area = image.width() * image.height();
        // A glyph on a transparent background, not an empty or a filled square.
        EXPECT_GT(opaque, area / 2);
        EXPECT_GT(transparent, 0);
        EXPECT_GE(distinctColours, 4);
        EXPECT_LE(distinctColours, 16);
    }
}

TEST(Resources, LampsDifferOnlyInTheLampColour) {
    const QImage dark = LoadImage(kIconLampDark);
    const QImage lit = LoadImage(kIconLampLit);
    ASSERT_EQ(dark.size(), QSize(kLampIconSize, kLampIconSize));
    ASSERT_EQ(lit.size(), dark.size());

    const QRgb darkLamp = qRgb(0, 128, 0);
    const QRgb litLamp = qRgb(0, 255, 0);
    EXPECT_EQ(dark.pixel(kLampIconSize / 2, kLampIconSize / 2), darkLamp);
    EXPECT_EQ(lit.pixel(kLampIconSize / 2, kLampIconSize / 2), litLamp);
    EXPECT_EQ(dark.pixel(kLampIconSize / 2 - 1, kLampIconSize / 2 - 1), darkLamp);
    EXPECT_EQ(QColor(darkLamp).rgb() & 0xFFFFFFu, kLampDarkRgb);
    EXPECT_EQ(QColor(litLamp).rgb() & 0xFFFFFFu, kLampLitRgb);

    int lampPixels = 0;
    for (int y = 0; y < kLampIconSize; ++y) {
        for (int x = 0; x < kLampIconSize; ++x) {
            const QRgb d = dark.pixel(x, y);
            const QRgb l = lit.pixel(x, y);
            if (d == darkLamp) {
                EXPECT_EQ(l, litLamp) << x << "," << y;
                ++lampPixels;
            } else {
                EXPECT_EQ(l, d) << x << "," << y;
                EXPECT_NE(l, litLamp) << x << "," << y;
            }
        }
    }
    // Most of a round lamp of diameter 16 is lamp colour; the corners are see-through.
    EXPECT_GT(lampPixels, 100);
    EXPECT_EQ(qAlpha(dark.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(dark.pixel(15, 15)), 0);
}

// UPC-A reading, independent of how the picture was drawn: odd-parity "L" patterns in the left
// half, their complements in the right half, guards 101 / 01010 / 101.
constexpr std::array<const char*, 10> kUpcLeft{"0001101", "0011001", "0010011", "0111101",
                                               "0100011", "0110001", "0101111", "0111011",
                                               "0110111", "0001011"};

int DigitOf(const std::string& pattern, bool rightHalf) {
    for (int d = 0; d < 10; ++d) {
        std::string p = kUpcLeft[static_cast<std::size_t>(d)];
        if (rightHalf) {
            for (char& c : p) {
                c = c == '1' ? '0' : '1';
            }
        }
        if (p == pattern) {
            return d;
        }
    }
    return -1;
}

// Reads the modules along one row: from the first to the last black dot must be 95 modules.
std::string ReadModules(const QImage& image, int y) {
    int first = -1;
    int last = -1;
    for (int x = 0; x < image.width(); ++x) {
        if (qGray(image.pixel(x, y)) < 128) {
            if (first < 0) {
                first = x;
            }
            last = x;
        }
    }
    if (first < 0 || (last - first + 1) % 95 != 0) {
        return {};
    }
    const int module = (last - first + 1) / 95;
    std::string modules;
    for (int i = 0; i < 95; ++i) {
        modules += qGray(image.pixel(first + i * module + module / 2, y)) < 128 ? '1' : '0';
    }
    return modules;
}

TEST(Resources, BarcodeSampleIsAValidUpcA) {
    const QImage image = LoadImage(kBitmapBarcodeSample);
    ASSERT_EQ(image.size(), QSize(161, 61));

    // Every pixel is pure black or pure white.
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            ASSERT_TRUE(p == qRgb(0, 0, 0) || p == qRgb(255, 255, 255)) << x << "," << y;
        }
    }

    // The same number reads on several scan lines across the bar area.
    std::string number;
    for (int y : {10, 25, 40}) {
        SCOPED_TRACE(y);
        const std::string modules = ReadModules(image, y);
        ASSERT_EQ(modules.size(), 95u);
        EXPECT_EQ(modules.substr(0, 3), "101");
        EXPECT_EQ(modules.substr(45, 5), "01010");
        EXPECT_EQ(modules.substr(92, 3), "101");
        std::string digits;
        for (int i = 0; i < 12; ++i) {
            const bool right = i >= 6;
            const std::size_t at = right ? 50 + 7 * static_cast<std::size_t>(i - 6)
                                         : 3 + 7 * static_cast<std::size_t>(i);
            const int d = DigitOf(modules.substr(at, 7), right);
            ASSERT_GE(d, 0) << "digit " << i;
            digits += static_cast<char>('0' + d);
        }
        if (number.empty()) {
            number = digits;
        }
        EXPECT_EQ(digits, number);
    }

    // Check digit: three times the odd positions plus the even positions is a multiple of 10.
    int sum = 0;
    for (std::size_t i = 0; i < 12; ++i) {
        sum += (number[i] - '0') * (i % 2 == 0 ? 3 : 1);
    }
    EXPECT_EQ(sum % 10, 0) << number;
    // The Barcode page's default data with its check digit.
    EXPECT_EQ(number.substr(0, 11), "01234567890");
}

TEST(Resources, BarcodeSampleHasDigitsBeneathTheBars) {
    const QImage image = LoadImage(kBitmapBarcodeSample);
    ASSERT_FALSE(image.isNull());
    // Columns that hold a bar, taken from a scan line through the bars.
    std::vector<bool> barColumn(static_cast<std::size_t>(image.width()));
    for (int x = 0; x < image.width(); ++x) {
        barColumn[static_cast<std::size_t>(x)] = qGray(image.pixel(x, 10)) < 128;
    }
    // Ink in the other columns can only be the printed digits: there must be enough of it for
    // twelve digits, and all of it lies in the bottom third, beneath the bars.
    int digitInk = 0;
    int digitInkLeftOfSymbol = 0;
    int digitInkRightOfSymbol = 0;
    int firstBar = image.width();
    int lastBar = -1;
    for (int x = 0; x < image.width(); ++x) {
        if (barColumn[static_cast<std::size_t>(x)]) {
            firstBar = std::min(firstBar, x);
            lastBar = std::max(lastBar, x);
        }
    }
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (barColumn[static_cast<std::size_t>(x)] || qGray(image.pixel(x, y)) >= 128) {
                continue;
            }
            ++digitInk;
            EXPECT_GT(y, 2 * image.height() / 3) << x << "," << y;
            digitInkLeftOfSymbol += x < firstBar ? 1 : 0;
            digitInkRightOfSymbol += x > lastBar ? 1 : 0;
        }
    }
    EXPECT_GT(digitInk, 12 * 8);
    // The number system digit stands left of the symbol and the check digit right of it.
    EXPECT_GT(digitInkLeftOfSymbol, 6);
    EXPECT_GT(digitInkRightOfSymbol, 6);
}

}  // namespace
}  // namespace pellory::widgets
