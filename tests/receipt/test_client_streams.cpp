// Receipts made by current point-of-sale client libraries (tests/receipt/clients/, made by
// tools/make_client_streams.sh), drawn as the 80 mm printer draws them and read back: every text
// line the manifest lists is found on the paper dot for dot as Pellory's own glyphs draw it in its
// look (printed_text.h), every symbol is read by zbar or zxing-cpp with its data
// (printed_symbols.h), and the cuts are counted.
//
// clients/known-failures.txt lists what does not read back today, each with its cause: such an
// entry passes while it still fails, and fails the test once it reads back (its line is then to be
// removed), so the file always tells what remains.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "printed_symbols.h"
#include "printed_text.h"

#ifndef PELLORY_CLIENT_STREAMS
#error "PELLORY_CLIENT_STREAMS names the folder of the client libraries' streams"
#endif

namespace pellory::receipt::test {
namespace {

namespace fs = std::filesystem;

std::string ReadWhole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct ExpectedLine {
    std::string text;
    TextLook look;
    LineAlign align = LineAlign::Any;
};

struct ExpectedSymbol {
    std::string kind, data;
    bool prints = true;  // false: the bytes are wrong, and the printer prints no such symbol
};

struct ClientFile {
    std::string file, library, version, kanji;
    int cuts = 0;
    std::vector<ExpectedLine> lines;
    std::vector<ExpectedSymbol> symbols;
};

struct Manifest {
    int paper = kOrva80Dots;
    std::vector<ClientFile> files;
};

LineAlign AlignOf(const QString& s) {
    if (s == "left") return LineAlign::Left;
    if (s == "center") return LineAlign::Center;
    if (s == "right") return LineAlign::Right;
    return LineAlign::Any;
}

const Manifest& TheManifest() {
    static const Manifest manifest = [] {
        Manifest m;
        const std::string json = ReadWhole(fs::path(PELLORY_CLIENT_STREAMS) / "manifest.json");
        const QJsonObject root = QJsonDocument::fromJson(QByteArray::fromStdString(json)).object();
        m.paper = root.value("paper").toInt(kOrva80Dots);
        for (const QJsonValue& f : root.value("files").toArray()) {
            const QJsonObject o = f.toObject();
            ClientFile c{o.value("file").toString().toStdString(),
                         o.value("library").toString().toStdString(),
                         o.value("version").toString().toStdString(),
                         o.value("kanji").toString().toStdString(),
                         o.value("cuts").toInt(),
                         {},
                         {}};
            for (const QJsonValue& l : o.value("lines").toArray()) {
                const QJsonObject lo = l.toObject();
                TextLook look;
                look.font = lo.value("font").toString("A") == "B" ? 'B' : 'A';
                look.width = lo.value("width").toInt(1);
                look.height = lo.value("height").toInt(1);
                look.bold = lo.value("bold").toBool();
                look.underline = lo.value("underline").toInt();
                look.invert = lo.value("invert").toBool();
                look.condensed = lo.value("condensed").toBool();
                c.lines.push_back(
                    {lo.value("text").toString().toStdString(), look, AlignOf(lo.value("align").toString())});
            }
            for (const QJsonValue& s : o.value("symbols").toArray()) {
                const QJsonObject so = s.toObject();
                c.symbols.push_back({so.value("kind").toString().toStdString(),
                                     so.value("data").toString().toStdString(), so.value("prints").toBool(true)});
            }
            m.files.push_back(std::move(c));
        }
        return m;
    }();
    return manifest;
}

// The known failures of today: "file | what | cause" per line, by file and what.
const std::map<std::pair<std::string, std::string>, std::string>& KnownFailures() {
    static const std::map<std::pair<std::string, std::string>, std::string> known = [] {
        std::map<std::pair<std::string, std::string>, std::string> k;
        std::istringstream in(ReadWhole(fs::path(PELLORY_CLIENT_STREAMS) / "known-failures.txt"));
        const auto trim = [](std::string s) {
            const size_t a = s.find_first_not_of(' '), b = s.find_last_not_of(' ');
            return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
        };
        for (std::string line; std::getline(in, line);) {
            if (line.empty() || line[0] == '#') continue;
            const size_t bar1 = line.find(" | "), bar2 = line.find(" | ", bar1 + 3);
            if (bar1 == std::string::npos || bar2 == std::string::npos) {
                ADD_FAILURE() << "known-failures.txt: not \"file | what | cause\": " << line;
                continue;
            }
            k[{trim(line.substr(0, bar1)), trim(line.substr(bar1 + 3, bar2 - bar1 - 3))}] = trim(line.substr(bar2 + 3));
        }
        return k;
    }();
    return known;
}

// What a file printed.
struct Printed {
    Paper paper;
    int cuts = 0;
    std::vector<std::pair<int64_t, int64_t>> steps;  // the rows [from, to) each step of printing added
};

charset::KanjiSystem KanjiOf(const std::string& name) {
    if (name == "shift-jis") return charset::KanjiSystem::ShiftJis;
    if (name == "jis") return charset::KanjiSystem::Jis;
    if (name == "big5") return charset::KanjiSystem::Big5;
    if (name == "euc-kr") return charset::KanjiSystem::Ksc5601;
    return charset::KanjiSystem::Gb18030;
}

const Printed& PrintedOf(const ClientFile& f) {
    static std::map<std::string, Printed> printed;
    const auto done = printed.find(f.file);
    if (done != printed.end()) return done->second;
    const std::string bytes = ReadWhole(fs::path(PELLORY_CLIENT_STREAMS) / f.file);
    Interpreter printer(TheManifest().paper);
    printer.setKanjiModel(KanjiOf(f.kanji));
    int cuts = 0;
    printer.setCutSink([&](int64_t) { ++cuts; });
    // Fed a byte at a time, so that the rows each command printed are known.
    std::vector<std::pair<int64_t, int64_t>> steps;
    int64_t end = printer.paper().endRow();
    for (const char c : bytes) {
        const auto byte = static_cast<uint8_t>(c);
        printer.feed(&byte, 1);
        if (printer.paper().endRow() != end) steps.emplace_back(end, printer.paper().endRow());
        end = printer.paper().endRow();
    }
    printer.finish();
    return printed.emplace(f.file, Printed{printer.paper(), cuts, std::move(steps)}).first->second;
}

// Holds one outcome against the known failures: a check that fails must be listed, one listed
// must fail. Counts the entries seen.
class Outcomes {
public:
    void check(const ClientFile& f, const std::string& what, bool ok, const std::string& detail) {
        const auto known = KnownFailures().find({f.file, what});
        if (known == KnownFailures().end()) {
            EXPECT_TRUE(ok) << f.file << " (" << f.library << " " << f.version << "): " << what
                            << " does not read back: " << detail;
            return;
        }
        seen_.insert(known->first);
        EXPECT_FALSE(ok) << f.file << ": " << what
                         << " reads back now: remove its line from tests/receipt/clients/known-failures.txt";
        if (!ok) std::cout << "known failure: " << f.file << " | " << what << " | " << known->second << "\n";
    }
    const std::set<std::pair<std::string, std::string>>& seen() const { return seen_; }

private:
    std::set<std::pair<std::string, std::string>> seen_;
};

bool IsPlain(const TextLook& l) {
    return l.font == 'A' && l.width == 1 && l.height == 1 && !l.bold && l.underline == 0 && !l.invert && !l.condensed;
}

std::string TextKey(const std::string& text) { return "text \"" + text + "\""; }
std::string SymbolKey(const ExpectedSymbol& s) { return "symbol " + s.kind + " \"" + s.data + "\""; }

TEST(ClientStreams, TheManifestNamesEveryLibraryAndEachFileIsThere) {
    const std::set<std::string> libraries = {"node-thermal-printer", "@point-of-sale/receipt-printer-encoder",
                                             "esc-pos-encoder",      "receiptline",
                                             "escpos-buffer",        "@node-escpos/core"};
    std::set<std::string> named;
    for (const ClientFile& f : TheManifest().files) {
        named.insert(f.library);
        EXPECT_FALSE(f.version.empty()) << f.file;
        EXPECT_TRUE(fs::is_regular_file(fs::path(PELLORY_CLIENT_STREAMS) / f.file)) << f.file;
        EXPECT_FALSE(f.lines.empty()) << f.file;
        EXPECT_FALSE(f.symbols.empty()) << f.file;
    }
    EXPECT_EQ(named, libraries);
}

// Each line is looked for from the row of the line before it on (a little above, for the cells of
// a table row, which print side by side), in the order the manifest lists them.
TEST(ClientStreams, EveryTextLineReadsBackInItsLook) {
    Outcomes outcomes;
    size_t lines = 0;
    for (const ClientFile& f : TheManifest().files) {
        const Printed& printed = PrintedOf(f);
        int64_t from = printed.paper.firstRow();
        for (const ExpectedLine& line : f.lines) {
            ++lines;
            const QString text = QString::fromStdString(line.text);
            const std::u32string chars(reinterpret_cast<const char32_t*>(text.toUcs4().constData()),
                                       static_cast<size_t>(text.toUcs4().size()));
            char32_t missing = 0;
            const charset::KanjiSystem model = KanjiOf(f.kanji);
            const Bytes bytes = ReferenceBytes(chars, &missing, model);
            ASSERT_FALSE(bytes.empty()) << line.text << ": no table of the reference has U+" << std::hex
                                        << static_cast<uint32_t>(missing);
            const Paper reference = DrawReference(bytes, line.look, line.align, printed.paper.width(), model);
            const Stencil stencil = CutToInk(reference);
            ASSERT_GT(stencil.width, 0) << line.text;
            // The reference is drawn by the same renderer: a look it drew as plain text (a style
            // the renderer ignores) would be found on any receipt that also ignores it.
            if (!IsPlain(line.look)) {
                const Stencil plain =
                    CutToInk(DrawReference(bytes, TextLook{}, line.align, printed.paper.width(), model));
                EXPECT_FALSE(plain.width == stencil.width && plain.dots == stencil.dots)
                    << f.file << ": \"" << line.text << "\" draws in its look as it draws plain";
            }
            const std::optional<Place> at = FindStencil(printed.paper, stencil, from);
            std::string detail = "not on the paper below row " + std::to_string(from);
            bool ok = at.has_value();
            if (at && line.align != LineAlign::Any) {
                // Aligned by the printer or by spaces the library adds: within one cell of the
                // reference's place.
                const int cell = (line.look.font == 'B' ? 9 : 12) * line.look.width;
                ok = std::abs(at->x - stencil.x0) <= cell;
                detail = "at x " + std::to_string(at->x) + ", aligned it starts at x " + std::to_string(stencil.x0);
            }
            if (at) from = std::max(printed.paper.firstRow(), at->y - 64);
            outcomes.check(f, TextKey(line.text), ok, detail);
        }
    }
    size_t listed = 0;
    for (const auto& [key, cause] : KnownFailures()) {
        if (key.second.rfind("text ", 0) != 0) continue;
        ++listed;
        EXPECT_TRUE(outcomes.seen().count(key)) << key.first << " | " << key.second << ": no such line";
    }
    EXPECT_GE(lines, 100u);
    std::cout << lines << " lines, " << listed << " known not to read back\n";
}

TEST(ClientStreams, EverySymbolReadsBackWithItsData) {
    Outcomes outcomes;
    size_t symbols = 0;
    for (const ClientFile& f : TheManifest().files) {
        const std::vector<ReadBack> read = ReadEverySymbol(PrintedOf(f).paper, PrintedOf(f).steps);
        std::vector<bool> used(read.size(), false);
        std::string all;
        for (const ReadBack& r : read) all += r.kind + " \"" + r.data + "\" ";
        for (const ExpectedSymbol& s : f.symbols) {
            ++symbols;
            size_t i = 0;
            while (i < read.size() && (used[i] || !SameSymbol(s.kind, s.data, read[i]))) ++i;
            const bool found = i < read.size();
            if (found) used[i] = true;
            outcomes.check(f, SymbolKey(s), found == s.prints,
                           (s.prints ? "not among " : "printed, though its bytes are wrong; read: ") + all);
        }
    }
    size_t listed = 0;
    for (const auto& [key, cause] : KnownFailures()) {
        if (key.second.rfind("symbol ", 0) != 0) continue;
        ++listed;
        EXPECT_TRUE(outcomes.seen().count(key)) << key.first << " | " << key.second << ": no such symbol";
    }
    EXPECT_GE(symbols, 60u);
    std::cout << symbols << " symbols, " << listed << " known not to read back\n";
}

TEST(ClientStreams, EveryCutIsMade) {
    Outcomes outcomes;
    for (const ClientFile& f : TheManifest().files) {
        const int cuts = PrintedOf(f).cuts;
        outcomes.check(f, "cuts", cuts == f.cuts, std::to_string(cuts) + " cuts, not " + std::to_string(f.cuts));
    }
}

}  // namespace
}  // namespace pellory::receipt::test
