// Saving the command history to a text file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "history/history_export.h"
#include "history/history_model.h"
#include "support/scratch_folder.h"
#include "support/support.h"

namespace pellory::app {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

class HistoryExportTest : public ::testing::Test {
protected:
    std::string At(const std::string& name) const { return scratch.Path(name); }

    pellory::test::ScratchFolder scratch{"hist_export"};
    HistoryModel model;
};

TEST(HistoryFileName, TxtExtensionRule) {
    EXPECT_EQ(WithTxtExtension("/tmp/report.TXT"), "/tmp/report.TXT");
    EXPECT_EQ(WithTxtExtension("/tmp/report.Txt"), "/tmp/report.Txt");
    EXPECT_EQ(WithTxtExtension("/tmp/report.txt"), "/tmp/report.txt");
    EXPECT_EQ(WithTxtExtension("/tmp/report.dat"), "/tmp/report.dat.txt");
    EXPECT_EQ(WithTxtExtension("/tmp/report"), "/tmp/report.txt");
    EXPECT_EQ(WithTxtExtension("/tmp/a.txt.bak"), "/tmp/a.txt.bak.txt");
    EXPECT_EQ(WithTxtExtension("/tmp/logs.txt/report"), "/tmp/logs.txt/report.txt");
    EXPECT_EQ(WithTxtExtension("report.txts"), "report.txts.txt");
}

TEST_F(HistoryExportTest, WritesTickedRowsWithCrLfAndNeverTheReading) {
    model.AddRow("1B 61 01 ");
    model.AddRow("48 69 0A ");
    model.AddRow("1D 56 42 78 ");
    model.SetTicked(1, false);
    std::string saved;
    EXPECT_EQ(SaveHistory(model, At("h"), &saved), SaveResult::kSaved);
    EXPECT_EQ(saved, At("h.txt"));
    EXPECT_EQ(ReadFile(saved), "1B 61 01 \r\n1D 56 42 78 \r\n");
    EXPECT_EQ(model.RowCount(), 3);  // the list is unchanged
}

TEST_F(HistoryExportTest, AllRowsUntickedGivesAnEmptyFile) {
    model.AddRow("0A ");
    model.AddRow("1B 40 ");
    model.SetTicked(0, false);
    model.SetTicked(1, false);
    ASSERT_EQ(SaveHistory(model, At("empty.txt")), SaveResult::kSaved);
    ASSERT_TRUE(fs::exists(At("empty.txt")));
    EXPECT_EQ(fs::file_size(At("empty.txt")), 0u);
}

TEST_F(HistoryExportTest, ExistingFileIsDeletedAndCreatedAgain) {
    const std::string path = At("report.TXT");
    WriteFile(path, std::string(5000, 'x'));
    // A second name for the old file: it keeps the old content only if the file was deleted
    // and created again rather than overwritten in place.
    fs::create_hard_link(path, At("old"));
    model.AddRow("0A ");
    ASSERT_EQ(SaveHistory(model, path), SaveResult::kSaved);
    EXPECT_EQ(ReadFile(path), "0A \r\n");
    EXPECT_EQ(ReadFile(At("old")), std::string(5000, 'x'));
    EXPECT_FALSE(fs::exists(At("report.TXT.txt")));
}

TEST_F(HistoryExportTest, OtherExtensionGetsTxtAppended) {
    model.AddRow("0A ");
    WriteFile(At("report.dat"), "keep");
    ASSERT_EQ(SaveHistory(model, At("report.dat")), SaveResult::kSaved);
    EXPECT_EQ(ReadFile(At("report.dat.txt")), "0A \r\n");
    EXPECT_EQ(ReadFile(At("report.dat")), "keep");
}

TEST_F(HistoryExportTest, FailuresAndEmptyHistory) {
    EXPECT_EQ(SaveHistory(model, At("none.txt")), SaveResult::kNoData);
    EXPECT_FALSE(fs::exists(At("none.txt")));

    model.AddRow("0A ");
    EXPECT_EQ(SaveHistory(model, At("missing/dir/out.txt")), SaveResult::kOperationFailed);
    // A directory of the chosen name is neither removed nor written.
    fs::create_directory(At("folder.txt"));
    EXPECT_EQ(SaveHistory(model, At("folder.txt")), SaveResult::kOperationFailed);
    EXPECT_TRUE(fs::is_directory(At("folder.txt")));

    EXPECT_EQ(SaveResultText(SaveResult::kNoData), "No Data");
    EXPECT_EQ(SaveResultText(SaveResult::kOperationFailed), "Operation Failed");
    EXPECT_EQ(SaveResultText(SaveResult::kSaved), "");
}

TEST_F(HistoryExportTest, HugeRowIsWrittenWhole) {
    std::string echo;
    while (echo.size() < 600000) echo += "AA ";
    model.AddRow("1D 76 30 00 ");
    model.AddRow(echo);
    ASSERT_EQ(SaveHistory(model, At("big")), SaveResult::kSaved);
    const std::string content = ReadFile(At("big.txt"));
    EXPECT_EQ(content, HistoryFileContent({"1D 76 30 00 ", echo}));
    EXPECT_EQ(content.size(), 12u + 2 + 600000 + 2);
}

// Rows kept as bytes are saved as the hex text they were always saved as: every byte value, and
// rows around the size written at a time.
TEST_F(HistoryExportTest, RowsKeptAsBytesAreSavedAsTheirHexText) {
    std::vector<uint8_t> all(256);
    for (int b = 0; b < 256; ++b) all[b] = static_cast<uint8_t>(b);
    std::vector<std::vector<uint8_t>> rows = {all, {0x0A}};
    for (const std::size_t n : {std::size_t{16383}, std::size_t{16384}, std::size_t{16385}, std::size_t{50000}}) {
        std::vector<uint8_t> row(n);
        for (std::size_t i = 0; i < n; ++i) row[i] = static_cast<uint8_t>(i * 131 + 7);
        rows.push_back(std::move(row));
    }
    std::vector<std::string> hexRows;
    std::vector<link::EchoRecord> records;
    for (const std::vector<uint8_t>& row : rows) {
        records.emplace_back(row);
        hexRows.push_back(test::Echo(row));
        model.AddHistoryRow(records.back());
    }
    const std::string expected = HistoryFileContent(hexRows);
    ASSERT_EQ(SaveHistory(model, At("rows")), SaveResult::kSaved);
    EXPECT_EQ(ReadFile(At("rows.txt")), expected);
    // The command line's --history writes the same.
    std::ostringstream written;
    WriteHistoryRows(written, records);
    EXPECT_EQ(written.str(), expected);
    for (int row = 0; row < model.RowCount(); ++row) EXPECT_EQ(model.Echo(row), hexRows[row]) << row;
}

TEST(HistoryFileContent, JoinsRowsWithCrLf) {
    EXPECT_EQ(HistoryFileContent({}), "");
    EXPECT_EQ(HistoryFileContent({"0A ", "", "1B 40 "}), "0A \r\n1B 40 \r\n");
}

TEST_F(HistoryExportTest, SaveButtonAsksAndReports) {
    test::ScriptedPrompt prompt;
    EXPECT_EQ(SaveHistoryInteractively(model, prompt), SaveResult::kNoData);
    EXPECT_EQ(prompt.Texts(), std::vector<std::string>{"No Data"});
    EXPECT_TRUE(prompt.filters.empty());  // no dialog for an empty list

    model.AddRow("0A ");
    prompt.messages.clear();
    prompt.QueueFile(std::nullopt);
    EXPECT_EQ(SaveHistoryInteractively(model, prompt), SaveResult::kCancelled);
    EXPECT_EQ(prompt.filters, std::vector<std::string>{"TXT files(*.txt)|*.txt||"});
    EXPECT_TRUE(prompt.messages.empty());

    prompt.QueueFile(At("missing/out"));
    EXPECT_EQ(SaveHistoryInteractively(model, prompt), SaveResult::kOperationFailed);
    EXPECT_EQ(prompt.Texts(), std::vector<std::string>{"Operation Failed"});

    prompt.messages.clear();
    prompt.QueueFile(At("out"));
    EXPECT_EQ(SaveHistoryInteractively(model, prompt), SaveResult::kSaved);
    EXPECT_TRUE(prompt.messages.empty());  // nothing is reported on success
    EXPECT_EQ(ReadFile(At("out.txt")), "0A \r\n");
}

}  // namespace
}  // namespace pellory::app
