// The "Image Print" page: start-up state, "Load.." and "Update" with their checks and failures,
// the preview box, the mode list's refills, and printing in both orientations against a virtual
// printer (probe once per opening, the rows and bytes of each mode, a silent printer, a closed
// link, a picture too tall for one raster command).
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <QByteArray>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTemporaryDir>

#include <memory>

#include "image_print_rows.h"
#include "imaging/bit_image.h"
#include "link/port_settings.h"
#include "page_test_support.h"
#include "pages/image_print_page.h"
#include "platform/port_map.h"
#include "print_setup_barcode_rows.h"
#include "support/captions.h"
#include "support/empty_ports.h"
#include "support/support.h"
#include "widgets/dialog_layout.h"
#include "widgets/qt_test_app.h"

using namespace pellory;
using pages::CDialogPPrint;
using test::Echo;
using test::Entries;
using test::Hex;
using Rows = std::vector<std::string>;
namespace image_rows = test::image_rows;

namespace {

constexpr int kCom = 171;        // the printer's number in this executable
constexpr int kSilentCom = 172;  // a port where nothing answers

const std::string kProbe = test::rows::kProbe;
const std::string kFilter = "BMP file(*.bmp)|*.bmp|JPEG/JPG files(*.jpg,*.jpeg)|*.jpg;*.jpeg|Others(*.*)|*.*||";


// A picture whose dot (x, y) is black where black(x, y) says so, white elsewhere.
template <typename F>
QImage Picture(int width, int height, F black) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) image.setPixel(x, y, black(x, y) ? 0xff000000u : 0xffffffffu);
    }
    return image;
}

QImage Filled(int width, int height, QRgb colour) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// The echo rows of a list of sends.
Rows EchoRows(const imaging::SendRows& sends) {
    Rows rows;
    for (const auto& s : sends) rows.push_back(Echo(s));
    return rows;
}

Rows Concat(Rows a, const Rows& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<uint8_t> Bytes(const Rows& rows) {
    std::vector<uint8_t> out;
    for (const auto& r : rows) {
        const auto b = Hex(r);
        out.insert(out.end(), b.begin(), b.end());
    }
    return out;
}

class ImagePrintPageTest : public test::PageTest<CDialogPPrint> {
protected:
    ImagePrintPageTest() : PageTest(kCom) {}
    void InitPage(CDialogPPrint& p) override {
        p.InitImagePage();
    }
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        PageTest::SetUp();
    }
    QPushButton* Button(int id) { return Control<QPushButton>(id); }
    QComboBox* Modes() { return Control<QComboBox>(CDialogPPrint::kIdMode); }
    QLineEdit* Threshold() { return Control<QLineEdit>(CDialogPPrint::kIdThreshold); }
    QLineEdit* PathField() { return Control<QLineEdit>(CDialogPPrint::kIdPath); }
    pages::PreviewBox* Box() { return dynamic_cast<pages::PreviewBox*>(widgets::FindControl(page.get(), CDialogPPrint::kIdPreview)); }
    bool PrintEnabled() { return Button(CDialogPPrint::kIdPrint)->isEnabled(); }

    std::string Save(const QImage& image, const char* name) {
        const QString path = dir.filePath(QString::fromLatin1(name));
        EXPECT_TRUE(image.save(path, "BMP")) << name;
        return QFile::encodeName(path).toStdString();
    }
    std::string Write(const char* name, const QByteArray& bytes) {
        const QString path = dir.filePath(QString::fromLatin1(name));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
        return QFile::encodeName(path).toStdString();
    }
    // The user types over the threshold field.
    void TypeThreshold(const char* text) {
        Threshold()->selectAll();
        Threshold()->insert(QString::fromLatin1(text));
    }
    // The user clicks "Load.." and picks path (nothing: cancels the dialog).
    void Load(std::optional<std::string> path) {
        prompt.QueueFile(std::move(path));
        Button(CDialogPPrint::kIdLoad)->click();
    }
    void Update() { Button(CDialogPPrint::kIdUpdate)->click(); }
    void Print() { Button(CDialogPPrint::kIdPrint)->click(); }
    void Choose(int index) { test::ChooseEntry(Modes(), index); }
    // A watchdog only: the wait ends as soon as the bytes are there.
    vprinter::Bytes Received(test::MappedPrinter& p, size_t n) { return test::ReceivedWhenQuiet(p, n, 15000); }

    QTemporaryDir dir;
};

const QStringList kDensityEntries{"8-dot single-density", "8-dot double-density", "24-dot single-density",
                                  "24-dot double-density"};
const QStringList kScaleEntries{"Normal", "Double-width", "Double-height", "Quadruple"};

}  // namespace

// --- pure parts ---

TEST(ImagePrintChecks, ThresholdFieldIsReadAsASignedNumberAndRefusedFrom256) {
    using pages::AcceptedThreshold;
    EXPECT_EQ(AcceptedThreshold("128"), 128);
    EXPECT_EQ(AcceptedThreshold("255"), 255);
    EXPECT_EQ(AcceptedThreshold("256"), std::nullopt);
    EXPECT_EQ(AcceptedThreshold("99999999999"), std::nullopt);  // saturates, does not wrap
    EXPECT_EQ(AcceptedThreshold(""), 0);
    EXPECT_EQ(AcceptedThreshold("12a"), 0);
    EXPECT_EQ(AcceptedThreshold("-5"), -5);  // negative values are passed on
}

// --- start-up, controls ---

TEST_F(ImagePrintPageTest, StartUpShowsTheDefaultsAndSendsNothing) {
    test::MappedPrinter p(kCom);
    EXPECT_TRUE(page->echoSwitch);
    EXPECT_FALSE(page->IsOpen());
    auto* vertical = Control<QRadioButton>(CDialogPPrint::kIdVertical);
    auto* horizontal = Control<QRadioButton>(CDialogPPrint::kIdHorizontal);
    ASSERT_NE(vertical, nullptr);
    ASSERT_NE(horizontal, nullptr);
    EXPECT_EQ(test::Caption(vertical), "Vertical");
    EXPECT_EQ(test::Caption(horizontal), "Horizontal");
    EXPECT_TRUE(vertical->isChecked());
    EXPECT_FALSE(horizontal->isChecked());
    EXPECT_EQ(Entries(Modes()), kDensityEntries);
    EXPECT_EQ(Modes()->currentText(), "24-dot double-density");
    EXPECT_EQ(Threshold()->text(), "128");
    EXPECT_TRUE(PathField()->isReadOnly());
    EXPECT_TRUE(PathField()->text().isEmpty());
    EXPECT_EQ(test::Caption(Button(CDialogPPrint::kIdLoad)), "Load..");
    EXPECT_EQ(test::Caption(Button(CDialogPPrint::kIdUpdate)), "Update");
    EXPECT_EQ(test::Caption(Button(CDialogPPrint::kIdPrint)), "Print");
    EXPECT_FALSE(PrintEnabled());
    EXPECT_TRUE(Control<QScrollBar>(CDialogPPrint::kIdHorizontalScroll)->isHidden());
    EXPECT_TRUE(Control<QScrollBar>(CDialogPPrint::kIdVerticalScroll)->isHidden());
    const widgets::DialogUnits du(page->font());
    ASSERT_NE(Box(), nullptr);
    EXPECT_EQ(Box()->size(), du.size(216, 112));
    EXPECT_TRUE(Box()->Picture().isNull());

    QStringList titles;
    for (auto* g : page->findChildren<QGroupBox*>()) titles << g->title();
    EXPECT_EQ(titles, QStringList{"Image Print"});
    QStringList labels;
    for (auto* l : page->findChildren<QLabel*>()) labels << l->text();
    EXPECT_TRUE(labels.contains("Byte orientation"));
    EXPECT_TRUE(labels.contains("Threshold"));

    // The digits-only field refuses other characters typed.
    Threshold()->clear();
    for (const char* c : {"1", "a", "2", "-"}) Threshold()->insert(QString::fromLatin1(c));
    EXPECT_EQ(Threshold()->text(), "12");

    // "Print" while disabled does nothing at all.
    Print();
    EXPECT_TRUE(history.rows.empty());
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_FALSE(page->IsOpen());
    p->waitForQuiet(50, 500);
    EXPECT_TRUE(p->received().empty());
}

TEST_F(ImagePrintPageTest, RadioClicksRefillTheModeListEveryTime) {
    auto* vertical = Control<QRadioButton>(CDialogPPrint::kIdVertical);
    auto* horizontal = Control<QRadioButton>(CDialogPPrint::kIdHorizontal);
    // A click on the button already checked resets its list too.
    Choose(1);
    vertical->click();
    EXPECT_EQ(Modes()->currentIndex(), 3);

    Choose(0);
    horizontal->click();
    EXPECT_TRUE(horizontal->isChecked());
    EXPECT_EQ(Entries(Modes()), kScaleEntries);
    EXPECT_EQ(Modes()->currentText(), "Normal");
    Choose(2);
    horizontal->click();
    EXPECT_EQ(Modes()->currentText(), "Normal");
    EXPECT_EQ(Modes()->count(), 4);  // emptied before the entries went in again

    Choose(3);
    vertical->click();
    EXPECT_TRUE(vertical->isChecked());
    EXPECT_EQ(Entries(Modes()), kDensityEntries);
    EXPECT_EQ(Modes()->currentText(), "24-dot double-density");
    // Nothing of this talks to the printer.
    EXPECT_TRUE(history.rows.empty());
    EXPECT_FALSE(page->IsOpen());
}

// --- "Load.." and "Update" ---

TEST_F(ImagePrintPageTest, LoadShowsPathAndPreviewBuildsTheMatrixAndEnablesPrint) {
    // Two black columns beside three white ones.
    const std::string path = Save(Picture(5, 3, [](int x, int) { return x < 2; }), "first.bmp");
    Load(path);
    EXPECT_EQ(prompt.filters, std::vector<std::string>{kFilter});
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_EQ(PathField()->text(), QFile::decodeName(QByteArray::fromStdString(path)));
    EXPECT_EQ(page->PicturePath(), path);
    EXPECT_TRUE(PrintEnabled());
    ASSERT_EQ(page->Matrix().width, 5);
    ASSERT_EQ(page->Matrix().height, 3);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 5; ++x) EXPECT_EQ(page->Matrix().At(x, y), x < 2 ? 1 : 0) << x << "," << y;
    }
    EXPECT_EQ(Box()->Picture().size(), QSize(5, 3));
    // Loading sends nothing.
    EXPECT_TRUE(history.rows.empty());
    EXPECT_FALSE(page->IsOpen());

    // A second picture replaces path, preview and matrix.
    const std::string second = Save(Filled(7, 2, 0xff000000u), "second.bmp");
    Load(second);
    EXPECT_EQ(page->PicturePath(), second);
    EXPECT_EQ(Box()->Picture().size(), QSize(7, 2));
    EXPECT_EQ(page->Matrix().width, 7);
    EXPECT_EQ(page->Matrix().dots, std::vector<uint8_t>(14, 1));
}

TEST_F(ImagePrintPageTest, CancelledDialogChangesNothing) {
    Load(std::nullopt);
    EXPECT_TRUE(page->PicturePath().empty());
    EXPECT_FALSE(PrintEnabled());
    EXPECT_TRUE(page->Matrix().empty());

    const std::string path = Save(Picture(4, 4, [](int x, int y) { return x == y; }), "diag.bmp");
    Load(path);
    const auto dots = page->Matrix().dots;
    const qint64 previewKey = Box()->Picture().cacheKey();
    Load(std::nullopt);
    EXPECT_EQ(page->PicturePath(), path);
    EXPECT_EQ(PathField()->text(), QFile::decodeName(QByteArray::fromStdString(path)));
    EXPECT_EQ(Box()->Picture().cacheKey(), previewKey);
    EXPECT_EQ(page->Matrix().dots, dots);
    EXPECT_TRUE(PrintEnabled());
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_EQ(prompt.filters.size(), 3u);  // the dialog was shown each time
}

TEST_F(ImagePrintPageTest, ThresholdAbove255RefusesTheLoadAndUpdateDoesNotEnablePrint) {
    const std::string path = Save(Filled(6, 2, qRgb(100, 100, 100)), "grey.bmp");
    TypeThreshold("300");
    Load(path);
    ASSERT_EQ(prompt.Texts(), Rows{"Threshold can not be greater than 255"});
    EXPECT_EQ(prompt.messages[0].caption, "");
    // Previewed and shown, but not converted.
    EXPECT_EQ(Box()->Picture().size(), QSize(6, 2));
    EXPECT_EQ(page->PicturePath(), path);
    EXPECT_TRUE(page->Matrix().empty());
    EXPECT_FALSE(PrintEnabled());

    TypeThreshold("128");
    Update();
    EXPECT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(page->Matrix().width, 6);
    EXPECT_EQ(page->Matrix().dots, std::vector<uint8_t>(12, 1));  // grey 100 <= 128
    EXPECT_FALSE(PrintEnabled());

    Load(path);
    EXPECT_TRUE(PrintEnabled());
}

TEST_F(ImagePrintPageTest, UpdateChecksFirstDoesNothingWithoutAPictureAndKeepsThePreview) {
    // Before any load: silent with a valid threshold, the message with an invalid one.
    Update();
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_TRUE(page->Matrix().empty());
    TypeThreshold("256");
    Update();
    EXPECT_EQ(prompt.Texts(), Rows{"Threshold can not be greater than 255"});
    EXPECT_TRUE(prompt.filters.empty());

    TypeThreshold("128");
    const std::string path = Save(Filled(3, 3, qRgb(100, 100, 100)), "grey.bmp");
    Load(path);
    EXPECT_EQ(page->Matrix().dots, std::vector<uint8_t>(9, 1));
    const qint64 previewKey = Box()->Picture().cacheKey();
    TypeThreshold("99");
    Update();
    EXPECT_EQ(page->Matrix().dots, std::vector<uint8_t>(9, 0));  // 100 > 99: white now
    EXPECT_EQ(Box()->Picture().cacheKey(), previewKey);
    TypeThreshold("300");
    Update();
    EXPECT_EQ(page->Matrix().dots, std::vector<uint8_t>(9, 0));  // refused: matrix kept
    EXPECT_EQ(prompt.messages.size(), 2u);

    // The file is read again on "Update": a changed file gives a new matrix, a spoilt one the
    // load-failure message and no change.
    Save(Filled(2, 5, 0xff000000u), "grey.bmp");
    TypeThreshold("0");
    Update();
    EXPECT_EQ(page->Matrix().width, 2);
    EXPECT_EQ(page->Matrix().height, 5);
    Write("grey.bmp", QByteArray("BM not really a picture"));
    Update();
    ASSERT_EQ(prompt.messages.size(), 3u);
    EXPECT_EQ(prompt.messages[2].text, "Picture load fail");
    EXPECT_EQ(prompt.messages[2].caption, "Note");
    EXPECT_EQ(page->Matrix().width, 2);
    EXPECT_EQ(Box()->Picture().cacheKey(), previewKey);
    EXPECT_TRUE(PrintEnabled());
}

TEST_F(ImagePrintPageTest, RefusedFileReportsWhyAndKeepsTheOldMatrixAndPrintState) {
    // On a fresh page a refused file leaves "Print" disabled.
    const std::string garbage = Write("garbage.bmp", QByteArray(300, '\x5a'));
    Load(garbage);
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(prompt.messages[0].text, "Picture load fail");
    EXPECT_EQ(prompt.messages[0].caption, "Note");
    EXPECT_FALSE(prompt.messages[0].informative.empty());
    // The reason, then what the user can do.
    EXPECT_NE(prompt.messages[0].informative.find(std::string("\n") + pages::kPictureLoadFailHint), std::string::npos)
        << prompt.messages[0].informative;
    EXPECT_EQ(PathField()->text(), QFile::decodeName(QByteArray::fromStdString(garbage)));
    EXPECT_FALSE(PrintEnabled());
    EXPECT_TRUE(page->Matrix().empty());

    const std::string good = Save(Picture(8, 2, [](int x, int) { return x % 2 == 0; }), "good.bmp");
    Load(good);
    ASSERT_TRUE(PrintEnabled());
    const imaging::DotMatrix before = page->Matrix();
    ASSERT_FALSE(Box()->Picture().isNull());

    Load(garbage);
    ASSERT_EQ(prompt.messages.size(), 2u);
    EXPECT_EQ(prompt.messages[1].text, "Picture load fail");
    EXPECT_EQ(prompt.messages[1].caption, "Note");
    EXPECT_TRUE(Box()->Picture().isNull());  // the preview is dropped
    EXPECT_TRUE(page->Bitmap().empty());
    EXPECT_EQ(page->Matrix().dots, before.dots);
    EXPECT_EQ(page->Matrix().width, before.width);
    EXPECT_TRUE(PrintEnabled());
    EXPECT_EQ(page->PicturePath(), garbage);

    // A header announcing a huge picture: refused before any pixel, with the size named.
    QByteArray header(54, '\0');
    header[0] = 'B';
    header[1] = 'M';
    const auto put32 = [&header](int at, int32_t v) {
        for (int i = 0; i < 4; ++i) header[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    put32(2, 54);
    put32(10, 54);
    put32(14, 40);
    put32(18, 100000);
    put32(22, 100000);
    header[26] = 1;
    header[28] = 24;
    Load(Write("huge.bmp", header));
    ASSERT_EQ(prompt.messages.size(), 3u);
    EXPECT_EQ(prompt.messages[2].text, "Picture load fail");
    EXPECT_EQ(prompt.messages[2].caption, "Note");
    EXPECT_NE(prompt.messages[2].informative.find("100000 x 100000"), std::string::npos)
        << prompt.messages[2].informative;
    EXPECT_EQ(page->Matrix().dots, before.dots);
}

// --- the preview box ---

TEST_F(ImagePrintPageTest, PreviewBoxIsWhiteAndShowsThePictureStretched) {
    pages::PreviewBox* box = Box();
    ASSERT_NE(box, nullptr);
    const QRect area = box->PictureArea();
    QImage shot = box->grab().toImage();
    EXPECT_EQ(QColor(shot.pixel(area.center())), QColor(Qt::white));
    EXPECT_EQ(QColor(shot.pixel(area.topLeft())), QColor(Qt::white));
    EXPECT_NE(QColor(shot.pixel(0, 0)), QColor(Qt::white));  // the frame

    // Left half red, right half blue, two rows: stretched over the whole box.
    QImage picture(2, 2, QImage::Format_RGB32);
    picture.setPixel(0, 0, qRgb(255, 0, 0));
    picture.setPixel(0, 1, qRgb(255, 0, 0));
    picture.setPixel(1, 0, qRgb(0, 0, 255));
    picture.setPixel(1, 1, qRgb(0, 0, 255));
    Load(Save(picture, "halves.bmp"));
    shot = box->grab().toImage();
    const auto near = [](QRgb got, QRgb want) {
        return std::abs(qRed(got) - qRed(want)) < 8 && std::abs(qGreen(got) - qGreen(want)) < 8 &&
               std::abs(qBlue(got) - qBlue(want)) < 8;
    };
    for (const int y : {area.top() + 1, area.center().y(), area.bottom() - 1}) {
        EXPECT_TRUE(near(shot.pixel(area.left() + 1, y), qRgb(255, 0, 0))) << y;
        EXPECT_TRUE(near(shot.pixel(area.left() + area.width() / 5, y), qRgb(255, 0, 0))) << y;
        EXPECT_TRUE(near(shot.pixel(area.right() - area.width() / 5, y), qRgb(0, 0, 255))) << y;
        EXPECT_TRUE(near(shot.pixel(area.right() - 1, y), qRgb(0, 0, 255))) << y;
    }

    // A tall picture is squeezed: its top and bottom halves still fill the box's full width.
    QImage tall(1, 400, QImage::Format_RGB32);
    for (int y = 0; y < 400; ++y) tall.setPixel(0, y, y < 200 ? qRgb(0, 255, 0) : qRgb(0, 0, 0));
    Load(Save(tall, "tall.bmp"));
    EXPECT_EQ(page->Matrix().height, 400);  // the matrix keeps the full size
    shot = box->grab().toImage();
    EXPECT_TRUE(near(shot.pixel(area.left() + 1, area.top() + area.height() / 5), qRgb(0, 255, 0)));
    EXPECT_TRUE(near(shot.pixel(area.right() - 1, area.top() + area.height() / 5), qRgb(0, 255, 0)));
    EXPECT_TRUE(near(shot.pixel(area.center().x(), area.bottom() - area.height() / 5), qRgb(0, 0, 0)));

    // A refused file leaves the box white again.
    Load(Write("bad.bmp", QByteArray("nothing")));
    shot = box->grab().toImage();
    EXPECT_EQ(QColor(shot.pixel(area.center())), QColor(Qt::white));
}

TEST_F(ImagePrintPageTest, LargePreviewIsKeptSmallWhileTheMatrixKeepsTheFullSize) {
    const int wide = pages::kPreviewMaxSide + 500;
    Load(Save(Picture(wide, 3, [](int x, int) { return x < 10; }), "wide.bmp"));
    EXPECT_EQ(Box()->Picture().size(), QSize(pages::kPreviewMaxSide, 3));
    EXPECT_EQ(page->Matrix().width, wide);
    EXPECT_EQ(page->Matrix().height, 3);
}

// --- printing ---

TEST_F(ImagePrintPageTest, VerticalPrintSendsStripesAfterOneProbe) {
    test::MappedPrinter p(kCom);
    // 50 rows: three 24-dot stripes, the last one with rows 48 and 49 only.
    const std::string path = Save(Picture(16, 50, [](int x, int y) { return (x + y) % 3 == 0; }), "fifty.bmp");
    Load(path);
    Print();
    const Rows image = EchoRows(imaging::EncodeColumnStripes(page->Matrix(), 3, link::PrintableWidth));
    ASSERT_EQ(image.size(), 6u);
    EXPECT_EQ(history.rows, Concat({kProbe}, image));
    // Each stripe: header, 16 columns of 3 bytes; then the feed.
    EXPECT_EQ(Hex(history.rows[1]).size(), 5u + 16u * 3u);
    EXPECT_EQ(history.rows[1].substr(0, 15), "1B 2A 21 10 00 ");
    EXPECT_EQ(history.rows[2], "1B 4A 18 ");
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_TRUE(page->IsOpen());
    const std::vector<uint8_t> first = Bytes(Concat({kProbe}, image));
    EXPECT_EQ(Received(p, first.size()), first);

    // The link stays open: the next print sends no probe.
    p->clearReceived();
    Choose(0);  // 8-dot single-density: seven stripes
    Print();
    const Rows again = EchoRows(imaging::EncodeColumnStripes(page->Matrix(), 0, link::PrintableWidth));
    ASSERT_EQ(again.size(), 14u);
    EXPECT_EQ(history.rows, Concat(Concat({kProbe}, image), again));
    EXPECT_EQ(Received(p, Bytes(again).size()), Bytes(again));
}

TEST_F(ImagePrintPageTest, HorizontalQuadrupleSendsOneRasterCommand) {
    test::MappedPrinter p(kCom);
    Load(Save(Picture(20, 9, [](int x, int y) { return x * y % 4 == 1; }), "raster.bmp"));
    Control<QRadioButton>(CDialogPPrint::kIdHorizontal)->click();
    Choose(3);
    EXPECT_EQ(Modes()->currentText(), "Quadruple");
    Print();
    ASSERT_EQ(history.rows.size(), 2u);
    EXPECT_EQ(history.rows[0], kProbe);
    // GS v 0 3, 3 bytes per row, 9 rows.
    EXPECT_EQ(history.rows[1].substr(0, 24), "1D 76 30 03 03 00 09 00 ");
    const imaging::RasterImage raster = imaging::EncodeRaster(page->Matrix(), link::PrintableWidth);
    std::vector<uint8_t> expected = Hex("10 04 05 1D 76 30 03 03 00 09 00");
    expected.insert(expected.end(), raster.data.begin(), raster.data.end());
    EXPECT_EQ(history.rows[1], Echo(std::vector<uint8_t>(expected.begin() + 3, expected.end())));
    EXPECT_EQ(Received(p, expected.size()), expected);
}

TEST_F(ImagePrintPageTest, TinyPatternGivesTheHandWrittenBytes) {
    test::MappedPrinter p(kCom);
    Load(Save(Picture(image_rows::kPatternWidth, image_rows::kPatternHeight, [](int x, int) { return x % 2 == 0; }),
              "pattern.bmp"));
    struct Case {
        bool vertical;
        int mode;
        const Rows* rows;
    };
    Rows all = {kProbe};
    for (const Case c : {Case{true, 3, &image_rows::kPatternColumn24Double},
                         Case{true, 0, &image_rows::kPatternColumn8Single},
                         Case{false, 0, &image_rows::kPatternRasterNormal},
                         Case{false, 3, &image_rows::kPatternRasterQuadruple}}) {
        Control<QRadioButton>(c.vertical ? CDialogPPrint::kIdVertical : CDialogPPrint::kIdHorizontal)->click();
        Choose(c.mode);
        Print();
        all = Concat(all, *c.rows);
        EXPECT_EQ(history.rows, all) << c.vertical << " " << c.mode;
    }
    EXPECT_EQ(Received(p, Bytes(all).size()), Bytes(all));
}

TEST_F(ImagePrintPageTest, SilentPrinterIsReportedAndNothingIsPrinted) {
    test::SilentPort silent(kSilentCom);
    link::PortSettings.portNumber = kSilentCom;
    Load(Save(Picture(8, 1, [](int x, int) { return x % 2 == 0; }), "pattern.bmp"));
    Print();
    EXPECT_EQ(prompt.Texts(), Rows{"Communicate Error:Printer No Answer."});
    EXPECT_FALSE(page->IsOpen());
    // The probe was sent; the picture was not handed to the link.
    EXPECT_EQ(history.rows, Rows{kProbe});
}

TEST_F(ImagePrintPageTest, PortThatCannotOpenIsReportedAndNothingIsPrinted) {
    link::PortSettings.portNumber = 0;
    Load(Save(Picture(8, 1, [](int x, int) { return x % 2 == 0; }), "pattern.bmp"));
    Control<QRadioButton>(CDialogPPrint::kIdHorizontal)->click();
    Print();
    EXPECT_EQ(prompt.Texts(), Rows{"COM Open Error!"});
    EXPECT_TRUE(history.rows.empty());  // no probe row (never opened) and no image rows
    EXPECT_EQ(page->SendBuffer().Count(), 0u);  // nothing queued to go out on the next opening

    // With the port back, the next print probes first and sends the picture once.
    test::MappedPrinter p(kCom);
    link::PortSettings.portNumber = kCom;
    Print();
    const Rows second = Concat({kProbe}, image_rows::kPatternRasterNormal);
    EXPECT_EQ(history.rows, second);
    EXPECT_EQ(Received(p, Bytes(second).size()), Bytes(second));
}

// --- "Fit to paper", "Dither", "Show dots" ---

TEST_F(ImagePrintPageTest, FitDitherAndShowDotsStartOffAndListTheirEntries) {
    auto* fit = Control<QCheckBox>(CDialogPPrint::kIdFit);
    auto* dots = Control<QCheckBox>(CDialogPPrint::kIdShowDots);
    auto* dither = Control<QComboBox>(CDialogPPrint::kIdDither);
    ASSERT_NE(fit, nullptr);
    ASSERT_NE(dots, nullptr);
    ASSERT_NE(dither, nullptr);
    EXPECT_EQ(test::Caption(fit), "Fit to paper");
    EXPECT_EQ(test::Caption(dots), "Show dots");
    EXPECT_FALSE(fit->isChecked());
    EXPECT_FALSE(dots->isChecked());
    EXPECT_EQ(Entries(dither), (QStringList{"None", "Floyd-Steinberg", "Atkinson", "Ordered 8x8"}));
    EXPECT_EQ(dither->currentText(), "None");
    QStringList labels;
    for (auto* l : page->findChildren<QLabel*>()) labels << l->text();
    EXPECT_TRUE(labels.contains("Dither"));
    // Toggling them talks to nobody.
    fit->click();
    dots->click();
    test::ChooseEntry(dither, 1);
    EXPECT_TRUE(history.rows.empty());
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_FALSE(page->IsOpen());
}

TEST_F(ImagePrintPageTest, FitToPaperScalesAWidePictureToThePrintableWidth) {
    test::MappedPrinter p(kCom);
    // 1000 x 100, black left half: fitted to 384 x 38, the edge at column 192.
    const std::string wide = Save(Picture(1000, 100, [](int x, int) { return x < 500; }), "wide.bmp");
    Load(wide);
    EXPECT_EQ(page->Matrix().width, 1000);  // off: the full size, as before
    Control<QCheckBox>(CDialogPPrint::kIdFit)->click();
    Update();
    ASSERT_EQ(page->Matrix().width, 384);
    ASSERT_EQ(page->Matrix().height, 38);
    EXPECT_EQ(page->Matrix().At(100, 10), 1);
    EXPECT_EQ(page->Matrix().At(300, 10), 0);
    // Printing the fitted picture: GS v 0 with 48 bytes a row and 38 rows.
    Control<QRadioButton>(CDialogPPrint::kIdHorizontal)->click();
    Print();
    ASSERT_EQ(history.rows.size(), 2u);
    EXPECT_EQ(history.rows[1].substr(0, 24), "1D 76 30 00 30 00 26 00 ");
    EXPECT_EQ(Hex(history.rows[1]).size(), 8u + 48u * 38u);
    // A picture narrower than the paper stays as it is.
    Load(Save(Picture(100, 20, [](int x, int) { return x < 50; }), "narrow.bmp"));
    EXPECT_EQ(page->Matrix().width, 100);
    EXPECT_EQ(page->Matrix().height, 20);
}

TEST_F(ImagePrintPageTest, DitherIsTakenByLoadAndUpdateAndShowDotsShowsTheResult) {
    // A flat grey at the threshold: every dot black without dithering, half with it.
    const std::string grey = Save(Filled(64, 64, qRgb(128, 128, 128)), "grey.bmp");
    auto* dither = Control<QComboBox>(CDialogPPrint::kIdDither);
    test::ChooseEntry(dither, 3);  // "Ordered 8x8"
    Load(grey);
    long black = 0;
    for (uint8_t d : page->Matrix().dots) black += d;
    EXPECT_EQ(black, 64 * 64 / 2);
    EXPECT_TRUE(Box()->Dots().isNull());  // "Show dots" is off

    Control<QCheckBox>(CDialogPPrint::kIdShowDots)->click();
    ASSERT_EQ(Box()->Dots().size(), QSize(64, 64));
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 64; ++x) {
            ASSERT_EQ(qGray(Box()->Dots().pixel(x, y)), page->Matrix().At(x, y) ? 0 : 255) << x << "," << y;
        }
    }
    EXPECT_EQ(Box()->PictureRect().width() + Box()->DotsRect().width(), Box()->PictureArea().width());

    test::ChooseEntry(dither, 0);  // "None": nothing changes until "Update"
    EXPECT_EQ(black, 64 * 64 / 2);
    Update();
    EXPECT_EQ(page->Matrix().dots, std::vector<uint8_t>(64 * 64, 1));
    EXPECT_EQ(qGray(Box()->Dots().pixel(1, 0)), 0);  // the dots shown follow the matrix

    Control<QCheckBox>(CDialogPPrint::kIdShowDots)->click();
    EXPECT_TRUE(Box()->Dots().isNull());
    EXPECT_EQ(Box()->PictureRect(), Box()->PictureArea());
    EXPECT_TRUE(history.rows.empty());
}

TEST_F(ImagePrintPageTest, PictureWhoseNameIsNotValidTextLoads) {
    const std::string plain = Save(Picture(8, 1, [](int x, int) { return x % 2 == 0; }), "plain.bmp");
    const std::string odd = QFile::encodeName(dir.path()).toStdString() + "/bild\xe9\xff.bmp";
    ASSERT_EQ(::rename(plain.c_str(), odd.c_str()), 0);
    Load(odd);
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_TRUE(PrintEnabled());
    EXPECT_EQ(page->PicturePath(), odd);
    EXPECT_EQ(page->Matrix().width, 8);
    ::unlink(odd.c_str());
}

// --- the actions without widgets ---

TEST(ImagePrintActions, PrintWithoutAPictureProbesAndSendsNothingElse) {
    test::MappedPrinter p(kCom);
    link::PortSettings.portNumber = kCom;
    test::ScriptedPrompt prompt;
    test::RecordingHistory history;
    pages::ImagePrintActions actions;
    actions.SetPrompt(&prompt);
    actions.SetMainWindow(&history);
    actions.Start();
    EXPECT_FALSE(actions.PrintPicture(pages::ByteOrientation::Vertical, 3));
    EXPECT_EQ(history.rows, Rows{kProbe});
    // An empty working bitmap converts to an empty matrix: still nothing to print.
    actions.ThresholdImage(128);
    EXPECT_FALSE(actions.PrintPicture(pages::ByteOrientation::Horizontal, 0));
    EXPECT_EQ(history.rows, Rows{kProbe});
    EXPECT_TRUE(prompt.messages.empty());
}

TEST(ImagePrintActions, PictureTallerThan65535RowsGoesOutInSeveralRasterCommands) {
    test::MappedPrinter p(kCom);
    link::PortSettings.portNumber = kCom;
    test::ScriptedPrompt prompt;
    test::RecordingHistory history;
    pages::ImagePrintActions actions;
    actions.SetPrompt(&prompt);
    actions.SetMainWindow(&history);
    actions.Start();
    // One black column of 70000 rows (a new bitmap is black).
    actions.SetWorkingBitmap(imaging::WorkingBitmap(1, 70000));
    actions.ThresholdImage(128);
    ASSERT_TRUE(actions.PrintPicture(pages::ByteOrientation::Horizontal, 2));
    ASSERT_EQ(history.rows.size(), 3u);
    EXPECT_EQ(history.rows[0], kProbe);
    // 65535 rows (FF FF), then the remaining 4465 (0x1171), each row one byte 80.
    std::string band1 = "1D 76 30 02 01 00 FF FF ";
    for (int i = 0; i < 65535; ++i) band1 += "80 ";
    std::string band2 = "1D 76 30 02 01 00 71 11 ";
    for (int i = 0; i < 4465; ++i) band2 += "80 ";
    EXPECT_TRUE(history.rows[1] == band1);
    EXPECT_TRUE(history.rows[2] == band2);

    // The printer sees two complete raster commands.
    ASSERT_TRUE(p->waitForBytes(3 + 8 + 65535 + 8 + 4465, 10000));
    std::vector<vprinter::Command> commands = p->commands();
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_EQ(commands[1].bytes.size(), 8u + 65535u);
    EXPECT_EQ(commands[2].bytes.size(), 8u + 4465u);
    EXPECT_TRUE(prompt.messages.empty());
}

// --- a print after a failed connection procedure ---

// Like "Barcode Print": when the link stays closed (its message shown), nothing is handed to the
// link and the history gets no image rows, in either orientation.
TEST(ImagePrintAfterAFailedProbe, HandsNothingToTheLinkAndAddsNoRows) {
    test::SilentPort silent(kSilentCom);
    link::PortSettings.portNumber = kSilentCom;
    test::ScriptedPrompt prompt;
    test::RecordingHistory history;
    pages::ImagePrintActions actions;
    actions.SetPrompt(&prompt);
    actions.SetMainWindow(&history);
    actions.Start();
    actions.SetWorkingBitmap(imaging::WorkingBitmap(16, 30));
    actions.ThresholdImage(128);
    for (const auto orientation : {pages::ByteOrientation::Vertical, pages::ByteOrientation::Horizontal}) {
        SCOPED_TRACE(static_cast<int>(orientation));
        prompt.messages.clear();
        history.rows.clear();
        EXPECT_FALSE(actions.PrintPicture(orientation, 0));
        EXPECT_FALSE(actions.IsOpen());
        EXPECT_EQ(prompt.Texts(), Rows{"Communicate Error:Printer No Answer."});
        EXPECT_EQ(history.rows, Rows{kProbe}) << "the probe only";
        EXPECT_EQ(actions.SendBuffer().Count(), 0u);
        EXPECT_TRUE(actions.EchoText().empty());
    }
    // A port that does not open: not even the probe.
    link::PortSettings.portNumber = 0;
    history.rows.clear();
    EXPECT_FALSE(actions.PrintPicture(pages::ByteOrientation::Vertical, 3));
    EXPECT_TRUE(history.rows.empty());
    EXPECT_EQ(actions.SendBuffer().Count(), 0u);
}
