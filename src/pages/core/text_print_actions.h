// What the "Text Print" page does without its widgets: printing the transmit text (plain text or
// hex command text), the line feed, loading and saving hex command files, sending the raw bytes
// of a file, and taking received bytes for the receive field. The command line uses the same
// class, so both send the same bytes in the same grouping.
//
// Texts passed in and out are Latin-1 byte strings (one char per byte) with line breaks as "\n",
// the way the page's fields hold them; the functions turn the line breaks into CR LF where the
// bytes go to the printer or into a file. With "Printer characters" chosen, the typed texts of
// the TextPrintActions methods are UTF-8 instead, and the printer's character state (the last
// "Print Setup" choices, charset/printer_record.h) turns them into bytes and back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "charset/printer_text.h"
#include "pages/core/page_link.h"

namespace pellory::pages {

// The filter of the three file dialogs of the page.
inline constexpr const char* kTextPrintFileFilter = "txt Files (*.txt)|*.txt||";
// What the transmit field holds when the main window has set the page up.
inline constexpr const char* kTransmitPromptText = "Input print data here and press 'Print' button";

// "Open..." sends a file in pieces of this size, one Send (and one history row) per piece, so
// that neither the echo text of a piece (three characters per byte) nor the send buffer grows
// with the file.
constexpr size_t kFilePieceSize = 64 * 1024;
// Before the next piece is queued, the send buffer is let drain to at most this many bytes, so
// that at most this plus one piece is ever queued: memory stays bounded, and closing the link on
// a tab change (which lets queued bytes go out first) has little to wait for even on a slow line.
constexpr size_t kSendBacklogLimit = 64 * 1024;
// A send buffer that has not shrunk for this long counts as stalled and ends the file send.
constexpr uint32_t kDefaultStallLimitMs = 20000;
// How long one wait step for the send buffer sleeps (after the wait hook has run).
constexpr uint32_t kBacklogPollMs = 5;

// How typed text becomes bytes.
enum class TextCharacters {
    Latin1Bytes,        // every character is its byte (the start)
    PrinterCharacters,  // the characters as the printer prints them under its character state
};
inline constexpr const char* kLatin1BytesText = "Bytes (Latin-1)";
inline constexpr const char* kPrinterCharactersText = "Printer characters";

// --- the bytes and texts of the page's operations -------------------------------------------

// The bytes "Print" sends for the field text: in hex mode the parsed hex command text, otherwise
// the characters with line breaks as CR LF. Empty when there is nothing to send.
std::vector<uint8_t> PrintDataBytes(std::string_view fieldText, bool hexMode);
// The line feed that follows the data of a print, and "Feed".
inline constexpr uint8_t kLineFeed = 0x0A;

// The transmit field after its "Hex" box was clicked: nowChecked -> the hex command text form of
// the text (line breaks as the pairs 0D 0A); unchecked -> the parsed bytes as characters, ending
// before the first zero byte. The result may hold CR LF pairs (the caller shows them as line
// breaks).
std::string ConvertTransmitText(std::string_view fieldText, bool nowChecked);
// The receive field after its "Hex" box was clicked: nowChecked -> every character of the text
// as a hex pair; unchecked -> the hex pairs as characters, ending before the first zero byte.
// The text here is the field's exact characters (received CR and LF bytes included).
std::string ConvertReceiveText(std::string_view fieldText, bool nowChecked);
// What a batch of received bytes appends to the receive field.
std::string ReceiveAppendText(const uint8_t* data, size_t size, bool hexMode);

// What "Save..." writes: in hex mode the text as it stands with line breaks as CR LF; otherwise
// the hex command text form of the text (no line breaks).
std::string SaveContent(std::string_view fieldText, bool hexMode);
// A loaded file's content as the transmit field holds it: CR LF pairs become line breaks.
std::string ContentForField(std::string_view content);

// The system's reason why a file cannot be opened for reading ("No such file or directory").
std::string FileReadProblem(const std::string& path);
// The message for a hex command file past the size limit, and its second line: what to do.
std::string HexFileTooLargeText(const std::string& path);
inline constexpr std::string_view kHexFileTooLargeHint =
    "Split it into smaller files and load them one at a time; nothing was loaded or sent.";

class TextPrintActions : public PageLink {
public:
    // How a file send ended.
    enum class SendFileResult {
        LinkClosed,   // the link could not be opened (OpenAndProbe showed why)
        Cancelled,    // the file dialog was cancelled; the link stays open
        CannotRead,   // the file could not be opened or read (message shown)
        Sent,         // every byte was queued (an empty file queues none)
        Stopped,      // the link closed or the printer stalled while sending (message shown), or
                      // StopFileSend() was called (no message)
    };
    // Called before each piece of a file send and repeatedly while the send waits for the send
    // buffer to drain: the page runs its event loop there (with its controls disabled), the
    // command line checks for a stop request.
    using WaitHook = std::function<void()>;

    TextPrintActions();
    ~TextPrintActions() override;

    // How typed text becomes bytes; the choice is also what the receive view and the history's
    // "Tips" show bytes 0x80-0xFF as (charset::ShowPrinterCharacters).
    void SetTextCharacters(TextCharacters mode);
    TextCharacters Characters() const { return characters_; }
    // The character state the printer-characters texts follow: the last "Print Setup" choices.
    static charset::PrinterState CharacterState();

    // The bytes of a typed text (line breaks as CR LF): its Latin-1 bytes, or with "Printer
    // characters" its printer bytes; nothing (with the refusal's message shown) when a character
    // has no code.
    std::optional<std::vector<uint8_t>> TypedTextBytes(std::string_view fieldText);
    // The transmit field after its "Hex" box was clicked (see ConvertTransmitText). With "Printer
    // characters": checked -> the hex form of the printer bytes; unchecked -> the characters of
    // the bytes (up to the first zero byte). Nothing, with a message, when a character has no
    // code or a byte no character: the box then goes back and the field keeps its text.
    std::optional<std::string> ConvertTransmit(std::string_view fieldText, bool nowChecked);
    // What "Save..." writes (see SaveContent), with the printer bytes in text mode under "Printer
    // characters"; nothing (message shown) when a character has no code.
    std::optional<std::string> ContentToSave(std::string_view fieldText, bool hexMode);

    // "Print": opens and probes the link; then, when the text yields bytes, sends them in one
    // Send and hands the echo over, and then sends 0A alone and hands over again. An empty text
    // sends nothing; so does hex text without a single byte (only separators): no data, no line
    // feed, no row. Returns whether the data and the line feed were sent.
    bool Print(std::string_view fieldText, bool hexMode);
    // "Feed": opens and probes the link, then sends 0A and hands over.
    bool Feed();

    // "Load...": asks for a file and reads it by the hex command file rules. The new field
    // content (with CR LF line ends), or nothing when the dialog was cancelled, the file broke
    // the rules ("Note" message), could not be read or is larger than hextext::kHexFileSizeLimit
    // (message). Sends nothing.
    std::optional<std::string> Load();
    // Reads a hex command file without asking; the same messages as Load. Under "Printer
    // characters" the bytes the file names must be characters of the printer's state: the first
    // one that is not is refused with its offset (counted from 0 among those bytes).
    std::optional<std::string> LoadFrom(const std::string& path);

    // "Save...": builds the content, asks for a name, adds ".txt" where the extension is not
    // txt, deletes an existing file of that name and writes the content. Returns the path
    // written, or nothing when cancelled or when writing failed (message). Sends nothing.
    std::optional<std::string> Save(std::string_view fieldText, bool hexMode);
    // Writes content to path (after the ".txt" rule) without asking; the path written or nothing.
    std::optional<std::string> SaveTo(const std::string& chosenPath, std::string_view content);

    // "Open...": opens and probes the link, asks for a file, calls showPath with its full path,
    // then sends the file's bytes unchanged.
    SendFileResult SendFile(const std::function<void(const std::string&)>& showPath, const WaitHook& wait);
    // Sends the bytes of the file at path on the open link: pieces of kFilePieceSize, each in
    // one Send with its own hand-over; before a piece is queued the send buffer is let drain to
    // kSendBacklogLimit (calling wait meanwhile). Stops with a message when the link closes or
    // the send buffer does not shrink for StallLimitMs().
    SendFileResult SendFileAt(const std::string& path, const WaitHook& wait);
    // Ends a file send in progress before its next piece is queued, without a message (the
    // window is closing). What is queued already stays queued; the link stays as it is.
    // Reset when the next file send starts.
    void StopFileSend() { stopFileSend_ = true; }

    // Received bytes (MSG_LINK_RECEIVE): the count is read under the receive buffer's lock, the
    // lock released, the space allocated, and exactly that many bytes taken under the lock
    // again; bytes that arrive in between stay for the next notification.
    std::vector<uint8_t> TakeReceived();
    // Passes every byte, in order, to the decoder.
    void FeedDecoder(const std::vector<uint8_t>& bytes);
    // MSG_LINK_TXEMPTY: closes the link and clears its send buffer.
    void OnTransmitEmpty();
    // MSG_LINK_REMOVED: the device went away; tells the user once and closes the link.
    void OnDeviceRemoved() { link::ReportRemoval(*this, Prompt()); }

    uint32_t StallLimitMs() const { return stallLimitMs_; }
    void SetStallLimitMs(uint32_t ms) { stallLimitMs_ = ms; }

private:
    // Waits until the send buffer holds at most kSendBacklogLimit bytes. False (with the reason
    // in why) when the link closed or the buffer stopped shrinking.
    bool WaitForBacklog(const WaitHook& wait, std::string& why);

    uint32_t stallLimitMs_ = kDefaultStallLimitMs;
    bool stopFileSend_ = false;
    TextCharacters characters_ = TextCharacters::Latin1Bytes;
};

}  // namespace pellory::pages
