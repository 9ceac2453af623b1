#include "vprinter/printer_intake.h"

#include <algorithm>
#include <limits>

#include "protocol/mnemonic.h"
#include "protocol/model_profile.h"

namespace pellory::vprinter {

PrinterIntake::PrinterIntake(Model model, Limits limits) : model_(model), limits_(limits) {}

size_t PrinterIntake::room(States s) const {
    if (printing(s)) return std::numeric_limits<size_t>::max();
    return held_.size() >= limits_.holdBytes ? 0 : limits_.holdBytes - held_.size();
}

size_t PrinterIntake::keeps(size_t n) const {
    if (!limits_.keepJob) return n;
    const uint64_t left = limits_.maxJobBytes - std::min<uint64_t>(received_, limits_.maxJobBytes);
    return static_cast<size_t>(std::min<uint64_t>(n, left));
}

void PrinterIntake::pause(bool on, States s, Host& host) {
    paused_ = on;
    if (!holds(s)) release(s, host);
}

void PrinterIntake::answer(const std::string& request, const AnswerBytes& bytes, Host& host) {
    if (bytes.empty()) return;
    host.send(bytes.data(), bytes.size());
    if (!hasJob() || !limits_.keepJob) return;
    if (answers_.size() >= kMaxAnswersKept) {
        ++answersLeftOut_;
        return;
    }
    answers_.push_back(SentAnswer{received_, request, bytes});
}

// A request that waited for printing: a request answered in order gets the answer of the state
// s, as the host's review makes it.
void PrinterIntake::answerWaiting(const Waiting& w, States s, Host& host) {
    if (w.command.empty()) {
        answer(w.request, w.answer, host);
        return;
    }
    Reaction r = ReactTo(w.command.data(), w.command.size(), s, model_);
    host.review(w.command.data(), w.command.size(), s, r);
    if (r.when != Reaction::When::None) answer(r.request, r.answer, host);
}

// Prints bytes[0, n), which sit at stream offset `from`, with the answers waiting for a point
// inside them sent as printing passes that point, in the state s.
void PrinterIntake::printUpTo(const uint8_t* bytes, size_t n, uint64_t from, States s, Host& host) {
    size_t done = 0;
    while (!waiting_.empty() && waiting_.front().at <= from + n) {
        const Waiting w = std::move(waiting_.front());
        waiting_.pop_front();
        const size_t upTo = w.at > from ? static_cast<size_t>(w.at - from) : 0;
        if (upTo > done) {
            host.print(bytes + done, upTo - done);
            done = upTo;
        }
        answerWaiting(w, s, host);
    }
    if (n > done) host.print(bytes + done, n - done);
}

void PrinterIntake::release(States s, Host& host) {
    if (held_.empty() && waiting_.empty()) return;
    // Taken out first: printing may run for a while, and a new hold starts empty.
    std::vector<uint8_t> bytes;
    bytes.swap(held_);
    printUpTo(bytes.data(), bytes.size(), heldFrom_, s, host);
    heldFrom_ = streamAt_;
}

void PrinterIntake::answerSymbolSize(const uint8_t* bytes, size_t n, States s, Reaction& r) const {
    const std::optional<StoredSymbol::Kind> kind = SymbolStorage::SizeRequest(bytes, n);
    if (!kind) return;
    // Answered once what came before it has printed, as GS ( H is: the printer encodes the symbol
    // where it processes the request.
    r.when = Reaction::When::AfterPrint;
    r.request = protocol::WriteMnemonic(bytes, n);
    if (s & kSilent) return;
    const StoredSymbol& symbol = symbols_.symbol(*kind);
    std::optional<SymbolSize> size;
    if (symbol.stored && !symbol.data.empty() && limits_.symbolMeasure) size = limits_.symbolMeasure(symbol);
    r.answer = SymbolSizeAnswer(*kind, size, protocol::ProfileOf(model_).paperDots);
}

PrinterIntake::Fed PrinterIntake::feed(const uint8_t* bytes, size_t n, States s, Host& host) {
    const size_t take = keeps(n);
    const Fed result = take < n ? Fed::OverLimit : Fed::Ok;
    received_ += n;
    if (take == 0) return result;
    if (limits_.keepJob && limits_.keepBytes) {
        // The job's bytes grow by doubling, never past the limit.
        if (job_.size() + take > job_.capacity()) {
            job_.reserve(std::min(limits_.maxJobBytes, std::max(job_.capacity() * 2, job_.size() + take)));
        }
        job_.insert(job_.end(), bytes, bytes + take);
    }

    // The requests among the commands that end in these bytes. While printing goes on nothing
    // waits; else these bytes wait too, and the requests answered in order wait with them.
    const bool holding = !printing(s);
    States now = s;
    bool cleared = false;
    uint64_t clearAt = 0;
    std::vector<Waiting> after;
    splitter_.feed(bytes, take, [&](const protocol::PieceSplitter::Piece& piece) {
        splitAt_ += piece.length;
        host.command(piece);
        if (!(piece.first && piece.last)) return;  // a command with data: not a request
        symbols_.take(piece.bytes, piece.length);
        Reaction r = ReactTo(piece.bytes, piece.length, now, model_);
        answerSymbolSize(piece.bytes, piece.length, now, r);
        host.review(piece.bytes, piece.length, now, r);
        if (r.when == Reaction::When::None) return;
        if (r.set || r.clear) {
            const States next = static_cast<States>((now | r.set) & ~r.clear);
            if (next != now) host.changeStates(r.set, r.clear);
            now = next;
        }
        if (r.automaticStatus) asb_ = *r.automaticStatus;
        if (r.clearBuffers) {
            cleared = true;
            clearAt = splitAt_;
        }
        if (r.when == Reaction::When::AtOnce || (r.when == Reaction::When::InOrder && !holding)) {
            answer(r.request, r.answer, host);
        } else if (r.when == Reaction::When::InOrder) {
            after.push_back(Waiting{splitAt_, std::move(r.request), {}, {piece.bytes, piece.bytes + piece.length}});
        } else if (!r.answer.empty()) {
            after.push_back(Waiting{splitAt_, std::move(r.request), std::move(r.answer), {}});
        }
    });

    const uint64_t from = streamAt_;
    streamAt_ += take;
    if (!holding) {
        waiting_.insert(waiting_.end(), std::make_move_iterator(after.begin()), std::make_move_iterator(after.end()));
        printUpTo(bytes, take, from, now, host);
        return result;
    }
    if (held_.empty()) heldFrom_ = from;
    held_.insert(held_.end(), bytes, bytes + take);
    waiting_.insert(waiting_.end(), std::make_move_iterator(after.begin()), std::make_move_iterator(after.end()));
    if (cleared) {
        // What waited up to the clearing command is dropped, and the answers waiting for it.
        const size_t drop = clearAt > heldFrom_ ? static_cast<size_t>(std::min<uint64_t>(clearAt - heldFrom_, held_.size())) : 0;
        held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(drop));
        heldFrom_ += drop;
        while (!waiting_.empty() && waiting_.front().at <= clearAt) waiting_.pop_front();
    }
    return result;
}

void PrinterIntake::stateChanged(States was, States now, Host& host) {
    if (automaticStatusOn() && !(now & kSilent)) {
        const auto before = AutomaticStatus(was);
        const auto after = AutomaticStatus(now);
        if (before != after) answer("state change", AnswerBytes(after.begin(), after.end()), host);
    }
    if (!holds(now)) release(now, host);
}

FinishedJob PrinterIntake::takeJob() {
    FinishedJob job;
    job.bytes = std::move(job_);
    job_ = std::vector<uint8_t>();
    job.receivedBytes = received_;
    job.answers = std::move(answers_);
    answers_ = std::vector<SentAnswer>();
    job.answersLeftOut = answersLeftOut_;
    received_ = 0;
    answersLeftOut_ = 0;
    return job;
}

}  // namespace pellory::vprinter
