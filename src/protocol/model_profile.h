// The printer models, each described once: its paper (width in dots and mm), its name, how it
// reads text at start (the Kanji code system, the code table) and what it reports of itself (the
// IDs and texts of GS I). Every module reads a model's facts here: the renderer and the decoding
// their paper width, the printer server its answers, the pages the width they fit pictures to,
// the web page the paper it shows.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace pellory::protocol {

enum class Model : uint8_t { Orva58, Orva80 };

// How a model's Kanji mode reads two-byte codes until FS C selects another: GB18030 on a
// Simplified Chinese model, Shift_JIS or JIS on a Japanese one, Big5 on a Traditional Chinese one,
// KS C 5601 on a Korean one. The character module maps each to its own code system.
enum class KanjiCodes : uint8_t { Gb18030, ShiftJis, Jis, Big5, Ksc5601 };

struct ModelProfile {
    Model model;
    const char* name;   // "ORVA58": what GS I 67 reports, what options and the "Device Name" list take
    int paperDots;      // the print head's width, the paper's print width in dots (8 per mm)
    int paperMm;        // the roll's width in mm
    int pictureDots;    // the width in dots the pages fit and send pictures at
    KanjiCodes kanji;   // the Kanji mode's code system at start and after ESC @
    uint8_t codeTable;  // the n of ESC t at start
    // GS I n: the IDs (n 1-3 and 49-51) and the texts (n 65-69) the printer reports.
    uint8_t modelId;                // n 1, 49
    uint8_t typeId;                 // n 2, 50: bit 1, an autocutter is fitted
    uint8_t firmwareId;             // n 3, 51
    std::string_view firmware;      // n 65
    std::string_view maker;         // n 66
    std::string_view serialNumber;  // n 68
    std::string_view fonts;         // n 69
};

// Every model, in the order of Model (and of the "Device Name" list).
inline constexpr std::array<ModelProfile, 2> kModelProfiles{{
    {Model::Orva58, "ORVA58", 384, 58, 384, KanjiCodes::Gb18030, 0, 0x22, 0x02, 0x01, "1.00", "Pellory", "PV58000001",
     "ANK"},
    {Model::Orva80, "ORVA80", 576, 80, 572, KanjiCodes::Gb18030, 0, 0x20, 0x02, 0x01, "1.00", "Pellory", "PV80000001",
     "ANK"},
}};

// The model a printer is taken for until an option or the "Device Name" list says otherwise (the
// first of that list): the window's, the command line's, the renderer's and the decoding's.
inline constexpr Model kStartModel = Model::Orva58;

constexpr const ModelProfile& ProfileOf(Model m) { return kModelProfiles[static_cast<size_t>(m)]; }

// The model named exactly name ("ORVA80"), or nothing.
std::optional<Model> ModelByName(std::string_view name);
// The model whose paper a drawing widthDots wide stands for: the narrowest whose paper is at least
// that wide, the widest for anything wider.
const ModelProfile& ProfileForWidth(int widthDots);
// The model with the widest paper: what a decoding that does not know the paper holds symbols
// against.
const ModelProfile& WidestProfile();

}  // namespace pellory::protocol
