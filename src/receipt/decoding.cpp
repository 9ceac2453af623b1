#include "receipt/decoding.h"

#include <algorithm>
#include <cstdio>

#include "protocol/command_splitter.h"
#include "protocol/command_table.h"
#include "protocol/functions.h"
#include "protocol/hex.h"
#include "protocol/mnemonic.h"
#include "receipt/command_decoder.h"
#include "protocol/model_profile.h"
#include "receipt/decoding_images.h"
#include "receipt/decoding_symbols.h"

namespace pellory::receipt {

namespace {

using protocol::CommandEntry;
using protocol::CommandId;
using protocol::WriteMnemonic;
using Id = CommandId;

size_t Word(const uint8_t* p) { return static_cast<size_t>(p[0]) | static_cast<size_t>(p[1]) << 8; }

std::string Num(size_t v) { return std::to_string(v); }

std::string PrintModeBits(uint8_t n) {
    static const char* const kBits[8] = {"Font2", "italic", "border", "emphasized",
                                         "double height", "double width", "highlight", "underline"};
    if (n == 0) return ": normal";
    std::string s = ":";
    bool first = true;
    for (int b = 0; b < 8; ++b) {
        if (!(n & (1 << b))) continue;
        s += first ? " " : ", ";
        s += kBits[b];
        first = false;
    }
    return s;
}

// A character code as the decoding shows it: 'A' (41), or its number alone outside ASCII's visible characters.
std::string Character(uint8_t c) {
    if (c <= 0x20 || c >= 0x7F) return protocol::hex::Byte(c);
    return std::string("'") + static_cast<char>(c) + "' (" + protocol::hex::Byte(c) + ")";
}

// Why ESC & defines nothing (the printer refuses it whole), or nothing when it is in range: the
// command ends with a value out of range (see Rule::UserCharacters).
std::string UserCharactersRefused(const uint8_t* p, size_t n) {
    if (p[2] < 1 || p[2] > 3) return " (refused: y is 1 to 3)";
    if (p[3] < 32 || p[4] > 126) return " (refused: codes are 32 to 126)";
    size_t at = 5;
    for (int c = p[3]; c <= p[4]; ++c) {
        if (at >= n || p[at] > 12) return " (refused: x is at most 12)";
        at += 1 + size_t{p[2]} * p[at];
    }
    return "";
}

std::string OnOff(uint8_t n) { return (n & 1) ? " on" : " off"; }

std::string FontName(uint8_t n) {
    if (n >= 48) n = static_cast<uint8_t>(n - 48);
    return n <= 2 ? "Font" + Num(n + 1u) : "font " + Num(n);
}

// The parameters of a function-coded command by the names its entry gives them, from the byte
// after pL pH: "fn 97, n 100, c 2".
std::string NamedParameters(const CommandEntry& e, const uint8_t* p, size_t n) {
    std::string names(e.parameters);
    if (names.rfind("pL pH ", 0) == 0) names.erase(0, 6);
    std::string out;
    size_t at = 5;
    for (size_t from = 0; from < names.size() && at < n;) {
        size_t to = names.find(' ', from);
        if (to == std::string::npos) to = names.size();
        out += (out.empty() ? ": " : ", ") + names.substr(from, to - from) + " " + Num(p[at++]);
        from = to + 1;
    }
    return out;
}

// ESC * of a mode the printer does not name: how its length was read (see the splitter).
std::string BitImageModeNote(uint8_t m) {
    const bool tall = (m & 0x30) == 0x20;
    return "mode " + Num(m) + " is none of this printer's: its data read as " +
           (tall ? "24-dot columns (its bits 5 and 4 as in 32 and 33)" : "8-dot columns");
}

// What the drawing does with a command of another printer family (see PrinterModes::apply).
std::string OtherFamily(const CommandEntry& e) {
    std::string s(e.meaning);
    switch (e.id) {
        case Id::CondensedEscP:
        case Id::CondensedSi: return s + "; drawn two thirds as wide until DC2";
        case Id::CondensedOffEscP: return s + "; drawn as wide as before ESC SI";
        case Id::LineWideSo:
        case Id::LineWideEscSo: return s + "; drawn twice as wide until the line ends or DC4";
        case Id::LineWideOffDc4: return s + "; drawn as wide as before SO";
        case Id::ItalicOnEscP:
        case Id::ItalicOffEscP: return s + "; the text is drawn as it is";
        default: return s;
    }
}

std::string DrawerPin(uint8_t m) { return (m & 1) ? "pin 5" : "pin 2"; }

// What the decoding shows of an understood command besides the entry's meaning: the values of
// its parameters (appended), or, for a few, a mnemonic or meaning of their own.
void Detail(const CommandEntry& e, const uint8_t* p, size_t n, CommandInfo& c) {
    const uint8_t a = n > 2 ? p[2] : 0;
    std::string& m = c.meaning;
    switch (e.id) {
        case Id::CharacterSpacing: m += ": " + Num(a) + " dots"; break;
        case Id::PrintMode: m += PrintModeBits(a); break;
        case Id::AbsolutePosition: m += ": " + Num(Word(p + 2)) + " dots"; break;
        case Id::UserCharacterSet: m += OnOff(a); break;
        case Id::DefineUserCharacters:
            c.mnemonic = WriteMnemonic(p, n, 3, false);
            m += ": " + (p[3] <= p[4] ? Character(p[3]) + (p[4] > p[3] ? " to " + Character(p[4]) : "") : "none") +
                 ", " + Num(a) + (a == 1 ? " byte" : " bytes") + " per column" + UserCharactersRefused(p, n);
            break;
        case Id::CancelUserCharacter: m += " " + Character(a); break;
        case Id::BitImage: {
            c.mnemonic = WriteMnemonic(p, n, 3, false);
            const size_t cols = Word(p + 3);
            const char* mode = a == 0 ? "8-dot single-density" : a == 1 ? "8-dot double-density"
                             : a == 32 ? "24-dot single-density" : a == 33 ? "24-dot double-density" : "unknown mode";
            m += std::string(", ") + mode + ": " + Num(cols) + " columns";
            if (a != 0 && a != 1 && a != 32 && a != 33) m += " (" + BitImageModeNote(a) + "; nothing drawn)";
            break;
        }
        case Id::SelectDevice: m += (a & 1) ? ": printer on" : ": printer off"; break;
        case Id::Beeper:
        case Id::TestPrint:
        case Id::KanjiFont: m += NamedParameters(e, p, n); break;
        case Id::CharacterEffects: {
            const uint8_t fn = n > 5 ? p[5] : 0;
            const uint8_t v = n > 6 ? p[6] : 0;
            m += fn == 48   ? ": character colour "
                 : fn == 49 ? ": background colour "
                 : fn == 50 ? ": shading "
                            : ": fn " + Num(fn) + ", ";
            m += Num(v);
            break;
        }
        case Id::PaperSensors: {
            const uint8_t v = n > 3 ? p[3] : 0;
            m += a == '3' ? ": those that signal paper end, " + protocol::hex::Byte(v)
                 : a == '4' ? ": those that stop printing, " + protocol::hex::Byte(v)
                 : a == '5' ? std::string(": panel buttons ") + ((v & 1) ? "disabled" : "enabled")
                            : ": fn " + Num(a) + ", " + protocol::hex::Byte(v);
            break;
        }
        case Id::DrawerPulse:
            if (n >= 5) m += ": " + DrawerPin(a) + ", on " + Num(p[3] * 2u) + " ms, off " + Num(p[4] * 2u) + " ms";
            break;
        case Id::PrintColour:
            m += a % 48 == 0 && a < 50   ? ": colour 1 (black)"
                 : a % 48 == 1 && a < 50 ? ": colour 2 (red)"
                                         : ": " + Num(a) + " (none: ignored)";
            break;
        case Id::ReverseFeedDots: m += " " + Num(a) + " dots"; break;
        case Id::KanjiSpacing: m += ": left " + Num(a) + " dots, right " + Num(n > 3 ? p[3] : 0u) + " dots"; break;
        case Id::KanjiQuadruple: m += OnOff(a); break;
        case Id::ProcessId: m += NamedParameters(e, p, std::min<size_t>(n, 7)); break;
        case Id::PrinterId: m += " " + Num(a); break;
        case Id::Smoothing: m += OnOff(a); break;
        case Id::MaintenanceCounter:
            if (n >= 6) {
                m += std::string(a == '0' ? ": reset" : a == '2' ? ": send" : ": fn " + Num(a)) + " counter " +
                     Num(Word(p + 4));
            }
            break;
        case Id::AutomaticStatus: m += ": " + protocol::hex::Byte(a); break;
        case Id::Underline: m += ": " + Num(a >= 48 ? a - 48u : a) + " dots"; break;
        case Id::LineSpacing: m += ": " + Num(a) + " dots"; break;
        case Id::TabPositions:
            m += ":";
            if (n <= 3) m += " none";
            for (size_t i = 2; i < n && p[i] != 0; ++i) m += ' ' + Num(p[i]);
            break;
        case Id::Emphasized:
        case Id::DoubleStrike: m += OnOff(a); break;
        case Id::FeedDots:
        case Id::ReverseFeed: m += " " + Num(a) + " dots"; break;
        case Id::ReverseFeedLines: m += " " + Num(a) + " lines"; break;
        case Id::Font: m += ": " + FontName(a); break;
        case Id::RightMargin:
        case Id::LeftMargin: m += ": " + Num(a) + " (" + Num(a * 8u) + " dots)"; break;
        case Id::InternationalSet: m += " " + Num(a); break;
        case Id::Rotation: m += (a % 48 == 1 || a % 48 == 2) && a < 51 ? " on" : " off"; break;
        case Id::UpsideDown: m += OnOff(a); break;
        case Id::RelativePosition: m += ": " + Num(Word(p + 2)) + " dots"; break;
        case Id::PageDirection: {
            static const char* const kDirections[4] = {"left to right, from the upper left",
                                                       "bottom to top, from the lower left",
                                                       "right to left, from the lower right",
                                                       "top to bottom, from the upper right"};
            const int d = a >= 48 ? a - 48 : a;
            m += d >= 0 && d <= 3 ? std::string(": ") + kDirections[d] : " " + Num(a) + " (ignored)";
            break;
        }
        case Id::PageArea:
            m += ": origin " + Num(Word(p + 2)) + ", " + Num(Word(p + 4)) + ", " + Num(Word(p + 6)) + " x " +
                 Num(Word(p + 8)) + " units";
            break;
        case Id::Alignment: m += std::string(": ") + ((a % 48) == 0 ? "left" : (a % 48) == 1 ? "center" : "right"); break;
        case Id::FeedLines: m += " " + Num(a) + " lines"; break;
        case Id::PrintDensity: m += ": level " + Num(a); break;
        case Id::CodeTable: m += " " + Num(a); break;

        case Id::KanjiPrintMode: m += " " + protocol::hex::Byte(a); break;
        case Id::KanjiUnderline: m += ": " + Num(a >= 48 ? a - 48u : a) + " dots"; break;
        case Id::KanjiCodeSystem:
            m += " " + Num(a) +
                 (a == 0 || a == 48   ? ": JIS"
                  : a == 1 || a == 49 ? ": Shift_JIS"
                  : a == 2 || a == 50 ? ": Shift_JIS-2004 (read as Shift_JIS)"
                                      : " (none: ignored)");
            break;
        case Id::TableRow: m += ": " + Num(n > 3u + a ? p[3u + a] : 0u) + " cells"; break;
        case Id::PrintStoredImage: m += " " + Num(a) + ", " + ImageModeMeaning(n > 3 ? p[3] : 0); break;
        case Id::StoreImages: m += ": " + Num(a); break;
        case Id::Graphics: m += GraphicsMeaning(p + 5, n > 5 ? n - 5 : 0); break;
        case Id::LargeGraphics: m += GraphicsMeaning(p + 7, n > 7 ? n - 7 : 0); break;
        case Id::DefineDownloadedImage: m += ": " + Num(a * 8u) + " x " + Num((n > 3 ? p[3] : 0) * 8u) + " dots"; break;
        case Id::PrintDownloadedImage: m += ", " + ImageModeMeaning(a); break;
        case Id::PrintSpeed: m += std::string(": ") + (a == 0 ? "high" : a == 1 ? "normal" : a == 2 ? "low" : "unknown"); break;

        case Id::CharacterSize:
            m += a & 0x88 ? ": " + protocol::hex::Byte(a) + " (out of range: ignored)"
                          : ": width x" + Num((a >> 4) + 1u) + ", height x" + Num((a & 7) + 1u);
            break;
        case Id::Symbol2D: {
            const SymbolMeaning s = Symbol2DMeaning(p, n);
            if (!s.meaning.empty()) m = s.meaning;
            if (s.shown) c.mnemonic = WriteMnemonic(p, n, s.shown, false);
            break;
        }
        case Id::ReversePrinting: m += OnOff(a); break;
        case Id::BarcodeTextPosition: {
            static const char* const kPos[4] = {"none", "above", "below", "above and below"};
            m += std::string(": ") + kPos[a & 3];
            break;
        }
        case Id::PageVerticalPosition: m += ": " + Num(Word(p + 2)) + " units"; break;
        case Id::PageRelativePosition: m += ": " + std::to_string(static_cast<int16_t>(Word(p + 2))) + " units"; break;
        case Id::MotionUnits:
            m += std::string(": horizontal ") + (a ? "1/" + Num(a) + " inch" : "default") + ", vertical " +
                 (p[3] ? "1/" + Num(p[3]) + " inch" : "default");
            break;
        case Id::LeftMarginDots:
        case Id::PrintAreaWidth: m += ": " + Num(Word(p + 2)) + " dots"; break;
        case Id::Cut:
            m = (a == 0 || a == 48 || a == 65 || a == 97) ? "full cut" : "partial cut";
            if (n > 3) m += " after feeding " + Num(p[3]) + " dots";
            break;
        case Id::BarcodeTextFont: m += ": " + FontName(a); break;
        case Id::BarcodeHeight:
        case Id::BarcodeWidth: m += ": " + Num(a) + " dots"; break;
        case Id::Barcode: {
            const SymbolMeaning s = BarcodeMeaning(p, n);
            c.mnemonic = WriteMnemonic(p, n, s.shown, false);
            m += s.meaning;
            c.known = s.known;
            break;
        }
        case Id::StatusRequest: m += " " + Num(a); break;
        case Id::RasterImage: {
            if (n < 8) {
                c.known = false;
                break;
            }
            static const char* const kModes[4] = {"normal", "double width", "double height", "quadruple"};
            c.mnemonic = WriteMnemonic(p, n, 5, false);  // the header; the meaning tells the size
            m += std::string(", ") + kModes[p[3] & 3] + ": " + Num(Word(p + 4) * 8) + " x " + Num(Word(p + 6)) + " dots";
            break;
        }

        case Id::RealTimeStatus: m += " " + Num(n > 2 ? p[2] : 0u); break;
        case Id::RealTimeRequest:
            m += " " + Num(a) +
                 (a == 1 ? ": recover from an error and go on" : a == 2 ? ": recover, the buffers cleared" : "");
            break;
        case Id::RealTimeFunction:
            m += " " + Num(a);
            if (a == 1 && n >= 5) m += ": drawer pulse, " + DrawerPin(p[3]) + ", " + Num(p[4] * 100u) + " ms";
            if (a == 2 && n >= 5) m += ": power off";
            if (a == 3 && n >= 8) m += ": buzzer, pattern " + Num(p[3]) + ", " + Num(p[4]) + " times";
            if (a == 8 && n >= 10) m += ": clear the buffers";
            break;
        default: break;
    }
}

}  // namespace

CommandInfo DescribeCommand(const uint8_t* p, size_t n) {
    if (n == 0) return {"", "", false, {}};
    // ESC W n of the Star and ESC/P printers is told by the byte after it (see Rule::PageArea):
    // on its own it is whole.
    const bool otherEscW = n == 3 && p[0] == protocol::kEsc && p[1] == 'W';
    if (p[0] < protocol::kFirstText && protocol::CommandLength(p, n) != n && !otherEscW) {
        // Cut short (the end of a stream): only its name, no parameters are read. ESC m without
        // its n is whole on printers of other makers: their partial cut.
        const bool escM = n == 2 && p[0] == protocol::kEsc && p[1] == 'm';
        return {
            WriteMnemonic(p, std::min<size_t>(n, 2), 0, false), "incomplete", false,
            escM ? "ESC m alone is a partial cut on other makers' printers (here it takes n, the print density)" : ""};
    }
    return DescribeCommandStart(p, n);
}

CommandInfo DescribeCommandStart(const uint8_t* p, size_t n) {
    if (n == 0 || p[0] >= protocol::kFirstText) return {"", "", false, {}};
    const CommandEntry* e = protocol::FindCommand(p, n);
    if (!protocol::IsIntroducer(p[0])) {
        // A control byte on its own: its name, and its meaning where the printer knows it.
        if (!e || !e->understood()) {
            CommandInfo c{std::string(protocol::ControlName(p[0])), "", false, {}};
            if (e && e->otherFamily()) c.family = OtherFamily(*e);
            return c;
        }
        return {std::string(e->mnemonic), std::string(e->meaning), true, {}};
    }
    CommandInfo c{WriteMnemonic(p, n), "", false, {}};
    if (e && e->otherFamily()) c.family = OtherFamily(*e);
    if (e && e->id == Id::PageArea && n == 3) {
        // ESC W n of the Star and ESC/P printers (see Rule::PageArea).
        c.family = std::string("Star and ESC/P: double width") + OnOff(p[2]);
        return c;
    }
    if (!e || !e->understood()) return c;
    c.known = true;
    c.meaning = std::string(e->meaning);
    Detail(*e, p, n, c);
    return c;
}

std::string DecodedOffset(size_t offset) {
    char text[24];
    std::snprintf(text, sizeof text, "%04zX", offset);
    return text;
}

std::string FormatDecoded(const DecodedCommand& c) {
    constexpr size_t kShownBytes = 12;
    std::string bytes = protocol::hex::Spaced(c.bytes.data(), std::min(c.bytes.size(), kShownBytes));
    if (StreamLength(c) > kShownBytes) bytes += " ... (" + std::to_string(StreamLength(c)) + " bytes)";
    std::string line = DecodedOffset(c.offset) + "  " + bytes + "  ";
    if (c.text) return line + c.meaning;
    line += c.mnemonic;
    if (!c.known) return line + "  unknown" + (c.family.empty() ? "" : "; " + c.family);
    return line + "  " + c.meaning;
}

std::string GroupedNumber(uint64_t n) {
    const std::string digits = std::to_string(n);
    std::string grouped;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
        grouped += digits[i];
    }
    return grouped;
}

std::vector<DecodedCommand> DecodeCommands(const uint8_t* data, size_t n, protocol::Model model) {
    std::vector<DecodedCommand> out;
    CommandDecoder decoder(protocol::ProfileOf(model).paperDots, protocol::WidestProfile().paperDots);
    decoder.setDecodeSink([&](const DecodedCommand& c) { out.push_back(c); });
    decoder.feed(data, n);
    decoder.finish();
    return out;
}

std::string DecodeStream(const uint8_t* data, size_t n, size_t maxLines, protocol::Model model) {
    std::string text;
    size_t lines = 0, rest = 0;
    CommandDecoder decoder(protocol::ProfileOf(model).paperDots, protocol::WidestProfile().paperDots);
    decoder.setDecodeSink([&](const DecodedCommand& c) {
        if (maxLines && lines >= maxLines) {
            ++rest;
            return;
        }
        text += FormatDecoded(c) + '\n';
        ++lines;
    });
    decoder.feed(data, n);
    decoder.finish();
    if (rest) text += "... and " + std::to_string(rest) + " more commands\n";
    return text;
}

}  // namespace pellory::receipt
