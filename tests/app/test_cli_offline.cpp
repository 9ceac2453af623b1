// pellory-cli's offline commands (render, decode) run as a program of their own: a signal while
// their input stays open stops them at once with nothing more written and no word of a port.
//
// The program under test is the pellory-cli of this build, or PELLORY_CLI_BINARY when set.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/cli_run.h"

namespace {

namespace fs = std::filesystem;
using pellory::test::CliRun;
using pellory::test::CliRunOptions;

// Only catches a run that never ends: each one ends on its own long before.
constexpr std::chrono::seconds kWatchdog(20);

std::string CliBinary() {
    if (const char* p = std::getenv("PELLORY_CLI_BINARY")) return p;
    return PELLORY_CLI_PATH;
}

class CliOfflineTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("pellory_cli_offline_" + std::to_string(::getpid()) + "_" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    std::string Folder() const { return dir_.string(); }

    // Every name in the folder and below it, the run's out.txt and err.txt left out.
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& e : fs::recursive_directory_iterator(dir_)) {
            const std::string name = fs::relative(e.path(), dir_).string();
            if (name != "out.txt" && name != "err.txt") names.push_back(name);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path dir_;
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
    };
    for (const Case& c : cases) {
        const std::string what = c.args[0] + " " + c.args.back() + " on " + c.name;
        CliRunOptions options;
        options.pipedInput = true;
        CliRun run(CliBinary(), c.args, Folder(), options);
        ASSERT_TRUE(run.Started());
        ASSERT_TRUE(run.Write(c.input)) << what;
        ASSERT_TRUE(run.WaitUntilSignalsWatched()) << what;
        run.Signal(c.signal);
        EXPECT_EQ(run.Code(kWatchdog), c.code) << what << ": " << run.Err();
        EXPECT_EQ(run.Err(), std::string("pellory-cli: stopped by ") + c.name + "; nothing more was written.\n") << what;
        EXPECT_EQ(run.Out(), "") << what;
        const std::vector<std::string> names = Names();
        EXPECT_TRUE(names.empty()) << what << ": " << names.front();
    }
}

}  // namespace
