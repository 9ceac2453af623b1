// The receipt commands of pellory-cli: "render" and "decode" of a captured byte stream, and the
// picture of what the virtual printer printed (--receipt). The stream is taken piece by piece as
// it is read, and pictures are written as they are drawn: nothing holds the whole stream.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <sstream>

#include "cli/bounded_input.h"
#include "cli/cli_support.h"
#include "link/port_settings.h"
#include "receipt/command_decoder.h"
#include "pages/core/setup_actions.h"
#include "protocol/model_profile.h"
#include "receipt/decoding.h"
#include "receipt/interpreter.h"
#include "receipt/offline_roll.h"
#include "receipt/paper_image.h"

namespace pellory::app::cli {

namespace {

namespace fs = std::filesystem;
using receipt::OfflineRoll;

constexpr size_t kPiece = 64u << 10;
// The longest a read waits for bytes before it looks at the stop request again.
constexpr int kReadWaitMs = 100;

// Takes the next piece of the stream; false: no more is wanted.
using PieceSink = std::function<bool(const uint8_t* data, size_t n)>;

enum class ReadEnd { Done, Failed, Refused, Stopped };

// Hands a stream to take, piece by piece, until its end, a read error, take saying no, or a stop.
using Reader = std::function<ReadEnd(const PieceSink& take)>;

// Reads a file, or standard input for "-", a piece at a time as the bytes come, handing each
// piece to take: until its end (Done), a read error (Failed, with the message on err), take
// saying no (Refused) or a stop request (Stopped: seen within kReadWaitMs even while no byte
// comes). A FIFO with no writer yet is waited for, as a pipe is.
ReadEnd ReadInPieces(const std::string& path, const PieceSink& take, std::ostream& err) {
    BoundedInput input;
    const bool opened = input.open(path);
    ReadEnd end = opened ? ReadEnd::Done : ReadEnd::Failed;
    std::vector<uint8_t> piece(opened ? kPiece : 0);
    while (opened) {
        if (Session::Stopping()) {
            end = ReadEnd::Stopped;
            break;
        }
        const long long n = input.read(piece.data(), piece.size(), kReadWaitMs);
        if (n == BoundedInput::kNothingYet) continue;
        if (n == BoundedInput::kFailed) {
            end = ReadEnd::Failed;
            break;
        }
        if (n == 0) break;
        if (!take(piece.data(), static_cast<size_t>(n))) {
            end = ReadEnd::Refused;
            break;
        }
    }
    if (end == ReadEnd::Failed) err << kCliProgram << ": cannot read " << path << '\n';
    return end;
}

// Bytes in memory, in the same pieces.
Reader MemoryReader(const std::vector<uint8_t>& bytes) {
    return [&bytes](const PieceSink& take) {
        for (size_t at = 0; at < bytes.size(); at += kPiece) {
            if (!take(bytes.data() + at, std::min(kPiece, bytes.size() - at))) return ReadEnd::Refused;
        }
        return ReadEnd::Done;
    };
}

std::string TooTallLimit() {
    return std::to_string(OfflineRoll::kMaxPictureRows) + " dots (" +
           std::to_string(OfflineRoll::kMaxPictureRows / 8000) + "." +
           std::to_string(OfflineRoll::kMaxPictureRows / 800 % 10) + " m of paper)";
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

// One file, written in one step: a PNG of the whole roll, or a PDF with a page per receipt.
// Nothing is left at path unless the whole picture was written.
int DrawToFile(const Reader& read, int widthDots, const std::string& path, bool stoppable, std::ostream& err) {
    const bool pdf = receipt::IsPdfName(path);
    ReadEnd readEnd = ReadEnd::Done;
    bool tooTall = false;
    FileSink file;
    std::string why;
    const bool written = ReplaceFileContent(path, [&](std::ostream& out) {
        const receipt::ByteSink sink = file.Onto(out, stoppable);
        std::optional<receipt::PdfPages> pages;
        if (pdf) pages.emplace(widthDots, sink);
        OfflineRoll roll(widthDots, pdf ? OfflineRoll::Pieces::EachReceipt : OfflineRoll::Pieces::WholeRoll,
                         [&](const receipt::Paper& paper, int64_t from, int64_t to) {
                             return pdf ? pages->add(paper, from, to)
                                        : receipt::WritePaperPng(paper, from, to, sink, receipt::kRenderCompression);
                         });
        readEnd = read([&](const uint8_t* data, size_t n) { return roll.feed(data, n) && !(stoppable && Session::Stopping()); });
        const bool drawn = readEnd == ReadEnd::Done && roll.finish() && (!pdf || pages->finish());
        tooTall = roll.tooTall();
        if (!drawn) out.setstate(std::ios::badbit);  // nothing of an unfinished picture is kept
    }, why);
    if (stoppable && Session::Stopping()) return kCliDone;  // the stop's message and status follow
    if (readEnd == ReadEnd::Failed) return kCliFileUnreadable;
    if (tooTall) {
        err << kCliProgram << ": " << (pdf ? "a receipt" : "the picture") << " would be taller than " << TooTallLimit()
            << ", the most a picture may be; nothing was written"
            << (pdf ? ".\n" : " (render --receipts DIR draws each receipt on a picture of its own).\n");
        return kCliFileUnreadable;
    }
    if (!written) {
        err << kCliProgram << ": cannot write the picture to " << path << ": " << file.Why(why) << '\n';
        return kCliFileUnreadable;
    }
    return kCliDone;
}

std::string ReceiptFileName(size_t number) {
    char name[48];
    std::snprintf(name, sizeof name, "receipt-%04zu.png", number);
    return name;
}

// A folder, a PNG for each receipt as it comes (receipt-0001.png, ...), each written in one step.
int DrawToFolder(const Reader& read, int widthDots, const std::string& folder, bool stoppable, std::ostream& err) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    std::error_code unused;
    if (!fs::is_directory(folder, unused)) {
        err << kCliProgram << ": cannot write the pictures to " << folder << ": "
            << (ec ? ec.message() : std::string("it is not a folder")) << '\n';
        return kCliFileUnreadable;
    }
    size_t written = 0;
    std::string failure;
    OfflineRoll roll(widthDots, OfflineRoll::Pieces::EachReceipt, [&](const receipt::Paper& paper, int64_t from, int64_t to) {
        const std::string path = (fs::path(folder) / ReceiptFileName(written + 1)).string();
        FileSink file;
        std::string why;
        const bool ok = ReplaceFileContent(
            path,
            [&](std::ostream& out) {
                if (!receipt::WritePaperPng(paper, from, to, file.Onto(out, stoppable), receipt::kRenderCompression)) {
                    out.setstate(std::ios::badbit);
                }
            },
            why);
        if (ok) ++written;
        if (!ok && !(stoppable && Session::Stopping())) failure = path + ": " + file.Why(why);
        return ok && !(stoppable && Session::Stopping());
    });
    const ReadEnd readEnd =
        read([&](const uint8_t* data, size_t n) { return roll.feed(data, n) && !(stoppable && Session::Stopping()); });
    if (readEnd == ReadEnd::Done) roll.finish();
    if (stoppable && Session::Stopping()) return kCliDone;  // the stop's message and status follow
    if (readEnd == ReadEnd::Failed) return kCliFileUnreadable;
    const std::string before = std::to_string(written) + (written == 1 ? " receipt" : " receipts");
    if (!failure.empty()) {
        err << kCliProgram << ": cannot write the picture to " << failure << "; " << before << " before it were written.\n";
        return kCliFileUnreadable;
    }
    if (roll.tooTall()) {
        err << kCliProgram << ": receipt " << written + 1 << " would be taller than " << TooTallLimit()
            << ", the most a picture may be; it was not written, and the " << before << " before it were.\n";
        return kCliFileUnreadable;
    }
    err << kCliProgram << ": " << before << " written to " << folder;
    if (written > 0) err << " (" << ReceiptFileName(1) << (written > 1 ? " to " + ReceiptFileName(written) : "") << ")";
    err << ".\n";
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

int ReceiptWidthForModel(int device) { return protocol::ProfileOf(pages::ModelOfDevice(device)).paperDots; }

bool ReadModelOption(const ParsedArgs& a, std::optional<protocol::Model>& model, std::string& error) {
    const std::optional<std::string> name = a.Value("--model");
    if (!name) return true;
    for (const protocol::ModelProfile& p : protocol::kModelProfiles) {
        if (SameText(*name, p.name)) {
            model = p.model;
            return true;
        }
    }
    error = "--model: \"" + *name + "\" is not ORVA58 or ORVA80";
    return false;
}

int WriteReceipt(const std::vector<uint8_t>& stream, int widthDots, const std::string& path, std::ostream& err) {
    return DrawToFile(MemoryReader(stream), widthDots, path, false, err);
}

// The bytes the printer's thread hands over wait here for the drawing thread, at most
// kWaitingLimit of them: beyond that the printer reads nothing more until the drawing has taken
// them, as a printer whose buffer is full.
struct ReceiptDrawing::Handover {
    static constexpr size_t kWaitingLimit = 4u << 20;
    static constexpr int kRoomWaitStepMs = 20;  // a waiting printer looks at its stop flag this often

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<uint8_t> waiting;  // guarded by mutex
    bool ended = false;            // no more bytes come (guarded by mutex)
    bool refused = false;          // the drawing takes no more (guarded by mutex)
};

ReceiptDrawing::ReceiptDrawing(vprinter::VirtualPrinter& printer, int widthDots, std::string path)
    : printer_(printer), handover_(std::make_unique<Handover>()) {
    Handover& h = *handover_;
    printer_.setObserver([this, &h](const uint8_t* bytes, size_t n) {
        std::unique_lock<std::mutex> lock(h.mutex);
        while (h.waiting.size() >= Handover::kWaitingLimit && !h.refused && !printer_.stopping()) {
            h.changed.wait_for(lock, std::chrono::milliseconds(Handover::kRoomWaitStepMs));
        }
        if (h.refused) return;
        h.waiting.insert(h.waiting.end(), bytes, bytes + n);
        h.changed.notify_all();
    });
    drawer_ = std::thread([this, &h, widthDots, path = std::move(path)] {
        const Reader read = [&h](const PieceSink& take) {
            std::vector<uint8_t> piece;
            for (;;) {
                {
                    std::unique_lock<std::mutex> lock(h.mutex);
                    h.changed.wait(lock, [&h] { return !h.waiting.empty() || h.ended; });
                    if (h.waiting.empty()) return ReadEnd::Done;
                    piece.clear();
                    piece.swap(h.waiting);
                }
                h.changed.notify_all();
                if (!take(piece.data(), piece.size())) return ReadEnd::Refused;
            }
        };
        code_ = DrawToFile(read, widthDots, path, false, messages_);
        {
            std::lock_guard<std::mutex> lock(h.mutex);
            h.refused = true;  // whatever still comes is not drawn, and the printer never waits for it
        }
        h.changed.notify_all();
    });
}

ReceiptDrawing::~ReceiptDrawing() { (void)finish(0, 0); }

int ReceiptDrawing::finish(size_t sent, uint32_t arrivalWatchdogMs) {
    if (!drawer_.joinable()) return code_;
    if (sent > 0) printer_.waitForBytes(sent, arrivalWatchdogMs);
    printer_.setObserver(nullptr);  // waits for a piece being handed over
    {
        std::lock_guard<std::mutex> lock(handover_->mutex);
        handover_->ended = true;
    }
    handover_->changed.notify_all();
    drawer_.join();
    return code_;
}

int ReceiptDrawing::write(size_t sent, std::ostream& err) {
    constexpr uint32_t kArrivalWatchdogMs = 10000;
    const int code = finish(sent, kArrivalWatchdogMs);
    err << messages_.str();
    return code;
}

std::optional<Action> PrepareRender(const ParsedArgs& args, std::string& error) {
    ParsedArgs a = args;
    std::optional<std::string> output = TakeShortOutput(a.positional, error);
    if (!error.empty()) return std::nullopt;
    if (!output) output = a.Value("--output");
    const std::optional<std::string> folder = a.Value("--receipts");
    if (!PositionalCount(a, 1, "INPUT", error)) return std::nullopt;
    if (output && folder) {
        error = "give -o OUTPUT or --receipts DIR, not both";
        return std::nullopt;
    }
    if (folder && folder->empty()) {
        error = "--receipts needs a folder";
        return std::nullopt;
    }
    if (!folder && (!output || output->empty())) {
        error = "missing -o OUTPUT.png (or --receipts DIR)";
        return std::nullopt;
    }
    std::optional<protocol::Model> model;
    if (!ReadModelOption(a, model, error)) return std::nullopt;
    return [input = a.positional[0], out = output.value_or(""), folder = folder.value_or(""), model](Session& s) {
        // Without --model here, the global --model decides (its printable width).
        const int dots = protocol::ProfileOf(model.value_or(pages::ChosenModel())).paperDots;
        const Reader read = [&](const PieceSink& take) { return ReadInPieces(input, take, s.err); };
        return folder.empty() ? DrawToFile(read, dots, out, true, s.err) : DrawToFolder(read, dots, folder, true, s.err);
    };
}

std::optional<Action> PrepareDecode(const ParsedArgs& a, std::string& error) {
    if (!PositionalCount(a, 1, "INPUT", error)) return std::nullopt;
    std::optional<protocol::Model> model;
    if (!ReadModelOption(a, model, error)) return std::nullopt;
    return [input = a.positional[0], model](Session& s) {
        // On the paper of --model here, else of the global --model.
        const int dots = protocol::ProfileOf(model.value_or(pages::ChosenModel())).paperDots;
        receipt::CommandDecoder printer(dots, protocol::WidestProfile().paperDots);
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
