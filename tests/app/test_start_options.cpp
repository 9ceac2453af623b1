// The window program's command line: read with the window system's own options among the
// program's, judged before any application object exists, with the exit status and the
// messages of a full run.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <sstream>
#include <string>
#include <vector>

#include "app/pellory_app.h"

namespace pellory::app {
namespace {

// AnswerBeforeStart on a command line given as words (the program name first).
struct Answer {
    int status;
    std::string out, err;
};
Answer AnswerFor(std::vector<std::string> words) {
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    std::ostringstream out, err;
    const int status = AnswerBeforeStart(static_cast<int>(words.size()), argv.data(), out, err);
    return {status, out.str(), err.str()};
}

TEST(StartCommandLine, ReadsTheProgramsOptionsAmongTheWindowSystemsOwn) {
    // Nothing of it needs an application object.
    ASSERT_EQ(QCoreApplication::instance(), nullptr);
    StartOptions o;
    std::string error;
    ASSERT_TRUE(ParseStartOptions({"-platform", "offscreen", "--com", "3=/dev/ttyUSB0", "-style=fusion", "-reverse",
                                   "--com=COM4=tcp://printer:9100", "--virtual-printer=tcp"},
                                  o, &error))
        << error;
    EXPECT_TRUE(o.virtualPrinter);
    EXPECT_TRUE(o.virtualPrinterOnNetwork);
    EXPECT_EQ(o.comMaps, (std::vector<std::string>{"3=/dev/ttyUSB0", "COM4=tcp://printer:9100"}));
    EXPECT_FALSE(o.help);
    EXPECT_FALSE(o.version);

    StartOptions plain;
    ASSERT_TRUE(ParseStartOptions({"--virtual-printer"}, plain, &error));
    EXPECT_TRUE(plain.virtualPrinter);
    EXPECT_FALSE(plain.virtualPrinterOnNetwork);
    ASSERT_TRUE(ParseStartOptions({"--virtual-printer=pty"}, plain, &error));
    EXPECT_FALSE(plain.virtualPrinterOnNetwork);
}

TEST(StartCommandLine, RefusesWhatNobodyReadsWithAMessageThatNamesIt) {
    const struct {
        std::vector<std::string> args;
        const char* named;
    } cases[] = {
        {{"--bogus"}, "unknown option --bogus"},
        {{"-v"}, "unknown option -v"},
        {{"--virtual-printer=serial"}, "--virtual-printer=serial"},
        {{"--virtual-printer", "COM1"}, "unexpected argument COM1"},
        {{"--com"}, "--com"},
        {{"--com", "0=/dev/ttyS0"}, "0=/dev/ttyS0"},
        {{"--com", "3"}, "\"3\""},
        // The form is said as the usage says it; a network address says what is wrong with it.
        {{"--com", "3"}, "--com expects <n>=<port> "},
        {{"--com", "4=tcp://printer:0"}, "got \"4=tcp://printer:0\": the port is not 1 .. 65535"},
        {{"-platform"}, "platform"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.front());
        StartOptions o;
        std::string error;
        EXPECT_FALSE(ParseStartOptions(c.args, o, &error));
        EXPECT_NE(error.find(c.named), std::string::npos) << error;
    }
}

TEST(StartCommandLine, VersionAndHelpAnswerFirstAndErrorsEndWithStatusTwo) {
    Answer a = AnswerFor({"pellory", "--version"});
    EXPECT_EQ(a.status, 0);
    EXPECT_EQ(a.out, VersionText());
    EXPECT_TRUE(a.err.empty());

    // Asked for together with something wrong, the version and the usage are still given.
    a = AnswerFor({"pellory", "--bogus", "--version"});
    EXPECT_EQ(a.status, 0);
    EXPECT_EQ(a.out, VersionText());
    a = AnswerFor({"pellory", "-h", "--com", "0=x"});
    EXPECT_EQ(a.status, 0);
    EXPECT_EQ(a.out, UsageText("pellory"));
    a = AnswerFor({"pellory", "-style", "fusion", "--help"});
    EXPECT_EQ(a.status, 0);
    EXPECT_EQ(a.out, UsageText("pellory"));

    // A value is never read as an option: "--help" here is the port of --com.
    a = AnswerFor({"pellory", "--com", "--help"});
    EXPECT_EQ(a.status, 2);
    EXPECT_TRUE(a.out.empty());

    a = AnswerFor({"/usr/bin/pellory", "--virtual", "--virtual-printer"});
    EXPECT_EQ(a.status, 2);
    EXPECT_TRUE(a.out.empty());
    EXPECT_EQ(a.err.rfind("/usr/bin/pellory: unknown option --virtual\n", 0), 0u) << a.err;
    EXPECT_NE(a.err.find(UsageText("/usr/bin/pellory")), std::string::npos);

    // A good command line starts the window.
    EXPECT_EQ(AnswerFor({"pellory", "--virtual-printer", "-platform", "offscreen"}).status, -1);
    EXPECT_EQ(AnswerFor({"pellory"}).status, -1);
}

}  // namespace
}  // namespace pellory::app
