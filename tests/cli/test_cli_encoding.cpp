// pellory-cli --encoding and --charset against its built-in virtual printer: text and barcode
// arguments as UTF-8 in the printer's characters, refusals with status 3 before anything is
// sent, the "bytes" default, the argument checks, and the "encodings" list.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "charset/printer_record.h"
#include "cli/cli.h"
#include "support/cli_run.h"
#include "pages/page_settings_guard.h"

using namespace pellory;
using Rows = std::vector<std::string>;

namespace {

const std::string kProbe = "10 04 05 ";

using test::CliRun;

// pellory-cli --virtual-printer --port COM88 --echo ARGS...
CliRun Cli(std::vector<std::string> args) {
    std::vector<std::string> all = {"--virtual-printer", "--port", "COM88", "--echo"};
    all.insert(all.end(), args.begin(), args.end());
    CliRun run = test::RunCliInProcess(all);
#ifdef _WIN32
    // Without pseudo-terminals the own printer is on the loopback network, and its address is told
    // first.
    if (run.err.rfind("pellory-cli: virtual printer on tcp://", 0) == 0) run.err.erase(0, run.err.find('\n') + 1);
#endif
    return run;
}

// The settings, the ready flag and the record of characters start as at a program's start
// (page_settings_guard.h).
using CliEncodingTest = ::testing::Test;

TEST_F(CliEncodingTest, TextInCp858SendsThePrinterBytesAndRefusesTheEmDash) {
    const CliRun ok = Cli({"--encoding", "cp858", "text", "Total \u20AC5 caf\u00E9"});
    EXPECT_EQ(ok.code, app::kCliDone) << ok.err;
    EXPECT_EQ(ok.Echoed(), (Rows{kProbe, "54 6F 74 61 6C 20 D5 35 20 63 61 66 82 ", "0A "}));
    EXPECT_EQ(ok.err, "");

    const CliRun dash = Cli({"--encoding", "cp858", "text", "Total \u20AC5 \u2014 caf\u00E9"});
    EXPECT_EQ(dash.code, app::kCliRefused);
    EXPECT_EQ(dash.Echoed(), Rows{});  // no text, not even the probe
    EXPECT_EQ(dash.err,
              "pellory-cli: \"\u2014\" (U+2014) at position 10 cannot be printed with PC858(Euro). Nothing was sent.\n");
}

TEST_F(CliEncodingTest, BytesIsTheDefaultAndSendsTheArgumentAsGiven) {
    const CliRun plain = Cli({"text", "caf\u00E9"});
    EXPECT_EQ(plain.code, app::kCliDone) << plain.err;
    EXPECT_EQ(plain.Echoed(), (Rows{kProbe, "63 61 66 C3 A9 ", "0A "}));
    const CliRun named = Cli({"--encoding=bytes", "text", "caf\u00E9"});
    EXPECT_EQ(named.Echoed(), plain.Echoed());
}

TEST_F(CliEncodingTest, ChineseCodePagesAndInternationalSets) {
    const CliRun zh = Cli({"--encoding", "gb18030", "text", "A\u4E2D"});
    EXPECT_EQ(zh.code, app::kCliDone) << zh.err;
    EXPECT_EQ(zh.Echoed(), (Rows{kProbe, "41 D6 D0 ", "0A "}));
    const CliRun four = Cli({"--encoding", "gb18030", "text", "\U0001F600"});
    EXPECT_EQ(four.code, app::kCliRefused);
    EXPECT_EQ(four.Echoed(), Rows{});
    EXPECT_NE(four.err.find("\"\U0001F600\" (U+1F600) at position 1"), std::string::npos) << four.err;

    const CliRun kana = Cli({"--encoding", "katakana", "text", "\uFF71"});
    EXPECT_EQ(kana.Echoed(), (Rows{kProbe, "B1 ", "0A "}));
    const CliRun russian = Cli({"--encoding", "CP866", "text", "\u0410"});
    EXPECT_EQ(russian.Echoed(), (Rows{kProbe, "80 ", "0A "}));
    const CliRun euro = Cli({"--encoding", "cp1252", "text", "\u20AC"});
    EXPECT_EQ(euro.Echoed(), (Rows{kProbe, "80 ", "0A "}));

    // Japan: the yen sign is 5C; the backslash is no longer there.
    const CliRun yen = Cli({"--encoding", "cp437", "--charset", "8", "text", "\u00A5"});
    EXPECT_EQ(yen.Echoed(), (Rows{kProbe, "5C ", "0A "}));
    const CliRun backslash = Cli({"--encoding", "cp437", "--charset", "8", "text", "\\"});
    EXPECT_EQ(backslash.code, app::kCliRefused);
    EXPECT_NE(backslash.err.find("PC437(U.S.A) and the character set Japan"), std::string::npos) << backslash.err;
}

TEST_F(CliEncodingTest, BarcodeDataTakesTheEncodingToo) {
    // CODE128 takes ASCII: under Japan the yen sign is its byte 5C.
    const CliRun yen =
        Cli({"--encoding", "cp437", "--charset", "8", "barcode", "--type", "CODA128", "--data", "\u00A512"});
    EXPECT_EQ(yen.code, app::kCliDone) << yen.err;
    ASSERT_FALSE(yen.Echoed().empty());
    EXPECT_NE(yen.Echoed().back().find("1D 6B 49 03 5C 31 32 "), std::string::npos) << yen.Echoed().back();
    // A character without a code: status 3 and nothing sent.
    const CliRun euro = Cli({"--encoding", "cp437", "barcode", "--type", "CODA128", "--data", "\u20AC12"});
    EXPECT_EQ(euro.code, app::kCliRefused);
    EXPECT_EQ(euro.Echoed(), Rows{});
    EXPECT_NE(euro.err.find("\"\u20AC\" (U+20AC) at position 1"), std::string::npos) << euro.err;
}

TEST_F(CliEncodingTest, BadNamesAndSetsAreRefusedBeforeAnythingIsSent) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--encoding", "latin9", "text", "x"},
             {"--encoding", "page255", "text", "x"},
             {"--encoding", "cp437", "--charset", "16", "text", "x"},
             {"--encoding", "cp437", "--charset", "-1", "text", "x"},
             {"--charset", "3", "text", "x"},
             {"--encoding", "cp437", "text", "ab\xFF"},
         }) {
        const CliRun r = Cli(args);
        EXPECT_EQ(r.code, app::kCliRefused) << args[1];
        EXPECT_EQ(r.Echoed(), Rows{}) << args[1];
        EXPECT_EQ(r.err.rfind("pellory-cli: ", 0), 0u) << r.err;
    }
}

TEST_F(CliEncodingTest, PrintSetupCommandsLeaveTheRecordOfCharactersAsItWas) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"set", "codetable", "9"}, {"set", "charset", "8"}, {"set", "kanji", "on"}}) {
        const CliRun r = Cli(args);
        EXPECT_EQ(r.code, app::kCliDone) << args[1] << r.err;
    }
    EXPECT_EQ(charset::LastPrinterState(), charset::PrinterState{});
}

TEST_F(CliEncodingTest, EncodingsListsEveryName) {
    const CliRun r = Cli({"encodings"});
    EXPECT_EQ(r.code, app::kCliDone) << r.err;
    for (const char* name : {"bytes", "cp437", "katakana", "cp850", "cp860", "cp863", "cp865", "cp1252", "cp866",
                             "cp852", "cp858", "gb18030"}) {
        const std::string entry = std::string(name) + " ";
        EXPECT_TRUE(r.out.rfind(entry, 0) == 0 || r.out.find(std::string("\n").append(entry)) != std::string::npos)
            << name;
    }
    EXPECT_NE(r.out.find("\ncp858     PC858(Euro) (ESC t 19)\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("8 Japan"), std::string::npos);
    EXPECT_EQ(r.Echoed(), Rows{});  // nothing sent
}

}  // namespace
