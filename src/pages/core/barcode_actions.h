// What the "Barcode Print" page does without its widgets: the symbologies with their data rules
// and range texts, the HRI position, bar width and height commands, and the print of one
// barcode. The command line uses the same class, so both send the same bytes.
//
// On a closed link these actions stop, as the other pages' actions do: when the connection
// procedure leaves the link closed (its message has told the user why), nothing is handed to
// the link and no history row appears. Going on would echo bytes into the history that never
// reach a printer (the next opening drops them), which would mislead whoever reads it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pages/core/page_link.h"
#include "pages/core/print_setup_actions.h"  // ActionOutcome, ReadFieldNumber

namespace pellory::pages {

// Which characters a symbology takes.
enum class BarcodeCharset {
    Digits,   // 0 to 9
    Code39,   // 0 to 9, A to Z, space, $ % + - . /
    Codabar,  // first and last one of A B C D a b c d, between them 0 to 9 and $ + - . / :
    Ascii,    // a value below 0x80, or one of C1 C2 C3 C4
};

struct Symbology {
    const char* item;            // entry of "Barcode System:"
    uint8_t m;                   // m of GS k
    const char* characterRange;  // text of "The range of Characters:"
    const char* numberRange;     // text of "The range of Characters Number:"
    uint16_t minLength;          // characters, both limits included
    uint16_t maxLength;
    bool evenLength;             // the number of characters must be even
    BarcodeCharset charset;
};

inline constexpr std::array<Symbology, 10> kSymbologies = {{
    {"UPC-A", 0x41, "0 ~ 9", "11", 11, 11, false, BarcodeCharset::Digits},
    {"UPC-B", 0x42, "0 ~ 9", "6", 6, 6, false, BarcodeCharset::Digits},
    {"EAN13", 0x43, "0 ~ 9", "12", 12, 12, false, BarcodeCharset::Digits},
    {"EAN8", 0x44, "0 ~ 9", "7", 7, 7, false, BarcodeCharset::Digits},
    {"CODE39", 0x45, "0 ~ 9   A ~ Z   SP $ % + - . /", "1 ~ 255", 1, 255, false, BarcodeCharset::Code39},
    {"ITF25", 0x46, "0 ~ 9", "2 ~ 255, Even", 2, 254, true, BarcodeCharset::Digits},
    {"CODABAR", 0x47, "0 ~ 9   $ + - . / :",
     "1 ~ 255, Insert A or a before code data, Insert D or d after code data", 1, 255, false,
     BarcodeCharset::Codabar},
    {"CODA93", 0x48, "ASCII: NULL(0) ~ SP(127)", "1 ~ 255", 1, 255, false, BarcodeCharset::Ascii},
    {"CODA128", 0x49, "ASCII: NULL(0) ~ SP(127)", "2 ~ 255", 2, 255, false, BarcodeCharset::Ascii},
    {"EAN128", 0x4A, "ASCII: NULL(0) ~ SP(127)", "2 ~ 255", 2, 255, false, BarcodeCharset::Ascii},
}};

inline constexpr std::array<const char*, 4> kHriEntries = {"None", "Above", "Below", "Both"};

// Start-up contents of the page.
constexpr int kDefaultSymbology = 0;
constexpr int kDefaultHri = 0;
inline constexpr const char* kDefaultWidthText = "2";
inline constexpr const char* kDefaultHeightText = "64";
inline constexpr const char* kDefaultBarcodeData = "01234567890";

constexpr int32_t kMinBarWidth = 1;
constexpr int32_t kMaxBarWidth = 6;
constexpr int32_t kMinBarHeight = 1;
constexpr int32_t kMaxBarHeight = 255;

inline constexpr const char* kWidthMessage = "Barcode Width should be large than 1 and less than 6";
inline constexpr const char* kHeightMessage = "Barcode Height should be large than 1 and less than 255";
inline constexpr const char* kDataMessage = "Barcode data out of range, please check input data";

// Whether data (single-byte characters) follow the rule of the symbology at index: first the
// length, then every character. False for an index outside the table.
bool BarcodeDataValid(int index, std::string_view data);
// Whether one character is allowed by a character set (for Codabar: a character between the
// first and the last).
bool BarcodeCharAllowed(BarcodeCharset charset, uint8_t c);

std::vector<uint8_t> HriCommand(uint8_t n);     // GS H n
std::vector<uint8_t> WidthCommand(uint8_t w);   // GS w w
std::vector<uint8_t> HeightCommand(uint8_t h);  // GS h h
// GS k m n for n data characters of the symbology at index (valid index, n at most 255).
std::vector<uint8_t> BarcodeHeader(int index, size_t n);

class BarcodeActions : public PageLink {
public:
    BarcodeActions();
    ~BarcodeActions() override;

    // Start-up: switches the link's echo record on. Sends nothing.
    void Start();

    // "HRI Position:" set to position (0 "None" .. 3 "Both"): only while the ready flag is set,
    // opens and probes the link and sends GS H n. Refused (no message) for another position.
    ActionOutcome HriStep(int position);
    // "Barcode Width:" / "Barcode Height:" changed to text: only while the ready flag is set,
    // opens and probes the link, then checks the value (1..6, 1..255) and sends GS w / GS h.
    ActionOutcome ChangeWidth(std::string_view text);
    ActionOutcome ChangeHeight(std::string_view text);
    // "Print Barcode": the HRI step, the connection procedure again, the data check, then
    // GS k m n and the data in two sends and one history row.
    ActionOutcome PrintBarcode(int symbology, int hriPosition, std::string_view data);

private:
    bool OpenForAction();
    ActionOutcome ChangeDimension(std::string_view text, int32_t low, int32_t high,
                                  std::vector<uint8_t> (*command)(uint8_t), const char* message);
};

}  // namespace pellory::pages
