// The receipt commands of pellory-cli: "render" and "decode" of a captured byte stream, and the
// picture of what the virtual printer printed (--receipt). The stream is taken piece by piece as
// it is read, and a picture is written in one step: nothing holds the whole stream, and a picture
// that cannot be written leaves no file.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

#include "app/cli_support.h"
#include "link/port_settings.h"
#include "receipt/decoding.h"
#include "receipt/interpreter.h"
#include "receipt/paper_image.h"

namespace pellory::app::cli {

namespace {

constexpr size_t kPiece = 64u << 10;
// The longest a read waits for bytes before it looks at the stop request again.
constexpr int kReadWaitMs = 100;

// Takes the next piece of the stream; false: no more is wanted.
using PieceSink = std::function<bool(const uint8_t* data, size_t n)>;

enum class ReadEnd { Done, Failed, Refused, Stopped };

// Reads a file, or standard input for "-", a piece at a time as the bytes come, handing each
// piece to take: until its end (Done), a read error (Failed, with the message on err), take
// saying no (Refused) or a stop request (Stopped: seen within kReadWaitMs even while no byte
// comes). A FIFO with no writer yet is waited for, as a pipe is.
ReadEnd ReadInPieces(const std::string& path, const PieceSink& take, std::ostream& err) {
    const bool standardInput = path == "-";
    const int fd = standardInput ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    ReadEnd end = fd < 0 ? ReadEnd::Failed : ReadEnd::Done;
    std::vector<uint8_t> piece(fd < 0 ? 0 : kPiece);
    while (fd >= 0) {
        if (Session::Stopping()) {
            end = ReadEnd::Stopped;
            break;
        }
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, kReadWaitMs);
        if (ready < 0 && errno != EINTR) {
            end = ReadEnd::Failed;
            break;
        }
        if (ready <= 0) continue;
        const ssize_t n = ::read(fd, piece.data(), piece.size());
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n < 0) {
            end = ReadEnd::Failed;
            break;
        }
        if (n == 0) break;
        if (!take(piece.data(), static_cast<size_t>(n))) {
            end = ReadEnd::Refused;
            break;
        }
    }
    if (fd >= 0 && !standardInput) ::close(fd);
    if (end == ReadEnd::Failed) err << kCliProgram << ": cannot read " << path << '\n';
    return end;
}

// Hands a stream to take, piece by piece, until its end, a read error, take saying no, or a stop.
using Reader = std::function<ReadEnd(const PieceSink& take)>;

// Bytes in memory, in the same pieces.
Reader MemoryReader(const std::vector<uint8_t>& bytes) {
    return [&bytes](const PieceSink& take) {
        for (size_t at = 0; at < bytes.size(); at += kPiece) {
            if (!take(bytes.data() + at, std::min(kPiece, bytes.size() - at))) return ReadEnd::Refused;
        }
        return ReadEnd::Done;
    };
}

// A byte sink onto the stream of a file being written: false once a write failed (its error
// kept) or, when stoppable, once a stop is requested.
struct FileSink {
    bool failed = false;
    int error = 0;

    receipt::ByteSink Onto(std::ostream& out, bool stoppable) {
        return [this, &out, stoppable](const uint8_t* data, size_t n) {
            out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(n));
            if (!out && !failed) {
                failed = true;
                error = errno;
            }
            return !failed && !(stoppable && Session::Stopping());
        };
    }
    std::string Why(const std::string& fromReplace) const { return failed ? std::strerror(error) : fromReplace; }
};

// One file, written in one step: a PNG, or a PDF at the real paper size for a .pdf name. Nothing
// is left at path unless the whole picture was written.
int DrawToFile(const Reader& read, int widthDots, const std::string& path, bool stoppable, std::ostream& err) {
    ReadEnd readEnd = ReadEnd::Done;
    FileSink file;
    std::string why;
    const bool written = ReplaceFileContent(path, [&](std::ostream& out) {
        const receipt::ByteSink sink = file.Onto(out, stoppable);
        receipt::Interpreter printer(widthDots);
        readEnd = read([&](const uint8_t* data, size_t n) {
            printer.feed(data, n);
            return !(stoppable && Session::Stopping());
        });
        bool drawn = readEnd == ReadEnd::Done;
        if (drawn) {
            printer.finish();
            const receipt::Paper& paper = printer.paper();
            if (receipt::IsPdfName(path)) {
                receipt::PdfPages pdf(widthDots, sink);
                drawn = pdf.add(paper, paper.firstRow(), paper.endRow()) && pdf.finish();
            } else {
                drawn = receipt::WritePaperPng(paper, paper.firstRow(), paper.endRow(), sink);
            }
        }
        if (!drawn) out.setstate(std::ios::badbit);  // nothing of an unfinished picture is kept
    }, why);
    if (stoppable && Session::Stopping()) return kCliDone;  // the stop's message and status follow
    if (readEnd == ReadEnd::Failed) return kCliFileUnreadable;
    if (!written) {
        err << kCliProgram << ": cannot write the picture to " << path << ": " << file.Why(why) << '\n';
        return kCliFileUnreadable;
    }
    return kCliDone;
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

bool IsOfflineCommand(std::string_view name) { return name == "render" || name == "decode"; }

int ReceiptWidthForModel(int device) { return device == 0 ? receipt::kOrva58Dots : receipt::kOrva80Dots; }

int WriteReceipt(const std::vector<uint8_t>& stream, int widthDots, const std::string& path, std::ostream& err) {
    return DrawToFile(MemoryReader(stream), widthDots, path, false, err);
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
        // Without --model here, the global --model decides (its printable width).
        const int dots = width ? *width : (link::PrintableWidth > receipt::kOrva58Dots ? receipt::kOrva80Dots : receipt::kOrva58Dots);
        const Reader read = [&](const PieceSink& take) { return ReadInPieces(input, take, s.err); };
        return DrawToFile(read, dots, out, true, s.err);
    };
}

std::optional<Action> PrepareDecode(const ParsedArgs& a, std::string& error) {
    if (!PositionalCount(a, 1, "INPUT", error)) return std::nullopt;
    return [input = a.positional[0]](Session& s) {
        receipt::Interpreter printer(receipt::kOrva58Dots, receipt::Interpreter::Drawing::Off);
        printer.setDecodeSink([&](const receipt::DecodedCommand& c) { s.out << receipt::FormatDecoded(c) << '\n'; });
        // Each line goes out as its command is read; an output that cannot be written ends the reading.
        const ReadEnd end = ReadInPieces(input, [&](const uint8_t* data, size_t n) {
            printer.feed(data, n);
            return static_cast<bool>(s.out);
        }, s.err);
        if (end == ReadEnd::Failed) return int{kCliFileUnreadable};
        if (end == ReadEnd::Done) printer.finish();
        s.out.flush();
        return int{kCliDone};
    };
}

}  // namespace pellory::app::cli
