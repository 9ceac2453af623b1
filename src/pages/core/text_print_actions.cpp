#include "pages/core/text_print_actions.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include "charset/printer_record.h"
#include "pages/core/file_pieces.h"
#include "pages/core/hex_text.h"
#include "platform/stop_request.h"
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

std::string HexFileTooLargeText(const std::string& path) {
    return "Cannot load " + path + ": it holds more than " +
           std::to_string(hextext::kHexFileSizeLimit / (1024 * 1024)) + " MiB, the limit for a hex command file.";
}

// --- the actions -------------------------------------------------------------------------------

TextPrintActions::TextPrintActions() : PageLink({link::kOpenErrorText, true}) {}

TextPrintActions::~TextPrintActions() = default;

void TextPrintActions::SetTextCharacters(TextCharacters mode) {
    characters_ = mode;
    charset::ShowPrinterCharacters(mode == TextCharacters::PrinterCharacters);
}

charset::PrinterState TextPrintActions::CharacterState() { return charset::LastPrinterState(); }

std::optional<std::vector<uint8_t>> TextPrintActions::TypedTextBytes(std::string_view fieldText) {
    if (characters_ == TextCharacters::Latin1Bytes) return PrintDataBytes(fieldText, false);
    const charset::EncodeResult encoded = charset::EncodeUtf8(fieldText, CharacterState());
    if (!encoded.ok()) {
        ShowMessage(encoded.refusal->message + " Nothing was sent.");
        return std::nullopt;
    }
    // Line breaks are single bytes 0A in every state (no two-byte code holds a byte below 0x40).
    const std::string wire =
        hextext::TextToWireBytes(std::string_view(reinterpret_cast<const char*>(encoded.bytes.data()), encoded.bytes.size()));
    return std::vector<uint8_t>(wire.begin(), wire.end());
}

std::optional<std::string> TextPrintActions::ConvertTransmit(std::string_view fieldText, bool nowChecked) {
    if (characters_ == TextCharacters::Latin1Bytes) return ConvertTransmitText(fieldText, nowChecked);
    if (nowChecked) {
        const charset::EncodeResult encoded = charset::EncodeUtf8(fieldText, CharacterState());
        if (!encoded.ok()) {
            ShowMessage(encoded.refusal->message);
            return std::nullopt;
        }
        return hextext::FieldTextToHex(
            std::string_view(reinterpret_cast<const char*>(encoded.bytes.data()), encoded.bytes.size()));
    }
    const std::string bytes = hextext::HexToCharacters(fieldText);
    const charset::DecodeResult decoded = charset::Decode(bytes, CharacterState());
    if (!decoded.ok()) {
        ShowMessage(decoded.refusal->message);
        return std::nullopt;
    }
    return charset::ToUtf8(decoded.text);
}

std::optional<std::string> TextPrintActions::ContentToSave(std::string_view fieldText, bool hexMode) {
    if (hexMode || characters_ == TextCharacters::Latin1Bytes) return SaveContent(fieldText, hexMode);
    const charset::EncodeResult encoded = charset::EncodeUtf8(fieldText, CharacterState());
    if (!encoded.ok()) {
        ShowMessage(encoded.refusal->message + " Nothing was saved.");
        return std::nullopt;
    }
    return hextext::FieldTextToHex(
        std::string_view(reinterpret_cast<const char*>(encoded.bytes.data()), encoded.bytes.size()));
}

bool TextPrintActions::Print(std::string_view fieldText, bool hexMode) {
    std::vector<uint8_t> data;
    if (!hexMode && characters_ == TextCharacters::PrinterCharacters) {
        // Refused before the link is touched: nothing at all goes out.
        std::optional<std::vector<uint8_t>> bytes = TypedTextBytes(fieldText);
        if (!bytes) return false;
        data = std::move(*bytes);
    }
    OpenAndProbe();
    if (!IsOpen()) return false;
    if (fieldText.empty()) return false;
    if (hexMode || characters_ == TextCharacters::Latin1Bytes) data = PrintDataBytes(fieldText, hexMode);
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
        case hextext::HexFileStatus::Loaded: {
            if (characters_ == TextCharacters::PrinterCharacters) {
                const std::vector<uint8_t> bytes = hextext::ParseHex(result.content);
                const charset::DecodeResult decoded = charset::Decode(bytes.data(), bytes.size(), CharacterState());
                if (!decoded.ok()) {
                    ShowMessage(path + " does not hold the printer's characters: " + decoded.refusal->message,
                                std::string(hextext::kFileRejectedCaption));
                    return std::nullopt;
                }
            }
            return std::move(result.content);
        }
        case hextext::HexFileStatus::Rejected:
            ShowMessage(std::string(hextext::kFileRejectedMessage), std::string(hextext::kFileRejectedCaption));
            return std::nullopt;
        case hextext::HexFileStatus::CannotOpen:
            ShowMessage("Cannot read " + path + ": " + FileReadProblem(path));
            return std::nullopt;
        case hextext::HexFileStatus::TooLarge:
            if (link::UserPrompt* prompt = Prompt()) {
                prompt->ShowMessage(HexFileTooLargeText(path), {}, std::string(kHexFileTooLargeHint));
            }
            return std::nullopt;
    }
    return std::nullopt;
}

std::optional<std::string> TextPrintActions::Save(std::string_view fieldText, bool hexMode) {
    // The content is fixed before the dialog is shown.
    const std::optional<std::string> built = ContentToSave(fieldText, hexMode);
    if (!built) return std::nullopt;
    const std::string& content = *built;
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
    int error = 0;
    PieceReader file;
    if (!file.Open(path, error)) {
        ShowMessage("Cannot read " + path + ": " + ErrnoText(error != 0 ? error : EIO));
        return SendFileResult::CannotRead;
    }
    // While the file has nothing yet (a FIFO whose writer is slow, or never writes), the page
    // runs its wait hook, and a link closed meanwhile (a stop, a tab change) ends the send.
    const auto keepGoing = [this, &wait] {
        if (wait) wait();
        return !stopFileSend_ && IsOpen() && !DeviceRemoved();
    };
    std::vector<uint8_t> piece(kFilePieceSize);
    uint64_t sent = 0;
    stopFileSend_ = false;
    for (;;) {
        // The hook runs once per piece even when the port keeps up, so that the window can
        // still be closed (and the command line stopped) during a long send.
        const bool linkUsable = keepGoing();
        if (stopFileSend_) return SendFileResult::Stopped;
        size_t n = 0;
        const PieceReader::Status status =
            linkUsable ? file.Read(piece.data(), piece.size(), n, keepGoing, error) : PieceReader::Status::Stopped;
        if (status == PieceReader::Status::Failed) {
            ShowMessage("Cannot read " + path + " after " + std::to_string(sent) + " bytes: " + ErrnoText(error));
            return sent == 0 ? SendFileResult::CannotRead : SendFileResult::Stopped;
        }
        if (status == PieceReader::Status::Stopped) {
            if (stopFileSend_) return SendFileResult::Stopped;
            // A device that went away is reported once, by its own message; a stop of the
            // program needs none.
            if (DeviceRemoved()) {
                link::ReportRemoval(*this, Prompt());
            } else if (!platform::StopRequested()) {
                ShowMessage("Sending " + path + " stopped after " + std::to_string(sent) + " bytes: the port was closed.");
            }
            return SendFileResult::Stopped;
        }
        if (n == 0) return SendFileResult::Sent;
        std::string why;
        if (!WaitForBacklog(wait, why)) {
            if (stopFileSend_) return SendFileResult::Stopped;
            // A device that went away is reported once, by its own message; a stop of the
            // program needs none.
            if (!why.empty() && !platform::StopRequested()) ShowMessage("Sending " + path + " stopped after " + std::to_string(sent) + " bytes: " + why);
            return SendFileResult::Stopped;
        }
        Send(piece.data(), n);
        HandOver();
        sent += n;
        if (status == PieceReader::Status::End) return SendFileResult::Sent;
    }
}

bool TextPrintActions::WaitForBacklog(const WaitHook& wait, std::string& why) {
    // Whether the link is gone: the device removed (said at once) or the port closed (why).
    auto linkGone = [&] {
        if (DeviceRemoved()) {
            link::ReportRemoval(*this, Prompt());
            return true;
        }
        if (!IsOpen()) {
            why = "the port was closed.";
            return true;
        }
        return false;
    };
    size_t last = SendBuffer().Count();
    uint32_t progressAt = platform::TickCount();
    while (last > kSendBacklogLimit) {
        if (linkGone()) return false;
        if (wait) wait();
        if (stopFileSend_) return false;
        platform::SleepMs(kBacklogPollMs);
        // The wait hook may have closed the link (a tab change does).
        if (linkGone()) return false;
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
