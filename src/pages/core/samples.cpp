#include "pages/core/samples.h"

#include <cctype>
#include <initializer_list>
#include <mutex>

#include "pages/core/sample_picture.h"
#include "protocol/control_bytes.h"

namespace pellory::samples {
namespace {

using protocol::kEsc;
using protocol::kGs;
using protocol::kHt;
using protocol::kLf;

// --- building blocks of the table below ---

Step B(std::initializer_list<uint8_t> bytes) { return Step{Step::Kind::Bytes, std::vector<uint8_t>(bytes), {}}; }

Step T(std::string_view text) {
    return Step{Step::Kind::Bytes, std::vector<uint8_t>(text.begin(), text.end()), {}};
}

Step Table() { return Step{Step::Kind::TableRow, {}, {}}; }

Step Picture() { return Step{Step::Kind::RasterImage, {}, {}}; }

Step Qr(QrCommand c) { return Step{Step::Kind::Qr, {}, c}; }

// A row of one step.
Row R(Step s) { return Row{std::move(s)}; }

const Row kLineFeed = R(B({kLf}));
const Row kFeed48 = R(B({kEsc, 'J', 48}));

Sample Make(const char* button, int id, const char* title, std::vector<Row> own, uint32_t waitMs = 0) {
    Sample s;
    s.button = button;
    s.controlId = id;
    s.title = title;
    s.rows = TitleRows(title);
    for (Row& r : own) s.rows.push_back(std::move(r));
    s.waitAfterMs = waitMs;
    return s;
}

std::vector<Sample> Build() {
    std::vector<uint8_t> allCharacters;
    for (int c = 0x20; c <= 0xFF; ++c) allCharacters.push_back(static_cast<uint8_t>(c));

    std::vector<Sample> v;
    v.reserve(kSampleCount);
    v.push_back(Make("Font Sample", 1038, "Font",
                     {R(Step{Step::Kind::Bytes, allCharacters, {}}), kLineFeed, kLineFeed, kFeed48}, 1000));
    v.push_back(Make("Print and Feed", 1039, "Print and Paper Feed",
                     {R(T("Print and Feed Paper 100 dot-line")), R(B({kEsc, 'J', 100})), R(B({kEsc, '!', 0x08})),
                      R(T("Print and Paper Feed")), kLineFeed, Row{B({kEsc, '!', 0x00}), T("Print and Feed Paper 2 line")},
                      R(B({kEsc, 'd', 2}))}));
    v.push_back(Make("Margins", 1003, "Margins",
                     {R(B({kEsc, 'l', 10})), R(B({kEsc, 'Q', 10})),
                      R(T("Left Margins and Right Margins of 80 dots, the print buffer also according to the page "
                          "margins automatically print control")),
                      kLineFeed, kFeed48, R(B({kEsc, 'l', 0})), R(B({kEsc, 'Q', 0}))}));
    v.push_back(Make("Print Position", 1040, "Horizon Absolute Coordinates",
                     {R(B({kEsc, '$', 100, 0})), R(T("Coordinates is 100 dots")), kLineFeed,
                      R(T("Coordinates only effective once")), kLineFeed, kFeed48}));
    v.push_back(Make("Density", 1005, "Print Density",
                     {R(B({kEsc, 'm', 8})), R(T("Density of level 8")), kLineFeed, R(B({kEsc, 'm', 4})),
                      R(T("Density of level 4")), kLineFeed, kFeed48}));
    v.push_back(Make("H tab", 1006, "Horizontal Tab",
                     {Row{B({kEsc, 'D'}), B({12, 24}), B({0})}, R(B({kEsc, '!', 0x08})), R(T("Option A")),
                      R(B({kHt})), R(T("Option B")), R(B({kHt})), R(T("Option C")), kLineFeed, R(B({kEsc, '!', 0x00})),
                      R(T("Data1")), R(B({kHt})), R(T("Data2")), R(B({kHt})), R(T("Data3")), kLineFeed, kFeed48}));
    v.push_back(Make("Vert tab", 1007, "Vertial Tab", {R(Table()), R(Table()), R(Table()), R(Table()), kFeed48}));
    v.push_back(Make("Image", 1008, "Bit Image", {R(Picture()), kFeed48}));
    v.push_back(Make("Alignment", 1009, "Horizontal Alignment",
                     {R(B({kEsc, 'a', 0})), R(T("left")), kLineFeed, R(B({kEsc, 'a', 1})), R(T("Center")), kLineFeed,
                      R(B({kEsc, 'a', 2})), R(T("Right")), kLineFeed, R(B({kEsc, 'a', 0})), kFeed48}));
    v.push_back(Make("Barcode", 1010, "Barcode",
                     {R(T("Example: EAN13")), kLineFeed, R(B({kGs, 'h', 96})), R(B({kGs, 'w', 2})),
                      R(B({kGs, 'H', 2})), Row{B({kGs, 'k', 67, 12}), T("012345678900")}, kFeed48}));
    v.push_back(Make("QR Code", 1011, "QR code",
                     {R(Qr(QrCommand::SelectModel)), R(Qr(QrCommand::SetModuleSize)), R(Qr(QrCommand::SetErrorLevel)),
                      R(Qr(QrCommand::StoreSample)), R(Qr(QrCommand::Print)), kFeed48}));
    v.push_back(Make("Cut", 1012, "Cut Paper", {R(T("Haft-cut")), kLineFeed, R(B({kGs, 'V', 66, 120})), kFeed48}));
    return v;
}

// Lower-case letters and digits only.
std::string Fold(std::string_view s) {
    std::string out;
    for (char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u)) out.push_back(static_cast<char>(std::tolower(u)));
    }
    return out;
}

}  // namespace

const std::vector<Sample>& Samples() {
    static const std::vector<Sample> samples = Build();
    return samples;
}

std::optional<size_t> FindSample(std::string_view name) {
    const std::string wanted = Fold(name);
    if (wanted.empty()) return std::nullopt;
    const std::vector<Sample>& all = Samples();
    for (size_t i = 0; i < all.size(); ++i) {
        if (Fold(all[i].button) == wanted) return i;
    }
    for (size_t i = 0; i < all.size(); ++i) {
        if (Fold(all[i].title) == wanted) return i;
    }
    return std::nullopt;
}

std::vector<Row> TitleRows(const std::string& title) {
    return {kLineFeed, R(B({kEsc, '!', 0x08})), R(T(title)), kLineFeed, R(B({kEsc, '!', 0x00}))};
}

void SendStep(link::CORVA_LIB& link, const Step& step) {
    switch (step.kind) {
        case Step::Kind::Bytes:
            link.Send(step.bytes.data(), step.bytes.size());
            break;
        case Step::Kind::TableRow:
            link.SendTableRow(kTablePositions, kTableCells);
            break;
        case Step::Kind::RasterImage:
            link.SendRasterImage(SamplePicture().data(), 0, kSamplePictureBytesPerRow, 0, kSamplePictureHeight, 0);
            break;
        case Step::Kind::Qr:
            switch (step.qr) {
                case QrCommand::SelectModel:
                    link.QrSelectModel();
                    break;
                case QrCommand::SetModuleSize:
                    link.QrSetModuleSize();
                    break;
                case QrCommand::SetErrorLevel:
                    link.QrSetErrorLevel();
                    break;
                case QrCommand::StoreSample:
                    link.QrStoreSample();
                    break;
                case QrCommand::Print:
                    link.QrPrint();
                    break;
            }
            break;
    }
}

void SendRow(link::CORVA_LIB& link, const Row& row) {
    for (const Step& step : row) SendStep(link, step);
}

std::vector<uint8_t> RowBytes(const Row& row) {
    // A link that is never opened: with only the send buffer in use, Send queues the bytes and
    // nothing takes them out.
    link::CORVA_LIB dry;
    dry.SetFlags(link::LINK_TX_BUFFER);
    SendRow(dry, row);
    link::CSerialEngine::BlockBuffer& buffer = dry.SendBuffer();
    std::lock_guard<std::mutex> lock(buffer.Mutex());
    std::vector<uint8_t> out(buffer.UnlockedCount());
    out.resize(buffer.Take(out.data(), out.size()));
    return out;
}

std::vector<std::string> SampleEchoRows(const Sample& sample) {
    link::CORVA_LIB dry;  // never opened: Send only records the echo
    dry.echoSwitch = true;
    std::vector<std::string> rows;
    rows.reserve(sample.rows.size());
    for (const Row& row : sample.rows) {
        SendRow(dry, row);
        rows.push_back(dry.TakeEcho().hex());
    }
    return rows;
}

}  // namespace pellory::samples
