#include "jobs/decoding_runs.h"

namespace pellory::jobs {

bool DecodingRuns::continuesRun(const receipt::DecodedCommand& c) const {
    return count_ > 0 && c.bytes.size() == receipt::StreamLength(c) && c.text == held_.text && c.known == held_.known &&
           c.bytes == held_.bytes && c.mnemonic == held_.mnemonic && c.meaning == held_.meaning &&
           c.family == held_.family;
}

void DecodingRuns::add(const receipt::DecodedCommand& c) {
    if (continuesRun(c)) {
        ++count_;
        if (offsets_.size() < kCollapseFrom) offsets_.push_back(c.offset);
        return;
    }
    finish();
    const std::string line = receipt::FormatDecoded(c);
    rest_ = line.substr(receipt::DecodedOffset(c.offset).size());
    held_ = c;
    offsets_.assign(1, c.offset);
    count_ = 1;
}

void DecodingRuns::finish() {
    if (count_ == 0) return;
    if (count_ >= kCollapseFrom) {
        lines_(receipt::DecodedOffset(offsets_.front()) + rest_ + " (x " + receipt::GroupedNumber(count_) + ")\n");
    } else {
        for (const size_t offset : offsets_) lines_(receipt::DecodedOffset(offset) + rest_ + "\n");
    }
    count_ = 0;
    offsets_.clear();
    held_ = {};
}

}  // namespace pellory::jobs
