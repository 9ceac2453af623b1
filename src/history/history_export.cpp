#include "history/history_export.h"

#include <cstdio>
#include <filesystem>
#include <optional>
#include <ostream>
#include <system_error>

#include "history/history_model.h"
#include "link/ui_seam.h"
#include "protocol/hex.h"

namespace pellory::app {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

// Removes a file that is there and readable, so that the new one is created afresh (a file
// that cannot be replaced in place, a read-only one say, is replaced all the same). Directories
// are left alone: creating the file then fails.
void DeleteExisting(const std::string& path) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) return;
    if (std::FILE* existing = std::fopen(path.c_str(), "rb")) {
        std::fclose(existing);
        std::filesystem::remove(path, error);
    }
}

// Bytes of a row whose hex text is made and written at a time.
constexpr std::size_t kWritePiece = 16 * 1024;

void WriteRow(std::FILE* file, const link::EchoRecord& row) {
    // Write errors are left to the file layer, as the window reports nothing after creation.
    std::string piece;
    for (std::size_t first = 0; first < row.size(); first += kWritePiece) {
        piece.clear();
        row.AppendHex(piece, first, kWritePiece);
        std::fwrite(piece.data(), 1, piece.size(), file);
    }
    std::fwrite(kLineEnd.data(), 1, kLineEnd.size(), file);
}

}  // namespace

std::string_view SaveResultText(SaveResult result) {
    switch (result) {
        case SaveResult::kNoData:
            return kNoDataText;
        case SaveResult::kOperationFailed:
            return kOperationFailedText;
        case SaveResult::kSaved:
        case SaveResult::kCancelled:
            break;
    }
    return {};
}

std::string WithTxtExtension(std::string path) { return protocol::hex::AppendTxtExtension(path); }

SaveResult SaveHistory(const HistoryModel& history, const std::string& chosenPath,
                       std::string* savedPath) {
    if (history.RowCount() == 0) return SaveResult::kNoData;
    const std::string path = WithTxtExtension(chosenPath);
    if (savedPath) *savedPath = path;

    DeleteExisting(path);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return SaveResult::kOperationFailed;
    // The row count is read again after every row.
    for (int row = 0; row < history.RowCount(); ++row) {
        if (history.IsTicked(row)) WriteRow(file, history.Record(row));
    }
    std::fclose(file);
    return SaveResult::kSaved;
}

SaveResult SaveHistoryInteractively(const HistoryModel& history, link::UserPrompt& prompt) {
    if (history.RowCount() == 0) {
        prompt.ShowMessage(kNoDataText);
        return SaveResult::kNoData;
    }
    const std::optional<std::string> chosen = prompt.AskSaveFile(kHistoryFileFilter);
    if (!chosen) return SaveResult::kCancelled;
    const SaveResult result = SaveHistory(history, *chosen);
    if (result == SaveResult::kOperationFailed) prompt.ShowMessage(kOperationFailedText);
    return result;
}

std::string HistoryFileContent(const std::vector<std::string>& hexRows) {
    std::size_t size = 0;
    for (const std::string& hex : hexRows) size += hex.size() + kLineEnd.size();
    std::string content;
    content.reserve(size);
    for (const std::string& hex : hexRows) {
        if (hex.empty()) continue;
        content += hex;
        content += kLineEnd;
    }
    return content;
}

void WriteHistoryRows(std::ostream& out, const std::vector<link::EchoRecord>& rows) {
    for (const link::EchoRecord& row : rows) {
        if (row.empty()) continue;
        row.WriteHex(out);
        out.write(kLineEnd.data(), static_cast<std::streamsize>(kLineEnd.size()));
    }
}

}  // namespace pellory::app
