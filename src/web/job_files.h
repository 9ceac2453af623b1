// What the web interface reads from a job's folder when a request asks for it, never kept: the
// record as job.json holds it and the first lines of the stored decoding (decoding.txt); and, once
// when a job is listed, whether its decoding holds any text. Nothing here decodes a job's bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pellory::web {

// A job.json far larger than this is not one (a record is under a kilobyte, some hundred
// kilobytes with 10,000 answers).
inline constexpr uint64_t kMaxRecordBytes = 16u << 20;

// A job folder's job.json without its line end; nothing when it cannot be read or is over
// kMaxRecordBytes.
std::optional<std::string> ReadRecord(const std::string& folder);

// The first lines of a job's decoding.txt, as the job's page shows them.
struct ShownDecoding {
    static constexpr size_t kMaxShownLines = 5000;
    static constexpr size_t kMaxLineBytes = 1024;  // of one line; " ..." stands for the rest
    std::vector<std::string> lines;                // without their ends
    bool more = false;                             // the file goes on after them
    uint64_t fileBytes = 0;
    bool available = false;  // decoding.txt could be read
};
ShownDecoding ReadDecoding(const std::string& folder);

// One line of a decoding in its columns: "0005  1B 21 08  ESC ! 08  print mode: emphasized", or for
// text "0010  41 42  \"AB\"" (command empty, the meaning the quoted characters). A line of another
// shape is all meaning, its other columns empty.
struct DecodingLine {
    std::string_view offset, bytes, command, meaning;
    bool text = false;
};
DecodingLine SplitDecodingLine(std::string_view line);

// Whether a job's decoding.txt holds a line of text (printed characters), read at most to
// kMaxScannedDecoding bytes. True when it cannot be read, or holds more than that: the job may
// have printed.
inline constexpr uint64_t kMaxScannedDecoding = 1u << 20;
bool DecodingHasText(const std::string& folder);

}  // namespace pellory::web
