#include "jobs/job_render.h"

#include <cstdio>
#include <utility>

#include "jobs/decoding_runs.h"
#include "receipt/decoding.h"
#include "receipt/interpreter.h"
#include "receipt/offline_roll.h"
#include "receipt/paper.h"
#include "receipt/paper_png.h"

namespace pellory::jobs {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using platform::RealClock;

namespace {

// The decoding is looked at every this many commands (the clock, stop).
constexpr size_t kDecodingWatchEvery = 64;
// The decoding goes to its file in pieces of about this many bytes.
constexpr size_t kDecodingPiece = 64u << 10;
// Room kept in the bound of bytes for the last line of a decoding cut short.
constexpr size_t kLastLineRoom = 256;

std::string SecondsText(std::chrono::milliseconds t) {
    const int64_t ms = t.count();
    std::string text = std::to_string(ms / 1000);
    if (ms % 1000) {
        char fraction[8];
        std::snprintf(fraction, sizeof fraction, ".%03d", static_cast<int>(ms % 1000));
        std::string f = fraction;
        while (f.back() == '0') f.pop_back();
        text += f;
    }
    return text + " s";
}

// What one job has used of its bounds, and why it stops (the first reason, once it does).
class JobBudget {
public:
    JobBudget(const JobBounds& bounds, const std::function<bool()>& stop)
        : bounds_(bounds),
          stop_(stop),
          clock_(bounds.clock ? bounds.clock : RealClock().get()),
          start_(clock_->now()) {}

    // False once the job is to end: the server stops, or the writer's time is used up.
    bool goOn() {
        if (!reason_.empty()) return false;
        if (stop_ && stop_()) {
            reason_ = "the server stopped";
        } else if (bounds_.maxWriterTime.count() > 0 && clock_->now() - start_ > bounds_.maxWriterTime) {
            reason_ = "more than " + SecondsText(bounds_.maxWriterTime) + " of writing";
        }
        return reason_.empty();
    }
    // The bytes that may still be written (with room for a line of reason kept when asked).
    uint64_t bytesLeft(uint64_t keep = 0) const {
        if (bounds_.maxOutputBytes == 0) return UINT64_MAX;
        const uint64_t bound = bounds_.maxOutputBytes > keep ? bounds_.maxOutputBytes - keep : 0;
        return bound > written_ ? bound - written_ : 0;
    }
    // n more bytes to write: false, and the job ends, when they would pass the bound.
    bool spend(uint64_t n, uint64_t keep = 0) {
        if (n > bytesLeft(keep)) {
            cut("more than " + receipt::GroupedNumber(bounds_.maxOutputBytes) + " bytes written");
            return false;
        }
        written_ += n;
        return true;
    }
    // The bytes of the last line of a cut decoding, within the room kept for it.
    void spendAnyway(uint64_t n) { written_ += n; }
    // The pictures' count: false, and the job ends, for one past the bound.
    bool picture(size_t had) {
        if (bounds_.maxPictures > 0 && had >= bounds_.maxPictures) {
            cut("more than " + receipt::GroupedNumber(bounds_.maxPictures) + " pictures");
            return false;
        }
        return true;
    }
    void cut(std::string why) {
        if (reason_.empty()) reason_ = std::move(why);
    }
    bool ended() const { return !reason_.empty(); }
    const std::string& reason() const { return reason_; }

private:
    JobBounds bounds_;
    const std::function<bool()>& stop_;
    const platform::Clock* clock_;
    Clock::time_point start_;
    uint64_t written_ = 0;
    std::string reason_;
};

// The decoding into decoding.txt's sink, its runs collapsed, in pieces of about 64 KiB, within the
// budget; a decoding cut short ends with a line that says why. False when the sink refused.
bool WriteDecoding(const std::vector<uint8_t>& bytes, JobDecoding& decoding, const FileSink& sink, JobBudget& budget) {
    std::string pending;
    bool ok = true;
    const auto write = [&](const std::string& text) {
        ok = ok && sink(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    };
    const auto flush = [&] {
        if (ok && !pending.empty() && !budget.ended()) {
            if (budget.spend(pending.size(), kLastLineRoom)) {
                write(pending);
            } else if (const uint64_t left = budget.bytesLeft(kLastLineRoom); left > 0) {
                // The whole lines that fit, then the end.
                const size_t fits = pending.rfind('\n', static_cast<size_t>(left - 1));
                if (fits != std::string::npos) {
                    budget.spendAnyway(fits + 1);
                    write(pending.substr(0, fits + 1));
                }
            }
        }
        pending.clear();  // written, or not to be
    };
    DecodingRuns runs([&](const std::string& line) {
        pending += line;
        if (pending.size() >= kDecodingPiece) flush();
    });
    decoding.run(
        bytes, [&](const receipt::DecodedCommand& c) { runs.add(c); }, [&] { return budget.goOn(); });
    runs.finish();  // the run held, as far as it was decoded
    flush();
    if (ok && budget.ended()) {
        const std::string last = "... the rest is not decoded: " + budget.reason() + "\n";
        budget.spendAnyway(last.size());
        write(last);
    }
    return ok;
}

// The receipts drawn, a PNG each into folder (receipt-01.png, ...), or only counted without a
// folder, within the budget. The pictures made.
size_t WriteReceipts(const std::vector<uint8_t>& bytes, int widthDots, const fs::path& folder, JobBudget& budget,
                     const Failed& failed) {
    size_t made = 0;
    receipt::OfflineRoll roll(
        widthDots, receipt::OfflineRoll::Pieces::EachReceipt,
        [&](const receipt::Paper& paper, int64_t from, int64_t to) {
            if (!budget.picture(made)) return false;
            if (folder.empty()) {
                ++made;
                return true;
            }
            const std::string file = ReceiptFileName(made + 1);
            std::string why;
            const bool written = WriteFileInOneStep((folder / file).string(),
                                                    [&](const FileSink& sink) {
                                                        return receipt::WritePaperPng(
                                                            paper, from, to,
                                                            [&](const uint8_t* data, size_t n) {
                                                                return budget.goOn() && budget.spend(n) &&
                                                                       sink(data, n);
                                                            },
                                                            kJobPngCompression);
                                                    },
                                                    &why);
            if (!written) {
                if (!budget.ended()) failed(file, why);  // a bound is no failure: the picture is left out
                return false;
            }
            ++made;
            return true;
        },
        receipt::OfflineRoll::kMaxPictureRows, receipt::Paper::kMaxRows);
    roll.shortenBlankRuns();
    roll.setWatch([&] { return budget.goOn(); });
    if (roll.feed(bytes.data(), bytes.size())) roll.finish();
    if (roll.tooTall()) {
        budget.cut("one command feeds more than " + receipt::GroupedNumber(receipt::OfflineRoll::kMaxPictureRows) +
                   " dots at once");
    }
    return made;
}

}  // namespace

void JobDecoding::run(const std::vector<uint8_t>& bytes, const std::function<void(const std::string&)>& lines) {
    run(bytes,
        [&](const receipt::DecodedCommand& c) {
            if (lines) lines(receipt::FormatDecoded(c) + '\n');
        },
        {});
}

bool JobDecoding::run(const std::vector<uint8_t>& bytes,
                      const std::function<void(const receipt::DecodedCommand&)>& take,
                      const std::function<bool()>& goOn) {
    if (goOn && !goOn()) return false;
    receipt::Interpreter printer(receipt::kOrva58Dots, receipt::Interpreter::Drawing::Off);
    size_t sinceWatch = 0;
    printer.setDecodeSink([&](const receipt::DecodedCommand& c) {
        if (printer.halted()) return;
        if (goOn && ++sinceWatch >= kDecodingWatchEvery) {
            sinceWatch = 0;
            if (!goOn()) {
                printer.halt();
                return;
            }
        }
        if (!c.text) {
            ++commands;
            if (!c.known) ++unknown;
        }
        if (take) take(c);
    });
    printer.feed(bytes.data(), bytes.size());
    printer.finish();
    return !printer.halted();
}

JobOutput WriteJobOutput(const std::vector<uint8_t>& bytes, int widthDots, const fs::path& folder,
                         const JobBounds& bounds, const std::function<bool()>& stop, const Failed& failed) {
    JobOutput out;
    JobBudget budget(bounds, stop);
    // One reason for each file that cannot be written.
    const Failed fail = [&](const std::string& what, const std::string& why) {
        if (failed) failed(what, why);
    };
    if (folder.empty()) {
        out.decoding.run(bytes, {}, [&] { return budget.goOn(); });
    } else {
        std::string why;
        bool decoded = false;
        if (!WriteFileInOneStep((folder / "decoding.txt").string(),
                                [&](const FileSink& sink) {
                                    decoded = true;
                                    return WriteDecoding(bytes, out.decoding, sink, budget);
                                },
                                &why)) {
            fail("decoding.txt", why);
            if (!decoded) out.decoding.run(bytes, {}, [&] { return budget.goOn(); });
        }
    }
    const bool decodedWhole = !budget.ended();
    if (decodedWhole) out.receipts = WriteReceipts(bytes, widthDots, folder, budget, fail);
    if (budget.ended()) {
        out.cutShort = budget.reason() +
                       (decodedWhole ? "; the rest is not drawn" : "; the rest is not decoded, and no receipt drawn");
    }
    return out;
}

}  // namespace pellory::jobs
