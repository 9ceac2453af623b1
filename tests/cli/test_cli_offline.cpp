// pellory-cli's offline commands (render, decode) and its receipt picture, run as a program of
// their own: a signal while their input stays open stops them at once with nothing more written
// and no word of a port, and a picture that cannot be written fails with status 4 and leaves no
// file behind, not even its temporary one.
//
// The program under test is the pellory-cli of this build, or PELLORY_CLI_BINARY when set.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace {

namespace fs = std::filesystem;
using pellory::test::ChildOptions;
using pellory::test::CliChild;

// Only catches a run that never ends: each one ends on its own long before.
constexpr std::chrono::seconds kWatchdog(20);

class CliOfflineTest : public pellory::test::ScratchFolderTest {
protected:
    CliOfflineTest() : ScratchFolderTest("pellory_cli_offline") {}

    // Every name in the folder and below it, the run's out.txt and err.txt left out.
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& e : fs::recursive_directory_iterator(scratch.path())) {
            const std::string name = fs::relative(e.path(), scratch.path()).string();
            if (name != "out.txt" && name != "err.txt") names.push_back(name);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    // A capture of receipts with a lot of ink: its picture is tens of KB.
    std::string WriteCapture() const {
        std::string capture;
        for (int r = 0; r < 4; ++r) {
            capture += "\x1b\x21\x30";
            for (int i = 0; i < 30; ++i) capture += "Item " + std::to_string(i) + " #" + std::to_string(r * 977 + i * 13) + "\n";
            capture += "\x1d\x56\x42\x10";
        }
        return scratch.Write("capture.bin", capture);
    }
};

TEST_F(CliOfflineTest, ASignalWhileTheInputStaysOpenStopsAtOnceWithNothingWritten) {
    struct Case {
        std::vector<std::string> args;
        std::string input;  // written before the signal; the input is never closed
        int signal;
        int code;
        const char* name;
    };
    const std::vector<Case> cases = {
        {{"decode", "-"}, "\x1b", SIGINT, 130, "SIGINT"},
        {{"render", "-", "-o", Path("out.png")}, "Total\n\x1b", SIGTERM, 143, "SIGTERM"},
        {{"render", "-", "-o", Path("out.pdf")}, "Total\n\x1d\x56\x42\x10", SIGHUP, 129, "SIGHUP"},
        {{"render", "-", "--receipts", Path("each")}, "Total\n", SIGINT, 130, "SIGINT"},
    };
    for (const Case& c : cases) {
        const std::string what = c.args[0] + " " + c.args.back() + " on " + c.name;
        ChildOptions options;
        options.pipedInput = true;
        CliChild run(c.args, Folder(), options);
        ASSERT_TRUE(run.Started());
        ASSERT_TRUE(run.Write(c.input)) << what;
        ASSERT_TRUE(run.WaitUntilSignalsWatched()) << what;
        run.Signal(c.signal);
        EXPECT_EQ(run.Code(kWatchdog), c.code) << what << ": " << run.Err();
        EXPECT_EQ(run.Err(), std::string("pellory-cli: stopped by ") + c.name + "; nothing more was written.\n") << what;
        EXPECT_EQ(run.Out(), "") << what;
        const std::vector<std::string> names = Names();
        EXPECT_TRUE(names.empty() || names == std::vector<std::string>{"each"}) << what << ": " << names.front();
        fs::remove_all(Path("each"));
    }
}

TEST_F(CliOfflineTest, APictureThatCannotBeWrittenFailsWithStatus4AndLeavesNoFile) {
    const std::string capture = WriteCapture();
    struct Case {
        std::vector<std::string> args;
        std::optional<rlim_t> fileSizeLimit;
        std::string message;
    };
    // Files may not grow past 4 KB: the pictures are larger, the messages smaller.
    const rlim_t limit = 4096;
    const std::vector<Case> cases = {
        {{"render", capture, "-o", Path("out.png")}, limit,
         "pellory-cli: cannot write the picture to " + Path("out.png") + ": File too large\n"},
        {{"render", capture, "-o", Path("out.pdf")}, limit,
         "pellory-cli: cannot write the picture to " + Path("out.pdf") + ": File too large\n"},
        {{"render", capture, "--receipts", Path("each")}, limit,
         "pellory-cli: cannot write the picture to " + Path("each") + "/receipt-0001.png: File too large; 0 receipts before it were written.\n"},
        {{"--virtual-printer", "--receipt", Path("r.png"), "send-file", capture}, limit,
         "pellory-cli: cannot write the picture to " + Path("r.png") + ": File too large\n"},
        {{"render", capture, "-o", "/dev/full"}, std::nullopt,
         "pellory-cli: cannot write the picture to /dev/full: No space left on device\n"},
        {{"--virtual-printer", "--receipt", "/dev/full", "feed"}, std::nullopt,
         "pellory-cli: cannot write the picture to /dev/full: No space left on device\n"},
    };
    for (const Case& c : cases) {
        const std::string what = c.args[0] + " " + c.args[2];
        ChildOptions options;
        options.fileSizeLimit = c.fileSizeLimit;
        CliChild run(c.args, Folder(), options);
        ASSERT_TRUE(run.Started());
        EXPECT_EQ(run.Code(kWatchdog), 4) << what << ": " << run.Err();
        EXPECT_NE(run.Err().find(c.message), std::string::npos) << what << ": " << run.Err();
        std::vector<std::string> names = Names();
        names.erase(std::remove(names.begin(), names.end(), "each"), names.end());
        EXPECT_EQ(names, std::vector<std::string>{"capture.bin"}) << what;
        for (const std::string& name : names) {
            if (name != "capture.bin") fs::remove_all(Path(name));
        }
    }
}

}  // namespace
