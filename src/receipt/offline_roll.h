// Drawing a captured stream offline (pellory-cli render, --receipt) as it is read, piece by
// piece: either the whole roll as one picture, or receipt by receipt (the paper from one cut to
// the next, and at the end the rest of it when anything is printed there), each handed out as
// soon as it is complete and then let go, so that only one receipt is held at a time.
//
// No picture may be taller than its bound (kMaxPictureRows unless given): past it the drawing
// stops (tooTall()), nothing of that picture is handed out, and nothing more is drawn. Receipt by
// receipt, a receipt may instead continue in further pictures once it is taller than a given
// height (the printer server's 2 m roll): then each picture is at most that tall, and none is lost,
// and a long run of text continues as its lines print.
//
// The printer server's pictures besides draw long blank paper short (shortenBlankRuns) and may be
// watched (setWatch): the drawing then stops at once when the watch says so, between commands,
// after any line printed and before any picture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "receipt/interpreter.h"

namespace pellory::receipt {

class OfflineRoll {
public:
    // 12.5 m of paper at 8 dots per mm.
    static constexpr int64_t kMaxPictureRows = 100000;
    // A receipt that continues keeps up to its picture's height and the line being printed: room
    // is made for this many rows more at once.
    static constexpr int64_t kContinueSlack = 512;
    // The printer server's pictures: blank paper longer than the 2 m roll is drawn 3 cm tall,
    // marked. (Real receipts feed a metre now and then: a large text sample ends in 257 line feeds.)
    static constexpr int64_t kLongBlankRun = Paper::kMaxRows;
    static constexpr int64_t kShortenedBlankRun = 240;
    // The watch is asked at every this many commands or lines, and before each picture.
    static constexpr unsigned kWatchEvery = 16;

    enum class Pieces { WholeRoll, EachReceipt };

    // One picture: rows [fromRow, toRow) of the paper. False stops the drawing (the picture could
    // not be written, or the drawing is to end).
    using Take = std::function<bool(const Paper& paper, int64_t fromRow, int64_t toRow)>;

    // continueAfter (EachReceipt only; 0: none): a receipt taller than this many rows is handed out
    // in pictures of this many rows, the last one holding the rest.
    OfflineRoll(int widthDots, Pieces pieces, Take take, int64_t maxRows = kMaxPictureRows, int64_t continueAfter = 0);

    // Takes the next bytes of the stream. False once the drawing has stopped.
    bool feed(const uint8_t* data, size_t n);
    // The end of the stream: hands out the whole roll, or the rest after the last cut when
    // anything is printed on it. False when the drawing stopped.
    bool finish();

    // See Interpreter::shortenBlankRuns; before the first feed.
    void shortenBlankRuns(int64_t longerThan = kLongBlankRun, int64_t drawnAs = kShortenedBlankRun) {
        interpreter_.shortenBlankRuns(longerThan, drawnAs);
    }
    // False from goOn stops the drawing there: nothing more is drawn nor handed out (watched()).
    void setWatch(std::function<bool()> goOn) { watch_ = std::move(goOn); }
    // Each command as it is drawn (Interpreter::setDecodeSink), so that one pass over the stream
    // both draws and decodes it; before the first feed. With a sink, a picture too tall or refused
    // ends the drawing alone: the decoding goes on to the stream's end (the watch is then no longer
    // asked, the sink watches itself). The watch saying stop, or halt(), ends both. The decoding is
    // that of "pellory-cli decode" (Interpreter::decodeAsAlone).
    void setDecodeSink(std::function<void(const DecodedCommand&)> sink) {
        decodes_ = static_cast<bool>(sink);
        interpreter_.setDecodeSink(std::move(sink));
        interpreter_.decodeAsAlone();
    }
    // Ends the drawing and the decoding at once (from the decode sink too).
    void halt() {
        stopped_ = true;
        interpreter_.halt();
    }
    bool halted() const { return interpreter_.halted(); }

    bool tooTall() const { return tooTall_; }
    // The watch stopped the drawing.
    bool watched() const { return watched_; }
    // Pictures handed out so far.
    size_t pictures() const { return pictures_; }
    int64_t maxRows() const { return maxRows_; }

private:
    void cutAt(int64_t row);
    // Before each command and after each line: the watch, and a receipt that continues.
    void progress();
    bool keepGoing();  // asks the watch; false stops the drawing
    // Ends the drawing; the decoding too unless a decode sink takes it, or decodingToo.
    void stop(bool decodingToo = false);
    // Hands out the full pieces of a receipt that continues, up to row.
    bool continueTo(int64_t row);
    bool overflowed();
    bool hasInk(int64_t fromRow, int64_t toRow) const;
    bool hand(int64_t fromRow, int64_t toRow);

    Interpreter interpreter_;
    Pieces pieces_;
    Take take_;
    int64_t maxRows_;
    int64_t continueAfter_;
    int64_t start_ = 0;  // the first row of the receipt being printed
    bool stopped_ = false;
    bool tooTall_ = false;
    bool watched_ = false;
    bool decodes_ = false;  // a decode sink is set
    std::function<bool()> watch_;
    unsigned sinceWatch_ = 0;
    size_t pictures_ = 0;
};

}  // namespace pellory::receipt
