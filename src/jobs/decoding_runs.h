// The lines of a job's decoding.txt: each command's line as "pellory-cli decode" prints it, but a
// run of kCollapseFrom or more commands of the same bytes and the same meaning, one after the
// other, as one line: the first one's, with the count after its meaning.
//
//   0000  00  NUL  nothing (passed by) (x 4,194,304)
//
// The columns are those of every other line, so whatever reads the lines reads this one too. A
// long command (of which only the first bytes are held) is never taken for the one before it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "receipt/decoding.h"

namespace pellory::jobs {

class DecodingRuns {
public:
    // Real receipts repeat a command some times (line feeds before a cut, a few hundred in the
    // longest known): those stay a line each.
    static constexpr size_t kCollapseFrom = 1000;

    // Takes each line, its end ('\n') included.
    using Lines = std::function<void(const std::string& line)>;
    explicit DecodingRuns(Lines lines) : lines_(std::move(lines)) {}

    // The next command of the stream.
    void add(const receipt::DecodedCommand& c);
    // The end of the stream: the run held goes out.
    void finish();

private:
    bool continuesRun(const receipt::DecodedCommand& c) const;

    Lines lines_;
    receipt::DecodedCommand held_;  // the first command of the run held
    std::string rest_;              // its line past the offset column, without the line end
    std::vector<size_t> offsets_;   // the run's offsets, while it is shorter than kCollapseFrom
    uint64_t count_ = 0;            // commands in the run; 0: none held
};

}  // namespace pellory::jobs
