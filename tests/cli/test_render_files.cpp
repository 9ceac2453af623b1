// pellory-cli render of long captures: the whole stream on one PNG (no longer the live view's
// last 2 m), the bound on its height, one PNG per receipt with --receipts, and a PDF page per
// receipt.
#include <gtest/gtest.h>

#include <QImage>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "cli/cli.h"
#include "receipt/offline_roll.h"
#include "receipt/paper_image.h"
#include "receipt/receipt_test_support.h"
#include "support/scratch_folder.h"

namespace pellory::receipt::test {
namespace {

namespace fs = std::filesystem;

const Bytes kCut = B({0x1D, 0x56, 0x42, 0x00});

// n receipts of `lines` text lines each, every one ended by a cut: n * (33 * lines + 1) rows.
Bytes Receipts(int n, int lines) {
    Bytes out;
    for (int r = 0; r < n; ++r) {
        for (int i = 0; i < lines; ++i) out = Cat({out, T("Receipt " + std::to_string(r) + " line " + std::to_string(i) + "\n")});
        out = Cat({out, kCut});
    }
    return out;
}

class RenderFiles : public pellory::test::ScratchFolderTest {
protected:
    RenderFiles() : ScratchFolderTest("pellory_render") {}
    std::string Input(const Bytes& stream) const {
        return scratch.Write("capture.bin", std::string_view(reinterpret_cast<const char*>(stream.data()), stream.size()));
    }
    int Cli(const std::vector<std::string>& args) {
        std::ostringstream out;
        err_.str("");
        return app::RunCli(args, out, err_);
    }
    std::vector<std::string> Names(const std::string& sub = "") const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(scratch.path() / sub)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::ostringstream err_;
};

TEST_F(RenderFiles, TheWholeCaptureIsDrawnOnOnePicture) {
    // 110 receipts, 72,710 dot rows: far more than the live view's 2 m.
    const std::string input = Input(Receipts(110, 20));
    ASSERT_EQ(Cli({"render", input, "-o", Path("all.png")}), 0) << err_.str();
    const QImage image(QString::fromStdString(Path("all.png")));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.height(), 110 * (20 * 33 + 1));
    // The first receipt's first line is on it.
    bool inkAtTop = false;
    for (int y = 0; y < 33 && !inkAtTop; ++y)
        for (int x = 0; x < image.width() && !inkAtTop; ++x) inkAtTop = image.pixel(x, y) == qRgb(0, 0, 0);
    EXPECT_TRUE(inkAtTop);
    EXPECT_EQ(image.pixel(0, 20 * 33), kCutGrey);  // the first cut
}

TEST_F(RenderFiles, APictureTallerThanTheBoundIsNotWrittenAndSaysSo) {
    // 401 feeds of 250 dots and a line: past the 100,000 rows a picture may have.
    Bytes stream;
    for (int i = 0; i < 401; ++i) stream = Cat({stream, B({0x1B, 0x4A, 250})});
    const std::string input = Input(Cat({stream, T("end\n")}));
    struct Case {
        std::string output;
        std::string message;
    };
    for (const Case& c : {Case{"tall.png", "pellory-cli: the picture would be taller than 100000 dots (12.5 m of paper), "
                                           "the most a picture may be; nothing was written (render --receipts DIR draws "
                                           "each receipt on a picture of its own).\n"},
                          Case{"tall.pdf", "pellory-cli: a receipt would be taller than 100000 dots (12.5 m of paper), "
                                           "the most a picture may be; nothing was written.\n"}}) {
        EXPECT_EQ(Cli({"render", input, "-o", Path(c.output)}), app::kCliFileUnreadable) << c.output;
        EXPECT_EQ(err_.str(), c.message);
        EXPECT_EQ(Names(), std::vector<std::string>{"capture.bin"}) << c.output;
    }
    // The same rows in receipts below the bound are drawn.
    Bytes halves;
    for (int i = 0; i < 200; ++i) halves = Cat({halves, B({0x1B, 0x4A, 250})});
    const std::string twoReceipts = Input(Cat({halves, T("a\n"), kCut, halves, T("b\n"), kCut}));
    EXPECT_EQ(Cli({"render", twoReceipts, "--receipts", Path("each")}), 0) << err_.str();
    EXPECT_EQ(Names("each"), (std::vector<std::string>{"receipt-0001.png", "receipt-0002.png"}));
}

TEST_F(RenderFiles, ReceiptsGoOnePictureEachIntoTheFolder) {
    const std::string input = Input(Cat({Receipts(3, 2), T("rest\n")}));
    const std::string folder = Path("each");
    ASSERT_EQ(Cli({"render", input, "--receipts", folder, "--model", "ORVA80"}), 0) << err_.str();
    EXPECT_EQ(err_.str(), "pellory-cli: 4 receipts written to " + folder + " (receipt-0001.png to receipt-0004.png).\n");
    const std::vector<std::string> names = Names("each");
    ASSERT_EQ(names.size(), 4u);
    for (size_t i = 0; i < names.size(); ++i) {
        const QImage image(QString::fromStdString(folder + "/" + names[i]));
        ASSERT_FALSE(image.isNull()) << names[i];
        EXPECT_EQ(image.width(), 576);
        EXPECT_EQ(image.height(), i < 3 ? 2 * 33 : 33) << names[i];
    }
    // A run with fewer receipts replaces the same names and leaves the others.
    ASSERT_EQ(Cli({"render", Input(Receipts(1, 5)), "--receipts", folder}), 0);
    EXPECT_EQ(QImage(QString::fromStdString(folder + "/receipt-0001.png")).height(), 5 * 33);
    // -o and --receipts together, or neither: bad arguments.
    EXPECT_EQ(Cli({"render", input, "-o", Path("x.png"), "--receipts", folder}), app::kCliRefused);
    EXPECT_EQ(Cli({"render", input}), app::kCliRefused);
    // A file where the folder should be.
    EXPECT_EQ(Cli({"render", input, "--receipts", input}), app::kCliFileUnreadable);
    EXPECT_NE(err_.str().find("cannot write the pictures to " + input + ": Not a directory"), std::string::npos) << err_.str();
}

TEST_F(RenderFiles, APdfHasAPagePerReceiptAtItsLength) {
    const std::string input = Input(Cat({Receipts(2, 3), Receipts(1, 10)}));
    ASSERT_EQ(Cli({"render", input, "-o", Path("r.pdf")}), 0) << err_.str();
    std::ifstream file(Path("r.pdf"), std::ios::binary);
    const std::string pdf{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    ASSERT_EQ(pdf.rfind("%PDF-", 0), 0u);
    // Each page's box: 58 mm wide, its receipt's rows at 8 dots per mm tall (in points).
    std::vector<double> heights;
    const std::regex box(R"(/MediaBox \[0 0 ([0-9.]+) ([0-9.]+)\])");
    for (std::sregex_iterator it(pdf.begin(), pdf.end(), box), end; it != end; ++it) {
        EXPECT_NEAR(std::stod((*it)[1]), 58 / 25.4 * 72, 1.0);
        heights.push_back(std::stod((*it)[2]));
    }
    ASSERT_EQ(heights.size(), 3u);
    const double pointsPerRow = 72 / 25.4 / 8;
    EXPECT_NEAR(heights[0], 99 * pointsPerRow, 1.0);
    EXPECT_NEAR(heights[1], 99 * pointsPerRow, 1.0);
    EXPECT_NEAR(heights[2], 330 * pointsPerRow, 1.0);
}

// The PNG written row by row reads back as the picture of the same rows: black ink, white paper,
// the cuts' grey dashes, at either width and for any range of rows: with a cut among them (two
// bits a pixel) and without (a receipt from cut to cut: one bit a pixel, the paper's rows as they
// are), ink up to the paper's right edge at a width that is no multiple of 8.
TEST(PaperPng, ReadsBackAsThePictureOfItsRows) {
    const Bytes stream = Cat({B({0x1B, 0x21, 0x30}), T("Wide ink\n"), B({0x1D, 0x76, 0x30, 0x00, 3, 0, 2, 0}),
                              B({0xFF, 0x0F, 0xA5, 0x81, 0x42, 0x3C}), kCut, T("after the cut\n"),
                              B({0x1D, 0x76, 0x30, 0x00, 80, 0, 1, 0}), Bytes(80, 0xFF), T("\n"),
                              B({0x1D, 0x56, 0x42, 0x10})});
    std::set<int> depths;  // the bits a pixel of the pictures written
    for (const int width : {kOrva58Dots, kOrva80Dots, 100}) {
        const Paper paper = Render(stream, width);
        ASSERT_FALSE(paper.cuts().empty());
        const int64_t cut = paper.cuts().front();
        struct Range {
            int64_t from, to;
        };
        for (const Range r : {Range{0, paper.endRow()}, Range{40, 90}, Range{5, 5}, Range{0, cut},
                              Range{cut + 1, paper.endRow()}, Range{cut, cut + 1}, Range{cut, cut}}) {
            std::vector<uint8_t> png;
            ASSERT_TRUE(WritePaperPng(paper, r.from, r.to, [&](const uint8_t* d, size_t n) {
                png.insert(png.end(), d, d + n);
                return true;
            }));
            ASSERT_GT(png.size(), 24u);
            depths.insert(png[24]);
            QImage read;
            ASSERT_TRUE(read.loadFromData(png.data(), static_cast<int>(png.size()), "PNG"));
            QImage want = PaperImage(paper, false, r.from, r.to);
            if (want.isNull()) {  // no rows: one white row
                want = QImage(width, 1, QImage::Format_RGB32);
                want.fill(Qt::white);
            }
            ASSERT_EQ(read.size(), want.size()) << width << " dots, rows " << r.from << ".." << r.to;
            for (int y = 0; y < read.height(); ++y) {
                for (int x = 0; x < read.width(); ++x) {
                    ASSERT_EQ(read.pixel(x, y), want.pixel(x, y))
                        << width << " dots, rows " << r.from << ".." << r.to << ", at " << x << "," << y;
                }
            }
        }
    }
    EXPECT_EQ(depths, (std::set<int>{1, 2}));
    // A sink that refuses ends the writing with false.
    EXPECT_FALSE(WritePaperPng(Render(stream), 0, 10, [](const uint8_t*, size_t) { return false; }));
}

}  // namespace
}  // namespace pellory::receipt::test
