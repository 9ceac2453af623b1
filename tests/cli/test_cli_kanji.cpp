// pellory-cli with the code tables beyond the "Code Table" list and the Kanji code systems:
// --encoding sends the printer bytes of each; two-byte text encoded by --encoding reads back from
// `decode` and is drawn by `render` under the same --kanji model; unknown names are refused.
#include <gtest/gtest.h>

#include <QImage>
#include <sstream>
#include <string>
#include <vector>

#include "charset/printer_text.h"
#include "cli/cli.h"
#include "protocol/hex.h"
#include "receipt/characters.h"
#include "receipt/glyphs.h"
#include "support/cli_run.h"
#include "support/scratch_folder.h"

using namespace pellory;
using Rows = std::vector<std::string>;

namespace {

const std::string kProbe = "10 04 05 ";

test::CliRun Cli(std::vector<std::string> args) {
    std::vector<std::string> all = {"--virtual-printer", "--port", "COM89", "--echo"};
    all.insert(all.end(), args.begin(), args.end());
    return test::RunCliInProcess(all);
}

TEST(CliMoreTables, EncodingSendsTheBytesOfEveryNewTable) {
    const struct {
        const char* name;
        const char* text;
        const char* hex;
    } cases[] = {
        {"cp737", "\u0391", "80 "},
        {"thai42", "\u0E01", "A1 "},
        {"cp862", "\u05D0", "80 "},
        {"ISO8859-15", "\u20AC", "A4 "},
        {"cp1256", "\u0627", "C7 "},
        {"kz1048", "\u04AE", "AF "},
        {"cp857", "\u20AC", "D5 "},            // the euro sign PC857 has at D5
        {"cp1098", "\u060C\u06F1", "80 F5 "},  // compiled-in tables
        {"tcvn3-capitals", "\u00C0", "B5 "},
        {"katakana", "\u2500\u2588", "95 87 "},
        {"shift-jis", "\u65E5\uFF71", "93 FA B1 "},
        {"big5", "\u4E2D", "A4 A4 "},
        {"euc-kr", "\uD55C", "C7 D1 "},
    };
    for (const auto& c : cases) {
        const test::CliRun r = Cli({"--encoding", c.name, "text", c.text});
        EXPECT_EQ(r.code, app::kCliDone) << c.name << ": " << r.err;
        EXPECT_EQ(r.Echoed(), (Rows{kProbe, c.hex, "0A "})) << c.name;
    }
}

TEST(CliMoreTables, ATableWithoutConverterOrAnUnknownSystemIsRefused) {
    // PC720, which glibc lacks, is compiled in: it works whatever converters the system has.
    const test::CliRun arabic = Cli({"--encoding", "cp720", "text", "\u0628"});
    EXPECT_EQ(arabic.code, app::kCliDone) << arabic.err;
    EXPECT_EQ(arabic.Echoed(), (Rows{kProbe, "A0 ", "0A "}));
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--kanji", "utf8", "encodings"}, {"--encoding", "jis", "text", "x"}, {"--kanji", "", "encodings"}}) {
        const test::CliRun r = Cli(args);
        EXPECT_EQ(r.code, app::kCliRefused) << args[1];
        EXPECT_EQ(r.Echoed(), Rows{}) << args[1];
    }
    const test::CliRun list = Cli({"encodings"});
    EXPECT_NE(list.out.find("\nkz1048    KZ-1048(Kazakhstan) (ESC t 53)\n"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("\nbig5      Kanji Mode, two-byte Big5 codes"), std::string::npos) << list.out;
}

class CliKanji : public test::ScratchFolderTest {
protected:
    CliKanji() : ScratchFolderTest("pellory_kanji") {}
};

// Text encoded by --encoding NAME, sent in Kanji mode, comes back from `decode --kanji NAME` as
// the same text and is drawn by `render --kanji NAME` as its glyphs, two cells each.
TEST_F(CliKanji, TwoByteTextRoundTripsThroughEncodingDecodeAndRender) {
    const struct {
        const char* name;
        std::u32string text;
        std::string prefix;  // FS C 1 for the Japanese model
    } cases[] = {
        {"gb18030", U"\u4E2D\u6587", ""},
        {"shift-jis", U"\u65E5\u672C", "\x1C\x43\x01"},
        {"big5", U"\u4E2D\u6587", ""},
        {"euc-kr", U"\uD55C\uAD6D", ""},
    };
    for (const auto& c : cases) {
        const std::string utf8 = charset::ToUtf8(c.text);
        const test::CliRun sent = Cli({"--encoding", c.name, "text", utf8});
        ASSERT_EQ(sent.code, app::kCliDone) << c.name << sent.err;
        ASSERT_EQ(sent.Echoed().size(), 3u) << c.name;
        const std::optional<std::vector<uint8_t>> codes = protocol::hex::ParseEcho(sent.Echoed()[1]);
        ASSERT_TRUE(codes && codes->size() == 2 * c.text.size()) << c.name << " " << sent.Echoed()[1];

        const std::string input =
            scratch.Write(std::string(c.name) + ".bin",
                          c.prefix + "\x1C\x26" + std::string(codes->begin(), codes->end()) + "\x1C\x2E\n");
        const test::CliRun decoded = test::RunCliInProcess({"--kanji", c.name, "decode", input});
        EXPECT_EQ(decoded.code, app::kCliDone) << decoded.err;
        EXPECT_NE(decoded.out.find("\"" + utf8 + "\""), std::string::npos) << c.name << ":\n" << decoded.out;

        const std::string png = Path(std::string(c.name) + ".png");
        const test::CliRun drawn = test::RunCliInProcess({"--kanji", c.name, "render", input, "-o", png});
        ASSERT_EQ(drawn.code, app::kCliDone) << drawn.err;
        const QImage image(QString::fromStdString(png));
        ASSERT_FALSE(image.isNull()) << c.name;
        for (size_t k = 0; k < c.text.size(); ++k) {
            const receipt::Bitmap& g = receipt::PlainGlyph(0, c.text[k], 2);
            // The character's own glyph, not the box of one no font has (every such is the same).
            EXPECT_NE(g.bits, receipt::PlainGlyph(0, U'\U0010FFFD', 2).bits) << c.name << " character " << k;
            int differing = 0, ink = 0;
            for (int y = 0; y < g.height; ++y) {
                for (int x = 0; x < g.width; ++x) {
                    const bool black = image.pixel(static_cast<int>(24 * k) + x, y) == qRgb(0, 0, 0);
                    differing += black != g.get(x, y);
                    ink += black;
                }
            }
            EXPECT_EQ(differing, 0) << c.name << " character " << k;
            EXPECT_GT(ink, 20) << c.name << " character " << k;
        }
    }
    // The model is the run's: the next run without --kanji reads GB18030 again.
    EXPECT_EQ(receipt::CurrentKanjiModel(), charset::KanjiSystem::Gb18030);
}

}  // namespace
