// A job's pictures and decoding as WriteJobOutput writes them into a folder, or only counts them:
// within the bounds of one job (pictures, bytes, the writer's time, the server stopping), each
// reached bound cutting the output short with its reason; long blank paper drawn short; runs of one
// command collapsed in decoding.txt while real receipts decode as ever; a long run of large text
// continuing in further pictures; a file that cannot be written reported once; the receipts of a
// job that is not saved counted all the same; the decoding on the paper of the job's printer.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "jobs/decoding_runs.h"
#include "jobs/job_folder.h"
#include "jobs/job_render.h"
#include "protocol/model_profile.h"
#include "receipt/decoding.h"
#include "receipt/offline_roll.h"
#include "support/job_folders.h"
#include "support/scratch_folder.h"

namespace pellory::jobs {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr int kWidth = 576;  // ORVA80
const std::string kCut("\x1d\x56\x42\x00", 4);

Bytes Of(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::string Repeat(const std::string& s, size_t times) {
    std::string out;
    out.reserve(s.size() * times);
    for (size_t i = 0; i < times; ++i) out += s;
    return out;
}

std::string Lines(const std::string& text, int count) {
    std::string out;
    for (int i = 0; i < count; ++i) out += text + " " + std::to_string(i) + "\n";
    return out;
}

// A receipt of a raster image of `rows` rows of dots that do not compress (a PNG of some 72 bytes a
// row), then a cut.
std::string DenseReceipt(int rows, uint32_t seed) {
    std::string r = "\x1d\x76\x30";
    r += '\0';
    r += static_cast<char>(kWidth / 8);
    r += '\0';
    r += static_cast<char>(rows & 0xFF);
    r += static_cast<char>(rows >> 8);
    for (size_t i = 0; i < static_cast<size_t>(rows) * (kWidth / 8); ++i) {
        seed = seed * 1664525u + 1013904223u;
        r += static_cast<char>(seed >> 24);
    }
    return r + kCut;
}

// GS v 0: 8 rows of black, the paper's width.
const std::string kBar = std::string("\x1d\x76\x30\x00\x48\x00\x08\x00", 8) + std::string(8 * kWidth / 8, '\xff');

// GS ! 0x77 and 4,000 characters, no line feed: 666 full lines of 192 dots at 576 dots.
const std::string kLargeText = "\x1d\x21\x77" + std::string(4000, 'W');

struct Written {
    JobOutput out;
    std::vector<std::string> failures;         // "what: why", as failed was called
    std::map<std::string, std::string> files;  // the folder's files by name
    uint64_t bytes() const {
        uint64_t n = 0;
        for (const auto& [name, content] : files) n += content.size();
        return n;
    }
    std::vector<std::string> receipts() const {
        std::vector<std::string> r;
        for (const auto& [name, content] : files) {
            if (name.rfind("receipt-", 0) == 0) r.push_back(name);
        }
        return r;
    }
};

class JobRenderTest : public test::ScratchFolderTest {
protected:
    JobRenderTest() : ScratchFolderTest("pellory_job_render") {}

    // The job's output into a folder of its own (none when saved is false), on paper widthDots wide.
    Written Write(const std::string& stream, const JobBounds& bounds = {}, const std::function<bool()>& stop = {},
                  bool saved = true, int widthDots = kWidth) {
        const fs::path folder = fs::path(Folder()) / ("job-" + std::to_string(++jobs_));
        fs::create_directories(folder);
        Written w;
        w.out = WriteJobOutput(
            Of(stream), widthDots, saved ? folder : fs::path(), bounds, stop,
            [&](const std::string& what, const std::string& why) { w.failures.push_back(what + ": " + why); });
        for (const auto& entry : fs::directory_iterator(folder)) {
            w.files[entry.path().filename().string()] = test::ReadWholeFile(entry.path().string());
        }
        return w;
    }
    std::string JobFolderPath() const { return (fs::path(Folder()) / ("job-" + std::to_string(jobs_))).string(); }

private:
    int jobs_ = 0;
};

std::vector<std::string> Names(size_t count) {
    std::vector<std::string> names;
    for (size_t i = 1; i <= count; ++i) names.push_back(ReceiptFileName(i));
    return names;
}

// Each bound, once reached, ends the output there: what was made before it is kept whole, nothing
// after it is made, no half file is left, and the reason says which bound (and which part stops).
TEST_F(JobRenderTest, EachBoundReachedCutsTheOutputShortWithItsReason) {
    const std::string receipts = Repeat(Lines("item", 3) + kCut, 10);
    const std::string dense = DenseReceipt(12000, 1) + DenseReceipt(12000, 2) + DenseReceipt(12000, 3);
    const std::string nuls(1u << 20, '\0');
    std::string folderOfThisJob;
    // The writer's time goes by a clock that moves 1 ms each time the writer looks at its stop,
    // whatever the machine's speed.
    platform::ManualClock writerClock;
    JobBounds writerTime{0, 0, std::chrono::milliseconds(1)};
    writerTime.clock = &writerClock;
    const auto ticking = [&] {
        writerClock.advance(std::chrono::milliseconds(1));
        return false;
    };
    struct Case {
        const char* name;
        std::string stream;
        JobBounds bounds;
        std::function<bool()> stop;
        size_t receipts;
        std::string cutShort;
        std::string decodingEnd;  // the last line of decoding.txt, when it is cut short
    };
    const std::vector<Case> cases = {
        {"no bound reached", receipts, {11, 1u << 20, std::chrono::seconds(600)}, {}, 10, "", ""},
        {"pictures", receipts, {3, 0, {}}, {}, 3, "more than 3 pictures; the rest is not drawn", ""},
        {"bytes of pictures",
         dense,
         {0, 1500000, {}},
         {},
         1,
         "more than 1,500,000 bytes written; the rest is not drawn",
         ""},
        {"bytes of the decoding",
         Repeat("\x1b\x21\x01\x1b\x21\x02", 20000),
         {0, 65536, {}},
         {},
         0,
         "more than 65,536 bytes written; the rest is not decoded, and no receipt drawn",
         "... the rest is not decoded: more than 65,536 bytes written"},
        {"the writer's time", nuls + dense, writerTime, ticking, 0,
         "more than 0.001 s of writing; the rest is not decoded, and no receipt drawn",
         "... the rest is not decoded: more than 0.001 s of writing"},
        {"the server stopping at once",
         dense,
         {},
         [] { return true; },
         0,
         "the server stopped; the rest is not decoded, and no receipt drawn",
         "... the rest is not decoded: the server stopped"},
        {"the server stopping once a picture is written",
         dense,
         {},
         [&] { return fs::exists(fs::path(folderOfThisJob) / "receipt-01.png"); },
         1,
         "the server stopped; the rest is not drawn",
         ""},
    };
    for (const Case& c : cases) {
        folderOfThisJob = (fs::path(Folder()) / ("job-" + std::to_string(&c - cases.data() + 1))).string();
        const Written w = Write(c.stream, c.bounds, c.stop);
        ASSERT_EQ(JobFolderPath(), folderOfThisJob);
        EXPECT_EQ(w.out.cutShort, c.cutShort) << c.name;
        EXPECT_EQ(w.out.receipts, c.receipts) << c.name;
        EXPECT_EQ(w.receipts(), Names(c.receipts)) << c.name;
        EXPECT_TRUE(w.failures.empty()) << c.name << ": " << w.failures.front();
        EXPECT_EQ(w.files.size(), c.receipts + 1) << c.name;  // decoding.txt, no temporary file
        if (c.bounds.maxOutputBytes > 0) {
            EXPECT_LE(w.bytes(), c.bounds.maxOutputBytes) << c.name;
        }
        const std::string& decoding = w.files.at("decoding.txt");
        if (c.decodingEnd.empty()) {
            EXPECT_EQ(decoding, receipt::DecodeStream(Of(c.stream).data(), c.stream.size())) << c.name;
        } else {
            const size_t last = decoding.rfind('\n', decoding.size() - 2);
            EXPECT_EQ(decoding.substr(last == std::string::npos ? 0 : last + 1), c.decodingEnd + "\n") << c.name;
        }
    }
}

// The bounds of serve but its time, which a slow machine (the sanitizers) may take for what these
// tests write; the other bounds are what they are about.
constexpr JobBounds kDefaultsButTime{kDefaultJobBounds.maxPictures, kDefaultJobBounds.maxOutputBytes,
                                     std::chrono::milliseconds(0)};

// Hostile jobs of a few hundred kilobytes make a few small files: a long blank feed is one short
// picture with its length marked, and a run of one command is one line of the decoding.
TEST_F(JobRenderTest, LongBlankFeedsAndRunsOfOneCommandMakeLittle) {
    struct Case {
        const char* name;
        std::string stream;
        std::vector<int64_t> heights;
        std::string decoding;
    };
    const std::vector<Case> cases = {
        {"150 kB of ESC d 255",
         Repeat("\x1b\x64\xff", 50000),
         {receipt::OfflineRoll::kShortenedBlankRun},
         "0000  1B 64 FF  ESC d FF  print and feed 255 lines (x 50,000)\n"},
        {"4 MiB of NUL", std::string(4u << 20, '\0'), {}, "0000  00  NUL  nothing (passed by) (x 4,194,304)\n"},
        {"a bar, 2 m of blank paper, a bar",
         kBar + Repeat("\x1b\x4a\xff", 63) + kBar + kCut,
         {8 + receipt::OfflineRoll::kShortenedBlankRun + 8},
         ""},
    };
    for (const Case& c : cases) {
        const Written w = Write(c.stream, kDefaultsButTime);
        EXPECT_EQ(w.out.cutShort, "") << c.name;
        std::vector<int64_t> heights;
        for (const std::string& r : w.receipts()) heights.push_back(test::PngHeight(w.files.at(r)));
        EXPECT_EQ(heights, c.heights) << c.name;
        EXPECT_LT(w.bytes(), 64u << 10) << c.name;
        if (!c.decoding.empty()) {
            EXPECT_EQ(w.files.at("decoding.txt"), c.decoding) << c.name;
        }
    }
}

// Runs shorter than the collapse bound, and every stream of the corpus, decode line for line as
// "pellory-cli decode" prints them; a longer run is one line among the others, in their columns.
TEST_F(JobRenderTest, ShortRunsAndRealReceiptsDecodeAsEverLongRunsInOneLine) {
    const std::string below(DecodingRuns::kCollapseFrom - 1, '\0');
    const std::string at(DecodingRuns::kCollapseFrom, '\0');
    for (const std::string& stream : {below, "AB" + below + "C\n", Repeat("\n", 900) + kCut}) {
        const Written w = Write(stream);
        EXPECT_EQ(w.files.at("decoding.txt"), receipt::DecodeStream(Of(stream).data(), stream.size()));
    }
    const Written mixed = Write("AB" + at + "C" + at + "\x1b\x21\x08");
    EXPECT_EQ(mixed.files.at("decoding.txt"),
              "0000  41 42  \"AB\"\n"
              "0002  00  NUL  nothing (passed by) (x 1,000)\n"
              "03EA  43  \"C\"\n"
              "03EB  00  NUL  nothing (passed by) (x 1,000)\n"
              "07D3  1B 21 08  ESC ! 08  print mode: emphasized\n");
    EXPECT_EQ(mixed.out.decoding.commands, 2001u);

    const std::vector<fs::path> streams = test::CorpusStreams();
    ASSERT_GE(streams.size(), 10u) << PELLORY_ESCPOS_CORPUS << " (the shared streams) is missing";
    for (const fs::path& path : streams) {
        const std::string bytes = test::ReadWholeFile(path.string());
        const Written w = Write(bytes, kDefaultsButTime);
        EXPECT_EQ(w.files.at("decoding.txt"), receipt::DecodeStream(Of(bytes).data(), bytes.size())) << path;
        EXPECT_EQ(w.out.cutShort, "") << path;
    }
}

// The decoding is on the paper of the job's printer: a symbol that fits 80 mm paper but not 58 mm
// prints on an ORVA80's job and not on an ORVA58's, as the decoding for that model says.
TEST_F(JobRenderTest, TheDecodingIsOnThePaperOfTheJobsPrinter) {
    // GS Z 2, ESC Z: a QR code of version 10 in 8-dot modules, 456 dots wide.
    const std::string wide = std::string("\x1d\x5a\x02\x1b\x5a\x0a\x4c\x08\x01\x00x", 11) + "\n";
    const std::vector<std::pair<protocol::Model, bool>> models = {{protocol::Model::Orva80, true},
                                                                  {protocol::Model::Orva58, false}};
    for (const auto& [model, prints] : models) {
        const Written w = Write(wide, {}, {}, true, protocol::ProfileOf(model).paperDots);
        const std::string& decoding = w.files.at("decoding.txt");
        EXPECT_EQ(decoding.find("(prints nothing: wider than the print area)") == std::string::npos, prints)
            << decoding;
        EXPECT_EQ(decoding, receipt::DecodeStream(Of(wide).data(), wide.size(), 0, model));
    }
}

// A picture that cannot be written (here: past the file size the process may write) is reported
// once, with its reason, and nothing after it is drawn: no second, false reason follows.
TEST_F(JobRenderTest, APictureThatCannotBeWrittenIsReportedOnceWithItsReason) {
    // A picture of some 144 KB, then more text than one picture may hold (127,872 rows).
    const std::string stream = DenseReceipt(2000, 7) + kLargeText;
    rlimit before{};
    ::getrlimit(RLIMIT_FSIZE, &before);
    const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);  // the write fails with EFBIG instead
    const rlimit limit{64 << 10, before.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    const Written w = Write(stream);
    ::setrlimit(RLIMIT_FSIZE, &before);
    ::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(w.failures, std::vector<std::string>{"receipt-01.png: File too large"});
    EXPECT_EQ(w.out.receipts, 0u);
    EXPECT_EQ(w.out.cutShort, "");
    EXPECT_EQ(w.files.size(), 1u);  // decoding.txt
}

// Without a folder nothing is written, and the receipts are counted as they are written; 4 kB of
// text eight times the size and no line feed is eight pictures of the 2 m roll, not a failure.
TEST_F(JobRenderTest, ReceiptsAreCountedWhenNothingIsSaved) {
    const std::vector<std::pair<std::string, size_t>> cases = {
        {Lines("a", 2) + kCut + Lines("b", 3) + kCut + Lines("rest", 1), 3},
        {"", 0},
        {kLargeText, 8},
        {Repeat(Lines("r", 1) + kCut, 12), 12},
    };
    for (const auto& [stream, receipts] : cases) {
        const Written saved = Write(stream);
        const Written counted = Write(stream, {}, {}, false);
        EXPECT_TRUE(saved.failures.empty()) << stream.substr(0, 40);
        EXPECT_EQ(saved.receipts().size(), receipts) << stream.substr(0, 40);
        EXPECT_TRUE(counted.files.empty());
        EXPECT_EQ(counted.out.receipts, receipts) << stream.substr(0, 40);
        EXPECT_EQ(counted.out.decoding.commands, saved.out.decoding.commands);
    }
    const Written bounded = Write(Repeat(Lines("r", 1) + kCut, 12), {5, 0, {}}, {}, false);
    EXPECT_EQ(bounded.out.receipts, 5u);
    EXPECT_EQ(bounded.out.cutShort, "more than 5 pictures; the rest is not drawn");
}

}  // namespace
}  // namespace pellory::jobs
