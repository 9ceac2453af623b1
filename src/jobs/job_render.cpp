#include "jobs/job_render.h"

#include "receipt/decoding.h"
#include "receipt/interpreter.h"
#include "receipt/offline_roll.h"
#include "receipt/paper.h"
#include "receipt/paper_png.h"

namespace pellory::jobs {

namespace fs = std::filesystem;

void JobDecoding::run(const std::vector<uint8_t>& bytes, const std::function<void(const std::string&)>& lines) {
    receipt::Interpreter printer(receipt::kOrva58Dots, receipt::Interpreter::Drawing::Off);
    printer.setDecodeSink([&](const receipt::DecodedCommand& c) {
        if (!c.text) {
            ++commands;
            if (!c.known) ++unknown;
        }
        if (lines) lines(receipt::FormatDecoded(c) + '\n');
    });
    printer.feed(bytes.data(), bytes.size());
    printer.finish();
}

size_t WriteReceipts(const std::vector<uint8_t>& bytes, int widthDots, const fs::path& folder, const Failed& failed) {
    size_t written = 0;
    receipt::OfflineRoll roll(
        widthDots, receipt::OfflineRoll::Pieces::EachReceipt,
        [&](const receipt::Paper& paper, int64_t from, int64_t to) {
            const std::string file = ReceiptFileName(written + 1);
            std::string why;
            if (!WriteFileInOneStep((folder / file).string(),
                                    [&](const FileSink& sink) {
                                        return receipt::WritePaperPng(paper, from, to, sink, kJobPngCompression);
                                    },
                                    &why)) {
                failed(file, why);
                return false;
            }
            ++written;
            return true;
        },
        receipt::OfflineRoll::kMaxPictureRows, receipt::Paper::kMaxRows);
    if (roll.feed(bytes.data(), bytes.size())) roll.finish();
    if (roll.tooTall()) {
        failed(ReceiptFileName(written + 1), "one command in it feeds more than " +
                                                 std::to_string(receipt::OfflineRoll::kMaxPictureRows) +
                                                 " dots at once; nothing more of the job is drawn");
    }
    return written;
}

bool WriteDecoding(const std::vector<uint8_t>& bytes, JobDecoding& decoding, const FileSink& sink) {
    std::string pending;
    bool ok = true;
    const auto flush = [&] {
        ok = ok && sink(reinterpret_cast<const uint8_t*>(pending.data()), pending.size());
        pending.clear();
    };
    decoding.run(bytes, [&](const std::string& line) {
        pending += line;
        if (pending.size() >= (64u << 10)) flush();
    });
    flush();
    return ok;
}

JobOutput WriteJobOutput(const std::vector<uint8_t>& bytes, int widthDots, const fs::path& folder, const JobBounds&,
                         const std::function<bool()>&, const Failed& failed) {
    JobOutput out;
    if (folder.empty()) {
        out.decoding.run(bytes, {});
        return out;
    }
    out.receipts = WriteReceipts(bytes, widthDots, folder, failed);
    bool decoded = false;
    std::string why;
    if (!WriteFileInOneStep((folder / "decoding.txt").string(),
                            [&](const FileSink& sink) {
                                decoded = true;
                                return WriteDecoding(bytes, out.decoding, sink);
                            },
                            &why)) {
        failed("decoding.txt", why);
    }
    if (!decoded) out.decoding.run(bytes, {});
    return out;
}

}  // namespace pellory::jobs
