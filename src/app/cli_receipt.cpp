// The receipt commands of pellory-cli: "render" and "decode" of a captured byte stream, and the
// picture of what the virtual printer printed (--receipt).
#include <cstdio>
#include <fstream>
#include <iostream>

#include "app/cli_support.h"
#include "link/port_settings.h"
#include "receipt/decoding.h"
#include "receipt/interpreter.h"
#include "receipt/paper_image.h"

namespace pellory::app::cli {

namespace {

constexpr size_t kMaxStream = 256u << 20;  // a captured stream larger than this is refused
constexpr size_t kPiece = 64u << 10;

// The bytes of a file, or of standard input for "-", read in pieces up to the limit.
std::optional<std::vector<uint8_t>> ReadStream(const std::string& path, std::ostream& err) {
    std::vector<uint8_t> bytes;
    std::ifstream file;
    std::istream* in = &std::cin;
    if (path != "-") {
        file.open(path, std::ios::binary);
        if (!file) {
            err << kCliProgram << ": cannot read " << path << '\n';
            return std::nullopt;
        }
        in = &file;
    }
    std::vector<char> piece(kPiece);
    while (*in) {
        in->read(piece.data(), static_cast<std::streamsize>(piece.size()));
        const size_t got = static_cast<size_t>(in->gcount());
        if (bytes.size() + got > kMaxStream) {
            err << kCliProgram << ": " << path << " is larger than " << (kMaxStream >> 20) << " MiB\n";
            return std::nullopt;
        }
        bytes.insert(bytes.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(got));
    }
    if (in->bad()) {
        err << kCliProgram << ": cannot read " << path << '\n';
        return std::nullopt;
    }
    return bytes;
}

// "-o FILE" given among the positional arguments (the option parser takes only "--" options).
std::optional<std::string> TakeShortOutput(std::vector<std::string>& positional, std::string& error) {
    std::optional<std::string> out;
    for (size_t i = 0; i < positional.size(); ++i) {
        if (positional[i] != "-o") continue;
        if (i + 1 >= positional.size()) {
            error = "-o needs a file name";
            return std::nullopt;
        }
        out = positional[i + 1];
        positional.erase(positional.begin() + static_cast<std::ptrdiff_t>(i), positional.begin() + static_cast<std::ptrdiff_t>(i) + 2);
        break;
    }
    return out;
}

}  // namespace

int ReceiptWidthForModel(int device) { return device == 0 ? receipt::kOrva58Dots : receipt::kOrva80Dots; }

int WriteReceipt(const std::vector<uint8_t>& stream, int widthDots, const std::string& path, std::ostream& err) {
    receipt::Interpreter printer(widthDots);
    for (size_t at = 0; at < stream.size(); at += kPiece) {
        printer.feed(stream.data() + at, std::min(kPiece, stream.size() - at));
    }
    return WriteReceipt(printer, path, err);
}

int WriteReceipt(receipt::Interpreter& printer, const std::string& path, std::ostream& err) {
    printer.finish();
    std::string error;
    if (!receipt::SavePaper(printer.paper(), path, &error)) {
        err << kCliProgram << ": " << error << '\n';
        return kCliFileUnreadable;
    }
    return kCliDone;
}

std::optional<Action> PrepareRender(const ParsedArgs& args, std::string& error) {
    ParsedArgs a = args;
    std::optional<std::string> output = TakeShortOutput(a.positional, error);
    if (!error.empty()) return std::nullopt;
    if (!output) output = a.Value("--output");
    if (!PositionalCount(a, 1, "INPUT", error)) return std::nullopt;
    if (!output || output->empty()) {
        error = "missing -o OUTPUT.png";
        return std::nullopt;
    }
    std::optional<int> width;
    if (const std::optional<std::string> model = a.Value("--model")) {
        if (SameText(*model, "ORVA58")) {
            width = receipt::kOrva58Dots;
        } else if (SameText(*model, "ORVA80")) {
            width = receipt::kOrva80Dots;
        } else {
            error = "--model: \"" + *model + "\" is not ORVA58 or ORVA80";
            return std::nullopt;
        }
    }
    return [input = a.positional[0], out = *output, width](Session& s) {
        const std::optional<std::vector<uint8_t>> stream = ReadStream(input, s.err);
        if (!stream) return int{kCliFileUnreadable};
        // Without --model here, the global --model decides (its printable width).
        const int dots = width ? *width : (link::PrintableWidth > receipt::kOrva58Dots ? receipt::kOrva80Dots : receipt::kOrva58Dots);
        return WriteReceipt(*stream, dots, out, s.err);
    };
}

std::optional<Action> PrepareDecode(const ParsedArgs& a, std::string& error) {
    if (!PositionalCount(a, 1, "INPUT", error)) return std::nullopt;
    return [input = a.positional[0]](Session& s) {
        const std::optional<std::vector<uint8_t>> stream = ReadStream(input, s.err);
        if (!stream) return int{kCliFileUnreadable};
        receipt::Interpreter printer(receipt::kOrva58Dots, receipt::Interpreter::Drawing::Off);
        printer.setDecodeSink([&](const receipt::DecodedCommand& c) { s.out << receipt::FormatDecoded(c) << '\n'; });
        printer.feed(stream->data(), stream->size());
        printer.finish();
        s.out.flush();
        return int{kCliDone};
    };
}

}  // namespace pellory::app::cli
