// Every command the command table marks understood and every function of the function table,
// against what the program does with it: the decoding names it (never "unknown"), the paper shows
// it (drawing a sample of it before a probe differs from the probe alone) unless its table entry
// says it leaves the paper as it is (then the paper must stay the same), and the printer's intake
// answers it exactly where its table entry says the printer answers.
//
// A command or function added to a table without a sample here fails the test: each one needs
// the bytes it is drawn with.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <utility>

#include "protocol/command_table.h"
#include "protocol/encode.h"
#include "protocol/function_table.h"
#include "protocol/hex.h"
#include "receipt/decoding.h"
#include "receipt/receipt_test_support.h"
#include "vprinter/printer_intake.h"

namespace {

using namespace pellory;
using protocol::CommandEntry;
using protocol::CommandId;
using protocol::FunctionEntry;
using receipt::test::B;
using receipt::test::Bytes;
using receipt::test::Cat;
using receipt::test::T;

// What a command is drawn with: the stream before it, the command, and the probe after it whose
// drawing it changes.
struct Sample {
    Bytes before;
    Bytes command;
    Bytes after;
};

// Text in single bytes that the code table, the international set and the Kanji modes read
// differently, on two lines so that the line spacing shows.
const Bytes kProbe = Cat({T("Ab#$@["), B({0x88, 0x9F, 0x0A}), T("Xy"), B({0x0A})});
const Bytes kKanjiOn = B({0x1C, '&'});
const Bytes kKanji = Cat({kKanjiOn, B({0x30, 0x21, 0x88, 0x9F, 0x0A})});
const Bytes kPageMode = B({0x1B, 'L'});
const Bytes kPagePrint = B({0x0C});
const Bytes kBarcode = Cat({B({0x1D, 'k', 4}), T("ABC"), B({0})});
const Bytes kBarcodeLine = Cat({kBarcode, B({0x0A})});
const Bytes kUserA = Cat({B({0x1B, '&', 3, 'A', 'A', 12}), Bytes(36, 0xFF)});
const Bytes kStoredImage = Cat({B({0x1C, 'q', 1, 1, 0, 1, 0}), Bytes(8, 0xFF)});
const Bytes kDownloadedImage = Cat({B({0x1D, '*', 1, 1}), Bytes(8, 0xFF)});

// The command with parameters of value 1 after its introducer, as long as its entry's head.
Bytes Plain(const CommandEntry& e) {
    Bytes b(e.introducer.bytes.begin(), e.introducer.bytes.begin() + e.introducer.size);
    b.resize(std::max<size_t>(e.length.head, e.introducer.size), 1);
    return b;
}

// The samples of the commands whose plain form shows nothing or is not whole.
Sample CommandSample(const CommandEntry& e) {
    const Bytes plain = Plain(e);
    switch (e.id) {
        case CommandId::DefaultLineSpacing:
            return {B({0x1B, '3', 90}), plain, kProbe};
        case CommandId::UserCharacterSet:
            return {kUserA, plain, T("A\n")};
        case CommandId::DefineUserCharacters:
            return {{},
                    kUserA,
                    T("\x1B%\x01"
                      "A\n")};
        case CommandId::CancelUserCharacter:
            return {Cat({kUserA, B({0x1B, '%', 1})}), B({0x1B, '?', 'A'}), T("A\n")};
        case CommandId::BitImage:
            return {{}, B({0x1B, '*', 0, 2, 0, 0xFF, 0xFF}), kProbe};
        case CommandId::SelectDevice:
            return {{}, B({0x1B, '=', 0}), kProbe};
        case CommandId::Initialise:
            return {B({0x1B, 'E', 1}), plain, kProbe};
        case CommandId::TabPositions:
            return {{}, B({0x1B, 'D', 2, 0}), T("\tA\n")};
        case CommandId::StandardMode:
            return {kPageMode, plain, kProbe};
        case CommandId::PageModePrint:
            return {Cat({kPageMode, kProbe}), plain, {}};
        case CommandId::PageDirection:
        case CommandId::PageArea:
        case CommandId::PageVerticalPosition:
        case CommandId::PageRelativePosition:
            return {kPageMode, plain, Cat({kProbe, kPagePrint})};
        case CommandId::RightMargin:
            return {{}, B({0x1B, 'Q', 40}), kProbe};
        case CommandId::ReverseFeed:
        case CommandId::ReverseFeedDots:
        case CommandId::ReverseFeedLines:
            return {kProbe, plain, kProbe};
        case CommandId::KanjiPrintMode:
            return {{}, B({0x1C, '!', 0x0C}), kKanji};
        case CommandId::KanjiUnderline:
        case CommandId::KanjiQuadruple:
        case CommandId::KanjiSpacing:
        case CommandId::KanjiCodeSystem:
            return {{}, plain, kKanji};
        case CommandId::KanjiOff:
            return {kKanjiOn, plain, kProbe};
        case CommandId::TableRow:
            return {{}, Cat({B({0x1C, 'V', 1, 10, 1, 0, 0}), T("Cell"), B({0})}), kProbe};
        case CommandId::PrintStoredImage:
            return {kStoredImage, B({0x1C, 'p', 1, 0}), {}};
        case CommandId::StoreImages:
            return {{}, kStoredImage, B({0x1C, 'p', 1, 0})};
        case CommandId::DefineDownloadedImage:
            return {{}, kDownloadedImage, B({0x1D, '/', 0})};
        case CommandId::PrintDownloadedImage:
            return {kDownloadedImage, B({0x1D, '/', 0}), {}};
        case CommandId::BarcodeTextPosition:
            return {{}, B({0x1D, 'H', 2}), kBarcodeLine};
        case CommandId::BarcodeTextFont:
            return {B({0x1D, 'H', 2}), plain, kBarcodeLine};
        case CommandId::BarcodeHeight:
            return {{}, B({0x1D, 'h', 30}), kBarcodeLine};
        case CommandId::BarcodeWidth:
            return {{}, B({0x1D, 'w', 2}), kBarcodeLine};
        case CommandId::Barcode:
            return {{}, kBarcode, Cat({B({0x0A}), kProbe})};
        case CommandId::MotionUnits:
            return {{}, plain, Cat({B({0x1B, '$', 1, 0}), kProbe})};
        case CommandId::PrintAreaWidth:
            return {{}, B({0x1D, 'W', 64, 0}), kProbe};
        case CommandId::Cut:
            return {kProbe, B({0x1D, 'V', 0}), kProbe};
        case CommandId::PartialCut:
            return {kProbe, plain, kProbe};
        case CommandId::RasterImage:
            return {{}, B({0x1D, 'v', '0', 0, 1, 0, 1, 0, 0xFF}), kProbe};
        case CommandId::AutomaticStatus:
            return {{}, B({0x1D, 'a', 0x0F}), kProbe};
        case CommandId::TestPrint:
            return {{}, B({0x1D, '(', 'A', 2, 0, 0, 2}), kProbe};
        default:
            return {{}, plain, kProbe};
    }
}

using FunctionKey = std::tuple<CommandId, uint8_t, uint8_t>;

// A function's parameters and data, and the streams around it.
struct FunctionSample {
    Bytes parameters;
    Bytes data;
    Bytes before;
    Bytes after;
};

Bytes Encoded(CommandId c, uint8_t cn, uint8_t fn, const Bytes& parameters = {}, const Bytes& data = {}) {
    return protocol::EncodeFunction(*protocol::FindFunction(c, cn, fn), parameters, data);
}
Bytes Symbol(uint8_t cn, uint8_t fn, const Bytes& parameters = {}, const Bytes& data = {}) {
    return Encoded(CommandId::Symbol2D, cn, fn, parameters, data);
}
Bytes Graphic(uint8_t fn, const Bytes& parameters = {}, const Bytes& data = {}) {
    return Encoded(CommandId::Graphics, 0, fn, parameters, data);
}

// A symbol's data as its store function takes them, and its print.
Bytes Stored(uint8_t cn) {
    switch (cn) {
        case 50:
            return Cat({Symbol(50, 65, B({52})), Symbol(50, 80, {}, T("Pellory"))});
        case 51:
            return Symbol(51, 80, B({72}), T("0001234567890"));
        case 52:
            return Cat({Symbol(52, 80, B({48, 66}), T("401234567890")), Symbol(52, 80, B({49, 65}), T("(10)LOT42"))});
        default:
            return Symbol(cn, 80, {}, T("Pellory 1234"));
    }
}
Bytes Printed(uint8_t cn) { return Cat({Stored(cn), Symbol(cn, 81)}); }

// One 8 x 8 picture of key "AA" (raster), or 8 dots wide of the buffer.
const Bytes kPicture = Cat({B({48, 'A', 'A', 1, 8, 0, 8, 0, 49}), Bytes(8, 0xF0)});
const Bytes kBufferPicture = Cat({B({48, 1, 1, 49, 8, 0, 8, 0}), Bytes(8, 0xF0)});

std::optional<FunctionSample> SampleOf(const FunctionEntry& f) {
    using Id = CommandId;
    namespace g = protocol::graphics;
    const uint8_t dl = f.fn >= g::kDeleteAllNv + g::kDownloaded && f.fn <= g::kPrintNv + g::kDownloaded ? g::kDownloaded
                                                                                                        : 0;
    switch (f.command) {
        case Id::RealTimeFunction:
            switch (f.fn) {
                case 1:
                    return FunctionSample{B({0, 1}), {}, {}, kProbe};
                case 2:
                    return FunctionSample{B({1, 8}), {}, {}, kProbe};
                case 3:
                    return FunctionSample{B({1, 2, 1, 5, 5}), {}, {}, kProbe};
                case 7:
                    return FunctionSample{B({1}), {}, {}, kProbe};
                case 8:
                    return FunctionSample{B({1, 3, 20, 1, 6, 2, 8}), {}, {}, kProbe};
                default:
                    return std::nullopt;
            }
        case Id::PaperSensors:
            return FunctionSample{B({1}), {}, {}, kProbe};
        case Id::Beeper:
            return FunctionSample{B({1, 2, 2, 1}), {}, {}, kProbe};
        case Id::KanjiFont:
            return FunctionSample{B({1}), {}, {}, kKanji};
        case Id::PrinterSetup:
            return FunctionSample{B({1}), T("9600"), {}, kProbe};
        case Id::ProcessId:
            return FunctionSample{B({1, 2, 3, 4}), {}, {}, kProbe};
        case Id::MaintenanceCounter:
            return FunctionSample{B({0, 20, 0}), {}, {}, kProbe};
        case Id::CharacterEffects:
            return FunctionSample{B({49}), {}, {}, kProbe};
        case Id::Graphics:
        case Id::LargeGraphics:
            switch (f.fn - dl) {
                case g::kPrintBufferOld:
                case g::kPrintBuffer:
                    return FunctionSample{{}, {}, Graphic(g::kStoreRaster, kBufferPicture), {}};
                case g::kDeleteAllNv:
                    return FunctionSample{T("CLR"),
                                          {},
                                          Graphic(g::kDefineNvRaster + dl, kPicture),
                                          Graphic(g::kPrintNv + dl, B({'A', 'A', 1, 1}))};
                case g::kDeleteNv:
                    return FunctionSample{B({'A', 'A'}),
                                          {},
                                          Graphic(g::kDefineNvRaster + dl, kPicture),
                                          Graphic(g::kPrintNv + dl, B({'A', 'A', 1, 1}))};
                case g::kDefineNvRaster:
                case g::kDefineNvColumn:
                    return FunctionSample{kPicture, {}, {}, Graphic(g::kPrintNv + dl, B({'A', 'A', 1, 1}))};
                case g::kPrintNv:
                    return FunctionSample{B({'A', 'A', 1, 1}), {}, Graphic(g::kDefineNvRaster + dl, kPicture), {}};
                case g::kStoreRaster:
                case g::kStoreColumn:
                    return FunctionSample{kBufferPicture, {}, {}, Graphic(g::kPrintBuffer)};
                default:
                    return std::nullopt;
            }
        case Id::Symbol2D:
            switch (f.fn) {
                case protocol::symbol2d::kStore:
                    switch (f.cn) {
                        case 50:
                            return FunctionSample{{}, T("Pellory"), Symbol(50, 65, B({52})), Symbol(50, 81)};
                        case 51:
                            return FunctionSample{B({72}), T("0001234567890"), {}, Symbol(51, 81)};
                        case 52:
                            return FunctionSample{B({49, 65}), T("(10)LOT42"),
                                                  Symbol(52, 80, B({48, 66}), T("401234567890")), Symbol(52, 81)};
                        default:
                            return FunctionSample{{}, T("Pellory 1234"), {}, Symbol(f.cn, 81)};
                    }
                case protocol::symbol2d::kPrint:
                    return FunctionSample{{}, {}, Stored(f.cn), {}};
                case protocol::symbol2d::kSendSize:
                    return FunctionSample{{}, {}, Stored(f.cn), kProbe};
                default:
                    break;
            }
            {
                // A setting, before the symbol printed: a value that is not the default.
                static const std::map<std::pair<int, int>, Bytes> kSettings = {
                    {{48, 65}, B({5})},      {{48, 66}, B({10})},     {{48, 67}, B({4})},       {{48, 68}, B({5})},
                    {{48, 69}, B({49, 20})}, {{48, 70}, B({1})},      {{49, 65}, B({51, 0})},   {{49, 67}, B({6})},
                    {{49, 69}, B({51})},     {{50, 65}, B({53})},     {{51, 67}, B({4})},       {{51, 71}, B({100, 0})},
                    {{52, 67}, B({4})},      {{52, 71}, B({100, 0})}, {{52, 72}, B({49})},      {{53, 50}, B({0, 20})},
                    {{53, 51}, B({5})},      {{53, 53}, B({60})},     {{54, 66}, B({1, 0, 0})}, {{54, 67}, B({5})},
                };
                const auto it = kSettings.find({f.cn, f.fn});
                if (it == kSettings.end()) return std::nullopt;
                // The width of the expanded stacked forms shows on those alone.
                const Bytes stacked = Symbol(51, 80, B({76}), T("(01)00012345678905(10)LOT42"));
                const Bytes stackedLinear = Symbol(52, 80, B({48, 76}), T("(01)00012345678905"));
                if (f.fn == 71 && f.cn == 51) return FunctionSample{it->second, {}, {}, Cat({stacked, Symbol(51, 81)})};
                if (f.fn == 71 && f.cn == 52) {
                    return FunctionSample{
                        it->second,
                        {},
                        {},
                        Cat({stackedLinear, Symbol(52, 80, B({49, 65}), T("(10)LOT42")), Symbol(52, 81)})};
                }
                // MaxiCode's mode shows against the default mode 2, which these data do not fit.
                if (f.cn == 50)
                    return FunctionSample{it->second, {}, {}, Cat({Symbol(50, 80, {}, T("Pellory")), Symbol(50, 81)})};
                return FunctionSample{it->second, {}, {}, Printed(f.cn)};
            }
        default:
            return std::nullopt;
    }
}

// What the intake sends back for one command fed alone to a fresh printer.
struct Answers : vprinter::PrinterIntake::Host {
    Bytes sent;
    void send(const uint8_t* bytes, size_t n) override { sent.insert(sent.end(), bytes, bytes + n); }
    void print(const uint8_t*, size_t) override {}
    void changeStates(vprinter::States, vprinter::States) override {}
};
Bytes AnswerTo(const Bytes& before, const Bytes& command) {
    vprinter::PrinterIntake intake(vprinter::Model::Orva80, {});
    Answers host;
    intake.feed(before.data(), before.size(), 0, host);
    host.sent.clear();
    intake.feed(command.data(), command.size(), 0, host);
    return host.sent;
}

// The same dots, in the same ink (density and colour), with the same cuts.
bool SamePaper(const Bytes& a, const Bytes& b) {
    const receipt::Paper pa = receipt::test::Render(a), pb = receipt::test::Render(b);
    if (!receipt::test::SameDots(pa, pb) || pa.cuts() != pb.cuts()) return false;
    for (int64_t y = pa.firstRow(); y < pa.endRow(); ++y) {
        if (pa.density(y) != pb.density(y) || pa.red(y) != pb.red(y)) return false;
    }
    return true;
}

// The three checks on one sample; `what` names it in the failures.
void Check(const std::string& what, const Sample& s, bool noPaperEffect, bool answered) {
    SCOPED_TRACE(what + ": " + protocol::hex::Spaced(s.command.data(), std::min<size_t>(s.command.size(), 16)));
    const receipt::CommandInfo info = receipt::DescribeCommand(s.command.data(), s.command.size());
    EXPECT_TRUE(info.known) << "decoded as " << info.mnemonic << "  unknown";
    const bool same = SamePaper(Cat({s.before, s.after}), Cat({s.before, s.command, s.after}));
    if (noPaperEffect) {
        EXPECT_TRUE(same) << "flagged as leaving the paper as it is, but the paper changes";
    } else {
        EXPECT_FALSE(same) << "nothing of it shows on the paper";
    }
    EXPECT_EQ(!AnswerTo(s.before, s.command).empty(), answered)
        << (answered ? "the table says the printer answers it; nothing came" : "answered, but the table says not");
}

// Commands the printer draws that the drawing does not show yet: decoded, not drawn. Each is held
// to drawing nothing, so that the one who draws it takes it off this list.
bool NotDrawnYet(CommandId id) {
    switch (id) {
        case CommandId::SelectDevice:    // ESC = 0 does not stop the printing
        case CommandId::KanjiPrintMode:  // FS !
        case CommandId::KanjiUnderline:  // FS -
        case CommandId::KanjiSpacing:    // FS S
        case CommandId::Smoothing:       // GS b
            return true;
        default:
            return false;
    }
}

TEST(CommandTables, EveryUnderstoodCommandIsDecodedDrawnAndAnswered) {
    for (const CommandEntry& e : protocol::CommandTable()) {
        if (!e.understood()) continue;
        // A function-coded command stands by its functions (the next test).
        if (protocol::LayoutOf(e.id)) continue;
        const Sample s = CommandSample(e);
        ASSERT_EQ(protocol::FindCommand(s.command.data(), s.command.size()), &e) << e.mnemonic << ": not its sample";
        Check(std::string(e.mnemonic), s, e.noPaperEffect() || NotDrawnYet(e.id), e.answers());
    }
}

TEST(CommandTables, EveryFunctionIsDecodedDrawnAndAnswered) {
    for (const FunctionEntry& f : protocol::FunctionTable()) {
        const CommandEntry& e = protocol::EntryOf(f.command);
        const std::string what = std::string(e.mnemonic) + (f.cn ? " cn " + std::to_string(f.cn) : "") + " fn " +
                                 std::to_string(f.fn) + " (" + std::string(f.name) + ")";
        const std::optional<FunctionSample> fs = SampleOf(f);
        ASSERT_TRUE(fs) << what << ": no sample";
        const Sample s{fs->before, protocol::EncodeFunction(f, fs->parameters, fs->data), fs->after};
        ASSERT_EQ(protocol::FunctionOf(e, s.command.data(), s.command.size()), &f) << what << ": not its sample";
        ASSERT_TRUE(e.understood()) << what;
        // The decoding names the function, not only its number.
        EXPECT_EQ(receipt::DescribeCommand(s.command.data(), s.command.size())
                      .meaning.find("function " + protocol::hex::Byte(f.fn)),
                  std::string::npos)
            << what;
        Check(what, s, f.noPaperEffect(), f.answered());
    }
}

}  // namespace
