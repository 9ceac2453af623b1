// The paper as a picture: PNG (one pixel per dot, printed dots pure black, or pure red where the
// second colour printed them, all else white, cuts as a dashed mid-grey line) or PDF at the real
// paper size. Qt Gui only; no widgets.
#pragma once

#include <QImage>
#include <memory>
#include <string>

#include "receipt/paper.h"
#include "receipt/paper_png.h"

namespace pellory::receipt {

inline constexpr QRgb kCutGrey = qRgb(128, 128, 128);

// Kept rows from the oldest to the last the stream reached. With `shaded`, ink shows the
// density it was printed with (lighter for low levels, level 8 black; red lighter the same way),
// as the live view shows it.
QImage PaperImage(const Paper& paper, bool shaded = false);
// Rows [fromRow, toRow) only (limited to the kept rows; a null image when none).
QImage PaperImage(const Paper& paper, bool shaded, int64_t fromRow, int64_t toRow);

// Grey level of ink printed at a density level 1..8 (level 8: 0, black).
int InkGrey(uint8_t density);

// Whether a file name asks for a PDF: it ends in ".pdf" (any letter case).
bool IsPdfName(const std::string& path);

// Writes the kept paper to path in one step (a new file in the same folder that then takes its
// place, so that a failure leaves no file and an old one as it was): PDF when the name ends in
// ".pdf" (one page), else PNG. False with error set when the file cannot be written.
bool SavePaper(const Paper& paper, const std::string& path, std::string* error = nullptr);

// A PDF at the real paper size, a page for each piece of paper given, written to a sink as the
// pages come (only the page being drawn is held).
class PdfPages {
public:
    PdfPages(int widthDots, const ByteSink& sink);
    ~PdfPages();
    PdfPages(const PdfPages&) = delete;
    PdfPages& operator=(const PdfPages&) = delete;

    // A page of rows [fromRow, toRow) of the paper (at least 1 mm high). False when it could not
    // be written.
    bool add(const Paper& paper, int64_t fromRow, int64_t toRow);
    // The end of the document; one without a page gets a blank one. False when it could not be
    // written.
    bool finish();

private:
    struct Writer;
    std::unique_ptr<Writer> writer_;
};

// Width of the roll in mm for a print head of widthDots: the paper's of the model whose head it is
// (protocol::ProfileForWidth).
double PaperWidthMm(int widthDots);

}  // namespace pellory::receipt
