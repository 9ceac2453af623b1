// Expected command-history rows and message texts of the "Print Setup" and "Barcode Print"
// pages, written out by hand from the printer's command set, for the page tests and the
// command-line tests. Each row is the echo form of one hand-over ("1B 40 ").
#pragma once

#include <string>

namespace pellory::test::rows {

// The status request of the connection procedure when it opens a closed link.
inline const std::string kProbe = "10 04 05 ";

// --- "Print Setup" ---
inline const std::string kLineSpace3 = "1B 33 03 ";
inline const std::string kLineSpace30 = "1B 33 1E ";
inline const std::string kLineSpace0 = "1B 33 00 ";
inline const std::string kLineSpace255 = "1B 33 FF ";
inline const std::string kLeftMargin20 = "1B 6C 14 ";
inline const std::string kRightMargin28 = "1B 51 1C ";
inline const std::string kAlignCenter = "1B 61 01 ";
inline const std::string kDensity8 = "1B 6D 08 ";
inline const std::string kSpeedLow = "1C 73 02 ";
inline const std::string kFont3 = "1B 4D 02 ";
inline const std::string kCharacterChinese = "1B 52 0F ";
inline const std::string kCodeTableWpc1252 = "1B 74 10 ";
inline const std::string kCodeTablePage255 = "1B 74 FF ";
// "Double High" checked alone: the style byte, then the status request, in one row.
inline const std::string kDoubleHighAlone = "1B 21 10 10 04 05 ";
// "Underline" checked next, "Double High" still checked: no status request.
inline const std::string kDoubleHighUnderline = "1B 21 90 ";
inline const std::string kKanjiOn = "1C 26 ";
inline const std::string kKanjiOff = "1C 2E ";
inline const std::string kInitialize = "1B 40 ";

inline const std::string kLineSpaceMessage = "The Linspace shoud not larger than 255!";
inline const std::string kMarginMessage = "The left margin and right margin should be less than 48";

// --- "Barcode Print" ---
inline const std::string kHriNone = "1D 48 00 ";
inline const std::string kHriBelow = "1D 48 02 ";
// The defaults: UPC-A, 11 characters "01234567890", header and data in one row.
inline const std::string kDefaultBarcode = "1D 6B 41 0B 30 31 32 33 34 35 36 37 38 39 30 ";
// EAN13 with "123456789012".
inline const std::string kEan13Barcode = "1D 6B 43 0C 31 32 33 34 35 36 37 38 39 30 31 32 ";
inline const std::string kHeight1 = "1D 68 01 ";
inline const std::string kHeight10 = "1D 68 0A ";
inline const std::string kHeight255 = "1D 68 FF ";
inline const std::string kWidth1 = "1D 77 01 ";
inline const std::string kWidth6 = "1D 77 06 ";

inline const std::string kWidthMessage = "Barcode Width should be large than 1 and less than 6";
inline const std::string kHeightMessage = "Barcode Height should be large than 1 and less than 255";
inline const std::string kDataMessage = "Barcode data out of range, please check input data";

// --- the connection procedure's messages ---
inline const std::string kOpenError = "COM Open Error!";
inline const std::string kNoAnswer = "Communicate Error:Printer No Answer.";

}  // namespace pellory::test::rows
