#include "pages/core/text_print_actions.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include "pages/core/hex_text.h"
#include "platform/threads.h"

namespace pellory::pages {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f) std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

std::string ErrnoText(int error) { return std::strerror(error); }

// "20 s" for whole seconds, "250 ms" otherwise.
std::string DurationText(uint32_t ms) {
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

}  // namespace

// --- bytes and texts -------------------------------------------------------------------------

std::vector<uint8_t> PrintDataBytes(std::string_view fieldText, bool hexMode) {
    if (hexMode) return hextext::ParseHex(fieldText);
    const std::string wire = hextext::TextToWireBytes(fieldText);
    return {wire.begin(), wire.end()};
}

std::string ConvertTransmitText(std::string_view fieldText, bool nowChecked) {
    return nowChecked ? hextext::FieldTextToHex(fieldText) : hextext::HexToCharacters(fieldText);
}

std::string ConvertReceiveText(std::string_view fieldText, bool nowChecked) {
    return nowChecked ? hextext::FormatBytes(fieldText) : hextext::HexToCharacters(fieldText);
}

std::string ReceiveAppendText(const uint8_t* data, size_t size, bool hexMode) {
    return hexMode ? hextext::FormatBytes(data, size) : hextext::BytesToCharacters(data, size);
}

std::string SaveContent(std::string_view fieldText, bool hexMode) {
    return hexMode ? hextext::TextToWireBytes(fieldText) : hextext::FieldTextToHex(fieldText);
}

std::string ContentForField(std::string_view content) {
    std::string out;
    out.reserve(content.size());
    for (size_t i = 0; i < content.size(); ++i) {
        if (content[i] == '\r' && i + 1 < content.size() && content[i + 1] == '\n') continue;
        out.push_back(content[i]);
    }
    return out;
}

std::string FileReadProblem(const std::string& path) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) return "it is a folder";
    errno = 0;
    FilePtr f(std::fopen(path.c_str(), "rb"));
    if (!f) return ErrnoText(errno != 0 ? errno : EIO);
    return "the file could not be read";
}

// --- the actions -------------------------------------------------------------------------------

TextPrintActions::TextPrintActions() : PageLink({link::kOpenErrorText, true}) {}

TextPrintActions::~TextPrintActions() = default;

bool TextPrintActions::Print(std::string_view fieldText, bool hexMode) {
    OpenAndProbe();
    if (!IsOpen()) return false;
    if (fieldText.empty()) return false;
    const std::vector<uint8_t> data = PrintDataBytes(fieldText, hexMode);
    // Hex text of separators only names no byte: nothing is sent, not even the line feed.
    if (data.empty()) return false;
    SendBytes(data);
    HandOver();
    const uint8_t lf = kLineFeed;
    Send(&lf, 1);
    HandOver();
    return true;
}

bool TextPrintActions::Feed() {
    OpenAndProbe();
    if (!IsOpen()) return false;
    const uint8_t lf = kLineFeed;
    Send(&lf, 1);
    HandOver();
    return true;
}

std::optional<std::string> TextPrintActions::Load() {
    link::UserPrompt* prompt = Prompt();
    if (!prompt) return std::nullopt;
    const std::optional<std::string> path = prompt->AskOpenFile(kTextPrintFileFilter);
    if (!path) return std::nullopt;
    return LoadFrom(*path);
}

std::optional<std::string> TextPrintActions::LoadFrom(const std::string& path) {
    hextext::HexFileResult result = hextext::ReadHexCommandFile(path);
    switch (result.status) {
        case hextext::HexFileStatus::Loaded:
            return std::move(result.content);
        case hextext::HexFileStatus::Rejected:
            ShowMessage(std::string(hextext::kFileRejectedMessage), std::string(hextext::kFileRejectedCaption));
            return std::nullopt;
        case hextext::HexFileStatus::CannotOpen:
            ShowMessage("Cannot read " + path + ": " + FileReadProblem(path));
            return std::nullopt;
    }
    return std::nullopt;
}

std::optional<std::string> TextPrintActions::Save(std::string_view fieldText, bool hexMode) {
    // The content is fixed before the dialog is shown.
    const std::string content = SaveContent(fieldText, hexMode);
    link::UserPrompt* prompt = Prompt();
    if (!prompt) return std::nullopt;
    const std::optional<std::string> chosen = prompt->AskSaveFile(kTextPrintFileFilter);
    if (!chosen) return std::nullopt;
    return SaveTo(*chosen, content);
}

std::optional<std::string> TextPrintActions::SaveTo(const std::string& chosenPath, std::string_view content) {
    const std::string path = hextext::AppendTxtExtension(chosenPath);
    std::error_code ec;
    if (std::filesystem::exists(std::filesystem::symlink_status(path, ec))) {
        std::filesystem::remove(path, ec);
        // A file that cannot be deleted cannot be created anew either; the write below says so.
    }
    errno = 0;
    FilePtr f(std::fopen(path.c_str(), "wb"));
    if (!f) {
        ShowMessage("Cannot write " + path + ": " + ErrnoText(errno != 0 ? errno : EIO));
        return std::nullopt;
    }
    const size_t written = content.empty() ? 0 : std::fwrite(content.data(), 1, content.size(), f.get());
    const int writeError = errno;
    std::FILE* raw = f.release();
    const bool closed = std::fclose(raw) == 0;
    if (written != content.size() || !closed) {
        const int error = writeError != 0 ? writeError : (errno != 0 ? errno : EIO);
        ShowMessage("Cannot write " + path + ": " + ErrnoText(error));
        return std::nullopt;
    }
    return path;
}

TextPrintActions::SendFileResult TextPrintActions::SendFile(const std::function<void(const std::string&)>& showPath,
                                                            const WaitHook& wait) {
    OpenAndProbe();
    if (!IsOpen()) return SendFileResult::LinkClosed;
    link::UserPrompt* prompt = Prompt();
    if (!prompt) return SendFileResult::Cancelled;
    const std::optional<std::string> path = prompt->AskOpenFile(kTextPrintFileFilter);
    if (!path) return SendFileResult::Cancelled;
    if (showPath) showPath(*path);
    return SendFileAt(*path, wait);
}

TextPrintActions::SendFileResult TextPrintActions::SendFileAt(const std::string& path, const WaitHook& wait) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        ShowMessage("Cannot read " + path + ": it is a folder");
        return SendFileResult::CannotRead;
    }
    errno = 0;
    FilePtr f(std::fopen(path.c_str(), "rb"));
    if (!f) {
        ShowMessage("Cannot read " + path + ": " + ErrnoText(errno != 0 ? errno : EIO));
        return SendFileResult::CannotRead;
    }
    std::vector<uint8_t> piece(kFilePieceSize);
    uint64_t sent = 0;
    for (;;) {
        errno = 0;
        const size_t n = std::fread(piece.data(), 1, piece.size(), f.get());
        if (n == 0) {
            if (std::ferror(f.get())) {
                const int error = errno != 0 ? errno : EIO;
                ShowMessage("Cannot read " + path + " after " + std::to_string(sent) + " bytes: " + ErrnoText(error));
                return sent == 0 ? SendFileResult::CannotRead : SendFileResult::Stopped;
            }
            return SendFileResult::Sent;
        }
        std::string why;
        if (!WaitForBacklog(wait, why)) {
            // A device that went away is reported once, by its own message.
            if (!why.empty()) ShowMessage("Sending " + path + " stopped after " + std::to_string(sent) + " bytes: " + why);
            return SendFileResult::Stopped;
        }
        Send(piece.data(), n);
        HandOver();
        sent += n;
        if (n < piece.size() && std::feof(f.get())) return SendFileResult::Sent;
    }
}

bool TextPrintActions::WaitForBacklog(const WaitHook& wait, std::string& why) {
    size_t last = SendBuffer().Count();
    uint32_t progressAt = platform::TickCount();
    while (last > kSendBacklogLimit) {
        if (DeviceRemoved()) {
            link::ReportRemoval(*this, Prompt());
            return false;
        }
        if (!IsOpen()) {
            why = "the port was closed.";
            return false;
        }
        if (wait) wait();
        platform::SleepMs(kBacklogPollMs);
        if (DeviceRemoved()) {
            link::ReportRemoval(*this, Prompt());
            return false;
        }
        // The wait hook may have closed the link (a tab change does).
        if (!IsOpen()) {
            why = "the port was closed.";
            return false;
        }
        const size_t now = SendBuffer().Count();
        const uint32_t tick = platform::TickCount();
        if (now < last) {
            progressAt = tick;
        } else if (tick - progressAt >= stallLimitMs_) {
            why = "the printer took no data for " + DurationText(stallLimitMs_) + ".";
            return false;
        }
        last = now;
    }
    return true;
}

std::vector<uint8_t> TextPrintActions::TakeReceived() {
    link::CSerialEngine::BlockBuffer& buffer = ReceiveBuffer();
    const size_t count = buffer.Count();
    std::vector<uint8_t> bytes(count);
    if (count == 0) return bytes;
    size_t taken = 0;
    {
        std::lock_guard<std::mutex> lock(buffer.Mutex());
        taken = buffer.Take(bytes.data(), count);
    }
    bytes.resize(taken);
    return bytes;
}

void TextPrintActions::FeedDecoder(const std::vector<uint8_t>& bytes) {
    for (uint8_t b : bytes) ParseReceivedByte(b);
}

void TextPrintActions::OnTransmitEmpty() {
    Close(link::kLinkStopTimeoutMs);
    SendBuffer().ClearLocked();
}

}  // namespace pellory::pages
