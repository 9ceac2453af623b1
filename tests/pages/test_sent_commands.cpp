// Every command Pellory sends, collected through the builders that make it (the samples, the set-up
// commands, "Print Setup", "Barcode Print", the pictures, the link's own commands), splits as one
// command of its full length, of an entry of the command table that the printer understands.
#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "imaging/bit_image.h"
#include "imaging/dot_matrix.h"
#include "link/open_and_probe.h"
#include "link/orva_lib.h"
#include "link/port_settings.h"
#include "pages/core/barcode_actions.h"
#include "pages/core/print_setup_actions.h"
#include "pages/core/quick_test_actions.h"
#include "pages/core/sample_picture.h"
#include "pages/core/samples.h"
#include "pages/core/setup_actions.h"
#include "protocol/command_splitter.h"
#include "protocol/command_table.h"

namespace pellory::pages {
namespace {

using Bytes = std::vector<uint8_t>;

struct Sent {
    std::string what;
    Bytes bytes;
};

// The bytes a link's command sends, through a link that is never opened.
template <class Send>
Bytes LinkBytes(Send send) {
    link::CORVA_LIB dry;
    dry.SetFlags(link::LINK_TX_BUFFER);
    send(dry);
    link::CSerialEngine::BlockBuffer& buffer = dry.SendBuffer();
    std::lock_guard<std::mutex> lock(buffer.Mutex());
    Bytes out(buffer.UnlockedCount());
    out.resize(buffer.Take(out.data(), out.size()));
    return out;
}

std::vector<Sent> SetUpCommands() {
    std::vector<Sent> v;
    v.push_back({"probe", Bytes(std::begin(link::kProbeRequest), std::end(link::kProbeRequest))});
    v.push_back({"status request", Bytes(std::begin(kStatusRequest), std::end(kStatusRequest))});
    const link::PortSettingsRecord saved = link::PortSettings;
    for (const char* rate : kBaudEntries) {
        v.push_back({std::string("baud set-up ") + rate, BaudSetupCommand(std::atoi(rate))});
        link::PortSettings.requestedBaudRate = std::atoi(rate);
        v.push_back({std::string("link baud set-up ") + rate, LinkBytes([](link::CORVA_LIB& l) { l.SetPrinterBaud(); })});
    }
    link::PortSettings = saved;
    for (const uint8_t flow : {link::kPrinterFlowNone, link::kPrinterFlowHardware, link::kPrinterFlowXonXoff}) {
        v.push_back({"handshake set-up", HandshakeSetupCommand(flow)});
        v.push_back({"link handshake set-up", LinkBytes([flow](link::CORVA_LIB& l) { l.SetPrinterHandshake(flow); })});
    }
    return v;
}

std::vector<Sent> PrintSetupCommands() {
    std::vector<Sent> v;
    for (const SetupList list : {SetupList::Alignment, SetupList::Density, SetupList::Speed, SetupList::Font,
                                 SetupList::CharacterSet, SetupList::CodeTable}) {
        for (int i = 0; i < static_cast<int>(ListEntries(list).size()); ++i) {
            v.push_back({"list entry " + ListEntries(list)[static_cast<size_t>(i)], ListCommand(list, *ListParameter(list, i))});
        }
    }
    for (const uint8_t n : {uint8_t{0}, uint8_t{24}, uint8_t{kMaxLineSpace}}) {
        v.push_back({"line space", LineSpaceCommand(n)});
        v.push_back({"left margin", LeftMarginCommand(n)});
        v.push_back({"right margin", RightMarginCommand(n)});
        v.push_back({"style", StyleCommand(n)});
    }
    v.push_back({"Kanji on", KanjiCommand(true)});
    v.push_back({"Kanji off", KanjiCommand(false)});
    v.push_back({"reset", ResetCommand()});
    return v;
}

std::vector<Sent> BarcodeCommands() {
    std::vector<Sent> v;
    for (uint8_t n = 0; n < kHriEntries.size(); ++n) v.push_back({"HRI", HriCommand(n)});
    v.push_back({"width", WidthCommand(kMaxBarWidth)});
    v.push_back({"height", HeightCommand(kMaxBarHeight)});
    for (size_t i = 0; i < kSymbologies.size(); ++i) {
        for (const size_t n : {size_t{kSymbologies[i].minLength}, size_t{kSymbologies[i].maxLength}}) {
            Bytes b = BarcodeHeader(static_cast<int>(i), n);
            b.insert(b.end(), n, '0');
            v.push_back({std::string("barcode ") + kSymbologies[i].item, b});
        }
    }
    return v;
}

std::vector<Sent> PictureCommands() {
    imaging::DotMatrix matrix;
    matrix.Reset(300, 60);
    for (int y = 0; y < matrix.height; ++y) {
        for (int x = 0; x < matrix.width; ++x) matrix.Row(y)[x] = static_cast<uint8_t>((x * 7 + y * 3) % 5 == 0);
    }
    std::vector<Sent> v;
    for (int mode = 0; mode < 4; ++mode) {
        for (const Bytes& row : imaging::EncodeColumnStripes(matrix, mode, link::kPrintableWidthOrva58)) {
            v.push_back({"column image, mode " + std::to_string(mode), row});
        }
        const imaging::RasterImage image = imaging::EncodeRaster(matrix, link::kPrintableWidthOrva80);
        for (const imaging::RasterCommand& c : imaging::RasterCommands(image, mode)) {
            v.push_back({"raster image, mode " + std::to_string(mode),
                         LinkBytes([&c](link::CORVA_LIB& l) { l.SendRasterImage(c.data, c.m, c.xL, c.xH, c.yL, c.yH); })});
        }
    }
    return v;
}

std::vector<Sent> LinkCommands() {
    return {
        {"QR model", LinkBytes([](link::CORVA_LIB& l) { l.QrSelectModel(); })},
        {"QR module size", LinkBytes([](link::CORVA_LIB& l) { l.QrSetModuleSize(); })},
        {"QR error level", LinkBytes([](link::CORVA_LIB& l) { l.QrSetErrorLevel(); })},
        {"QR store", LinkBytes([](link::CORVA_LIB& l) { l.QrStoreSample(); })},
        {"QR print", LinkBytes([](link::CORVA_LIB& l) { l.QrPrint(); })},
        {"table row", LinkBytes([](link::CORVA_LIB& l) { l.SendTableRow(samples::kTablePositions, samples::kTableCells); })},
        {"sample picture", LinkBytes([](link::CORVA_LIB& l) {
             l.SendRasterImage(samples::SamplePicture().data(), 0, samples::kSamplePictureBytesPerRow, 0,
                               samples::kSamplePictureHeight, 0);
         })},
    };
}

void ExpectOneUnderstoodCommand(const Sent& s) {
    const protocol::SplitResult r = protocol::SplitCommands(s.bytes);
    ASSERT_EQ(r.commands.size(), 1u) << s.what << ": " << ::testing::PrintToString(s.bytes);
    EXPECT_EQ(r.consumed, s.bytes.size()) << s.what;
    EXPECT_EQ(r.commands[0].bytes, s.bytes) << s.what;
    EXPECT_NE(r.commands[0].kind, protocol::Command::Kind::Text) << s.what;
    const protocol::CommandEntry* e = protocol::FindCommand(s.bytes.data(), s.bytes.size());
    ASSERT_NE(e, nullptr) << s.what;
    EXPECT_TRUE(e->understood()) << s.what << ": " << e->mnemonic;
}

TEST(SentCommands, EachBuiltCommandSplitsAsOneCommandOfItsFullLength) {
    size_t count = 0;
    for (const auto& collect : {SetUpCommands, PrintSetupCommands, BarcodeCommands, PictureCommands, LinkCommands}) {
        const std::vector<Sent> sent = collect();
        ASSERT_FALSE(sent.empty());
        for (const Sent& s : sent) ExpectOneUnderstoodCommand(s);
        count += sent.size();
    }
    EXPECT_GT(count, 150u);
}

TEST(SentCommands, EverySampleRowIsOneCommand) {
    // A row is one history row and one command (or one text run), but for the one row that sets
    // the print mode and then prints a line.
    const std::string modeThenText = "Print and Feed Paper 2 line";
    size_t rows = 0;
    for (const samples::Sample& sample : samples::Samples()) {
        for (const samples::Row& row : sample.rows) {
            const Bytes bytes = samples::RowBytes(row);
            std::vector<Bytes> expected = {bytes};
            const Bytes& last = row.back().bytes;
            if (row.size() == 2 && std::string(last.begin(), last.end()) == modeThenText) {
                expected = {row.front().bytes, last};
            }
            const protocol::SplitResult r = protocol::SplitCommands(bytes);
            EXPECT_EQ(r.consumed, bytes.size()) << sample.button;
            ASSERT_EQ(r.commands.size(), expected.size()) << sample.button << ": " << ::testing::PrintToString(bytes);
            for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(r.commands[i].bytes, expected[i]) << sample.button;
            if (r.commands[0].kind != protocol::Command::Kind::Text) ExpectOneUnderstoodCommand({sample.button, expected[0]});
            ++rows;
        }
    }
    EXPECT_GT(rows, 100u);
}

}  // namespace
}  // namespace pellory::pages
