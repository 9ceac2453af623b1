// The printer samples as data, without a printer: order, captions, ids and titles; the echo rows
// and bytes of every sample against rows written out by hand; the grouping of multi-send rows;
// finding a sample by name; the status lamps of a status byte.
#include <gtest/gtest.h>

#include <set>

#include "pages/core/quick_test_actions.h"
#include "pages/core/samples.h"
#include "sample_expectations.h"

using namespace pellory;
using samples::Samples;
namespace expect = test::expect;

TEST(Samples, TwelveInButtonOrderWithCaptionsIdsTitlesAndWaits) {
    const auto& want = expect::SampleExpectations();
    ASSERT_EQ(Samples().size(), want.size());
    ASSERT_EQ(Samples().size(), samples::kSampleCount);
    std::set<int> ids;
    for (size_t i = 0; i < want.size(); ++i) {
        const samples::Sample& s = Samples()[i];
        EXPECT_EQ(s.button, want[i].button) << i;
        EXPECT_EQ(s.controlId, want[i].controlId) << s.button;
        EXPECT_EQ(s.title, want[i].title) << s.button;
        EXPECT_EQ(s.waitAfterMs, want[i].waitMs) << s.button;
        ids.insert(s.controlId);
    }
    EXPECT_EQ(ids.size(), want.size());
}

TEST(Samples, EveryRowEchoesAndSendsExactlyTheExpectedBytes) {
    const auto& want = expect::SampleExpectations();
    for (size_t i = 0; i < want.size(); ++i) {
        const samples::Sample& s = Samples()[i];
        SCOPED_TRACE(s.button);
        const std::vector<std::string> echo = samples::SampleEchoRows(s);
        EXPECT_EQ(echo, expect::EchoRows(want[i]));
        ASSERT_EQ(s.rows.size(), want[i].rows.size());
        for (size_t r = 0; r < s.rows.size(); ++r) {
            EXPECT_EQ(samples::RowBytes(s.rows[r]), want[i].rows[r]) << "row " << r;
        }
    }
}

TEST(Samples, EverySampleStartsWithItsFiveTitleRows) {
    for (const samples::Sample& s : Samples()) {
        SCOPED_TRACE(s.button);
        ASSERT_GE(s.rows.size(), samples::kTitleRowCount);
        const std::vector<std::string> echo = samples::SampleEchoRows(s);
        EXPECT_EQ(echo[0], "0A ");
        EXPECT_EQ(echo[1], "1B 21 08 ");
        EXPECT_EQ(echo[2], expect::EchoOf(expect::S(s.title)));
        EXPECT_EQ(echo[3], "0A ");
        EXPECT_EQ(echo[4], "1B 21 00 ");
    }
    const std::vector<samples::Row> title = samples::TitleRows("Cut Paper");
    ASSERT_EQ(title.size(), 5u);
    EXPECT_EQ(samples::RowBytes(title[2]), expect::S("Cut Paper"));
}

TEST(Samples, CutHtabBarcodeVertTabImageFontFeedAndQrRows) {
    auto rowsOf = [](const char* button) {
        const auto i = samples::FindSample(button);
        EXPECT_TRUE(i.has_value()) << button;
        return samples::SampleEchoRows(Samples()[i.value_or(0)]);
    };
    // "Cut": nine rows.
    EXPECT_EQ(rowsOf("Cut"), (std::vector<std::string>{"0A ", "1B 21 08 ", "43 75 74 20 50 61 70 65 72 ", "0A ",
                                                        "1B 21 00 ", "48 61 66 74 2D 63 75 74 ", "0A ",
                                                        "1D 56 42 78 ", "1B 4A 30 "}));
    // "H tab": the tab positions and their end as one row.
    const auto htab = rowsOf("H tab");
    EXPECT_EQ(htab[5], "1B 44 0C 18 00 ");
    // "Barcode": the command and its digits as one row.
    const auto barcode = rowsOf("Barcode");
    EXPECT_EQ(barcode[10], "1D 6B 43 0C 30 31 32 33 34 35 36 37 38 39 30 30 ");
    // "Vert tab": four identical table rows; the first cell's text cut to 9 characters.
    const auto vtab = rowsOf("Vert tab");
    ASSERT_EQ(vtab.size(), 10u);
    const std::string prefix = "1C 56 05 00 08 10 18 20 04 02 0A 12 1A 02 20 20 4F 70 74 69 6F 6E 20 00 ";
    for (size_t r = 5; r < 9; ++r) {
        EXPECT_EQ(vtab[r].rfind(prefix, 0), 0u) << vtab[r];
        EXPECT_EQ(vtab[r], vtab[5]);
    }
    EXPECT_EQ(vtab[9], "1B 4A 30 ");
    // "Image": one row of 8 + 9040 bytes.
    const auto image = rowsOf("Image");
    ASSERT_EQ(image.size(), 7u);
    EXPECT_EQ(image[5].size(), (8u + 9040u) * 3u);
    EXPECT_EQ(image[5].rfind("1D 76 30 00 28 00 E2 00 ", 0), 0u);
    // "Font Sample": the 224 characters in one row.
    const auto font = rowsOf("Font Sample");
    EXPECT_EQ(font[5].size(), 224u * 3u);
    EXPECT_EQ(font[5].substr(0, 6), "20 21 ");
    EXPECT_EQ(font[5].substr(font[5].size() - 6), "FE FF ");
    // "Print and Feed": ESC ! 0 and the following text in one row.
    const auto feed = rowsOf("Print and Feed");
    EXPECT_EQ(feed[10], "1B 21 00 " + expect::EchoOf(expect::S("Print and Feed Paper 2 line")));
    // "QR Code": the store command with the first 28 characters of the sample text.
    const auto qr = rowsOf("QR Code");
    EXPECT_EQ(qr[8], expect::EchoOf(expect::Cat({expect::H("1D 28 6B 1F 00 31 50 30"),
                                                 expect::S("Westhaven PELLRY Development")})));
}

TEST(Samples, FindSampleByCaptionOrTitleIgnoringCaseSpacesAndDashes) {
    EXPECT_EQ(samples::FindSample("Font Sample"), 0u);
    EXPECT_EQ(samples::FindSample("font-sample"), 0u);
    EXPECT_EQ(samples::FindSample("FONT_SAMPLE"), 0u);
    EXPECT_EQ(samples::FindSample("vert tab"), 6u);
    EXPECT_EQ(samples::FindSample("Vertial Tab"), 6u);  // by title
    EXPECT_EQ(samples::FindSample("qrcode"), 10u);
    EXPECT_EQ(samples::FindSample("Cut"), 11u);
    EXPECT_EQ(samples::FindSample("Cut Paper"), 11u);
    EXPECT_EQ(samples::FindSample("Horizon Absolute Coordinates"), 3u);
    EXPECT_EQ(samples::FindSample("Barcode"), 9u);  // caption and title agree
    EXPECT_FALSE(samples::FindSample("").has_value());
    EXPECT_FALSE(samples::FindSample(" - ").has_value());
    EXPECT_FALSE(samples::FindSample("Cutter").has_value());
    EXPECT_FALSE(samples::FindSample("Vertical Tab").has_value());
    // Every caption finds its own sample.
    for (size_t i = 0; i < Samples().size(); ++i) EXPECT_EQ(samples::FindSample(Samples()[i].button), i);
}

// --- status lamps ---

namespace {
std::vector<std::string> LitNames(const pages::LampStates& lamps) {
    std::vector<std::string> out;
    for (size_t i = 0; i < pages::kLampCount; ++i) {
        if (lamps[i]) out.push_back(pages::kLamps[i].name);
    }
    return out;
}
}  // namespace

TEST(StatusLamps, NamesAndIdsInTheOrderOfTheirSetUp) {
    const char* names[] = {"Over Heat", "Paper Error", "Platen Open", "Over Voltage", "Cutter Error", "Online"};
    const int ids[] = {1014, 1017, 1018, 1015, 1019, 1016};
    for (size_t i = 0; i < pages::kLampCount; ++i) {
        EXPECT_STREQ(pages::kLamps[i].name, names[i]);
        EXPECT_EQ(pages::kLamps[i].controlId, ids[i]);
    }
}

TEST(StatusLamps, StatusBytesLightTheirLamps) {
    for (const auto& e : expect::LampExpectations()) {
        EXPECT_EQ(LitNames(pages::LampsForStatus(e.status)), e.lit) << int(e.status);
    }
    // Bits 0x10, 0x40 and 0x80 change nothing but "Online".
    for (int s = 1; s < 256; ++s) {
        const auto with = pages::LampsForStatus(static_cast<uint8_t>(s));
        const auto without = pages::LampsForStatus(static_cast<uint8_t>(s & 0x2F));
        EXPECT_FALSE(with[static_cast<size_t>(pages::Lamp::Online)]) << s;
        for (size_t i = 0; i + 1 < pages::kLampCount; ++i) EXPECT_EQ(with[i], without[i]) << s;
    }
}
