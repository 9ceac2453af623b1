#include "web/job_files.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>

namespace pellory::web {

namespace fs = std::filesystem;

namespace {

// The columns of a decoding line are parted by two spaces; the hexadecimal bytes and a command's
// name have single spaces only.
constexpr std::string_view kGap = "  ";

void DropLineEnd(std::string& line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
}

// The next line of in without its end, at most ShownDecoding::kMaxLineBytes of it (then " ..." in
// place of the rest, which is passed over). False at the end of the file.
bool NextLine(std::istream& in, std::string& line) {
    line.clear();
    for (char c; in.get(c);) {
        if (c == '\n') return true;
        if (line.size() == ShownDecoding::kMaxLineBytes) {
            line += " ...";
            in.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
            return true;
        }
        line += c;
    }
    return !line.empty();
}

}  // namespace

std::optional<std::string> ReadRecord(const std::string& folder) {
    if (folder.empty()) return std::nullopt;
    const fs::path file = fs::path(folder) / "job.json";
    std::error_code error;
    const std::uintmax_t size = fs::file_size(file, error);
    if (error || size > kMaxRecordBytes) return std::nullopt;
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::string record((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    DropLineEnd(record);
    return record;
}

ShownDecoding ReadDecoding(const std::string& folder) {
    ShownDecoding shown;
    if (folder.empty()) return shown;
    const fs::path file = fs::path(folder) / "decoding.txt";
    std::error_code error;
    shown.fileBytes = fs::file_size(file, error);
    std::ifstream in(file, std::ios::binary);
    if (error || !in) return shown;
    shown.available = true;
    for (std::string line; shown.lines.size() < ShownDecoding::kMaxShownLines && NextLine(in, line);) {
        DropLineEnd(line);
        shown.lines.push_back(std::move(line));
    }
    shown.more = in.peek() != std::ifstream::traits_type::eof();
    return shown;
}

DecodingLine SplitDecodingLine(std::string_view line) {
    DecodingLine d;
    const size_t afterOffset = line.find(kGap);
    const size_t afterBytes = afterOffset == std::string_view::npos ? afterOffset : line.find(kGap, afterOffset + 2);
    if (afterBytes == std::string_view::npos) {
        d.meaning = line;
        return d;
    }
    d.offset = line.substr(0, afterOffset);
    d.bytes = line.substr(afterOffset + 2, afterBytes - afterOffset - 2);
    const std::string_view rest = line.substr(afterBytes + 2);
    if (!rest.empty() && rest.front() == '"') {
        d.text = true;
        d.meaning = rest;
        return d;
    }
    const size_t afterCommand = rest.find(kGap);
    d.command = rest.substr(0, afterCommand);
    if (afterCommand != std::string_view::npos) d.meaning = rest.substr(afterCommand + 2);
    return d;
}

bool DecodingHasText(const std::string& folder) {
    const fs::path file = fs::path(folder) / "decoding.txt";
    std::error_code error;
    const std::uintmax_t size = fs::file_size(file, error);
    if (error || size > kMaxScannedDecoding) return true;
    std::ifstream in(file, std::ios::binary);
    if (!in) return true;
    for (std::string line; std::getline(in, line);) {
        if (SplitDecodingLine(line).text) return true;
    }
    return in.bad();
}

}  // namespace pellory::web
