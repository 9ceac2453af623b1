#include "receipt/paper_image.h"

#include <QIODevice>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QString>

#include <algorithm>
#include <optional>

#include "protocol/model_profile.h"

namespace pellory::receipt {

bool IsPdfName(const std::string& path) {
    if (path.size() < 4) return false;
    std::string tail = path.substr(path.size() - 4);
    std::transform(tail.begin(), tail.end(), tail.begin(), [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    return tail == ".pdf";
}

int InkGrey(uint8_t density) {
    const int level = std::clamp<int>(density, 1, 8);
    return (8 - level) * 20;  // 1: 140 (light grey) .. 8: 0 (black)
}

double PaperWidthMm(int widthDots) { return protocol::ProfileForWidth(widthDots).paperMm; }

QImage PaperImage(const Paper& paper, bool shaded) { return PaperImage(paper, shaded, paper.firstRow(), paper.endRow()); }

QImage PaperImage(const Paper& paper, bool shaded, int64_t fromRow, int64_t toRow) {
    fromRow = std::max(fromRow, paper.firstRow());
    toRow = std::min(toRow, paper.endRow());
    if (toRow <= fromRow && paper.keptRows() > 0) return QImage();
    const int64_t rows = toRow - fromRow;
    const int height = static_cast<int>(std::max<int64_t>(rows, 0));
    QImage image(paper.width(), std::max(height, 1), QImage::Format_Indexed8);
    // Colour table: 0 white, 1 cut grey, 2.. ink per density level 1..8, then red (the second
    // colour, ESC r) per level.
    QList<QRgb> colours = {qRgb(255, 255, 255), kCutGrey};
    for (uint8_t level = 1; level <= 8; ++level) {
        const int g = shaded ? InkGrey(level) : 0;
        colours.push_back(qRgb(g, g, g));
    }
    for (uint8_t level = 1; level <= 8; ++level) {
        const int g = shaded ? InkGrey(level) : 0;
        colours.push_back(qRgb(255, g, g));
    }
    image.setColorTable(colours);
    image.fill(0);
    for (int y = 0; y < height; ++y) {
        const int64_t row = fromRow + y;
        const uint8_t* bits = paper.row(row);
        uchar* line = image.scanLine(y);
        const uchar ink = static_cast<uchar>(1 + std::clamp<int>(paper.density(row), 1, 8) + (paper.red(row) ? 8 : 0));
        for (int x = 0; x < paper.width(); ++x) {
            if ((bits[x >> 3] >> (7 - (x & 7))) & 1) line[x] = ink;
        }
    }
    for (int64_t cut : paper.cuts()) {
        const int64_t y = cut - fromRow;
        if (y < 0 || y >= height) continue;
        uchar* line = image.scanLine(static_cast<int>(y));
        for (int x = 0; x < paper.width(); ++x) {
            if ((x / kCutDash) % 2 == 0 && line[x] == 0) line[x] = 1;
        }
    }
    return image;
}

// ---------------------------------------------------------------------------------------------

namespace {

// A write-only device onto a byte sink; once the sink refused bytes, every write fails.
class SinkDevice : public QIODevice {
public:
    explicit SinkDevice(const ByteSink& sink) : sink_(sink) { open(QIODevice::WriteOnly); }
    bool failed() const { return failed_; }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 n) override {
        if (failed_ || !sink_(reinterpret_cast<const uint8_t*>(data), static_cast<size_t>(n))) failed_ = true;
        return failed_ ? -1 : n;
    }

private:
    const ByteSink& sink_;
    bool failed_ = false;
};

}  // namespace

struct PdfPages::Writer {
    Writer(int width, const ByteSink& sink) : widthDots(width), device(sink), pdf(&device) {
        pdf.setResolution(203);
        pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
    }
    int widthDots;
    SinkDevice device;
    QPdfWriter pdf;
    QPainter painter;
    int pages = 0;
    bool failed = false;
};

PdfPages::PdfPages(int widthDots, const ByteSink& sink) : writer_(std::make_unique<Writer>(widthDots, sink)) {}

PdfPages::~PdfPages() {
    if (writer_->painter.isActive()) writer_->painter.end();
}

bool PdfPages::add(const Paper& paper, int64_t fromRow, int64_t toRow) {
    Writer& w = *writer_;
    if (w.failed) return false;
    // 8 dots per mm; the printed area is centred on the roll.
    const QImage image = PaperImage(paper, false, fromRow, toRow);
    const double widthMm = PaperWidthMm(w.widthDots);
    const double heightMm = std::max(1.0, image.height() / 8.0);
    w.pdf.setPageSize(QPageSize(QSizeF(widthMm, heightMm), QPageSize::Millimeter));
    if (w.pages == 0) {
        if (!w.painter.begin(&w.pdf)) w.failed = true;
    } else if (!w.pdf.newPage()) {
        w.failed = true;
    }
    if (!w.failed && !image.isNull()) {
        const double dotsPerMm = w.pdf.resolution() / 25.4;
        const double left = (widthMm - image.width() / 8.0) / 2.0 * dotsPerMm;
        w.painter.drawImage(QRectF(left, 0, image.width() * dotsPerMm / 8.0, image.height() * dotsPerMm / 8.0), image);
    }
    ++w.pages;
    if (w.device.failed()) w.failed = true;
    return !w.failed;
}

bool PdfPages::finish() {
    Writer& w = *writer_;
    if (!w.failed && w.pages == 0) add(Paper(w.widthDots), 0, 0);
    if (w.painter.isActive() && !w.painter.end()) w.failed = true;
    if (w.device.failed()) w.failed = true;
    return !w.failed;
}

// ---------------------------------------------------------------------------------------------

bool SavePaper(const Paper& paper, const std::string& path, std::string* error) {
    QSaveFile file(QString::fromStdString(path));
    bool ok = file.open(QIODevice::WriteOnly);
    if (ok) {
        const ByteSink sink = [&file](const uint8_t* data, size_t n) {
            return file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(n)) == static_cast<qint64>(n);
        };
        if (IsPdfName(path)) {
            PdfPages pdf(paper.width(), sink);
            ok = pdf.add(paper, paper.firstRow(), paper.endRow()) && pdf.finish();
        } else {
            ok = WritePaperPng(paper, paper.firstRow(), paper.endRow(), sink);
        }
        ok = ok && file.commit();
    }
    if (!ok) {
        if (error) *error = "cannot write " + path + (file.errorString().isEmpty() ? "" : ": " + file.errorString().toStdString());
        file.cancelWriting();
    }
    return ok;
}

}  // namespace pellory::receipt
