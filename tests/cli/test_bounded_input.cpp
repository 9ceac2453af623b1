// The bounded reads of a file or standard input: what each kind of input gives, and that a quiet
// one gives "nothing yet" within the wait instead of holding the reader.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "cli/bounded_input.h"
#include "support/scratch_folder.h"

namespace pellory::app::cli {
namespace {

constexpr int kWaitMs = 50;
// Generous: only an input that never gives anything uses it up.
constexpr int kLongWaitMs = 5000;

// What a sequence of reads gave: each count, or "nothing" / "failed"; "end" for 0.
std::string ReadsOf(BoundedInput& input, int reads, int waitMs) {
    std::string seen;
    for (int i = 0; i < reads; ++i) {
        char buffer[64];
        const long long n = input.read(buffer, sizeof buffer, waitMs);
        if (!seen.empty()) seen += ",";
        if (n == BoundedInput::kNothingYet) {
            seen += "nothing";
        } else if (n == BoundedInput::kFailed) {
            seen += "failed";
        } else if (n == 0) {
            seen += "end";
        } else {
            seen += std::string(buffer, static_cast<size_t>(n));
        }
    }
    return seen;
}

struct InputCase {
    const char* name;
    // Makes the input in the folder and returns its path.
    std::function<std::string(test::ScratchFolder&)> make;
    int reads;
    int waitMs;
    const char* expected;
    bool holdsWriter = false;  // a writer is kept open through the reads, closed after them
};

TEST(BoundedInput, EachKindOfInputGivesItsBytesThenItsEnd) {
#ifndef _WIN32
    int writer = -1;  // the FIFO's writer, held open by the case and closed after it
#endif
    const InputCase cases[] = {
        {"a file", [](test::ScratchFolder& f) { return f.Write("job.bin", "abc"); }, 2, kLongWaitMs, "abc,end"},
        {"an empty file", [](test::ScratchFolder& f) { return f.Write("empty.bin", ""); }, 1, kLongWaitMs, "end"},
#ifndef _WIN32
        {"a quiet FIFO gives nothing within the wait",
         [&writer](test::ScratchFolder& f) {
             const std::string path = f.Path("fifo");
             ::mkfifo(path.c_str(), 0600);
             std::thread([&writer, path] { writer = ::open(path.c_str(), O_WRONLY); }).detach();
             return path;
         },
         2, kWaitMs, "nothing,nothing", true},
        {"a FIFO whose writer wrote and closed",
         [](test::ScratchFolder& f) {
             const std::string path = f.Path("fifo");
             ::mkfifo(path.c_str(), 0600);
             std::thread([path] {
                 const int fd = ::open(path.c_str(), O_WRONLY);
                 [[maybe_unused]] const ssize_t w = ::write(fd, "xy", 2);
                 ::close(fd);
             }).detach();
             return path;
         },
         3, kLongWaitMs, "xy,end,end"},
#endif
    };
    for (const InputCase& c : cases) {
        SCOPED_TRACE(c.name);
        test::ScratchFolder folder("bounded");
        BoundedInput input;
        ASSERT_TRUE(input.open(c.make(folder)));
        EXPECT_EQ(ReadsOf(input, c.reads, c.waitMs), c.expected);
#ifndef _WIN32
        // The FIFO's writer opens once the reader did: it is closed after its case.
        for (int i = 0; c.holdsWriter && i < 500 && writer < 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (writer >= 0) ::close(writer);
        writer = -1;
#endif
    }
}

TEST(BoundedInput, AMissingFileDoesNotOpen) {
    test::ScratchFolder folder("bounded");
    BoundedInput input;
    EXPECT_FALSE(input.open(folder.Path("missing.bin")));
}

}  // namespace
}  // namespace pellory::app::cli
