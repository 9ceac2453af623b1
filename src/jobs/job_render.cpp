#include "jobs/job_render.h"

#include <cstdio>
#include <utility>

#include "jobs/decoding_runs.h"
#include "platform/files.h"
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

}  // namespace

// What one job has used of its bounds, and why it stops (the first reason, once it does).
class JobBudget {
public:
    JobBudget(const JobBounds& bounds, std::function<bool()> stop)
        : bounds_(bounds),
          stop_(std::move(stop)),
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
    // The writer leaves the job (its pictures wait), and comes back to it: the time between is not
    // the writer's.
    void pause() { paused_ = clock_->now(); }
    void resume() { start_ += clock_->now() - paused_; }
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
    // Whether a picture after `had` pictures is past the bound on their count.
    bool pastPictures(size_t had) const { return bounds_.maxPictures > 0 && had >= bounds_.maxPictures; }
    std::string picturesBound() const {
        return "more than " + receipt::GroupedNumber(bounds_.maxPictures) + " pictures";
    }
    void cut(std::string why) {
        if (reason_.empty()) reason_ = std::move(why);
    }
    bool ended() const { return !reason_.empty(); }
    const std::string& reason() const { return reason_; }

private:
    JobBounds bounds_;
    std::function<bool()> stop_;
    const platform::Clock* clock_;
    Clock::time_point start_;
    Clock::time_point paused_;
    uint64_t written_ = 0;
    std::string reason_;
};

namespace {

// The decoding's lines into decoding.txt's sink (none: only counted), its runs collapsed, in pieces
// of about 64 KiB, within the budget; a decoding cut short ends with a line that says why.
class DecodingWriter {
public:
    DecodingWriter(const FileSink* sink, JobBudget& budget)
        : sink_(sink), budget_(budget), runs_([this](const std::string& line) {
              pending_ += line;
              if (pending_.size() >= kDecodingPiece) flush();
          }) {}

    void add(const receipt::DecodedCommand& c) {
        if (sink_) runs_.add(c);
    }
    // The end of the pass. False when the sink refused bytes.
    bool finish() {
        if (!sink_) return true;
        runs_.finish();  // the run held, as far as it was decoded
        flush();
        if (ok_ && budget_.ended()) {
            const std::string last = "... the rest is not decoded: " + budget_.reason() + "\n";
            budget_.spendAnyway(last.size());
            write(last);
        }
        return ok_;
    }

private:
    void write(const std::string& text) {
        ok_ = ok_ && (*sink_)(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    }
    void flush() {
        if (ok_ && !pending_.empty() && !budget_.ended()) {
            if (budget_.spend(pending_.size(), kLastLineRoom)) {
                write(pending_);
            } else if (const uint64_t left = budget_.bytesLeft(kLastLineRoom); left > 0) {
                // The whole lines that fit, then the end.
                const size_t fits = pending_.rfind('\n', static_cast<size_t>(left - 1));
                if (fits != std::string::npos) {
                    budget_.spendAnyway(fits + 1);
                    write(pending_.substr(0, fits + 1));
                }
            }
        }
        pending_.clear();  // written, or not to be
    }

    const FileSink* sink_;
    JobBudget& budget_;
    std::string pending_;
    bool ok_ = true;
    DecodingRuns runs_;
};

// Writes one picture, the paper's rows [from, to), as receipt-NN.png (number counted from 1) into
// folder within the budget. False when it was not written: a bound was reached, or the file could
// not be written (failed is told, unless a bound is why).
bool WritePicture(const receipt::Paper& paper, int64_t from, int64_t to, size_t number, const fs::path& folder,
                  JobBudget& budget, const Failed& failed) {
    const std::string file = ReceiptFileName(number);
    std::string why;
    const bool written = WriteFileInOneStep(
        platform::TextOf(folder / file),
        [&](const FileSink& sink) {
            return receipt::WritePaperPng(
                paper, from, to,
                [&](const uint8_t* data, size_t n) { return budget.goOn() && budget.spend(n) && sink(data, n); },
                kJobPngCompression);
        },
        &why);
    if (!written && !budget.ended() && failed) failed(file, why);  // a bound is no failure: the picture is left out
    return written;
}

// What the pictures of a cut-short job say of the rest.
std::string CutShort(const std::string& reason, bool decodedWhole, size_t written) {
    if (decodedWhole) return reason + "; the rest is not drawn";
    return reason +
           (written == 0 ? "; the rest is not decoded, and no receipt drawn" : "; the rest is not decoded nor drawn");
}

}  // namespace

DrawnPictures::DrawnPictures() = default;
DrawnPictures::~DrawnPictures() = default;
DrawnPictures::DrawnPictures(DrawnPictures&&) noexcept = default;
DrawnPictures& DrawnPictures::operator=(DrawnPictures&&) noexcept = default;

JobOutput DrawAndDecode(const std::vector<uint8_t>& bytes, int widthDots, const fs::path& folder,
                        const JobBounds& bounds, const std::function<bool()>& stop, const Failed& failed,
                        DrawnPictures* drawn, size_t maxDrawn) {
    JobOutput out;
    DrawnPictures local;
    DrawnPictures& kept = drawn ? *drawn : local;
    kept = DrawnPictures();
    kept.budget_ = std::make_unique<JobBudget>(bounds, stop);
    JobBudget& budget = *kept.budget_;
    size_t pictures = 0;       // drawn and taken: kept, written, or counted
    bool writeFailed = false;  // a picture could not be written: nothing more is drawn
    const auto pass = [&](const FileSink* sink) {
        DecodingWriter decoding(sink, budget);
        if (!budget.goOn()) return decoding.finish();
        receipt::OfflineRoll roll(
            widthDots, receipt::OfflineRoll::Pieces::EachReceipt,
            [&](const receipt::Paper& paper, int64_t from, int64_t to) {
                if (writeFailed || !kept.boundCut_.empty()) return true;  // the decoding goes on
                if (budget.pastPictures(pictures)) {
                    kept.boundCut_ = budget.picturesBound();
                    return true;
                }
                ++pictures;
                if (folder.empty()) {
                    ++out.receipts;
                } else if (kept.papers_.empty() &&
                           kept.memory_ + static_cast<size_t>(std::max<int64_t>(to - from, 0)) * (paper.stride() + 1) >
                               maxDrawn) {
                    // Past the memory for pictures kept: written as drawn.
                    if (WritePicture(paper, from, to, pictures, folder, budget, failed)) {
                        ++out.receipts;
                        kept.first_ = pictures + 1;
                    } else {
                        writeFailed = true;
                        if (budget.ended()) return false;
                    }
                } else {
                    kept.papers_.push_back(paper.piece(from, to));
                    kept.memory_ += kept.papers_.back().keptRows() * (paper.stride() + 1);
                }
                return true;
            },
            receipt::OfflineRoll::kMaxPictureRows, receipt::Paper::kMaxRows);
        roll.shortenBlankRuns();
        roll.setWatch([&] { return budget.goOn(); });
        size_t sinceWatch = 0;
        roll.setDecodeSink([&](const receipt::DecodedCommand& c) {
            if (roll.halted()) return;
            if (++sinceWatch >= kDecodingWatchEvery || budget.ended()) {
                sinceWatch = 0;
                if (!budget.goOn()) {
                    roll.halt();
                    return;
                }
            }
            if (!c.text) {
                ++out.decoding.commands;
                if (!c.known) ++out.decoding.unknown;
            } else {
                ++out.decoding.texts;
            }
            decoding.add(c);
        });
        roll.feed(bytes.data(), bytes.size());
        roll.finish();
        if (roll.tooTall() && kept.boundCut_.empty() && !writeFailed) {
            kept.boundCut_ = "one command feeds more than " +
                             receipt::GroupedNumber(receipt::OfflineRoll::kMaxPictureRows) + " dots at once";
        }
        return decoding.finish();
    };
    if (folder.empty()) {
        pass(nullptr);
    } else {
        std::string why;
        bool decoded = false;
        if (!WriteFileInOneStep(
                platform::TextOf(folder / "decoding.txt"),
                [&](const FileSink& sink) {
                    decoded = true;
                    return pass(&sink);
                },
                &why)) {
            if (failed) failed("decoding.txt", why);
            if (!decoded) pass(nullptr);
        }
    }
    if (budget.ended()) {
        // The decoding was cut short: no picture kept is written.
        out.cutShort = CutShort(budget.reason(), false, out.receipts);
        kept.papers_.clear();
        kept.memory_ = 0;
    } else if (!kept.boundCut_.empty()) {
        out.cutShort = CutShort(kept.boundCut_, true, out.receipts);
    }
    budget.pause();
    return out;
}

void WritePictures(DrawnPictures& drawn, const fs::path& folder, const Failed& failed, JobOutput& out) {
    if (drawn.papers_.empty() || !drawn.budget_) return;
    JobBudget& budget = *drawn.budget_;
    budget.resume();
    for (size_t i = 0; i < drawn.papers_.size(); ++i) {
        const receipt::Paper& paper = drawn.papers_[i];
        if (!budget.goOn() || !WritePicture(paper, 0, paper.endRow(), drawn.first_ + i, folder, budget, failed)) break;
        ++out.receipts;
    }
    if (budget.ended()) out.cutShort = CutShort(budget.reason(), true, out.receipts);
    drawn = DrawnPictures();
}

JobOutput WriteJobOutput(const std::vector<uint8_t>& bytes, int widthDots, const fs::path& folder,
                         const JobBounds& bounds, const std::function<bool()>& stop, const Failed& failed) {
    DrawnPictures drawn;
    JobOutput out = DrawAndDecode(bytes, widthDots, folder, bounds, stop, failed, &drawn);
    WritePictures(drawn, folder, failed, out);
    return out;
}

}  // namespace pellory::jobs
