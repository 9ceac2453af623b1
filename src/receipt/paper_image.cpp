#include "receipt/paper_image.h"

#include <QFile>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QString>

#include <algorithm>

namespace pellory::receipt {

namespace {

constexpr int kDash = 8;  // cut line: 8 dots grey, 8 dots gap

bool EndsWithPdf(const std::string& path) {
    if (path.size() < 4) return false;
    std::string tail = path.substr(path.size() - 4);
    std::transform(tail.begin(), tail.end(), tail.begin(), [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    return tail == ".pdf";
}

}  // namespace

int InkGrey(uint8_t density) {
    const int level = std::clamp<int>(density, 1, 8);
    return (8 - level) * 20;  // 1: 140 (light grey) .. 8: 0 (black)
}

double PaperWidthMm(int widthDots) { return widthDots > 384 ? 80.0 : 58.0; }

QImage PaperImage(const Paper& paper, bool shaded) { return PaperImage(paper, shaded, paper.firstRow(), paper.endRow()); }

QImage PaperImage(const Paper& paper, bool shaded, int64_t fromRow, int64_t toRow) {
    fromRow = std::max(fromRow, paper.firstRow());
    toRow = std::min(toRow, paper.endRow());
    if (toRow <= fromRow && paper.keptRows() > 0) return QImage();
    const int64_t rows = toRow - fromRow;
    const int height = static_cast<int>(std::max<int64_t>(rows, 0));
    QImage image(paper.width(), std::max(height, 1), QImage::Format_Indexed8);
    // Colour table: 0 white, 1 cut grey, 2.. ink per density level 1..8.
    QList<QRgb> colours = {qRgb(255, 255, 255), kCutGrey};
    for (uint8_t level = 1; level <= 8; ++level) {
        const int g = shaded ? InkGrey(level) : 0;
        colours.push_back(qRgb(g, g, g));
    }
    image.setColorTable(colours);
    image.fill(0);
    for (int y = 0; y < height; ++y) {
        const int64_t row = fromRow + y;
        const uint8_t* bits = paper.row(row);
        uchar* line = image.scanLine(y);
        const uchar ink = static_cast<uchar>(1 + std::clamp<int>(paper.density(row), 1, 8));
        for (int x = 0; x < paper.width(); ++x) {
            if ((bits[x >> 3] >> (7 - (x & 7))) & 1) line[x] = ink;
        }
    }
    for (int64_t cut : paper.cuts()) {
        const int64_t y = cut - fromRow;
        if (y < 0 || y >= height) continue;
        uchar* line = image.scanLine(static_cast<int>(y));
        for (int x = 0; x < paper.width(); ++x) {
            if ((x / kDash) % 2 == 0 && line[x] == 0) line[x] = 1;
        }
    }
    return image;
}

bool SavePaper(const Paper& paper, const std::string& path, std::string* error) {
    const QString name = QString::fromStdString(path);
    const QImage image = PaperImage(paper);
    if (!EndsWithPdf(path)) {
        if (image.save(name, "PNG")) return true;
        if (error) *error = "cannot write " + path;
        return false;
    }
    // 8 dots per mm; the printed area is centred on the roll.
    const double widthMm = PaperWidthMm(paper.width());
    const double heightMm = std::max(1.0, image.height() / 8.0);
    QPdfWriter pdf(name);
    pdf.setResolution(203);
    pdf.setPageSize(QPageSize(QSizeF(widthMm, heightMm), QPageSize::Millimeter));
    pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
    QPainter painter;
    if (!painter.begin(&pdf)) {
        if (error) *error = "cannot write " + path;
        return false;
    }
    const double dotsPerMm = pdf.resolution() / 25.4;
    const double left = (widthMm - image.width() / 8.0) / 2.0 * dotsPerMm;
    painter.drawImage(QRectF(left, 0, image.width() * dotsPerMm / 8.0, image.height() * dotsPerMm / 8.0), image);
    if (!painter.end()) {
        if (error) *error = "cannot write " + path;
        return false;
    }
    if (!QFile::exists(name)) {
        if (error) *error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace pellory::receipt
